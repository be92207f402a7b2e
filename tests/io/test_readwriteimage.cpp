// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cstdlib>
#include <string>

#include "common/errors.h"
#include "io/readimage.h"
#include "io/writeimage.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using ::testing::_;
using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using vorada::testing::read_bytes;
using vorada::testing::TempDir;
using vorada::testing::write_bytes;

const bool magick_ready = [] {
    Magick::InitializeMagick(nullptr);
    return true;
}();

ImageRGB<unsigned char> test_pattern(unsigned long long width, unsigned long long height) {
    ImageRGB<unsigned char> image(width, height);
    for (std::size_t c = 0; c < 3; ++c) {
        for (unsigned long long i = 0; i < width * height; ++i) {
            image.channels[c].data()[i] = static_cast<unsigned char>(37 * i + 91 * c + 5);
        }
    }
    return image;
}

class ImageFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(magick_ready); }
    TempDir directory;
};

TEST_F(ImageFileTest, RgbPngRoundTripKeepsEightBitValues) {
    const std::string path = directory.file("pattern.png");
    const ImageRGB<unsigned char> written = test_pattern(7, 3);
    WriteImage(path).write(written);

    ImageRGB<unsigned char> read;
    ReadImage reader(path);
    EXPECT_EQ(reader.format(), FORMAT_PNG);
    reader.read(read);
    ASSERT_EQ(read.channel_extents(), written.channel_extents());
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_TRUE(std::equal(read.channels[c].data(), read.channels[c].data() + 21,
                               written.channels[c].data()))
            << "channel " << c;
    }
}

TEST_F(ImageFileTest, SixteenBitRgbAndEightBitGreyRoundTrip) {
    ImageRGB<unsigned short> deep(3, 2);
    for (std::size_t c = 0; c < 3; ++c) {
        for (unsigned long long i = 0; i < 6; ++i) {
            deep.channels[c].data()[i] = static_cast<unsigned short>(10007 * i + 257 * c + 3);
        }
    }
    WriteImage(directory.file("deep.png")).write(deep);
    ImageRGB<unsigned short> deep_read;
    ReadImage(directory.file("deep.png")).read(deep_read);
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_TRUE(std::equal(deep_read.channels[c].data(), deep_read.channels[c].data() + 6,
                               deep.channels[c].data()));
    }

    ImageGray<unsigned char> grey(16, 16);
    for (unsigned long long i = 0; i < 256; ++i) {
        grey.channels[0].data()[i] = static_cast<unsigned char>(i);
    }
    WriteImage(directory.file("grey.png")).write(grey);
    ImageGray<unsigned char> grey_read;
    ReadImage(directory.file("grey.png")).read(grey_read);
    ASSERT_EQ(grey_read.channel_extents(), grey.channel_extents());
    EXPECT_TRUE(std::equal(grey_read.channels[0].data(), grey_read.channels[0].data() + 256,
                           grey.channels[0].data()));
    ImageGray<unsigned short> grey_deep;
    ReadImage(directory.file("grey.png")).read(grey_deep);
    EXPECT_EQ(grey_deep[255 % 16][255 / 16], 65535);
    EXPECT_EQ(grey_deep[1][0], 257);
}

TEST_F(ImageFileTest, MissingFilesAndDirectoriesAreRefusedByName) {
    const std::string missing = directory.file("frames/frame000.png");
    EXPECT_THAT([&] { ReadImage reader(missing); },
                ThrowsMessage<VoradaFileNotFound>(StrEq("File " + missing + " not found")));
    EXPECT_THAT([&] { ReadImage reader(directory.path()); },
                ThrowsMessage<VoradaFileError>(StrEq("Error in file '" + directory.path() +
                                                     "':  Not a valid file, is a directory.")));
}

TEST_F(ImageFileTest, HeaderAndExtensionMustAgree) {
    WriteImage(directory.file("real.png")).write(test_pattern(2, 2));
    const std::string png_bytes = read_bytes(directory.file("real.png"));
    const std::string as_jpg = directory.file("x.jpg");
    write_bytes(as_jpg, png_bytes);
    EXPECT_THAT(
        [&] { ReadImage reader(as_jpg); },
        ThrowsMessage<VoradaFileError>(StrEq(
            "Error in file '" + as_jpg +
            "': Image format (from the header) does not correspond to the extension (.jpg)")));

    const std::string as_dat = directory.file("x.dat");
    write_bytes(as_dat, png_bytes);
    ImageRGB<unsigned char> image;
    ReadImage dat_reader(as_dat);
    EXPECT_EQ(dat_reader.format(), FORMAT_PNG);
    dat_reader.read(image);
    EXPECT_EQ(image.width(), 2u);
    EXPECT_THAT([&] { ReadImage reader(as_dat, FORMAT_JPG); },
                ThrowsMessage<VoradaFileError>(
                    StrEq("Error in file '" + as_dat +
                          "': Image format given does not correspond to the header")));
}

TEST_F(ImageFileTest, BrokenFilesFailWithoutTouchingTheContainer) {
    WriteImage(directory.file("real.png")).write(test_pattern(40, 30));
    const std::string bytes = read_bytes(directory.file("real.png"));
    const std::string truncated = directory.file("truncated.png");
    write_bytes(truncated, bytes.substr(0, bytes.size() / 2));
    ImageRGB<unsigned char> image(1, 1);
    image = 9;
    EXPECT_THAT([&] { ReadImage(truncated).read(image); },
                ThrowsMessage<VoradaFileError>(StrEq(
                    "Error in file '" + truncated + "': No image could be decoded from the file")));
    ASSERT_EQ(image.width(), 1u);
    EXPECT_EQ(image.channels[0][0][0], 9);

    const std::string header_only = directory.file("header_only.png");
    write_bytes(header_only, bytes.substr(0, 40));
    EXPECT_THROW(ReadImage(header_only).read(image), Magick::Exception);
    ASSERT_EQ(image.width(), 1u);

    const std::string bad_signature = directory.file("bad.png");
    write_bytes(bad_signature, std::string("\x89\x50\x4E\x48\x0D\x0A\x1A\x0A", 8));
    // The broken header gives FORMAT_UNKNOWN, so the extension decides; Magick++ then fails.
    ReadImage reader(bad_signature);
    EXPECT_EQ(reader.format(), FORMAT_PNG);
    EXPECT_THROW(reader.read(image), Magick::Exception);
}

TEST_F(ImageFileTest, WriterRefusesUnknownExtensionsAtOpening) {
    const std::string path = directory.file("out.xyz");
    EXPECT_THAT([&] { WriteImage writer(path); },
                ThrowsMessage<VoradaFileError>(
                    StrEq("Error in file '" + path + "': Image format not supported (.xyz)")));
    EXPECT_FALSE(boost::filesystem::exists(path));
    EXPECT_THAT(
        [&] { WriteImage(directory.file("missing/dir/out.png")).write(test_pattern(1, 1)); },
        ThrowsMessage<VoradaFileError>(
            HasSubstr("': cannot be written: No such file or directory")));
}

// Whatever the writer accepts reads back: 8-bit colour and grey through every extension it
// takes (JPEG within its loss), and the multi-array extensions refused before a file exists.
TEST_F(ImageFileTest, EveryExtensionTheWriterAcceptsReadsBack) {
    ImageRGB<unsigned char> colour(6, 4);
    ImageGray<unsigned char> grey(6, 4);
    for (unsigned long long i = 0; i < 24; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            colour.channels[c].data()[i] = static_cast<unsigned char>(30 + 7 * i + 60 * c);
        }
        grey.channels[0].data()[i] = static_cast<unsigned char>(250 - 9 * i);
    }
    const auto differs = [](const auto& a, const auto& b, std::size_t channels) {
        int worst = 0;
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t i = 0; i < 24; ++i) {
                worst =
                    std::max(worst, std::abs(a.channels[c].data()[i] - b.channels[c].data()[i]));
            }
        }
        return worst;
    };
    for (const std::string extension :
         {".jpg", ".jpeg", ".png", ".tiff", ".tif", ".ras", ".bmp", ".ppm", ".pgm"}) {
        SCOPED_TRACE(extension);
        const int loss = extension == ".jpg" || extension == ".jpeg" ? 6 : 0;
        const std::string grey_path = directory.file("grey" + extension);
        WriteImage(grey_path).write(grey);
        ImageGray<unsigned char> grey_back;
        ReadImage(grey_path).read(grey_back);
        ASSERT_EQ(grey_back.channel_extents(), grey.channel_extents());
        EXPECT_LE(differs(grey_back, grey, 1), loss);

        const std::string colour_path = directory.file("colour" + extension);
        if (extension == ".pgm") {
            // Grey only: colour would be lost silently, so it is refused.
            EXPECT_THAT([&] { WriteImage(colour_path).write(colour); },
                        ThrowsMessage<VoradaFileError>(
                            StrEq("Error in file '" + colour_path +
                                  "': a colour image cannot be stored as .pgm (grey only)")));
            EXPECT_FALSE(boost::filesystem::exists(colour_path));
            continue;
        }
        WriteImage(colour_path).write(colour);
        ImageRGB<unsigned char> colour_back;
        ReadImage(colour_path).read(colour_back);
        ASSERT_EQ(colour_back.channel_extents(), colour.channel_extents());
        EXPECT_LE(differs(colour_back, colour, 3), loss);
    }
    for (const std::string extension : {".mult", ".prl", ".bay", ".bayer"}) {
        const std::string path = directory.file("image" + extension);
        EXPECT_THAT([&] { WriteImage(path).write(colour); },
                    ThrowsMessage<VoradaFileError>(StrEq("Error in file '" + path +
                                                         "': colour and grey images cannot be "
                                                         "stored in a multi-array file (" +
                                                         extension + ")")));
        EXPECT_THAT([&] { WriteImage(path).write(grey); }, ThrowsMessage<VoradaFileError>(_));
        EXPECT_FALSE(boost::filesystem::exists(path));
    }
}

// The opening rules, one row of the table per block: header h, requested r, extension e.
TEST(SettleReadFormat, FollowsTheOpeningTable) {
    const auto settle = [](ImageFormat h, ImageFormat r, ImageFormat e) {
        return settle_read_format("f", h, r, e, ".ext");
    };
    const std::string prefix = "Error in file 'f': ";
    const std::string header_mismatch =
        prefix + "Image format (from the header) does not correspond to the extension (.ext)";
    const std::string given_header =
        prefix + "Image format given does not correspond to the header";

    EXPECT_EQ(settle(FORMAT_PNG, FORMAT_UNKNOWN, FORMAT_UNKNOWN), FORMAT_PNG);
    EXPECT_EQ(settle(FORMAT_PNG, FORMAT_UNKNOWN, FORMAT_PNG), FORMAT_PNG);
    EXPECT_THAT([&] { settle(FORMAT_PNG, FORMAT_UNKNOWN, FORMAT_JPG); },
                ThrowsMessage<VoradaFileError>(StrEq(header_mismatch)));

    EXPECT_EQ(settle(FORMAT_TIFF, FORMAT_TIFF, FORMAT_UNKNOWN), FORMAT_TIFF);
    EXPECT_THAT([&] { settle(FORMAT_TIFF, FORMAT_PNG, FORMAT_UNKNOWN); },
                ThrowsMessage<VoradaFileError>(StrEq(given_header)));

    EXPECT_EQ(settle(FORMAT_BMP, FORMAT_BMP, FORMAT_BMP), FORMAT_BMP);
    EXPECT_THAT([&] { settle(FORMAT_BMP, FORMAT_BMP, FORMAT_PNG); },
                ThrowsMessage<VoradaFileError>(StrEq(header_mismatch)));
    EXPECT_THAT([&] { settle(FORMAT_BMP, FORMAT_PNG, FORMAT_BMP); },
                ThrowsMessage<VoradaFileError>(StrEq(given_header)));

    EXPECT_EQ(settle(FORMAT_UNKNOWN, FORMAT_UNKNOWN, FORMAT_PNM), FORMAT_PNM);
    EXPECT_THAT(
        [&] { settle(FORMAT_UNKNOWN, FORMAT_UNKNOWN, FORMAT_UNKNOWN); },
        ThrowsMessage<VoradaFileError>(StrEq(prefix + "Image format not supported (.ext)")));
    EXPECT_EQ(settle(FORMAT_UNKNOWN, FORMAT_JPG, FORMAT_UNKNOWN), FORMAT_JPG);
    EXPECT_EQ(settle(FORMAT_UNKNOWN, FORMAT_JPG, FORMAT_JPG), FORMAT_JPG);
    EXPECT_THAT([&] { settle(FORMAT_UNKNOWN, FORMAT_JPG, FORMAT_PNG); },
                ThrowsMessage<VoradaFileError>(StrEq(
                    prefix + "Image format given does not correspond to the extension (.ext)")));
}

}  // namespace
}  // namespace io
}  // namespace vorada
