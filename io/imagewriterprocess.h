#pragma once
// A child process that writes the 8-bit RGB images it is sent. ImageMagick encodes one PNG at
// a time per process, so encoding on several cores at once takes several processes. A child
// never outlives its parent: it ends when the parent's end of the socket closes, when the
// parent dies, and when it is asked to stop by a signal (removing the file it was writing).

#include <sys/types.h>

#include <string>
#include <vector>

#include "image/imagergb.h"
#include "io/writeimage.h"

namespace vorada {
namespace io {

class ImageWriterProcess {
  public:
    /// Forks the child, which closes `inherited` (other children's sockets) first and encodes
    /// with `quality` (see WriteImage). Fork before the process starts threads. Throws
    /// VoradaError when no child can be made.
    explicit ImageWriterProcess(const std::vector<int>& inherited = {},
                                int quality = exact_image_quality);
    /// Closes the socket, which ends the child, and waits for it.
    ~ImageWriterProcess();
    ImageWriterProcess(const ImageWriterProcess&) = delete;
    ImageWriterProcess& operator=(const ImageWriterProcess&) = delete;

    /// Has the child write `image` to `path`. Returns false, having written nothing for sure,
    /// when the child is gone. A failed write throws VoradaError with the child's message,
    /// which is the message writing here would have given.
    bool write(const std::string& path, const ImageRGB<unsigned char>& image);

    /// The parent's end of the socket.
    int socket() const { return parent_socket; }
    pid_t pid() const { return child; }

  private:
    void _close();

    int parent_socket = -1;
    pid_t child = -1;
};

/// Ends every writer process of this process and waits for them. Safe in a signal handler: a
/// process stopped by a signal calls it so that its writers end with it.
void stop_writer_processes() noexcept;

}  // namespace io
}  // namespace vorada
