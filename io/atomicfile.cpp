#include "io/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/errors.h"

namespace vorada {
namespace io {

namespace {

// The unfinished files of the process, kept where a signal handler can read them without
// locks or allocation. A slot is free (0), being filled (1), listed (2), or taken by a signal
// handler (3); its owner frees it only from "listed", so a handler never reads a path that is
// being changed. Files past the last slot are still written, only not removed on a signal.
constexpr int slot_count = 64;
constexpr std::size_t max_listed_path = 4096;
constexpr int slot_free = 0;
constexpr int slot_filling = 1;
constexpr int slot_listed = 2;
constexpr int slot_taken = 3;

struct Slot {
    std::atomic<int> state{slot_free};
    pid_t owner = 0;  // the process that lists it: a forked child inherits its parent's slots
    char path[max_listed_path];
};

Slot slots[slot_count];
std::atomic<unsigned long> next_temporary{0};

int list_unfinished(const std::string& path) {
    if (path.size() >= max_listed_path) {
        return -1;
    }
    for (int k = 0; k < slot_count; ++k) {
        int expected = slot_free;
        if (slots[k].state.compare_exchange_strong(expected, slot_filling)) {
            std::memcpy(slots[k].path, path.c_str(), path.size() + 1);
            slots[k].owner = ::getpid();
            slots[k].state.store(slot_listed, std::memory_order_release);
            return k;
        }
    }
    return -1;
}

void unlist(int& slot) {
    if (slot >= 0) {
        int expected = slot_listed;
        slots[slot].state.compare_exchange_strong(expected, slot_free);
        slot = -1;
    }
}

// Uncached writes need their memory, offsets and sizes aligned to the device's blocks: 4096
// covers both sizes in use. The buffer holds a number of them, enough that the waits for the
// device add up to less than the copy through the cache would cost.
constexpr std::size_t direct_block = 4096;
constexpr std::size_t direct_buffer = std::size_t(1) << 20;

std::string reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

}  // namespace

std::string temporary_path(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, name) + "." + path.substr(name) + ".tmp-" + std::to_string(::getpid()) +
           "-" + std::to_string(next_temporary.fetch_add(1));
}

AtomicFile::AtomicFile(std::string path)
    : final_path(std::move(path)), temp_path(temporary_path(final_path)) {
    // Listed before it exists, so that no moment has the file on disk and off the list.
    slot = list_unfinished(temp_path);
    fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        unlist(slot);
        throw VoradaFileError(final_path, reason("cannot be written", error));
    }
}

AtomicFile::~AtomicFile() {
    if (fd >= 0) {
        ::close(fd);
        ::unlink(temp_path.c_str());
    }
    unlist(slot);
}

void AtomicFile::_fail(const std::string& what, int error) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    ::unlink(temp_path.c_str());
    unlist(slot);
    throw VoradaFileError(final_path, reason(what, error));
}

void AtomicFile::bypass_cache() {
    if (fd < 0 || uncached) {
        return;
    }
    void* memory = nullptr;
    if (::posix_memalign(&memory, direct_block, direct_buffer) != 0) {
        return;  // written through the cache then
    }
    buffer.reset(static_cast<char*>(memory));
    const int flags = ::fcntl(fd, F_GETFL);
    uncached = flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
    if (!uncached) {
        buffer.reset();
    }
}

bool AtomicFile::_use_cache() {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0) {
        return false;
    }
    uncached = false;
    return true;
}

void AtomicFile::_write_all(const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (uncached && (done < 0 ? errno == EINVAL : static_cast<std::size_t>(done) != size)) {
            // Refused past the cache (EINVAL: this file system or device wants otherwise), or
            // cut short, which leaves the position unaligned: the rest goes through the cache,
            // where a full disk shows as itself.
            if (done > 0) {
                bytes += done;
                size -= static_cast<std::size_t>(done);
            }
            if (!_use_cache()) {
                _fail("cannot be written", errno);
            }
            continue;
        }
        if (done <= 0) {
            _fail("cannot be written", done < 0 ? errno : ENOSPC);
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
}

void AtomicFile::_flush_blocks() {
    const std::size_t whole = buffered - buffered % direct_block;
    _write_all(buffer.get(), whole);
    std::memmove(buffer.get(), buffer.get() + whole, buffered - whole);
    buffered -= whole;
}

void AtomicFile::write(const void* data, std::size_t size) {
    if (fd < 0) {
        throw VoradaFileError(final_path, "written after it was closed");
    }
    const char* bytes = static_cast<const char*>(data);
    while (uncached && size > 0) {
        const std::size_t taken = std::min(size, direct_buffer - buffered);
        std::memcpy(buffer.get() + buffered, bytes, taken);
        buffered += taken;
        bytes += taken;
        size -= taken;
        if (buffered == direct_buffer) {
            _flush_blocks();
        }
    }
    if (!uncached) {
        _write_held();  // left the uncached mode on the way: what it still held comes first
    }
    _write_all(bytes, size);
}

void AtomicFile::_write_held() {
    const std::size_t held = buffered;
    buffered = 0;
    if (held > 0) {
        _write_all(buffer.get(), held);
    }
}

void AtomicFile::commit() {
    if (fd < 0) {
        throw VoradaFileError(final_path, "committed after it was closed");
    }
    // A kill or a crash leaves the old file or the whole new one. Flushing each file to the disk
    // as well cost a second of a run's wall time; the run flushes everything once, before it
    // records itself as complete (sync_file_system).
    if (uncached) {
        _flush_blocks();
        // The last part block cannot go past the cache.
        if (buffered > 0 && !_use_cache()) {
            _fail("cannot be written", errno);
        }
    }
    _write_held();
    buffer.reset();
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) {
        _fail("cannot be written", errno);
    }
    if (::rename(temp_path.c_str(), final_path.c_str()) != 0) {
        _fail("cannot be put in place", errno);
    }
    unlist(slot);
}

UnfinishedFile::UnfinishedFile(const std::string& path) : slot(list_unfinished(path)) {}

UnfinishedFile::~UnfinishedFile() {
    unlist(slot);
}

void write_file_atomically(const std::string& path, const void* data, std::size_t size) {
    AtomicFile file(path);
    file.write(data, size);
    file.commit();
}

void sync_directory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw VoradaFileError(directory, reason("cannot be opened", errno));
    }
    // Some file systems cannot flush a directory (EINVAL); their entries are as safe as it gets.
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    if (error != 0 && error != EINVAL) {
        throw VoradaFileError(directory, reason("cannot be flushed to the disk", error));
    }
}

void sync_file_system(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw VoradaFileError(directory, reason("cannot be opened", errno));
    }
    const int error = ::syncfs(fd) == 0 ? 0 : errno;
    ::close(fd);
    if (error != 0) {
        throw VoradaFileError(directory, reason("cannot be flushed to the disk", error));
    }
}

void remove_unfinished_files() noexcept {
    const pid_t self = ::getpid();
    for (Slot& slot : slots) {
        int expected = slot_listed;
        if (!slot.state.compare_exchange_strong(expected, slot_taken)) {
            continue;
        }
        if (slot.owner == self) {
            ::unlink(slot.path);
        } else {
            slot.state.store(slot_listed);  // a parent's entry, copied into this child by fork
        }
    }
}

}  // namespace io
}  // namespace vorada
