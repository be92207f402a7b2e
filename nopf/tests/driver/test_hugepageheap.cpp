#include "driver/hugepageheap.h"

#include <gtest/gtest.h>

namespace vorada {
namespace gma {
namespace {

const char* const madvise_mode = "always [madvise] never\n";

TEST(HugePageHeapTunables, SetsTheTunableOnlyWhenHugePagesAreByAdvice) {
    const std::string all =
        "glibc.malloc.hugetlb=1:glibc.malloc.trim_threshold=4294967295:"
        "glibc.malloc.mmap_threshold=33554432";
    EXPECT_EQ(huge_page_heap_tunables(nullptr, madvise_mode), all);
    EXPECT_EQ(huge_page_heap_tunables("", madvise_mode), all);
    // Everything is on huge pages already, or nothing can be.
    EXPECT_EQ(huge_page_heap_tunables(nullptr, "[always] madvise never\n"), "");
    EXPECT_EQ(huge_page_heap_tunables(nullptr, "always madvise [never]\n"), "");
    // No such file (not Linux, or no transparent huge pages).
    EXPECT_EQ(huge_page_heap_tunables(nullptr, ""), "");
}

TEST(HugePageHeapTunables, KeepsTheUsersTunables) {
    EXPECT_EQ(huge_page_heap_tunables("glibc.malloc.mxfast=0", madvise_mode),
              "glibc.malloc.mxfast=0:glibc.malloc.hugetlb=1:glibc.malloc.trim_threshold=4294967295:"
              "glibc.malloc.mmap_threshold=33554432");
    EXPECT_EQ(huge_page_heap_tunables("glibc.malloc.trim_threshold=1000", madvise_mode),
              "glibc.malloc.trim_threshold=1000:glibc.malloc.hugetlb=1:"
              "glibc.malloc.mmap_threshold=33554432");
    EXPECT_EQ(huge_page_heap_tunables("glibc.malloc.mmap_threshold=1:glibc.malloc.trim_threshold=2",
                                      madvise_mode),
              "glibc.malloc.mmap_threshold=1:glibc.malloc.trim_threshold=2:glibc.malloc.hugetlb=1");
    // Set already, by the user or by the start before: never changed, so no second restart.
    EXPECT_EQ(huge_page_heap_tunables("glibc.malloc.hugetlb=0", madvise_mode), "");
    EXPECT_EQ(huge_page_heap_tunables("glibc.malloc.mxfast=0:glibc.malloc.hugetlb=1", madvise_mode),
              "");
}

}  // namespace
}  // namespace gma
}  // namespace vorada
