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
    // Three slabs' worth of 4 KiB blocks, each written in full.
    const std::size_t count = 3 * SlabArena::slab_bytes / 4096;
    for (std::size_t i = 0; i < count; ++i) {
        blocks.push_back(arena.allocate(4096));
        std::memset(blocks.back(), static_cast<int>(i), 4096);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(blocks.back()) % 16, 0u);
    }
    EXPECT_EQ(arena.live(), count * 4096);
    EXPECT_GE(arena.held(), 3 * SlabArena::slab_bytes);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(static_cast<unsigned char*>(blocks[i])[4095], static_cast<unsigned char>(i));
    }
    // Freeing the first half gives back every slab filled only by it.
    const std::size_t held_before = arena.held();
    for (std::size_t i = 0; i < count / 2; ++i) {
        arena.release(blocks[i], 4096);
    }
    EXPECT_LE(arena.held(), held_before - SlabArena::slab_bytes);
    for (std::size_t i = count / 2; i < count; ++i) {
        arena.release(blocks[i], 4096);
    }
    EXPECT_EQ(arena.live(), 0u);
    EXPECT_LE(arena.held(), SlabArena::slab_bytes);  // at most the slab still being filled
    arena.start_fresh_slab();
    EXPECT_EQ(arena.held(), 0u);
}

TEST(SlabArena, CompactingScatteredListsKeepsThemAndGivesMemoryBack) {
    SlabArena& arena = SlabArena::shared();
    arena.start_fresh_slab();
    const std::size_t held_at_start = arena.held();
    std::vector<CompactVector<std::uint64_t>> lists(20000);
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
