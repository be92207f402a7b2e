#pragma once
// Work split over threads by index, for stages whose items (frames, mostly) are independent:
// each item writes only its own results, so the output is the same for any number of threads.

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vorada {

/// Threads that work on a stage: one per core this process may run on (a Slurm job, a
/// container or taskset may give it fewer than the machine has).
inline unsigned default_thread_count() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof(cores), &cores) == 0 && CPU_COUNT(&cores) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&cores));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

/// Calls body(i) once for every i < count, on up to `threads` threads (the caller's among
/// them), and returns when all calls have. The first exception thrown by a call is rethrown
/// here once every thread has stopped; items not yet started are then skipped.
template <typename Body>
void parallel_for(std::size_t count, unsigned threads, Body body) {
    const std::size_t workers = std::min<std::size_t>(std::max(1u, threads), count);
    if (workers <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            body(i);
        }
        return;
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;
    std::mutex failure_mutex;
    auto work = [&] {
        for (std::size_t i = next++; i < count && !failed; i = next++) {
            try {
                body(i);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(failure_mutex);
                if (!failure) {
                    failure = std::current_exception();
                }
                failed = true;
            }
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    for (std::size_t k = 1; k < workers; ++k) {
        helpers.emplace_back(work);
    }
    work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace vorada
