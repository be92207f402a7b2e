#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "common/errors.h"
#include "io/flowreader.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace gma {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

std::string le32(std::uint32_t word) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((word >> (8 * i)) & 0xFF);
    }
    return bytes;
}

std::string lefloat(float value) {
    std::uint32_t word;
    std::memcpy(&word, &value, 4);
    return le32(word);
}

constexpr float flo_tag = 202021.25f;

std::string header(std::uint32_t width, std::uint32_t height, float tag = flo_tag) {
    return lefloat(tag) + le32(width) + le32(height);
}

// A 2 × 1 flow: (1.5, −2) at x = 0 and (0, 0.25) at x = 1; 28 bytes.
std::string two_by_one(float tag = flo_tag) {
    return header(2, 1, tag) + lefloat(1.5f) + lefloat(-2.0f) + lefloat(0.0f) + lefloat(0.25f);
}

class ReadOpticalFlow : public ::testing::Test {
  protected:
    testing::TempDir dir;
    VideoSignal<double, 2> flow{2, 1, 2};

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = dir.file(name);
        testing::write_bytes(path, bytes);
        return path;
    }
    // Every message but the one for an empty name names the file.
    void expect_failure(const std::string& path, const std::string& reason) {
        EXPECT_THAT([&] { read_optical_flow(flow, path, 1); },
                    ThrowsMessage<VoradaError>(StrEq("read_flow_file: " + path + ": " + reason)));
    }
};

TEST_F(ReadOpticalFlow, StoresUAndVAtTheirPointsOfFrameT) {
    read_optical_flow(flow, write("f.flo", two_by_one()), 1);
    EXPECT_EQ(flow(0, 0, 1)[0], 1.5);
    EXPECT_EQ(flow(0, 0, 1)[1], -2.0);
    EXPECT_EQ(flow(1, 0, 1)[0], 0.0);
    EXPECT_EQ(flow(1, 0, 1)[1], 0.25);
    EXPECT_EQ(flow(0, 0, 0)[0], 0.0);  // other frames untouched
}

TEST_F(ReadOpticalFlow, AFileWithoutTheFloTagIsRefused) {
    for (float tag : {0.0f, 1.0f, 202021.0f}) {
        expect_failure(write("f.flo", two_by_one(tag)),
                       "not a .flo flow file (wrong magic number)");
    }
    EXPECT_EQ(flow(1, 0, 1)[1], 0.0);
}

TEST_F(ReadOpticalFlow, ChecksNameBeforeOpening) {
    EXPECT_THAT([&] { read_optical_flow(flow, "", 1); },
                ThrowsMessage<VoradaError>(StrEq("read_flow_file: empty filename")));
    expect_failure("flows/flow_1_2", "extension .flo expected");
    expect_failure(dir.file("f.flo.bak"), "extension .flo expected");
    expect_failure(dir.file("f.FLO"), "extension .flo expected");
    expect_failure(dir.file("missing.flo"), "could not open");
}

TEST_F(ReadOpticalFlow, RejectsShortHeadersAndIllegalSizes) {
    expect_failure(write("a.flo", two_by_one().substr(0, 8)), "problem reading file");
    expect_failure(write("b.flo", header(0, 0)), "illegal width");
    expect_failure(write("c.flo", header(100000, 1)), "illegal width");
    expect_failure(write("d.flo", header(1, 0)), "illegal height");
    expect_failure(write("e.flo", header(1, 0xFFFFFFFF)), "illegal height");
}

TEST_F(ReadOpticalFlow, TooLongFileFailsAfterFillingTheFrame) {
    expect_failure(write("f.flo", two_by_one() + "x"), "file is too long");
    EXPECT_EQ(flow(1, 0, 1)[1], 0.25);
}

TEST_F(ReadOpticalFlow, TooShortFileKeepsThePointsReadBeforeTheEnd) {
    expect_failure(write("f.flo", two_by_one().substr(0, 27)), "file is too short");
    EXPECT_EQ(flow(0, 0, 1)[0], 1.5);
    EXPECT_EQ(flow(0, 0, 1)[1], -2.0);
    EXPECT_EQ(flow(1, 0, 1)[0], 0.0);
}

TEST_F(ReadOpticalFlow, AFlowOfAnotherSizeThanTheFramesIsRejectedBeforeWriting) {
    expect_failure(write("g.flo", header(4, 1) + std::string(32, '\x01')),
                   "flow of 4x1 differs from the frames of 2x1");
    // A smaller flow would leave the rest of the frame without motion.
    expect_failure(write("h.flo", header(1, 1) + std::string(8, '\x01')),
                   "flow of 1x1 differs from the frames of 2x1");
    for (double value : flow.values) {
        EXPECT_EQ(value, 0.0);
    }
}

TEST_F(ReadOpticalFlow, NonFiniteValuesAreRefusedAtTheirPixel) {
    // A 3 x 2 flow whose pixel (1, 1) holds u = NaN, then +inf and -inf in v.
    flow = VideoSignal<double, 2>(3, 2, 2);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (int k = 0; k < 3; ++k) {
        std::string bytes = header(3, 2);
        for (int i = 0; i < 6; ++i) {
            const bool at_bad = i == 4;
            bytes += lefloat(at_bad && k == 0 ? bad[k] : 7.0f);
            bytes += lefloat(at_bad && k > 0 ? bad[k] : -1.0f);
        }
        const std::string path = write("nan" + std::to_string(k) + ".flo", bytes);
        expect_failure(path, "non-finite flow value at pixel (1, 1)");
        EXPECT_EQ(flow(0, 1, 1)[0], 7.0);  // read before the bad pixel
        EXPECT_EQ(flow(1, 1, 1)[0], 0.0);
    }
    // The format's "unknown" marker is finite and still read as it is.
    flow = VideoSignal<double, 2>(1, 1, 1);
    read_optical_flow(flow, write("unknown.flo", header(1, 1) + lefloat(1e9f) + lefloat(3e38f)), 0);
    EXPECT_EQ(flow(0, 0, 0)[0], static_cast<double>(1e9f));
    EXPECT_EQ(flow(0, 0, 0)[1], static_cast<double>(3e38f));
}

}  // namespace
}  // namespace gma
}  // namespace vorada
