#include <gtest/gtest.h>

#include <string>

#include "io/io_auxiliar.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using vorada::testing::TempDir;
using vorada::testing::write_bytes;

TEST(GetImageFormat, UsesTheLastExtensionCaseSensitively) {
    EXPECT_EQ(get_image_format("photo.jpg"), FORMAT_JPG);
    EXPECT_EQ(get_image_format("photo.jpeg"), FORMAT_JPG);
    EXPECT_EQ(get_image_format("photo.JPG"), FORMAT_UNKNOWN);
    EXPECT_EQ(get_image_format("archive.tar.png"), FORMAT_PNG);
    EXPECT_EQ(get_image_format("scan.tif"), FORMAT_TIFF);
    EXPECT_EQ(get_image_format("scan.tiff"), FORMAT_TIFF);
    EXPECT_EQ(get_image_format("sun.ras"), FORMAT_RAS);
    EXPECT_EQ(get_image_format("win.bmp"), FORMAT_BMP);
    EXPECT_EQ(get_image_format("raw.ppm"), FORMAT_PNM);
    EXPECT_EQ(get_image_format("raw.pgm"), FORMAT_PNM);
    for (const char* name : {"a.mult", "a.prl", "a.bay", "a.bayer"}) {
        EXPECT_EQ(get_image_format(name), FORMAT_MULTIARRAY) << name;
    }
    EXPECT_EQ(get_image_format("noextension"), FORMAT_UNKNOWN);
    EXPECT_EQ(get_image_format("dir.png/file"), FORMAT_UNKNOWN);
    EXPECT_EQ(get_image_format("frames/frame000.png"), FORMAT_PNG);
}

class HeaderTest : public ::testing::Test {
  protected:
    ImageFormat format_of(const std::string& bytes) {
        const std::string path = directory.file("file.dat");
        write_bytes(path, bytes);
        return get_image_format_from_header(path);
    }
    TempDir directory;
};

TEST_F(HeaderTest, RecognisesEachSignature) {
    EXPECT_EQ(format_of(std::string("\xFF\xD8\xFF\xE0", 4)), FORMAT_JPG);
    EXPECT_EQ(format_of(std::string("\x89PNG\r\n\x1A\n\0\0", 10)), FORMAT_PNG);
    EXPECT_EQ(format_of(std::string("II\x2A\0", 4)), FORMAT_TIFF);
    EXPECT_EQ(format_of(std::string("MM\0\x2A", 4)), FORMAT_TIFF);
    EXPECT_EQ(format_of("BM...."), FORMAT_BMP);
    EXPECT_EQ(format_of("P5\n1 1\n255\n"), FORMAT_PNM);
    EXPECT_EQ(format_of("P6\n1 1\n255\n"), FORMAT_PNM);  // what the writer makes of .ppm
    EXPECT_EQ(format_of(std::string("\xFF\x00\x01", 3)), FORMAT_MULTIARRAY);
}

TEST_F(HeaderTest, UnlistedHeadersAreRasAndBrokenSignaturesUnknown) {
    EXPECT_EQ(format_of("P4\n1 1\n"), FORMAT_RAS);
    EXPECT_EQ(format_of("GIF89a"), FORMAT_RAS);
    EXPECT_EQ(format_of(""), FORMAT_RAS);
    EXPECT_EQ(format_of(std::string("\x89\x50\x4E\x48\x0D\x0A\x1A\x0A", 8)), FORMAT_UNKNOWN);
    EXPECT_EQ(format_of(std::string("\x89PNG\r\n", 6)), FORMAT_UNKNOWN);
    EXPECT_EQ(format_of(std::string("II\x2B\0", 4)), FORMAT_UNKNOWN);
    EXPECT_EQ(format_of(std::string("MM\x2A\0", 4)), FORMAT_UNKNOWN);
}

TEST_F(HeaderTest, FilesShorterThanASignatureDoNotMatchIt) {
    EXPECT_EQ(format_of("\xFF"), FORMAT_RAS);  // not FF 00 padded with a zero byte
    EXPECT_EQ(format_of("II"), FORMAT_UNKNOWN);
    EXPECT_EQ(format_of(std::string("MM\0", 3)), FORMAT_UNKNOWN);
    EXPECT_EQ(format_of(std::string("\x89PNG\r\n\x1A", 7)), FORMAT_UNKNOWN);
}

}  // namespace
}  // namespace io
}  // namespace vorada
