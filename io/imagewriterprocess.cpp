#include "io/imagewriterprocess.h"

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>

#include "common/childsignals.h"
#include "common/errors.h"
#include "image/import_export.h"
#include "io/atomicfile.h"
#include "io/writeimage.h"

namespace vorada {
namespace io {

namespace {

// Messages: the parent sends path length, width, height (unsigned 64-bit), the path, then the
// pixels as interleaved RGB bytes; the child answers with a status and a message length, then
// the message.
constexpr std::uint64_t max_path = 1 << 16;
// Reply statuses; a failure comes with the message that ends the run.
constexpr std::uint64_t written = 0;
constexpr std::uint64_t failed = 1;

// The writers of this process, where a signal handler can reach them (0: a free entry).
constexpr int max_writers = 64;
std::atomic<pid_t> writers[max_writers];

void list_writer(pid_t pid) {
    for (auto& entry : writers) {
        pid_t expected = 0;
        if (entry.compare_exchange_strong(expected, pid)) {
            return;
        }
    }
}

void unlist_writer(pid_t pid) {
    for (auto& entry : writers) {
        pid_t expected = pid;
        if (entry.compare_exchange_strong(expected, 0)) {
            return;
        }
    }
}

// A writer stopped by a signal removes the file it was writing, then ends as the signal says.
void writer_stopped(int signal_number) {
    remove_unfinished_files();
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// In the child, right after the fork: forget the parent's other writers, end with the parent,
// and clean up when stopped.
void become_writer(pid_t parent) {
    for (auto& entry : writers) {
        entry.store(0);
    }
    struct sigaction action {};
    action.sa_handler = writer_stopped;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction inherited {};
        ::sigaction(signal_number, nullptr, &inherited);
        if (inherited.sa_handler != SIG_IGN) {
            ::sigaction(signal_number, &action, nullptr);
        }
    }
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        ::_exit(0);  // the parent died before the request took effect
    }
}

bool send_all(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool receive_all(int fd, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::recv(fd, bytes, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool send_reply(int fd, std::uint64_t status, const std::string& message) {
    const std::uint64_t header[2] = {status, message.size()};
    return send_all(fd, header, sizeof(header)) && send_all(fd, message.data(), message.size());
}

// The child: writes what it is sent until the parent closes its end.
[[noreturn]] void serve(int fd, int quality) {
    std::vector<unsigned char> pixels;
    std::string path;
    for (;;) {
        std::uint64_t header[3];
        if (!receive_all(fd, header, sizeof(header))) {
            ::_exit(0);
        }
        const std::uint64_t path_length = header[0];
        const std::uint64_t width = header[1];
        const std::uint64_t height = header[2];
        const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
        if (path_length > max_path || width > limit || height > limit) {
            ::_exit(1);  // not a parent of ours: stop rather than guess the framing
        }
        path.assign(static_cast<std::size_t>(path_length), '\0');
        pixels.resize(static_cast<std::size_t>(3 * width * height));
        if (!receive_all(fd, &path[0], path.size()) ||
            !receive_all(fd, pixels.data(), pixels.size())) {
            ::_exit(0);
        }
        std::uint64_t status = written;
        std::string message;
        try {
            ImageRGB<unsigned char> image(width, height);
            import_from<unsigned char, unsigned char>(image, pixels.data(), pixels.size(),
                                                      BUFFER_RGB);
            WriteImage(path, quality).write(image);
        } catch (const std::exception& error) {
            status = failed;
            message = error.what();
        } catch (...) {
            status = failed;
            message = "Error in file '" + path + "': the image could not be written";
        }
        if (!send_reply(fd, status, message)) {
            ::_exit(0);
        }
    }
}

}  // namespace

void stop_writer_processes() noexcept {
    for (auto& entry : writers) {
        const pid_t pid = entry.load();
        if (pid > 0) {
            ::kill(pid, SIGTERM);
        }
    }
    for (auto& entry : writers) {
        const pid_t pid = entry.exchange(0);
        if (pid > 0) {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
}

ImageWriterProcess::ImageWriterProcess(const std::vector<int>& inherited, int quality) {
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        throw VoradaError(std::string("Image writer: no socket: ") + std::strerror(errno));
    }
    const pid_t parent = ::getpid();
    const BlockedStopSignals blocked;
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(sockets[0]);
        ::close(sockets[1]);
        throw VoradaError(std::string("Image writer: no process: ") + std::strerror(error));
    }
    if (pid == 0) {
        become_writer(parent);
        blocked.restore();
        ::close(sockets[0]);
        for (int fd : inherited) {
            ::close(fd);
        }
        serve(sockets[1], quality);
    }
    ::close(sockets[1]);
    parent_socket = sockets[0];
    child = pid;
    list_writer(pid);
}

ImageWriterProcess::~ImageWriterProcess() {
    _close();
}

void ImageWriterProcess::_close() {
    if (parent_socket >= 0) {
        ::close(parent_socket);
        parent_socket = -1;
    }
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        unlist_writer(child);
        child = -1;
    }
}

bool ImageWriterProcess::write(const std::string& path, const ImageRGB<unsigned char>& image) {
    if (parent_socket < 0) {
        return false;
    }
    const std::uint64_t width = image.width();
    const std::uint64_t height = image.height();
    if (path.size() > max_path) {
        throw VoradaFileError(path, "path too long");
    }
    std::vector<unsigned char> pixels(static_cast<std::size_t>(3 * width * height));
    export_to<unsigned char, unsigned char>(image, pixels.data(), pixels.size(), BUFFER_RGB);
    const std::uint64_t header[3] = {path.size(), width, height};
    std::uint64_t reply[2];
    if (!send_all(parent_socket, header, sizeof(header)) ||
        !send_all(parent_socket, path.data(), path.size()) ||
        !send_all(parent_socket, pixels.data(), pixels.size()) ||
        !receive_all(parent_socket, reply, sizeof(reply)) || reply[1] > max_path) {
        _close();
        return false;
    }
    std::string message(static_cast<std::size_t>(reply[1]), '\0');
    if (!receive_all(parent_socket, &message[0], message.size())) {
        _close();
        return false;
    }
    if (reply[0] != written) {
        throw VoradaError(message);
    }
    return true;
}

}  // namespace io
}  // namespace vorada
