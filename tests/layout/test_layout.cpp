#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <stdexcept>

#include "common/errors.h"
#include "layout/layout.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace layout {
namespace {

using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(Layout, PathsFollowTheInputAndOutputLayout) {
    EXPECT_EQ(frame_path("D", 7), "D/frames/frame007.png");
    EXPECT_EQ(frame_path("D", 1234), "D/frames/frame1234.png");
    EXPECT_EQ(forward_flow_path("D", 5), "D/flows/flow_5_6.flo");
    EXPECT_EQ(backward_flow_path("D", 6), "D/flows/flow_6_5.flo");
    EXPECT_EQ(frame_image_path("O/occlusions", 12), "O/occlusions/00012.png");
    EXPECT_EQ(segmentation_directory("O", 900), "O/segmentations/900");
    EXPECT_EQ(tree_file_path("O"), "O/trees/tree.bpt");
    EXPECT_EQ(input_record_path("O"), "O/trees/input.txt");
    EXPECT_EQ(run_record_path("O"), "O/run.json");
    EXPECT_EQ(cuts_directory("O"), "O/cuts");
    EXPECT_EQ(output_folders().size(), 6u);
}

TEST(Layout, InputRecordRoundTripsAndNamesItsFileWhenUnusable) {
    testing::TempDir dir;
    boost::filesystem::create_directory(dir.file("trees"));
    const std::string path = input_record_path(dir.path());
    EXPECT_THAT(
        [&] { read_input_record(dir.path()); },
        ThrowsMessage<VoradaFileError>(StrEq(
            "Error in file '" + path + "': not found; give the input directory with --input")));
    write_input_record(dir.path(), {"/in put", 5, 9});
    EXPECT_EQ(testing::read_bytes(path), "input /in put\nfirst 5\nlast 9\n");
    const InputRecord record = read_input_record(dir.path());
    EXPECT_EQ(record.input, "/in put");
    EXPECT_EQ(record.first_frame, 5u);
    EXPECT_EQ(record.last_frame, 9u);

    testing::write_bytes(path, "first 1\n");
    EXPECT_THAT([&] { read_input_record(dir.path()); },
                ThrowsMessage<VoradaFileError>(HasSubstr("names no input directory")));
    testing::write_bytes(path, "input /x\nfirst -1\n");
    EXPECT_THAT([&] { read_input_record(dir.path()); },
                ThrowsMessage<VoradaFileError>(HasSubstr("not a whole number: -1")));
}

TEST(Layout, ErrorsEndAProgramWithOneLineAndStatusOne) {
    EXPECT_EQ(run_reporting_errors([] { return 3; }), 3);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(run_reporting_errors([]() -> int { throw std::runtime_error("two\nlines"); }), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "two lines\n");
}

TEST(Layout, VersionWithCommitStartsWithTheVersion) {
    EXPECT_FALSE(version_text().empty());
    EXPECT_EQ(version_with_commit().rfind(version_text(), 0), 0u);
}

}  // namespace
}  // namespace layout
}  // namespace vorada
