#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <iterator>
#include <string>

#include "common/errors.h"
#include "io/atomicfile.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using vorada::testing::read_bytes;

std::size_t entry_count(const std::string& directory) {
    return static_cast<std::size_t>(std::distance(boost::filesystem::directory_iterator(directory),
                                                  boost::filesystem::directory_iterator()));
}

TEST(AtomicFile, TheFinalNameHoldsTheOldFileUntilTheNewOneIsComplete) {
    vorada::testing::TempDir directory;
    const std::string path = directory.file("frames.sgm");
    vorada::testing::write_bytes(path, "old");
    {
        AtomicFile file(path);
        file.write("new ", 4);
        EXPECT_EQ(read_bytes(path), "old");
        // Meanwhile the new file is hidden beside it, under a name no reader takes for output.
        EXPECT_THAT(temporary_path(path),
                    ::testing::StartsWith(directory.file(".frames.sgm.tmp-")));
        EXPECT_EQ(entry_count(directory.path()), 2u);
        file.write("content", 7);
        file.commit();
    }
    EXPECT_EQ(read_bytes(path), "new content");
    EXPECT_EQ(entry_count(directory.path()), 1u);

    // Abandoned (an exception on the way) or cut short by a stop signal: the old file stays and
    // the temporary one goes.
    { AtomicFile(path).write("half", 4); }
    EXPECT_EQ(entry_count(directory.path()), 1u);
    AtomicFile stopped(path);
    stopped.write("half", 4);
    remove_unfinished_files();
    EXPECT_EQ(entry_count(directory.path()), 1u);
    EXPECT_THROW(stopped.commit(), VoradaFileError);
    EXPECT_EQ(read_bytes(path), "new content");
}

// Past the cache the file goes out in aligned blocks from a buffer: a size that is not a whole
// number of blocks, written in pieces that straddle the buffer's end, must arrive unchanged.
TEST(AtomicFile, WrittenPastTheCacheTheBytesArriveWhole) {
    vorada::testing::TempDir directory;
    const std::string path = directory.file("frames.sgm");
    std::string content(3 * (std::size_t(1) << 20) + 4096 + 24 + 5, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7 + i / 4099);
    }
    AtomicFile file(path);
    file.bypass_cache();
    const std::size_t pieces[] = {24, 1000, (std::size_t(1) << 20) - 1000, 5, 3 << 19};
    std::size_t at = 0;
    for (const std::size_t piece : pieces) {
        file.write(content.data() + at, piece);
        at += piece;
    }
    file.write(content.data() + at, content.size() - at);
    file.commit();
    EXPECT_EQ(read_bytes(path), content);
}

}  // namespace
}  // namespace io
}  // namespace vorada
