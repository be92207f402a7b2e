#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "signals/slabarena.h"

namespace vorada {
namespace testing {
namespace {

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

}  // namespace
}  // namespace testing
}  // namespace vorada
