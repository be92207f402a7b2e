#include "io/io_auxiliar.h"

#include <boost/filesystem.hpp>
#include <utility>

#include "io/readbitstream.h"

namespace vorada {
namespace io {

std::string image_extension(const std::string& path) {
    return boost::filesystem::path(path).extension().string();
}

ImageFormat get_image_format(const std::string& path) {
    // Compared in the order JPG, PNG, TIFF, multi-array, RAS, BMP, PNM.
    static const std::pair<const char*, ImageFormat> extensions[] = {
        {".jpg", FORMAT_JPG},        {".jpeg", FORMAT_JPG},       {".png", FORMAT_PNG},
        {".tiff", FORMAT_TIFF},      {".tif", FORMAT_TIFF},       {".mult", FORMAT_MULTIARRAY},
        {".prl", FORMAT_MULTIARRAY}, {".bay", FORMAT_MULTIARRAY}, {".bayer", FORMAT_MULTIARRAY},
        {".ras", FORMAT_RAS},        {".bmp", FORMAT_BMP},        {".ppm", FORMAT_PNM},
        {".pgm", FORMAT_PNM}};
    const std::string extension = image_extension(path);
    for (const auto& entry : extensions) {
        if (extension == entry.first) {
            return entry.second;
        }
    }
    return FORMAT_UNKNOWN;
}

ImageFormat get_image_format_from_header(const std::string& path) {
    ReadBitStream stream(path);
    // A field the file is too short to hold does not match: reads stay within the file.
    std::uint64_t left = stream.remaining_size();
    const auto next = [&](unsigned bits, std::uint64_t* value) {
        if (left < bits) {
            return false;
        }
        left -= bits;
        *value = stream.read(bits);
        return true;
    };
    std::uint64_t v = 0;
    ImageFormat format = FORMAT_RAS;
    if (!next(16, &v)) {
        stream.close();
        return format;
    }
    switch (v) {
        case 0xFFD8:
            format = FORMAT_JPG;
            break;
        case 0x8950:
            format = FORMAT_PNG;
            for (const std::uint64_t expected : {0x4E47u, 0x0D0Au, 0x1A0Au}) {
                if (!next(16, &v) || v != expected) {
                    format = FORMAT_UNKNOWN;
                    break;
                }
            }
            break;
        case 0x4949:
            format = next(8, &v) && v == 0x2A ? FORMAT_TIFF : FORMAT_UNKNOWN;
            break;
        case 0x4D4D:
            format = next(16, &v) && v == 0x002A ? FORMAT_TIFF : FORMAT_UNKNOWN;
            break;
        case 0xFF00:
            format = FORMAT_MULTIARRAY;
            break;
        case 0x424D:
            format = FORMAT_BMP;
            break;
        case 0x5035:  // P5, grey
        case 0x5036:  // P6, colour: what the writer makes of .ppm
            format = FORMAT_PNM;
            break;
        default:
            format = FORMAT_RAS;
    }
    stream.close();
    return format;
}

}  // namespace io
}  // namespace vorada
