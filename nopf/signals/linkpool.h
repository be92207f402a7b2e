#pragma once
// Fixed-size object pool for the adjacency links: a run creates and destroys millions of links,
// so they come from large chunks with a free list instead of one heap call each.

#include <cstddef>
#include <new>
#include <vector>

namespace vorada {
namespace gma {

/// Hands out blocks of `Size` bytes aligned to `Align`; all chunks are returned to the heap as
/// soon as no block is in use any more, so a finished run leaves nothing behind.
template <std::size_t Size, std::size_t Align>
class FixedSizePool {
  public:
    FixedSizePool() = default;
    FixedSizePool(const FixedSizePool&) = delete;
    FixedSizePool& operator=(const FixedSizePool&) = delete;
    ~FixedSizePool() { release_chunks(); }

    /// One block of Size bytes.
    void* allocate() {
        if (!free_list) {
            grow();
        }
        FreeNode* node = free_list;
        free_list = node->next;
        ++in_use;
        return node;
    }

    /// Gives a block back; the chunks go back to the heap when the last block is returned.
    void release(void* block) noexcept {
        if (!block) {
            return;
        }
        FreeNode* node = static_cast<FreeNode*>(block);
        node->next = free_list;
        free_list = node;
        if (--in_use == 0) {
            release_chunks();
        }
    }

    /// Number of blocks handed out and not yet returned.
    std::size_t blocks_in_use() const { return in_use; }

  private:
    struct FreeNode {
        FreeNode* next;
    };
    static constexpr std::size_t slot_align = Align < alignof(FreeNode) ? alignof(FreeNode) : Align;
    static constexpr std::size_t slot_size =
        ((Size < sizeof(FreeNode) ? sizeof(FreeNode) : Size) + slot_align - 1) / slot_align *
        slot_align;
    static constexpr std::size_t first_chunk_slots = 256;
    static constexpr std::size_t largest_chunk_slots = 1 << 16;

    void grow() {
        // Chunks grow geometrically so small tests stay small and big runs make few chunks.
        const std::size_t slots = next_chunk_slots;
        if (next_chunk_slots < largest_chunk_slots) {
            next_chunk_slots *= 2;
        }
        chunks.reserve(chunks.size() + 1);
        char* chunk =
            static_cast<char*>(::operator new(slots* slot_size, std::align_val_t(slot_align)));
        chunks.push_back(chunk);
        for (std::size_t i = slots; i-- > 0;) {
            FreeNode* node = reinterpret_cast<FreeNode*>(chunk + i * slot_size);
            node->next = free_list;
            free_list = node;
        }
    }

    void release_chunks() noexcept {
        for (char* chunk : chunks) {
            ::operator delete(chunk, std::align_val_t(slot_align));
        }
        chunks.clear();
        chunks.shrink_to_fit();
        free_list = nullptr;
        next_chunk_slots = first_chunk_slots;
    }

    std::vector<char*> chunks;
    FreeNode* free_list = nullptr;
    std::size_t in_use = 0;
    std::size_t next_chunk_slots = first_chunk_slots;
};

}  // namespace gma
}  // namespace vorada
