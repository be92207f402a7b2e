#pragma once
// Memory for the neighbour lists. A run makes and frees millions of small lists, and as regions
// merge the lists grow while their number falls, so the C library's heap keeps the freed small
// blocks and the process holds up to twice the memory in use. Here blocks are cut from large
// slabs mapped straight from the system, and a slab is given back as soon as none of its blocks
// is in use.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace vorada {
namespace gma {

class SlabArena {
  public:
    static constexpr std::size_t slab_bytes = std::size_t(1) << 20;
    /// Blocks above this size come from the ordinary heap.
    static constexpr std::size_t largest_block = std::size_t(16) << 10;
    /// Empty slabs kept for reuse rather than given back.
    static constexpr std::size_t spare_limit = 2;

    SlabArena() = default;
    SlabArena(const SlabArena&) = delete;
    SlabArena& operator=(const SlabArena&) = delete;

    /// The arena of the process (never destroyed, so lists in static objects still find it).
    static SlabArena& shared() {
        static SlabArena* instance = new SlabArena;
        return *instance;
    }

    /// A block of `bytes` (1 … largest_block), aligned to 16 bytes.
    void* allocate(std::size_t bytes) {
        bytes = _rounded(bytes);
        if (!current || used + bytes > slab_bytes) {
            _open_slab();
        }
        char* block = current + used;
        used += bytes;
        _header(current)->live += bytes;
        live_bytes += bytes;
        return block;
    }

    /// Gives back a block made by allocate with the same `bytes`.
    void release(void* block, std::size_t bytes) noexcept {
        bytes = _rounded(bytes);
        char* slab = _slab_of(block);
        live_bytes -= bytes;
        if ((_header(slab)->live -= bytes) != 0) {
            return;
        }
        if (slab == current) {
            used = header_bytes;  // empty: fill it again from the start
        } else {
            _retire(slab);
        }
    }

    std::size_t held() const { return held_bytes; }
    std::size_t live() const { return live_bytes; }

  private:
    struct Header {
        std::size_t live;  ///< bytes of the slab's blocks in use
    };
    static constexpr std::size_t header_bytes = 64;
    static constexpr std::size_t granule = 16;

    static std::size_t _rounded(std::size_t bytes) { return (bytes + granule - 1) / granule * granule; }
    static Header* _header(char* slab) { return reinterpret_cast<Header*>(slab); }
    static char* _slab_of(void* block) {
        return reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(block) & ~(slab_bytes - 1));
    }

    // Slabs are aligned to their size, so a block finds its slab (and its count) by its address.
    void _open_slab() {
        if (current && _header(current)->live == 0) {
            used = header_bytes;
            return;
        }
        // The slab left behind keeps its blocks; it goes when the last of them is released.
        if (!spare.empty()) {
            _start(spare.back());
            spare.pop_back();
            return;
        }
        void* mapped = mmap(nullptr, 2 * slab_bytes, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            throw std::bad_alloc();
        }
        char* start = static_cast<char*>(mapped);
        char* slab = _slab_of(start + slab_bytes - 1);
        if (slab > start) {
            munmap(start, static_cast<std::size_t>(slab - start));
        }
        const std::size_t tail = static_cast<std::size_t>(start + 2 * slab_bytes - (slab + slab_bytes));
        if (tail) {
            munmap(slab + slab_bytes, tail);
        }
        held_bytes += slab_bytes;
        _start(slab);
    }
    void _start(char* slab) {
        current = slab;
        used = header_bytes;
        _header(slab)->live = 0;
    }
    // An empty slab is kept for the next one while there are few such: a slab used again costs
    // no fresh pages.
    void _retire(char* slab) {
        if (spare.size() < spare_limit) {
            spare.push_back(slab);
            return;
        }
        munmap(slab, slab_bytes);
        held_bytes -= slab_bytes;
    }

    std::vector<char*> spare;  ///< empty slabs kept for reuse
    char* current = nullptr;   ///< the slab blocks are cut from
    std::size_t used = 0;     ///< bytes of it handed out (or skipped)
    std::size_t held_bytes = 0;
    std::size_t live_bytes = 0;
};

}  // namespace gma
}  // namespace vorada
