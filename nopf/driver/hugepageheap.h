#pragma once
// The run reads millions of small heap blocks (neighbour lists, descriptors, links) in no
// particular order; with 4 KiB pages nearly every such read also misses the TLB. glibc's
// allocator backs its heap with transparent huge pages when its tunable glibc.malloc.hugetlb is
// 1, and tunables are read only when a program starts, so vseg starts itself once more with it
// (and with the heap kept and reused rather than given back, see huge_page_heap_tunables).

#include <string>

namespace vorada {
namespace gma {

/// The value GLIBC_TUNABLES should have for a run, given its current value (null when unset)
/// and the system's transparent huge page mode (the text of
/// /sys/kernel/mm/transparent_hugepage/enabled): the current tunables followed by
/// glibc.malloc.hugetlb=1 and, unless the user set them, a trim threshold of 4 GiB − 1 and an
/// mmap threshold of 32 MiB. Empty when nothing is to change: the mode is not "madvise" (with
/// "always" the heap gets huge pages anyway, with "never" it cannot), or glibc.malloc.hugetlb
/// is set already, by an earlier start or by the user.
std::string huge_page_heap_tunables(const char* current_tunables, const std::string& thp_mode);

/// Starts this program again, same arguments, with huge_page_heap_tunables set; returns only when
/// that is not needed or not possible, and the run then goes on as it is.
void restart_with_huge_page_heap(char** argv);

}  // namespace gma
}  // namespace vorada
