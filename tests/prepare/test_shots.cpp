#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "layout/memorylimit.h"
#include "prepare/runadvice.h"
#include "prepare/shots.h"

namespace vorada {
namespace prepare {
namespace {

using ::testing::HasSubstr;

// A 480x120 panorama of 40 boxes in random colours over a random flat background.
cv::Mat panorama(int seed) {
    cv::RNG rng(static_cast<std::uint64_t>(seed));
    cv::Mat image(120, 480, CV_8UC3,
                  cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256)));
    for (int k = 0; k < 40; ++k) {
        const cv::Point corner(rng.uniform(0, 460), rng.uniform(0, 100));
        cv::rectangle(image, cv::Rect(corner, cv::Size(rng.uniform(10, 60), rng.uniform(10, 50))),
                      cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256)),
                      cv::FILLED);
    }
    return image;
}

// Frame t of a pan over `scene`, 8 pixels (5 % of the frame's width) a frame.
cv::Mat pan(const cv::Mat& scene, int t) {
    return scene(cv::Rect(8 * t, 0, 160, 120)).clone();
}

std::vector<std::tuple<unsigned long long, unsigned long long, bool>> found(
    const ShotDetector& detector) {
    std::vector<std::tuple<unsigned long long, unsigned long long, bool>> segments;
    for (const ShotSegment& segment : detector.segments()) {
        segments.emplace_back(segment.first, segment.last, segment.blank);
    }
    return segments;
}

TEST(ShotDetector, FindsAHardCutAndABlankLeadButNoCutInAFastPanOrAtAnOddFrame) {
    const cv::Mat street = panorama(1), beach = panorama(2);
    ShotDetector pan_only;
    for (int t = 0; t < 30; ++t) {
        pan_only.add(pan(street, t));
    }
    EXPECT_EQ(found(pan_only), (decltype(found(pan_only)){{0, 29, false}}));

    // Black, street 1-12, beach 13-26 with one street frame (a broken frame) at 20.
    ShotDetector edited;
    edited.add(cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(3)));
    for (int t = 1; t < 27; ++t) {
        edited.add(t <= 12 || t == 20 ? pan(street, t) : pan(beach, t - 13));
    }
    EXPECT_EQ(found(edited),
              (decltype(found(edited)){{0, 0, true}, {1, 12, false}, {13, 26, false}}));
    EXPECT_EQ(shots_text(edited.segments()),
              "# first last kind\n0 0 blank\n1 12 shot\n13 26 shot\n");
}

TEST(AdviseVsegCommand, ClipModeForShotsOrARunTooLargeElseTheDefault) {
    const std::string command = "vseg 0 99 5 1.5 0.001 4 o o/segmentation";
    const std::vector<ShotSegment> one{{0, 99, false}}, two{{0, 39, false}, {40, 99, false}};
    // 100x100 frames; the room for `frames` frames by vseg's estimate, and a little more.
    const auto room = [](double frames, unsigned cores) {
        return MachineRoom{layout::estimated_run_bytes(1e4 * frames) + 1e3, "a test", cores};
    };
    const VsegAdvice fits = advise_vseg_command(command, 100, 100, 100, one, room(100, 2));
    EXPECT_EQ(fits.command, command);
    EXPECT_EQ(fits.note, "");

    // Shots: one clip per shot when the longest fits, as many at once as there are clips.
    const VsegAdvice shots = advise_vseg_command(command, 100, 100, 100, two, room(1000, 4));
    EXPECT_EQ(shots.command, command + " --clip-frames 60 --jobs 2");
    EXPECT_THAT(shots.note, HasSubstr("1 shot cut (before frame 40)"));

    // Too large: clips that fit with one job per core, or fewer jobs when clips get too short.
    const VsegAdvice large = advise_vseg_command(command, 100, 100, 100, one, room(40, 2));
    EXPECT_EQ(large.command.substr(command.size()), " --clip-frames 11 --jobs 2");
    EXPECT_THAT(large.note, HasSubstr("need about"));
    const VsegAdvice tight = advise_vseg_command(command, 100, 100, 100, one, room(6, 2));
    EXPECT_EQ(tight.command.substr(command.size()), " --clip-frames 6 --jobs 1");
    const VsegAdvice none = advise_vseg_command(command, 100, 100, 100, one, {1e6, "a test", 2});
    EXPECT_EQ(none.command, command);
    EXPECT_THAT(none.note, HasSubstr("--max-side"));
}

}  // namespace
}  // namespace prepare
}  // namespace vorada
