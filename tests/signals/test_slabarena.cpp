#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "signals/compactvector.h"
#include "signals/slabarena.h"

namespace vorada {
namespace testing {
namespace {

using gma::CompactVector;
using gma::SlabArena;

TEST(SlabArena, SlabsGoBackWhenTheirLastBlockIsReleased) {
    SlabArena arena;
    std::vector<void*> blocks;
    // Twenty slabs' worth of 4 KiB blocks, each written in full.
    const std::size_t slabs = 2 * SlabArena::spare_limit + 4;
    const std::size_t count = slabs * (SlabArena::slab_bytes / 4096 - 1);
    for (std::size_t i = 0; i < count; ++i) {
        blocks.push_back(arena.allocate(4096));
        std::memset(blocks.back(), static_cast<int>(i), 4096);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(blocks.back()) % 16, 0u);
    }
    EXPECT_EQ(arena.live(), count * 4096);
    EXPECT_GE(arena.held(), slabs * SlabArena::slab_bytes);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(static_cast<unsigned char*>(blocks[i])[4095], static_cast<unsigned char>(i));
    }
    // Releasing every block gives back all but the slab being filled and a few spare ones.
    for (void* block : blocks) {
        arena.release(block, 4096);
    }
    EXPECT_EQ(arena.live(), 0u);
    EXPECT_LE(arena.held(), (SlabArena::spare_limit + 1) * SlabArena::slab_bytes);
    // Spare slabs are filled again before new ones are mapped.
    for (std::size_t i = 0; i < SlabArena::spare_limit * 200; ++i) {
        arena.allocate(4096);
    }
    EXPECT_LE(arena.held(), (SlabArena::spare_limit + 1) * SlabArena::slab_bytes);
}

TEST(SlabArena, CompactingScatteredListsKeepsThemAndGivesMemoryBack) {
    SlabArena& arena = SlabArena::shared();
    arena.start_fresh_slab();
    const std::size_t held_at_start = arena.held();
    std::vector<CompactVector<std::uint64_t>> lists(200000);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        for (std::uint64_t k = 0; k < 8 + i % 5; ++k) {
            lists[i].push_back(i * 100 + k);
        }
    }
    // Every other list goes: the survivors are scattered over all slabs.
    for (std::size_t i = 0; i < lists.size(); i += 2) {
        lists[i].release();
    }
    const std::size_t held_scattered = arena.held();
    arena.start_fresh_slab();
    for (auto& list : lists) {
        list.compact();
    }
    arena.compacted();
    for (std::size_t i = 0; i < lists.size(); ++i) {
        ASSERT_EQ(lists[i].size(), i % 2 ? 8 + i % 5 : 0u);
        EXPECT_EQ(lists[i].capacity_size(), lists[i].size());
        for (std::size_t k = 0; k < lists[i].size(); ++k) {
            ASSERT_EQ(lists[i][k], i * 100 + k);
        }
    }
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(arena.held() - held_at_start, (held_scattered - held_at_start) * 3 / 4);
#else
    (void)held_at_start;
    (void)held_scattered;
#endif
}

}  // namespace
}  // namespace testing
}  // namespace vorada
