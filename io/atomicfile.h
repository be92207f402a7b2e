#pragma once
// Files that appear whole or not at all. A file is written under a hidden temporary name in its
// own directory, then renamed over its final name, so that a crash, a kill or a full disk leaves
// either the previous file or the complete new one under that name.

#include <cstddef>
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

    /// Appends bytes; a failed or short write (a full disk) throws VoradaFileError.
    void write(const void* data, std::size_t size);
    /// Closes the file and renames it to its final name; throws
    /// VoradaFileError (and removes the temporary file) when either fails.
    void commit();

    const std::string& path() const { return final_path; }

  private:
    void _fail(const std::string& what, int error);

    std::string final_path;
    std::string temp_path;
    int fd = -1;
    int slot = -1;  // entry in the list of unfinished files, -1 when not listed
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
