#include "io/outputlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>

#include "common/errors.h"

namespace vorada {
namespace io {

namespace {

// " (process N)" when the holder has written its process id into the lock file yet.
std::string holder_of(int fd) {
    char text[24] = {};
    const ssize_t size = ::pread(fd, text, sizeof text - 1, 0);
    std::string pid(text, size > 0 ? static_cast<std::size_t>(size) : 0);
    while (!pid.empty() && pid.back() == '\n') {
        pid.pop_back();
    }
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
        return "";
    }
    return " (process " + pid + ")";
}

}  // namespace

const char* const output_lock_name = ".vseg.lock";

OutputLock::OutputLock(const std::string& directory) : path(directory + "/" + output_lock_name) {
    for (;;) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            throw VoradaError(directory + ": cannot write into this folder (" +
                              std::strerror(errno) + ")");
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            const std::string holder = holder_of(fd);
            ::close(fd);
            if (error == EWOULDBLOCK) {
                throw VoradaError(directory + ": another program is writing into this folder" +
                                  holder + "; wait for it to end or choose another folder");
            }
            throw VoradaError(directory + ": cannot lock this folder (" + std::strerror(error) +
                              ")");
        }
        // A holder removes the file before it lets go: a lock taken on a file no longer under
        // this name is no lock, and the next one is made afresh.
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            break;
        }
        ::close(fd);
    }
    owner = ::getpid();
    listed.emplace(path);
    const std::string pid = std::to_string(owner) + "\n";
    // For the refusal message of a second writer; without it the message only lacks the id.
    const bool noted = ::ftruncate(fd, 0) == 0 &&
                       ::pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    (void)noted;
}

OutputLock::~OutputLock() {
    // Off the list first: a stop signal from here on must not remove a successor's file.
    listed.reset();
    if (::getpid() == owner) {
        ::unlink(path.c_str());
    }
    ::close(fd);
}

bool lies_within(const std::string& path, const std::string& folder) {
    namespace fs = boost::filesystem;
    boost::system::error_code error;
    const fs::path inner = fs::weakly_canonical(fs::absolute(path), error);
    const fs::path outer = fs::weakly_canonical(fs::absolute(folder), error);
    if (error) {
        return false;
    }
    auto part = inner.begin();
    for (auto step = outer.begin(); step != outer.end(); ++step, ++part) {
        if (part == inner.end() || *part != *step) {
            return false;
        }
    }
    return true;
}

}  // namespace io
}  // namespace vorada
