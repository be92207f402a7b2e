#include "driver/hugepageheap.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vorada {
namespace gma {

namespace {
constexpr const char* huge_page_tunable = "glibc.malloc.hugetlb";
// With huge pages, giving the top of the heap back and taking it again means clearing whole
// 2 MiB pages each time; the heap is kept instead (its peak is what the run needs anyway).
constexpr const char* trim_tunable = "glibc.malloc.trim_threshold";
constexpr const char* huge_page_setting = "glibc.malloc.hugetlb=1";
constexpr const char* trim_setting = "glibc.malloc.trim_threshold=4294967295";
}  // namespace

std::string huge_page_heap_tunables(const char* current_tunables, const std::string& thp_mode) {
    if (thp_mode.find("[madvise]") == std::string::npos) {
        return std::string();
    }
    const std::string current = current_tunables ? current_tunables : "";
    if (current.find(huge_page_tunable) != std::string::npos) {
        return std::string();
    }
    std::string tunables = current.empty() ? huge_page_setting : current + ":" + huge_page_setting;
    if (current.find(trim_tunable) == std::string::npos) {
        tunables += std::string(":") + trim_setting;
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
