#include "prepare/flow.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "io/atomicfile.h"

namespace vorada {
namespace prepare {
namespace {

void put_le32(unsigned char* bytes, std::uint32_t word) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>((word >> (8 * i)) & 0xFF);
    }
}

void put_float(unsigned char* bytes, float value) {
    std::uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    put_le32(bytes, word);
}

}  // namespace

cv::Ptr<cv::DISOpticalFlow> make_flow_estimator(FlowQuality quality) {
    switch (quality) {
        case FlowQuality::fast:
            return cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_FAST);
        case FlowQuality::medium:
            return cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM);
        case FlowQuality::fine:
            break;
    }
    // The finest preset, carried on to full resolution with a longer variational refinement.
    cv::Ptr<cv::DISOpticalFlow> estimator =
        cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM);
    estimator->setFinestScale(0);
    estimator->setVariationalRefinementIterations(10);
    return estimator;
}

std::pair<int, int> smallest_flow_frame(FlowQuality quality) {
    // Measured with the estimator in use: below 12 pixels on both sides it refuses the frames,
    // and frames wide and low crash it (fast at 200x16, medium at 200x12) while these sizes
    // work in every proportion.
    switch (quality) {
        case FlowQuality::fast:
            return {32, 32};
        case FlowQuality::medium:
            return {16, 16};
        case FlowQuality::fine:
            break;
    }
    return {8, 12};
}

cv::Mat compute_flow(cv::DISOpticalFlow& estimator, const cv::Mat& from, const cv::Mat& to) {
    cv::Mat flow;
    estimator.calc(from, to, flow);
    return flow;
}

void write_flow_file(const std::string& path, const cv::Mat& flow) {
    CV_Assert(flow.type() == CV_32FC2);
    const std::size_t pairs =
        static_cast<std::size_t>(flow.cols) * static_cast<std::size_t>(flow.rows);
    std::vector<unsigned char> bytes(12 + 8 * pairs);
    put_float(&bytes[0], 202021.25f);
    put_le32(&bytes[4], static_cast<std::uint32_t>(flow.cols));
    put_le32(&bytes[8], static_cast<std::uint32_t>(flow.rows));
    unsigned char* out = &bytes[12];
    for (int y = 0; y < flow.rows; ++y) {
        const float* row = flow.ptr<float>(y);
        for (int i = 0; i < 2 * flow.cols; ++i, out += 4) {
            put_float(out, row[i]);
        }
    }
    io::write_file_atomically(path, bytes.data(), bytes.size());
}

}  // namespace prepare
}  // namespace vorada
