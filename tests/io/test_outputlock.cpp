#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <optional>
#include <string>

#include "common/errors.h"
#include "io/outputlock.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using ::testing::ThrowsMessage;

TEST(OutputLock, OneHolderAtATimeAndNoneAfterItsProcessDied) {
    testing::TempDir dir;
    const std::string lock_file = dir.file(output_lock_name);
    {
        const OutputLock held(dir.path());
        EXPECT_TRUE(boost::filesystem::exists(lock_file));
        // Another holder, in this process as in any other, is refused at once, naming the
        // folder and the holder.
        EXPECT_THAT(
            [&] { OutputLock second(dir.path()); },
            ThrowsMessage<VoradaError>(::testing::StrEq(
                dir.path() + ": another program is writing into this folder (process " +
                std::to_string(::getpid()) + "); wait for it to end or choose another folder")));
    }
    EXPECT_FALSE(boost::filesystem::exists(lock_file));

    // A holder killed before it could clean up leaves its file, but not its lock.
    const pid_t child = ::fork();
    if (child == 0) {
        new OutputLock(dir.path());  // never released: the process ends holding it
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(boost::filesystem::exists(lock_file));
    std::optional<OutputLock> next;
    EXPECT_NO_THROW(next.emplace(dir.path()));

    EXPECT_THAT([&] { OutputLock missing(dir.file("missing")); },
                ThrowsMessage<VoradaError>(::testing::HasSubstr("cannot write into this folder")));
}

TEST(OutputLock, LiesWithinComparesWholeResolvedSteps) {
    testing::TempDir dir;
    boost::filesystem::create_directories(dir.file("run/cuts"));
    EXPECT_TRUE(lies_within(dir.file("run"), dir.file("run")));
    EXPECT_TRUE(lies_within(dir.file("run/cuts/new"), dir.file("run")));
    EXPECT_TRUE(lies_within(dir.file("run/../run/cuts"), dir.file("run/")));
    EXPECT_FALSE(lies_within(dir.file("runs"), dir.file("run")));
    EXPECT_FALSE(lies_within(dir.file("run/../other"), dir.file("run")));
    EXPECT_FALSE(lies_within(dir.path(), dir.file("run")));
}

}  // namespace
}  // namespace io
}  // namespace vorada
