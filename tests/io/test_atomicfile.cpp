#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <set>
#include <string>

#include "common/errors.h"
#include "io/atomicfile.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using ::testing::StartsWith;
using vorada::testing::read_bytes;
using vorada::testing::TempDir;
using vorada::testing::write_bytes;

std::set<std::string> entries(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : boost::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(AtomicFile, TheFinalNameHoldsTheOldFileUntilTheNewOneIsComplete) {
    TempDir directory;
    const std::string path = directory.file("frames.sgm");
    write_bytes(path, "old");
    {
        AtomicFile file(path);
        file.write("new ", 4);
        EXPECT_EQ(read_bytes(path), "old");
        // The file being written is hidden beside it, under a name no reader takes for output.
        const std::set<std::string> names = entries(directory.path());
        ASSERT_EQ(names.size(), 2u);
        EXPECT_THAT(*names.begin(), StartsWith(".frames.sgm.tmp-"));
        file.write("content", 7);
        file.commit();
    }
    EXPECT_EQ(read_bytes(path), "new content");
    EXPECT_EQ(entries(directory.path()), std::set<std::string>{"frames.sgm"});

    // Abandoned (an exception on the way) or cut short by a stop signal: the old file stays and
    // the temporary one goes.
    {
        AtomicFile file(path);
        file.write("half", 4);
    }
    EXPECT_EQ(read_bytes(path), "new content");
    EXPECT_EQ(entries(directory.path()), std::set<std::string>{"frames.sgm"});
    AtomicFile stopped(path);
    stopped.write("half", 4);
    remove_unfinished_files();
    EXPECT_EQ(entries(directory.path()), std::set<std::string>{"frames.sgm"});
    EXPECT_THROW(stopped.commit(), VoradaFileError);
    EXPECT_EQ(read_bytes(path), "new content");
}

}  // namespace
}  // namespace io
}  // namespace vorada
