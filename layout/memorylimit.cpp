#include "layout/memorylimit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace vorada {
namespace layout {

namespace {

// The first whole number of a file ("max" and unreadable files give none).
bool read_number(const std::string& path, double& value) {
    std::ifstream in(path);
    unsigned long long number = 0;
    if (!(in >> number)) {
        return false;
    }
    value = static_cast<double>(number);
    return true;
}

// The smallest value of `file` in `directory` and every folder above it up to `root`: a cgroup
// is held to the limits of those it belongs to.
bool smallest_up_to(const std::string& root,
                    std::string directory,
                    const std::string& file,
                    double& smallest) {
    bool found = false;
    for (;;) {
        double value = 0;
        if (read_number(directory + "/" + file, value) && (!found || value < smallest)) {
            smallest = value;
            found = true;
        }
        if (directory.size() <= root.size()) {
            return found;
        }
        directory.erase(directory.rfind('/'));
    }
}

// The cgroup limit of this process: v2 first (a "0::PATH" line), then the v1 memory controller.
bool cgroup_limit(const std::string& proc, const std::string& cgroup_root, double& bytes) {
    std::ifstream in(proc + "/self/cgroup");
    bool found = false;
    for (std::string line; std::getline(in, line);) {
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        std::string path = line.substr(second + 1);
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        if (path == "/") {
            path.clear();
        }
        double value = 0;
        bool limited = false;
        if (line.compare(0, first + 1, "0:") == 0 && controllers == ",,") {
            limited = smallest_up_to(cgroup_root, cgroup_root + path, "memory.max", value);
        } else if (controllers.find(",memory,") != std::string::npos) {
            const std::string root = cgroup_root + "/memory";
            limited = smallest_up_to(root, root + path, "memory.limit_in_bytes", value);
        }
        if (limited && (!found || value < bytes)) {
            bytes = value;
            found = true;
        }
    }
    return found;
}

bool available_memory(const std::string& proc, double& bytes) {
    std::ifstream in(proc + "/meminfo");
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 13, "MemAvailable:") == 0) {
            std::istringstream fields(line.substr(13));
            unsigned long long kib = 0;
            if (fields >> kib) {
                bytes = static_cast<double>(kib) * 1024.0;
                return true;
            }
        }
    }
    return false;
}

std::string noted_check;

// Measured peaks with PNGs written: 383 MB for 512x218x10 (1.12 M voxels), 1500 MB for the same
// frames up-scaled twice (4.46 M), 830 MB for 320x240x40; at most 343 bytes per voxel. The
// margin covers inputs whose regions are smaller still.
constexpr double fixed_bytes = 64.0 * 1048576.0;
constexpr double bytes_per_voxel = 400.0;

}  // namespace

MemoryLimit memory_limit(const std::string& proc, const std::string& cgroup_root) {
    MemoryLimit limit;
    if (available_memory(proc, limit.bytes)) {
        limit.source = "the memory available now";
    } else {
        limit.bytes = static_cast<double>(sysconf(_SC_PHYS_PAGES)) *
                      static_cast<double>(sysconf(_SC_PAGESIZE));
        limit.source = "this machine's memory";
    }
    double bytes = 0;
    if (cgroup_limit(proc, cgroup_root, bytes) && bytes < limit.bytes) {
        limit = {bytes, "the memory limit of this process's cgroup"};
    }
    rlimit address_space{};
    if (::getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY &&
        static_cast<double>(address_space.rlim_cur) < limit.bytes) {
        limit = {static_cast<double>(address_space.rlim_cur),
                 "the address-space limit of this process, ulimit -v"};
    }
    return limit;
}

std::string gibibytes(double bytes) {
    std::ostringstream text;
    text << std::setprecision(3) << bytes / 1073741824.0 << " GiB";
    return text.str();
}

void note_memory_check(double needed, const MemoryLimit& limit) {
    noted_check = "the run was estimated to need about " + gibibytes(needed) + " and may use " +
                  gibibytes(limit.bytes) + " (" + limit.source + ")";
}

std::string memory_check_note() {
    return noted_check;
}

double estimated_run_bytes(double voxels) {
    return fixed_bytes + voxels * bytes_per_voxel;
}

unsigned long long clip_frames_that_fit(unsigned long long width,
                                        unsigned long long height,
                                        unsigned long long jobs,
                                        double limit_bytes) {
    if (width == 0 || height == 0 || jobs == 0) {
        return 0;
    }
    const double frame_voxels = static_cast<double>(width) * static_cast<double>(height);
    const double runs = static_cast<double>(jobs);
    const auto fits = [&](double frames) {
        return runs * estimated_run_bytes(frame_voxels * frames) <= limit_bytes;
    };
    if (!fits(1.0)) {
        return 0;
    }
    // Solved for the frame count, then settled by the estimate itself against rounding.
    constexpr double most = 1e15;
    double frames =
        std::floor((limit_bytes / runs - fixed_bytes) / (frame_voxels * bytes_per_voxel));
    frames = std::max(1.0, std::min(frames, most));
    while (frames > 1.0 && !fits(frames)) {
        frames -= 1.0;
    }
    while (frames < most && fits(frames + 1.0)) {
        frames += 1.0;
    }
    return static_cast<unsigned long long>(frames);
}

}  // namespace layout
}  // namespace vorada
