// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <boost/filesystem.hpp>
#include <string>

#include "common/errors.h"
#include "io/imagewritequeue.h"
#include "io/imagewriterprocess.h"
#include "io/readimage.h"
#include "io/writeimage.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using ::testing::HasSubstr;
using vorada::testing::read_bytes;
using vorada::testing::TempDir;

const bool magick_ready = [] {
    Magick::InitializeMagick(nullptr);
    return true;
}();

// A pattern that differs from image to image, so a mixed-up file shows.
ImageRGB<unsigned char> pattern(unsigned seed,
                                unsigned long long width = 40,
                                unsigned long long height = 30) {
    ImageRGB<unsigned char> image(width, height);
    for (std::size_t c = 0; c < 3; ++c) {
        for (unsigned long long i = 0; i < width * height; ++i) {
            image.channels[c].data()[i] = static_cast<unsigned char>((i / 7) * (seed + 3) + 91 * c);
        }
    }
    return image;
}

// What writing in this process produces: the bytes every other route must reproduce.
std::string direct_bytes(const TempDir& directory, const ImageRGB<unsigned char>& image) {
    const std::string path = directory.file("direct.png");
    WriteImage(path).write(image);
    return read_bytes(path);
}

class ImageWriteQueueTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(magick_ready); }
    TempDir directory;
};

TEST_F(ImageWriteQueueTest, WriterProcessWritesTheSameBytesAndReportsFailures) {
    ImageWriterProcess process;
    const std::string path = directory.file("child.png");
    EXPECT_TRUE(process.write(path, pattern(1)));
    EXPECT_EQ(read_bytes(path), direct_bytes(directory, pattern(1)));

    // The child's message comes back whole.
    const std::string missing = directory.file("no/such/dir/x.png");
    std::string in_process;
    try {
        WriteImage(missing).write(pattern(1));
    } catch (const std::exception& error) {
        in_process = error.what();
    }
    ASSERT_FALSE(in_process.empty());
    EXPECT_THAT([&] { process.write(missing, pattern(1)); },
                ::testing::ThrowsMessage<VoradaError>(::testing::StrEq(in_process)));
    // It goes on serving after a failure.
    EXPECT_TRUE(process.write(directory.file("after.png"), pattern(2)));
    EXPECT_EQ(read_bytes(directory.file("after.png")), direct_bytes(directory, pattern(2)));
}

TEST_F(ImageWriteQueueTest, AGoneWriterProcessIsReportedNotFatal) {
    ImageWriterProcess process;
    ASSERT_EQ(::kill(process.pid(), SIGKILL), 0);
    EXPECT_FALSE(process.write(directory.file("lost.png"), pattern(1)));
    EXPECT_FALSE(process.write(directory.file("lost.png"), pattern(1)));
}

TEST_F(ImageWriteQueueTest, EveryImageIsWrittenByFinishWithTheDirectBytes) {
    for (unsigned workers : {0u, 1u, 2u}) {
        ImageWriteQueue queue(workers);
        EXPECT_EQ(queue.worker_count(), workers);
        for (unsigned k = 0; k < 12; ++k) {
            queue.write(directory.file(std::to_string(workers) + "_" + std::to_string(k) + ".png"),
                        pattern(k));
        }
        queue.finish();
        for (unsigned k = 0; k < 12; ++k) {
            EXPECT_EQ(read_bytes(directory.file(std::to_string(workers) + "_" + std::to_string(k) +
                                                ".png")),
                      direct_bytes(directory, pattern(k)))
                << workers << " workers, image " << k;
        }
    }
}

TEST_F(ImageWriteQueueTest, WithoutWorkersTheImageIsWrittenAtOnce) {
    ImageWriteQueue queue(0);
    queue.write(directory.file("now.png"), pattern(4));
    EXPECT_TRUE(boost::filesystem::exists(directory.file("now.png")));
    EXPECT_THROW(queue.write(directory.file("no/dir/now.png"), pattern(4)), VoradaFileError);
}

TEST_F(ImageWriteQueueTest, FinishReportsTheFirstFailureAfterWritingTheRest) {
    ImageWriteQueue queue(1, 0);  // no room: the caller writes too
    queue.write(directory.file("missing/a.png"), pattern(1));
    for (unsigned k = 0; k < 6; ++k) {
        queue.write(directory.file("ok" + std::to_string(k) + ".png"), pattern(k));
    }
    EXPECT_THAT([&] { queue.finish(); },
                ::testing::ThrowsMessage<BacktracedVoradaException>(HasSubstr("missing/a.png")));
    for (unsigned k = 0; k < 6; ++k) {
        EXPECT_TRUE(boost::filesystem::exists(directory.file("ok" + std::to_string(k) + ".png")));
    }
    // Reported once; the queue is usable again.
    EXPECT_NO_THROW(queue.finish());
    queue.write(directory.file("again.png"), pattern(9));
    queue.finish();
    EXPECT_EQ(read_bytes(directory.file("again.png")), direct_bytes(directory, pattern(9)));
}

TEST_F(ImageWriteQueueTest, DestroyingTheQueueWritesWhatWaits) {
    {
        ImageWriteQueue queue(1);
        for (unsigned k = 0; k < 8; ++k) {
            queue.write(directory.file("late" + std::to_string(k) + ".png"), pattern(k));
        }
    }
    for (unsigned k = 0; k < 8; ++k) {
        EXPECT_EQ(read_bytes(directory.file("late" + std::to_string(k) + ".png")),
                  direct_bytes(directory, pattern(k)));
    }
}

// fast: the exact pixels in other bytes, through a writer process and in this process alike;
// none: nothing at all.
TEST_F(ImageWriteQueueTest, PngModesKeepThePixelsOrWriteNothing) {
    const ImageRGB<unsigned char> image = pattern(5, 64, 48);
    for (unsigned workers : {0u, 1u}) {
        const std::string name = "fast" + std::to_string(workers) + ".png";
        ImageWriteQueue fast(workers, std::size_t(256) << 20, PngMode::fast);
        fast.write(directory.file(name), image);
        fast.finish();
        EXPECT_NE(read_bytes(directory.file(name)), direct_bytes(directory, image));
        ImageRGB<unsigned char> back;
        ReadImage(directory.file(name)).read(back);
        ASSERT_EQ(back.width(), image.width());
        ASSERT_EQ(back.height(), image.height());
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(back.channels[c], image.channels[c]) << "channel " << c;
        }
    }
    ImageWriteQueue none(1, std::size_t(256) << 20, PngMode::none);
    EXPECT_FALSE(none.writes_images());
    EXPECT_EQ(none.worker_count(), 0u);
    none.write(directory.file("none.png"), image);
    none.finish();
    EXPECT_FALSE(boost::filesystem::exists(directory.file("none.png")));
}

}  // namespace
}  // namespace io
}  // namespace vorada
