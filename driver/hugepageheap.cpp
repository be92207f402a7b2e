#include "driver/hugepageheap.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vorada {
namespace gma {

namespace {
constexpr const char* tunable_name = "glibc.malloc.hugetlb";
constexpr const char* tunable_setting = "glibc.malloc.hugetlb=1";
}  // namespace

std::string huge_page_heap_tunables(const char* current_tunables, const std::string& thp_mode) {
    if (thp_mode.find("[madvise]") == std::string::npos) {
        return std::string();
    }
    if (!current_tunables || !*current_tunables) {
        return tunable_setting;
    }
    if (std::strstr(current_tunables, tunable_name)) {
        return std::string();
    }
    return std::string(current_tunables) + ":" + tunable_setting;
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
