#pragma once
// Files that appear whole or not at all. A file is written under a hidden temporary name in its
// own directory, then renamed over its final name, so that a crash, a kill or a full disk leaves
// either the previous file or the complete new one under that name.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>

namespace vorada {
namespace io {

/// The name `path` is written under until it is complete: the same directory, the file name
/// hidden and marked, e.g. "dir/.00000.png.tmp-4711-3" for "dir/00000.png".
std::string temporary_path(const std::string& path);

/// One file being written. Nothing shows under the final name until commit(); a file that is
/// never committed (an error, an exception) is removed.
class AtomicFile {
  public:
    /// Creates the temporary file; throws VoradaFileError naming `path` when it cannot.
    explicit AtomicFile(std::string path);
    /// Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// From here on the bytes go to the disk past the page cache, in aligned blocks from a
    /// buffer of the file's own: for large files written once, which then cost the process no
    /// copy into the cache (the kernel's copy cost more than the rest of writing them). Where the
    /// file system refuses this, the file is written as usual. Call it before the first write.
    void bypass_cache();
    /// Appends bytes; a failed or short write (a full disk) throws VoradaFileError.
    void write(const void* data, std::size_t size);
    /// Closes the file and renames it to its final name; throws
    /// VoradaFileError (and removes the temporary file) when either fails.
    void commit();

    const std::string& path() const { return final_path; }

  private:
    struct FreeBuffer {
        void operator()(char* block) const { std::free(block); }
    };

    void _fail(const std::string& what, int error);
    // Writes all `size` bytes at the file's position (through the cache or past it).
    void _write_all(const char* bytes, std::size_t size);
    // Leaves the uncached mode: the rest is written through the cache. False if it cannot.
    bool _use_cache();
    // Writes the buffered whole blocks past the cache and keeps the rest.
    void _flush_blocks();
    // Writes whatever the buffer still holds, as the file is opened now.
    void _write_held();

    std::string final_path;
    std::string temp_path;
    int fd = -1;
    int slot = -1;  // entry in the list of unfinished files, -1 when not listed
    bool uncached = false;
    std::unique_ptr<char, FreeBuffer> buffer;  ///< block-aligned, while uncached
    std::size_t buffered = 0;                  ///< bytes waiting in `buffer`
};

/// Writes `size` bytes as the whole new content of `path`, through an AtomicFile.
void write_file_atomically(const std::string& path, const void* data, std::size_t size);

/// Flushes a directory's entries (files created or renamed in it) to the disk.
void sync_directory(const std::string& directory);

/// Flushes every file and name of the file system holding `directory` to the disk.
void sync_file_system(const std::string& directory);

/// Lists a file that is written by other means (a stream that seeks back, say) among those a
/// stop signal removes, for as long as the object lives.
class UnfinishedFile {
  public:
    explicit UnfinishedFile(const std::string& path);
    ~UnfinishedFile();
    UnfinishedFile(const UnfinishedFile&) = delete;
    UnfinishedFile& operator=(const UnfinishedFile&) = delete;

  private:
    int slot;
};

/// Removes the temporary files this process is writing at the moment. Safe in a signal handler:
/// a process stopped by a signal calls it so that no half-written file stays behind.
void remove_unfinished_files() noexcept;

}  // namespace io
}  // namespace vorada
