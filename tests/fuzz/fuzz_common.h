#pragma once
// Helpers shared by the libFuzzer targets: scratch files in memory, and a trap that makes a
// broken invariant a crash the fuzzer keeps.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace fuzz {

/// A per-process scratch file under /dev/shm (targets write one or more files per input).
inline std::string scratch(const std::string& target, const std::string& name) {
    return "/dev/shm/" + target + "_" + std::to_string(getpid()) + "_" + name;
}

/// Replaces path with the bytes.
inline void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

/// Stops the run when an invariant of the code under test does not hold.
inline void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace fuzz
