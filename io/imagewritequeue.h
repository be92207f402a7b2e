#pragma once
// Writes 8-bit RGB images in the background. Encoding a PNG at the highest compression costs
// far more than producing its pixels, and the pipeline writes hundreds of them while its
// merging runs on one core; the queue lets the other cores do the encoding. ImageMagick
// encodes one PNG at a time per process, so each background thread hands its images to a
// writer process of its own (and writes them itself should that process be gone). Against
// threads encoding in this process: wall −18 % in bench_imagewrite's WriteQueue/1 (16 frames,
// exact PNGs; median of 6 alternated runs, 0.78–0.83, on a loaded machine).

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/parallel.h"
#include "image/imagergb.h"
#include "io/imagewriterprocess.h"

namespace vorada {
namespace io {

/// How frame images are written: `exact` the files as defined (highest compression), `fast` the
/// same pixels with a much cheaper compression, `none` not at all.
enum class PngMode { exact, fast, none };

/// Reads a --png value (exact, fast, none) into `mode`; false for anything else.
inline bool parse_png_mode(const std::string& text, PngMode& mode) {
    if (text == "exact" || text == "fast" || text == "none") {
        mode = text == "exact" ? PngMode::exact : text == "fast" ? PngMode::fast : PngMode::none;
        return true;
    }
    return false;
}

class ImageWriteQueue {
  public:
    /// Background threads for a machine with `cores` cores: all but the one the caller uses.
    static unsigned workers_for(unsigned cores) { return cores > 1 ? cores - 1 : 0; }

    /// `workers` background threads, each with a writer process (0: every image is written at
    /// once, on the caller's thread). Images waiting beyond `max_pending_bytes` are written by
    /// the caller itself. Construct it before the process starts other threads: it forks.
    /// `mode` none drops every image (and starts no worker).
    explicit ImageWriteQueue(unsigned workers = workers_for(default_thread_count()),
                             std::size_t max_pending_bytes = std::size_t(256) << 20,
                             PngMode mode = PngMode::exact);
    /// Writes whatever still waits, then stops the threads. A failure that finish() has not
    /// reported is lost here: call finish() to learn of it.
    ~ImageWriteQueue();
    ImageWriteQueue(const ImageWriteQueue&) = delete;
    ImageWriteQueue& operator=(const ImageWriteQueue&) = delete;

    /// Writes `image` to `path` (format from the extension), now or later. Failures of queued
    /// writes are reported by finish().
    void write(std::string path, ImageRGB<unsigned char> image);

    /// Returns once every image handed over so far is written, helping on the caller's thread;
    /// rethrows the first failure among them. Other images are still written.
    void finish();

    unsigned worker_count() const { return static_cast<unsigned>(threads.size()); }
    /// False when images are dropped: callers may then skip making them.
    bool writes_images() const { return mode != PngMode::none; }

  private:
    struct Job {
        std::string path;
        ImageRGB<unsigned char> image;
    };

    void _work(ImageWriterProcess* process);
    // Takes the oldest job and writes it with the lock released, through `process` when there
    // is one; the lock is held on return.
    void _run_one(std::unique_lock<std::mutex>& lock, ImageWriterProcess* process);

    std::mutex mutex;
    std::condition_variable job_ready;
    std::condition_variable job_done;
    std::deque<Job> jobs;
    std::size_t pending_bytes = 0;
    std::size_t max_pending = 0;
    PngMode mode = PngMode::exact;
    int quality = exact_image_quality;
    std::size_t running = 0;
    bool stopping = false;
    std::exception_ptr failure;
    std::vector<std::unique_ptr<ImageWriterProcess>> processes;
    std::vector<std::thread> threads;
};

}  // namespace io
}  // namespace vorada
