// libFuzzer target for image format detection. The header format agrees with a table of the
// signatures read from the bytes, and opening a reader under several names and requested formats
// either settles a format or fails with a VoradaFileError.

#include <Magick++.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "common/errors.h"
#include "io/io_auxiliar.h"
#include "io/readimage.h"
#include "tests/fuzz/fuzz_common.h"

using vorada::io::ImageFormat;

namespace {

bool starts(const std::uint8_t* data, std::size_t size, const std::string& prefix) {
    return size >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), data,
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

ImageFormat expected_format(const std::uint8_t* data, std::size_t size) {
    using namespace vorada::io;
    if (size < 2) {
        return FORMAT_RAS;
    }
    if (starts(data, size, "\xFF\xD8"))
        return FORMAT_JPG;
    if (starts(data, size, "\x89\x50")) {
        return starts(data, size, "\x89PNG\r\n\x1A\n") ? FORMAT_PNG : FORMAT_UNKNOWN;
    }
    if (starts(data, size, "II"))
        return starts(data, size, "II\x2A") ? FORMAT_TIFF : FORMAT_UNKNOWN;
    if (starts(data, size, "MM")) {
        return starts(data, size, std::string("MM\0\x2A", 4)) ? FORMAT_TIFF : FORMAT_UNKNOWN;
    }
    if (starts(data, size, std::string("\xFF\0", 2)))
        return FORMAT_MULTIARRAY;
    if (starts(data, size, "BM"))
        return FORMAT_BMP;
    if (starts(data, size, "P5") || starts(data, size, "P6"))
        return FORMAT_PNM;
    return FORMAT_RAS;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* names[] = {"f.png", "f.jpg", "f.tif", "f.ppm", "f.mult", "f.ras", "f.dat"};
    if (size == 0) {
        return 0;
    }
    // The first byte picks the name and the requested format; the rest is the file.
    const std::string path = fuzz::scratch("fuzz_imageformat", names[data[0] % 7]);
    const auto requested = static_cast<ImageFormat>(data[0] / 7 % 8);
    fuzz::write_file(path, data + 1, size - 1);
    const ImageFormat header = vorada::io::get_image_format_from_header(path);
    fuzz::check(header == expected_format(data + 1, size - 1));
    try {
        const vorada::io::ReadImage reader(path, requested);
        fuzz::check(reader.format() != vorada::io::FORMAT_UNKNOWN);
        fuzz::check(header == vorada::io::FORMAT_UNKNOWN || reader.format() == header);
    } catch (const vorada::VoradaFileError&) {
    }
    std::remove(path.c_str());
    return 0;
}
