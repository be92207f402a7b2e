#include "image/convert_colorspace.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "common/errors.h"
#include "image/clipping.h"
#include "image/colorformulas.h"
#include "image/convert_types.h"

namespace vorada {

namespace color = gma::color;

namespace {

const char* const not_clear_message =
    "This function is not implemented on pourpose because it is not clear how the conversion "
    "is defined";

using Triple = std::array<double, 3>;

template <typename T, std::size_t C>
void require_equal_channels(const ImaVol<T, C, 2>& image, const char* function) {
    for (const auto& channel : image.channels) {
        if (channel.extent(0) != image.channels[0].extent(0) ||
            channel.extent(1) != image.channels[0].extent(1)) {
            throw VoradaError(std::string(function) + ": the image channels differ in size");
        }
    }
}

// A channel of the source channel's extents and origin, every sample 0.
template <typename To, typename From>
MultiArray<To, 2> shaped_like(const MultiArray<From, 2>& source) {
    MultiArray<To, 2> result(source.extent_list());
    typename MultiArray<To, 2>::Extents bases;
    std::copy(source.index_bases(), source.index_bases() + 2, bases.begin());
    result.reindex(bases);
    return result;
}

// Applies formula(channel 0, channel 1, channel 2) to every pixel in double, clips the three
// values to [0, 255] and stores them in the result's sample type.
template <typename Result, typename T, typename Formula>
Result per_pixel(const ImaVol<T, 3, 2>& source, const char* function, Formula formula) {
    using R = typename Result::value_type;
    require_equal_channels(source, function);
    Result result;
    for (auto& channel : result.channels) {
        channel = shaped_like<R>(source.channels[0]);
    }
    const Clipping clipping(0.0, 255.0);
    const T* in[3] = {source.channels[0].data(), source.channels[1].data(),
                      source.channels[2].data()};
    R* out[3] = {result.channels[0].data(), result.channels[1].data(), result.channels[2].data()};
    const std::size_t n = source.channels[0].num_elements();
    for (std::size_t i = 0; i < n; ++i) {
        const Triple values = formula(static_cast<double>(in[0][i]), static_cast<double>(in[1][i]),
                                      static_cast<double>(in[2][i]));
        for (std::size_t c = 0; c < 3; ++c) {
            out[c][i] = sample_cast<R>(clipping.clip(values[c]));
        }
    }
    return result;
}

Triple from_color(const color::ColorValue& value) {
    return Triple{value(0), value(1), value(2)};
}

// The single channels of the formulas, each summed left to right as written.
double yuv_u(double r, double g, double b) {
    return (-37.945 * r - 74.494 * g + 112.439 * b) * 0.00390625 + 128.5;
}
double yuv_v(double r, double g, double b) {
    return (112.439 * r - 94.154 * g - 18.285 * b) * 0.00390625 + 128.5;
}
double yiq_i(double r, double g, double b) {
    return 0.596 * r - 0.275 * g - 0.321 * b + 0.5;
}
double yiq_q(double r, double g, double b) {
    return 0.212 * r - 0.523 * g + 0.311 * b + 0.5;
}
double luma(double r, double g, double b) {
    return 0.299 * r + 0.587 * g + 0.114 * b + 0.5;
}

template <typename T>
ImageGray<T> gray_of_rgb(const ImaVol<T, 3, 2>& image) {
    require_equal_channels(image, "to_gray");
    ImageGray<T> result;
    result.channels[0] = shaped_like<T>(image.channels[0]);
    const T* red = image.channels[0].data();
    const T* green = image.channels[1].data();
    const T* blue = image.channels[2].data();
    T* out = result.channels[0].data();
    for (std::size_t i = 0; i < image.channels[0].num_elements(); ++i) {
        out[i] = sample_cast<T>(luma(static_cast<double>(red[i]), static_cast<double>(green[i]),
                                     static_cast<double>(blue[i])));
    }
    return result;
}

template <typename T>
ImageGray<T> gray_of_channel(const MultiArray<T, 2>& channel) {
    ImageGray<T> result;
    result.channels[0] = channel;
    return result;
}

}  // namespace

ImageYUV<unsigned char> to_yuv(const ImageRGB<unsigned char>& image) {
    return per_pixel<ImageYUV<unsigned char>>(image, "to_yuv", [](double r, double g, double b) {
        return from_color(color::rgb_to_yuv(color::ColorValue(r, g, b)));
    });
}

ImageYIQ<unsigned char> to_yiq(const ImageRGB<unsigned char>& image) {
    return per_pixel<ImageYIQ<unsigned char>>(image, "to_yiq", [](double r, double g, double b) {
        return Triple{luma(r, g, b), yiq_i(r, g, b), yiq_q(r, g, b)};
    });
}

ImageRIQ<unsigned char> to_riq(const ImageRGB<unsigned char>& image) {
    return per_pixel<ImageRIQ<unsigned char>>(image, "to_riq", [](double r, double g, double b) {
        return Triple{r + 0.5, yiq_i(r, g, b), yiq_q(r, g, b)};
    });
}

ImageRCQ<unsigned char> to_rcq(const ImageRGB<unsigned char>& image) {
    return per_pixel<ImageRCQ<unsigned char>>(image, "to_rcq", [](double r, double g, double b) {
        return Triple{r + 0.5, yuv_v(r, g, b), yiq_q(r, g, b)};
    });
}

ImageRUV<unsigned char> to_ruv(const ImageRGB<unsigned char>& image) {
    return per_pixel<ImageRUV<unsigned char>>(image, "to_ruv", [](double r, double g, double b) {
        return Triple{r + 0.5, yuv_v(r, g, b), yuv_u(r, g, b)};
    });
}

ImageRGB<unsigned char> to_rgb(const ImageYUV<unsigned char>& image) {
    return per_pixel<ImageRGB<unsigned char>>(image, "to_rgb", [](double y, double u, double v) {
        return from_color(color::yuv_to_rgb(color::ColorValue(y, u, v)));
    });
}

ImageYUV<unsigned char> to_yuv(const ImageYUV<unsigned char>& image) {
    return image;
}

ImageRGB<double> to_rgb(const ImageYUV<double>&) {
    throw VoradaNotImplemented(not_clear_message);
}

ImageYUV<double> to_yuv(const ImageRGB<double>&) {
    throw VoradaNotImplemented(not_clear_message);
}

ImageYUV<unsigned char> to_yuv(const Image<unsigned char, 3>&) {
    throw VoradaNotImplemented(
        "to_yuv: This function is not implemented on purpose because the color space is not "
        "known");
}

template <typename T>
ImageGray<T> to_gray(const ImageRGB<T>& image) {
    return gray_of_rgb<T>(image);
}

template <typename T>
ImageGray<T> to_gray(const ImaVol<T, 3, 2>& image) {
    return gray_of_rgb<T>(image);
}

template <typename T>
ImageGray<T> to_gray(const ImageYUV<T>& image) {
    return gray_of_channel(image.channels[0]);
}

template <typename T>
ImageGray<T> to_gray(const ImageCIELab<T>& image) {
    return gray_of_channel(image.channels[0]);
}

template <typename T>
ImageGray<T> to_gray(const ImaVol<T, 1, 2>& image) {
    return gray_of_channel(image.channels[0]);
}

template <typename T>
ImageRGB<T> to_rgb(const ImageGray<T>& image) {
    ImageRGB<T> result;
    for (auto& channel : result.channels) {
        channel = image.channels[0];
    }
    return result;
}

template <typename T>
ImageCIELab<T> to_cielab(const ImageRGB<T>& image) {
    return per_pixel<ImageCIELab<T>>(image, "to_cielab", [](double r, double g, double b) {
        return from_color(color::rgb_to_lab(color::ColorValue(r, g, b)));
    });
}

template <typename T>
ImageRGB<T> to_rgb(const ImageCIELab<T>& image) {
    return per_pixel<ImageRGB<T>>(image, "to_rgb", [](double l, double a, double b) {
        return from_color(color::lab_to_rgb(color::ColorValue(l, a, b)));
    });
}

template <typename T>
ImageCIELab<T> to_cielab(const ImageGray<T>& image) {
    ImageCIELab<T> result;
    result.channels[0] = image.channels[0];
    // Neutral chroma: a and b carry the +128 offset of every other CIELab image here.
    for (std::size_t c = 1; c < 3; ++c) {
        result.channels[c] = shaped_like<T>(image.channels[0]);
        std::fill(result.channels[c].data(),
                  result.channels[c].data() + result.channels[c].num_elements(), T(128));
    }
    return result;
}

template <typename T>
ImageCIELab<T> to_cielab(const ImageYUV<T>& image) {
    return to_cielab(to_rgb(image));
}

template <typename T>
ImageYUV<T> to_yuv(const ImageCIELab<T>& image) {
    return to_yuv(to_rgb(image));
}

namespace {

long long floor_div(long long value, long long divisor) {
    const long long q = value / divisor;
    return (value % divisor != 0 && value < 0) ? q - 1 : q;
}

// Source positions, in 1/16 of an input sample, of `outputs` samples interpolated from
// `inputs` samples on the fixed-point grid of the upsamplers: a 14-bit step, advanced in
// 1/4096 of a position. `start` gives the offset of the first position from the step.
std::vector<long long> grid_positions(long long inputs,
                                      long long outputs,
                                      long long (*start)(long long)) {
    const long long step = ((inputs * 16384 + outputs / 2) / outputs) % 65536;
    // Not reduced to 16 bits: at a 1:1 ratio 4 · step is exactly 65536, and wrapping it to 0
    // would repeat the first sample over the whole row. Below 1:1 it is less than 65536.
    const long long increment = 4 * step;
    std::vector<long long> positions(static_cast<std::size_t>(outputs));
    const long long r0 = start(step);
    long long q = floor_div(r0, 4096);
    long long remainder = r0 - 4096 * q;
    for (long long j = 0; j < outputs; ++j) {
        if (j > 0) {
            const long long t = remainder + increment;
            q += t / 4096;
            remainder = t % 4096;
        }
        positions[static_cast<std::size_t>(j)] = q;
    }
    return positions;
}

long long horizontal_start(long long step) {
    return step - 14336;
}

long long vertical_start(long long step) {
    return 2 * step - 30720;
}

// The six-tap filter at position q (1/16 sample): taps g-2 .. g+3 around g = floor(q / 16),
// clamped to the inputs; phase p weighs them (0, 0, 32 - 2p, 2p, 0, 0). `sample(k)` reads
// input k. The sum is scaled by 32.
template <typename Sample>
double filter(long long q, long long inputs, Sample sample) {
    const long long g = floor_div(q, 16);
    const long long p = q - 16 * g;
    const double weights[6] = {
        0.0, 0.0, static_cast<double>(32 - 2 * p), static_cast<double>(2 * p), 0.0, 0.0};
    double sum = 0.0;
    for (long long k = 0; k < 6; ++k) {
        const long long tap = std::min(std::max(g - 2 + k, 0LL), inputs - 1);
        sum += weights[k] * sample(tap);
    }
    return sum;
}

void check_upsample_extent(long long extent, long long available, const char* message) {
    if (extent < 1 || extent > available) {
        throw VoradaError(message);
    }
}

// Horizontal pass over the first `rows` rows: raw[y * n + j] = the filter sum (scale 32).
std::vector<double> horizontal_sums(const MultiArray<double, 2>& plane,
                                    long long width,
                                    long long rows) {
    const long long n = static_cast<long long>(plane.extent(0));
    const std::vector<long long> positions = grid_positions(width, n, horizontal_start);
    std::vector<double> raw(static_cast<std::size_t>(n * rows));
    for (long long y = 0; y < rows; ++y) {
        const double* row = plane.data() + y * n;
        for (long long j = 0; j < n; ++j) {
            raw[static_cast<std::size_t>(y * n + j)] =
                filter(positions[static_cast<std::size_t>(j)], width,
                       [row](long long k) { return row[k]; });
        }
    }
    return raw;
}

// Full-resolution YUV of a sub-sampled image: Y unchanged, U and V upsampled by `upsample`
// on a plane of plane_width × plane_height and cut to Y's size.
template <typename T, typename Upsample>
ImageYUV<T> full_chroma(const ImaVol<T, 3, 2>& image,
                        unsigned long long plane_width,
                        unsigned long long plane_height,
                        Upsample upsample) {
    const MultiArray<T, 2>& luma = image.channels[0];
    const unsigned long long width = luma.extent(0);
    const unsigned long long height = luma.extent(1);
    ImageYUV<T> result;
    result.channels[0] = luma;
    for (std::size_t c = 1; c < 3; ++c) {
        const MultiArray<T, 2>& chroma = image.channels[c];
        const unsigned long long cw = chroma.extent(0);
        const unsigned long long ch = chroma.extent(1);
        MultiArray<double, 2> plane(std::vector<unsigned long long>{plane_width, plane_height});
        for (unsigned long long y = 0; y < ch; ++y) {
            for (unsigned long long x = 0; x < cw; ++x) {
                plane.data()[x + y * plane_width] = static_cast<double>(chroma.data()[x + y * cw]);
            }
        }
        if (plane.num_elements() > 0) {
            upsample(plane, static_cast<long long>(cw), static_cast<long long>(ch));
        }
        MultiArray<T, 2> out = shaped_like<T>(luma);
        for (unsigned long long y = 0; y < height; ++y) {
            for (unsigned long long x = 0; x < width; ++x) {
                out.data()[x + y * width] = sample_cast<T>(plane.data()[x + y * plane_width]);
            }
        }
        result.channels[c] = out;
    }
    return result;
}

// The chroma channels of a sub-sampled image must be equal and hold ceil(size / factor) of
// the luma size in each direction.
template <typename T>
void check_subsampled(const ImaVol<T, 3, 2>& image,
                      unsigned long long x_factor,
                      unsigned long long y_factor,
                      const char* message) {
    const auto& c = image.channels;
    const auto up = [](unsigned long long size, unsigned long long factor) {
        return size / factor + (size % factor != 0 ? 1 : 0);
    };
    if (c[1].extent(0) != c[2].extent(0) || c[1].extent(1) != c[2].extent(1) ||
        c[1].extent(0) != up(c[0].extent(0), x_factor) ||
        c[1].extent(1) != up(c[0].extent(1), y_factor)) {
        throw VoradaError(message);
    }
}

}  // namespace

void horiz_chroma_upsample(MultiArray<double, 2>& plane, long long width) {
    const long long n = static_cast<long long>(plane.extent(0));
    const long long m = static_cast<long long>(plane.extent(1));
    if (n == 0 || m == 0) {
        return;
    }
    check_upsample_extent(
        width, n, "horiz_chroma_upsample: the width must lie between 1 and the plane width");
    const std::vector<double> raw = horizontal_sums(plane, width, m);
    double* out = plane.data();
    for (std::size_t i = 0; i < raw.size(); ++i) {
        out[i] = (raw[i] + 16.0) * 0.03125;
    }
}

void horizvert_chroma_upsample(MultiArray<double, 2>& plane, long long width, long long height) {
    const long long n = static_cast<long long>(plane.extent(0));
    const long long m = static_cast<long long>(plane.extent(1));
    if (n == 0 || m == 0) {
        return;
    }
    check_upsample_extent(
        width, n, "horizvert_chroma_upsample: the width must lie between 1 and the plane width");
    check_upsample_extent(
        height, m, "horizvert_chroma_upsample: the height must lie between 1 and the plane height");
    const std::vector<double> raw = horizontal_sums(plane, width, height);
    const std::vector<long long> positions = grid_positions(height, m, vertical_start);
    double* out = plane.data();
    for (long long j = 0; j < n; ++j) {
        for (long long i = 0; i < m; ++i) {
            const double sum = filter(
                positions[static_cast<std::size_t>(i)], height,
                [&raw, n, j](long long k) { return raw[static_cast<std::size_t>(k * n + j)]; });
            out[i * n + j] = (sum + 512.0) * 0.0009765625;
        }
    }
}

template <typename T>
ImageYUV<T> to_yuv(const ImageYUV422<T>& image) {
    check_subsampled(image, 2, 1,
                     "to_yuv: the U and V channels of a 4:2:2 image must be equal and half the "
                     "width of the Y channel");
    const auto& chroma = image.channels[1];
    return full_chroma(image, 2 * chroma.extent(0), chroma.extent(1),
                       [](MultiArray<double, 2>& plane, long long w, long long) {
                           horiz_chroma_upsample(plane, w);
                       });
}

template <typename T>
ImageYUV<T> to_yuv(const ImageYUV420<T>& image) {
    check_subsampled(image, 2, 2,
                     "to_yuv: the U and V channels of a 4:2:0 image must be equal and half the "
                     "width and height of the Y channel");
    const auto& chroma = image.channels[1];
    return full_chroma(image, 2 * chroma.extent(0), 2 * chroma.extent(1),
                       [](MultiArray<double, 2>& plane, long long w, long long h) {
                           horizvert_chroma_upsample(plane, w, h);
                       });
}

#define VORADA_INSTANTIATE_GRAY_RGB(T)                        \
    template ImageGray<T> to_gray<T>(const ImageRGB<T>&);     \
    template ImageGray<T> to_gray<T>(const ImaVol<T, 3, 2>&); \
    template ImageRGB<T> to_rgb<T>(const ImageGray<T>&);
VORADA_INSTANTIATE_GRAY_RGB(unsigned char)
VORADA_INSTANTIATE_GRAY_RGB(long long)
#undef VORADA_INSTANTIATE_GRAY_RGB

template ImageGray<unsigned char> to_gray<unsigned char>(const ImageYUV<unsigned char>&);
template ImageGray<long long> to_gray<long long>(const ImageYUV<long long>&);
template ImageGray<double> to_gray<double>(const ImageYUV<double>&);
template ImageGray<unsigned char> to_gray<unsigned char>(const ImaVol<unsigned char, 1, 2>&);
template ImageGray<short> to_gray<short>(const ImaVol<short, 1, 2>&);
template ImageGray<long long> to_gray<long long>(const ImaVol<long long, 1, 2>&);

#define VORADA_INSTANTIATE_CIELAB(T)                           \
    template ImageGray<T> to_gray<T>(const ImageCIELab<T>&);   \
    template ImageCIELab<T> to_cielab<T>(const ImageRGB<T>&);  \
    template ImageRGB<T> to_rgb<T>(const ImageCIELab<T>&);     \
    template ImageCIELab<T> to_cielab<T>(const ImageGray<T>&); \
    template ImageCIELab<T> to_cielab<T>(const ImageYUV<T>&);  \
    template ImageYUV<T> to_yuv<T>(const ImageCIELab<T>&);
VORADA_INSTANTIATE_CIELAB(unsigned char)
VORADA_INSTANTIATE_CIELAB(double)
#undef VORADA_INSTANTIATE_CIELAB

#define VORADA_INSTANTIATE_SUBSAMPLED(T)                   \
    template ImageYUV<T> to_yuv<T>(const ImageYUV422<T>&); \
    template ImageYUV<T> to_yuv<T>(const ImageYUV420<T>&);
VORADA_INSTANTIATE_SUBSAMPLED(unsigned char)
VORADA_INSTANTIATE_SUBSAMPLED(long long)
VORADA_INSTANTIATE_SUBSAMPLED(double)
#undef VORADA_INSTANTIATE_SUBSAMPLED

}  // namespace vorada
