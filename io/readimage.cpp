#include "io/readimage.h"

#include <Magick++.h>

#include <boost/filesystem.hpp>
#include <vector>

#include "common/errors.h"
#include "image/import_export.h"
#include "io/magickstorage.h"

namespace vorada {
namespace io {
namespace {

// Loads the whole file; Magick++ recognises the format by itself. Warnings do not stop a read;
// errors pass through as Magick++'s own exceptions. Some damaged files (a PNG cut inside its
// image data) raise only a warning and leave no image: that is a failure, not an empty picture.
Magick::Image load(const std::string& path) {
    Magick::Image loaded;
    loaded.quiet(true);
    loaded.read(path);
    if (loaded.columns() == 0 || loaded.rows() == 0) {
        throw VoradaFileError(path, "No image could be decoded from the file");
    }
    return loaded;
}

}  // namespace

ImageFormat settle_read_format(const std::string& path,
                               ImageFormat header,
                               ImageFormat requested,
                               ImageFormat by_extension,
                               const std::string& extension) {
    const bool header_known = header != FORMAT_UNKNOWN;
    const bool requested_known = requested != FORMAT_UNKNOWN;
    const bool extension_known = by_extension != FORMAT_UNKNOWN;
    const auto header_mismatch = [&] {
        return VoradaFileError(path,
                               "Image format (from the header) does not correspond to the "
                               "extension (" +
                                   extension + ")");
    };
    const auto given_mismatch = [&] {
        return VoradaFileError(path, "Image format given does not correspond to the header");
    };
    if (header_known) {
        if (!requested_known) {
            if (extension_known && by_extension != header) {
                throw header_mismatch();
            }
            return header;
        }
        if (!extension_known) {
            if (requested != header) {
                throw given_mismatch();
            }
            return header;
        }
        if (by_extension != header) {
            throw header_mismatch();
        }
        if (requested != by_extension) {
            throw given_mismatch();
        }
        return header;
    }
    if (!requested_known) {
        if (extension_known) {
            return by_extension;
        }
        throw VoradaFileError(path, "Image format not supported (" + extension + ")");
    }
    if (!extension_known || requested == by_extension) {
        return requested;
    }
    throw VoradaFileError(
        path, "Image format given does not correspond to the extension (" + extension + ")");
}

ReadImage::ReadImage(const std::string& path, ImageFormat format) {
    if (!boost::filesystem::is_regular_file(path)) {
        if (boost::filesystem::is_directory(path)) {
            throw VoradaFileError(path, " Not a valid file, is a directory.");
        }
        throw VoradaFileNotFound(path);
    }
    file_path = path;
    const ImageFormat by_extension = get_image_format(path);
    const ImageFormat header = get_image_format_from_header(path);
    file_format = settle_read_format(path, header, format, by_extension, image_extension(path));
}

void ReadImage::ping(std::size_t& width, std::size_t& height) const {
    Magick::Image header;
    header.quiet(true);
    header.ping(file_path);
    width = header.columns();
    height = header.rows();
    if (width == 0 || height == 0) {
        throw VoradaFileError(file_path, "No image could be decoded from the file");
    }
}

void ReadImage::_read(ImageRGB<unsigned char>& image) {
    _read_rgb(image);
}
void ReadImage::_read(ImageRGB<unsigned short>& image) {
    _read_rgb(image);
}
void ReadImage::_read(ImageGray<unsigned char>& image) {
    _read_gray(image);
}
void ReadImage::_read(ImageGray<unsigned short>& image) {
    _read_gray(image);
}

template <typename T>
void ReadImage::_read_rgb(ImageRGB<T>& image) {
    Magick::Image loaded = load(file_path);
    const std::size_t width = loaded.columns();
    const std::size_t height = loaded.rows();
    std::vector<T> buffer(width * height * 3);
    loaded.write(0, 0, width, height, "RGB", storage_type<T>(), buffer.data());
    for (auto& channel : image.channels) {
        channel.resize(std::vector<unsigned long long>{width, height});
    }
    import_from<T, T>(image, buffer.data(), buffer.size(), BUFFER_RGB);
}

template <typename T>
void ReadImage::_read_gray(ImageGray<T>& image) {
    Magick::Image loaded = load(file_path);
    const std::size_t width = loaded.columns();
    const std::size_t height = loaded.rows();
    std::vector<T> buffer(width * height);
    loaded.write(0, 0, width, height, "I", storage_type<T>(), buffer.data());
    image.channels[0].resize(std::vector<unsigned long long>{width, height});
    import_from<T>(image, buffer.data(), buffer.size(), BUFFER_GRAY);
}

}  // namespace io
}  // namespace vorada
