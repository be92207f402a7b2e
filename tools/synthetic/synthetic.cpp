#include "tools/synthetic/synthetic.h"

#include <algorithm>
#include <array>
#include <boost/filesystem.hpp>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "common/errors.h"
#include "image/imagegray.h"
#include "io/writeimage.h"
#include "layout/layout.h"
#include "signals/raster.h"

namespace vorada {
namespace synthetic {

namespace {

constexpr double pi = 3.14159265358979323846;

// Uniform in [0, 1) from the raw engine output, which the standard fixes; the library's
// distributions are not portable between implementations.
double uniform(std::mt19937& generator) {
    return static_cast<double>(generator()) / 4294967296.0;
}

// A texture of four short plane waves at spread angles, so it has structure in every direction.
struct Texture {
    std::array<double, 4> fu{}, fv{}, phase{};
    Eigen::Vector3d tint = Eigen::Vector3d::Ones();

    Texture(unsigned seed, unsigned layer) {
        std::mt19937 generator(seed * 7919u + layer * 104729u + 1u);
        const double start = uniform(generator) * pi;
        for (std::size_t k = 0; k < 4; ++k) {
            const double angle =
                start + static_cast<double>(k) * pi / 4.0 + 0.2 * uniform(generator);
            const double period = 3.5 + 2.0 * uniform(generator);
            fu[k] = std::cos(angle) / period;
            fv[k] = std::sin(angle) / period;
            phase[k] = 2.0 * pi * uniform(generator);
        }
        for (int c = 0; c < 3; ++c) {
            tint(c) = 0.7 + 0.6 * uniform(generator);
        }
    }

    // In [-1, 1], at layer coordinates (u, v).
    double operator()(double u, double v) const {
        double sum = 0.0;
        for (std::size_t k = 0; k < 4; ++k) {
            sum += std::sin(2.0 * pi * (fu[k] * u + fv[k] * v) + phase[k]);
        }
        return sum / 4.0;
    }
};

bool covers(const Shape& shape, double u, double v) {
    if (shape.kind == ShapeKind::disc) {
        return u * u + v * v <= shape.half_width * shape.half_width;
    }
    return std::abs(u) <= shape.half_width && std::abs(v) <= shape.half_height;
}

void put_bytes(std::ofstream& out, std::uint32_t word) {
    const char bytes[4] = {static_cast<char>(word & 0xffu), static_cast<char>((word >> 8) & 0xffu),
                           static_cast<char>((word >> 16) & 0xffu),
                           static_cast<char>((word >> 24) & 0xffu)};
    out.write(bytes, 4);
}

void put_float(std::ofstream& out, float value) {
    std::uint32_t word = 0;
    std::memcpy(&word, &value, sizeof word);
    put_bytes(out, word);
}

}  // namespace

Synthetic make_synthetic(const Options& options) {
    if (options.width <= 0 || options.height <= 0 || options.frames <= 0) {
        throw VoradaError("make_synthetic: width, height and frames must be positive");
    }
    const long long X = options.width, Y = options.height, T = options.frames;
    Synthetic result;
    result.video = gma::Video(X, Y, T);
    result.forward_flow = gma::Flow(X, Y, T);
    result.backward_flow = gma::Flow(X, Y, T);
    result.layers = gma::LabelVolume(X, Y, T);

    std::vector<Texture> textures;
    for (std::size_t k = 0; k <= options.shapes.size(); ++k) {
        textures.emplace_back(options.seed, static_cast<unsigned>(k));
    }
    gma::for_each_point(result.video, [&](long long x, long long y, long long t) {
        // The topmost shape covering the pixel centre is visible; layer 0 is the background.
        std::size_t layer = 0;
        double u = static_cast<double>(x), v = static_cast<double>(y);
        Eigen::Vector3d base = options.background_color;
        Eigen::Vector2d motion = Eigen::Vector2d::Zero();
        for (std::size_t k = options.shapes.size(); k-- > 0;) {
            const Shape& shape = options.shapes[k];
            const double su =
                static_cast<double>(x) - (shape.x + shape.dx * static_cast<double>(t));
            const double sv =
                static_cast<double>(y) - (shape.y + shape.dy * static_cast<double>(t));
            if (covers(shape, su, sv)) {
                layer = k + 1;
                u = su;
                v = sv;
                base = shape.color;
                motion = Eigen::Vector2d(shape.dx, shape.dy);
                break;
            }
        }
        const double wave = textures[layer](u, v);
        double* rgb = result.video.at(x, y, t);
        for (int c = 0; c < 3; ++c) {
            const double level =
                base(c) + options.texture_amplitude * textures[layer].tint(c) * wave;
            // Whole levels, so the frames survive a round trip through 8-bit images unchanged.
            rgb[c] = std::min(std::max(std::round(level), 0.0), 255.0);
        }
        *result.layers.at(x, y, t) = static_cast<unsigned long long>(layer);
        if (t + 1 < T) {
            result.forward_flow.at(x, y, t)[0] = motion(0);
            result.forward_flow.at(x, y, t)[1] = motion(1);
        }
        if (t > 0) {
            result.backward_flow.at(x, y, t)[0] = -motion(0);
            result.backward_flow.at(x, y, t)[1] = -motion(1);
        }
    });
    return result;
}

Options default_sample_options() {
    Options options;
    options.width = 160;
    options.height = 120;
    options.frames = 8;
    options.seed = 2024;

    Shape disc;
    disc.kind = ShapeKind::disc;
    disc.x = 42.0;
    disc.y = 62.0;
    disc.half_width = 22.0;
    disc.dx = 1.5;
    disc.dy = 0.5;
    disc.color = Eigen::Vector3d(205, 70, 55);

    Shape box;
    box.kind = ShapeKind::rectangle;
    box.x = 112.0;
    box.y = 38.0;
    box.half_width = 22.0;
    box.half_height = 15.0;
    box.dx = -1.0;
    box.dy = 0.75;
    box.color = Eigen::Vector3d(60, 150, 70);

    Shape small_disc;
    small_disc.kind = ShapeKind::disc;
    small_disc.x = 104.0;
    small_disc.y = 90.0;
    small_disc.half_width = 14.0;
    small_disc.dx = 0.5;
    small_disc.dy = -1.25;
    small_disc.color = Eigen::Vector3d(60, 80, 200);

    options.shapes = {disc, box, small_disc};
    return options;
}

Options random_options(
    long long width, long long height, long long frames, int shape_count, unsigned seed) {
    Options options;
    options.width = width;
    options.height = height;
    options.frames = frames;
    options.seed = seed;
    std::mt19937 generator(seed);
    const double extent = static_cast<double>(std::min(width, height));
    for (int k = 0; k < shape_count; ++k) {
        Shape shape;
        shape.kind = (k % 2 == 0) ? ShapeKind::disc : ShapeKind::rectangle;
        shape.x = uniform(generator) * static_cast<double>(width);
        shape.y = uniform(generator) * static_cast<double>(height);
        shape.half_width = extent * (0.12 + 0.18 * uniform(generator));
        shape.half_height = extent * (0.12 + 0.18 * uniform(generator));
        shape.dx = 3.0 * uniform(generator) - 1.5;
        shape.dy = 3.0 * uniform(generator) - 1.5;
        for (int c = 0; c < 3; ++c) {
            shape.color(c) = 40.0 + 175.0 * uniform(generator);
        }
        options.shapes.push_back(shape);
    }
    return options;
}

void write_flo(const std::string& path, const gma::Flow& flow, unsigned long long t) {
    if (t >= static_cast<unsigned long long>(flow.size(2))) {
        throw VoradaError("write_flo: frame " + std::to_string(t) + " is outside the flow");
    }
    if (flow.size(0) > 99999 || flow.size(1) > 99999 || flow.size(0) < 1 || flow.size(1) < 1) {
        throw VoradaError("write_flo: frame size does not fit the .flo format");
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw VoradaFileError(path, "cannot be opened for writing");
    }
    put_float(out, 202021.25f);
    put_bytes(out, static_cast<std::uint32_t>(flow.size(0)));
    put_bytes(out, static_cast<std::uint32_t>(flow.size(1)));
    const long long frame = static_cast<long long>(t);
    for (long long y = 0; y < flow.size(1); ++y) {
        for (long long x = 0; x < flow.size(0); ++x) {
            const double* w = flow.at(x, y, frame);
            put_float(out, static_cast<float>(w[0]));
            put_float(out, static_cast<float>(w[1]));
        }
    }
    out.close();
    if (!out) {
        throw VoradaFileError(path, "could not be written completely");
    }
}

void write_sample(const std::string& directory,
                  gma::Video& video,
                  const gma::Flow& forward_flow,
                  const gma::Flow& backward_flow) {
    if (forward_flow.size != video.size || backward_flow.size != video.size) {
        throw VoradaError("write_sample: flows and video differ in size");
    }
    boost::filesystem::create_directories(directory + "/frames");
    boost::filesystem::create_directories(directory + "/flows");
    const unsigned long long frames = static_cast<unsigned long long>(video.size(2));
    for (unsigned long long t = 0; t + 1 < frames; ++t) {
        write_flo(layout::forward_flow_path(directory, t), forward_flow, t);
    }
    for (unsigned long long t = 1; t < frames; ++t) {
        write_flo(layout::backward_flow_path(directory, t), backward_flow, t);
    }
    for (unsigned long long t = 0; t < frames; ++t) {
        video.write_frame(layout::frame_path(directory, t), t);
    }
}

void write_sample(const std::string& directory, Synthetic& synthetic) {
    write_sample(directory, synthetic.video, synthetic.forward_flow, synthetic.backward_flow);
}

void write_ground_truth(const std::string& directory, const Synthetic& synthetic) {
    const gma::LabelVolume& layers = synthetic.layers;
    if (layers.size(0) > 0 && *std::max_element(layers.values.begin(), layers.values.end()) > 255) {
        throw VoradaError("write_ground_truth: more layers than an 8-bit image holds");
    }
    boost::filesystem::create_directories(directory + "/gt");
    for (long long t = 0; t < layers.size(2); ++t) {
        ImageGray<unsigned char> image(static_cast<unsigned long long>(layers.size(0)),
                                       static_cast<unsigned long long>(layers.size(1)));
        unsigned char* pixels = image.channels[0].data();
        const unsigned long long* frame = layers.at(0, 0, t);
        for (long long i = 0; i < layers.size(0) * layers.size(1); ++i) {
            pixels[i] = static_cast<unsigned char>(frame[i]);
        }
        char name[48];
        std::snprintf(name, sizeof(name), "/gt/frame%03lld.png", t);
        io::WriteImage(directory + name).write(image);
    }
}

}  // namespace synthetic
}  // namespace vorada
