#include "io/imagewritequeue.h"

#include <utility>

#include "common/errors.h"
#include "io/writeimage.h"

namespace vorada {
namespace io {

namespace {

std::size_t image_bytes(const ImageRGB<unsigned char>& image) {
    return 3 * static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height());
}

}  // namespace

ImageWriteQueue::ImageWriteQueue(unsigned workers, std::size_t max_pending_bytes, PngMode png_mode)
    : max_pending(max_pending_bytes),
      mode(png_mode),
      quality(png_mode == PngMode::fast ? fast_image_quality : exact_image_quality) {
    if (mode == PngMode::none) {
        workers = 0;
    }
    // All children first, while this process has a single thread.
    std::vector<int> sockets;
    for (unsigned k = 0; k < workers; ++k) {
        try {
            processes.push_back(std::make_unique<ImageWriterProcess>(sockets, quality));
            sockets.push_back(processes.back()->socket());
        } catch (const VoradaError&) {
            processes.push_back(nullptr);  // its thread writes in this process instead
        }
    }
    threads.reserve(workers);
    for (unsigned k = 0; k < workers; ++k) {
        ImageWriterProcess* process = processes[k].get();
        threads.emplace_back([this, process] { _work(process); });
    }
}

ImageWriteQueue::~ImageWriteQueue() {
    try {
        finish();
    } catch (...) {
        // Reported by finish() to callers that ask; a destructor has nobody to tell.
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    job_ready.notify_all();
    for (std::thread& thread : threads) {
        thread.join();
    }
    processes.clear();
}

void ImageWriteQueue::write(std::string path, ImageRGB<unsigned char> image) {
    if (mode == PngMode::none) {
        return;
    }
    if (threads.empty()) {
        WriteImage(path, quality).write(image);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    pending_bytes += image_bytes(image);
    jobs.push_back(Job{std::move(path), std::move(image)});
    job_ready.notify_one();
    // Too much waiting in memory: the caller lends a hand until it is back under the limit.
    while (pending_bytes > max_pending && !jobs.empty()) {
        _run_one(lock, nullptr);
    }
}

void ImageWriteQueue::finish() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!jobs.empty()) {
        _run_one(lock, nullptr);
    }
    job_done.wait(lock, [this] { return running == 0 && jobs.empty(); });
    if (failure) {
        std::exception_ptr first = failure;
        failure = nullptr;
        std::rethrow_exception(first);
    }
}

void ImageWriteQueue::_work(ImageWriterProcess* process) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        job_ready.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty()) {
            return;  // stopping, and nothing left
        }
        _run_one(lock, process);
    }
}

void ImageWriteQueue::_run_one(std::unique_lock<std::mutex>& lock, ImageWriterProcess* process) {
    Job job = std::move(jobs.front());
    jobs.pop_front();
    ++running;
    lock.unlock();
    std::exception_ptr error;
    try {
        if (!process || !process->write(job.path, job.image)) {
            WriteImage(job.path, quality).write(job.image);
        }
    } catch (...) {
        error = std::current_exception();
    }
    const std::size_t bytes = image_bytes(job.image);
    job = Job();
    lock.lock();
    pending_bytes -= bytes;
    --running;
    if (error && !failure) {
        failure = error;
    }
    job_done.notify_all();
}

}  // namespace io
}  // namespace vorada
