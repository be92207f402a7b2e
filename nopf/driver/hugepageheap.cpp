#include "driver/hugepageheap.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vorada {
namespace gma {

namespace {
constexpr const char* huge_page_tunable = "glibc.malloc.hugetlb";

// Set along with huge pages unless the user chose otherwise. Taking fresh memory from the
// system means clearing whole 2 MiB pages, so the heap keeps its top instead of giving it back,
// and blocks up to 32 MiB (a frame image, a painted segmentation) come from the heap, where
// they reuse freed memory, rather than from a new mapping each time.
struct Companion {
    const char* name;
    const char* setting;
};
constexpr Companion companions[] = {
    {"glibc.malloc.trim_threshold", "glibc.malloc.trim_threshold=4294967295"},
    {"glibc.malloc.mmap_threshold", "glibc.malloc.mmap_threshold=33554432"},
};
}  // namespace

std::string huge_page_heap_tunables(const char* current_tunables, const std::string& thp_mode) {
    if (thp_mode.find("[madvise]") == std::string::npos) {
        return std::string();
    }
    const std::string current = current_tunables ? current_tunables : "";
    if (current.find(huge_page_tunable) != std::string::npos) {
        return std::string();
    }
    std::string tunables = current.empty() ? "" : current + ":";
    tunables += std::string(huge_page_tunable) + "=1";
    for (const Companion& companion : companions) {
        if (current.find(companion.name) == std::string::npos) {
            tunables += std::string(":") + companion.setting;
        }
    }
    return tunables;
}

void restart_with_huge_page_heap(char** argv) {
    std::ifstream mode_file("/sys/kernel/mm/transparent_hugepage/enabled");
    const std::string mode((std::istreambuf_iterator<char>(mode_file)),
                           std::istreambuf_iterator<char>());
    const char* current = std::getenv("GLIBC_TUNABLES");
    const std::string tunables = huge_page_heap_tunables(current, mode);
    if (tunables.empty()) {
        return;
    }
    const std::string previous = current ? current : "";
    if (setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0) {
        return;
    }
    execv("/proc/self/exe", argv);
    // Still here: the program could not be started again. Carry on with the heap as it is.
    if (current) {
        setenv("GLIBC_TUNABLES", previous.c_str(), 1);
    } else {
        unsetenv("GLIBC_TUNABLES");
    }
}

}  // namespace gma
}  // namespace vorada
