#include "io/writeimage.h"

#include <Magick++.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "common/errors.h"
#include "image/import_export.h"
#include "io/atomicfile.h"
#include "io/magickstorage.h"

namespace vorada {
namespace io {

namespace {

// Encodes in memory, in the format the path's extension names (as Magick++ would pick it from
// the name), and writes the bytes through an AtomicFile: the encoder does not report every
// failed write (a full disk leaves a cut PNG and no error), and a file that is cut must not
// keep the final name.
void encode_to_file(Magick::Image& image, const std::string& path) {
    std::string format = image_extension(path).substr(1);
    std::transform(format.begin(), format.end(), format.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    image.magick(format);
    Magick::Blob encoded;
    image.write(&encoded);
    write_file_atomically(path, encoded.data(), encoded.length());
}

}  // namespace

WriteImage::WriteImage(const std::string& path, int quality)
    : file_path(path), file_quality(quality) {
    file_format = get_image_format(path);
    if (file_format == FORMAT_UNKNOWN) {
        throw VoradaFileError(path, "Image format not supported (" + image_extension(path) + ")");
    }
}

void WriteImage::_write(const ImageRGB<unsigned char>& image) {
    _write_rgb(image);
}
void WriteImage::_write(const ImageRGB<unsigned short>& image) {
    _write_rgb(image);
}
void WriteImage::_write(const ImageGray<unsigned char>& image) {
    _write_gray(image);
}
void WriteImage::_write(const ImageGray<unsigned short>& image) {
    _write_gray(image);
}

void WriteImage::_refuse_multiarray() const {
    if (file_format == FORMAT_MULTIARRAY) {
        throw VoradaFileError(file_path,
                              "colour and grey images cannot be stored in a multi-array file (" +
                                  image_extension(file_path) + ")");
    }
}

template <typename T>
void WriteImage::_write_rgb(const ImageRGB<T>& image) {
    _refuse_multiarray();
    // The .pgm coder would turn the colours into grey without a word.
    if (image_extension(file_path) == ".pgm") {
        throw VoradaFileError(file_path, "a colour image cannot be stored as .pgm (grey only)");
    }
    const std::size_t width = image.width();
    const std::size_t height = image.height();
    std::vector<T> buffer(width * height * 3);
    export_to<T, T>(image, buffer.data(), buffer.size(), BUFFER_RGB);
    Magick::Image output(width, height, "RGB", storage_type<T>(), buffer.data());
    buffer = std::vector<T>();
    output.classType(Magick::DirectClass);
    output.quality(static_cast<std::size_t>(file_quality));
    output.type(Magick::TrueColorType);
    // The samples stay in the buffer's (sRGB) colour space: in this ImageMagick RGBColorspace
    // is linear RGB, and switching to it would transform every sample before encoding.
    output.depth(sizeof(T) * 8);
    encode_to_file(output, file_path);
}

template <typename T>
void WriteImage::_write_gray(const ImageGray<T>& image) {
    _refuse_multiarray();
    const std::size_t width = image.width();
    const std::size_t height = image.height();
    std::vector<T> buffer(width * height);
    export_to<T>(image, buffer.data(), buffer.size(), BUFFER_GRAY);
    Magick::Image output(width, height, "I", storage_type<T>(), buffer.data());
    buffer = std::vector<T>();
    output.classType(Magick::DirectClass);
    output.quality(static_cast<std::size_t>(file_quality));
    output.type(Magick::GrayscaleType);
    output.colorSpace(Magick::GRAYColorspace);
    output.depth(sizeof(T) * 8);
    if (sizeof(T) == 2) {
        // The PNG coder would store samples that 8 bits can hold (multiples of 257) in 8 bits.
        output.defineValue("png", "bit-depth", "16");
        output.defineValue("png", "color-type", "0");
    }
    encode_to_file(output, file_path);
}

}  // namespace io
}  // namespace vorada
