#include "platform/virtual_memory.h"

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

namespace Korvel::Platform {
namespace {

TEST(VirtualMemory, RegionIsAlignedWritableAndCounted) {
    const std::size_t before = LiveRegionCount();
    void* region = ReserveRegion(65536);
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region) % kRegionAlignment, 0u);
    EXPECT_EQ(LiveRegionCount(), before + 1);
    std::memset(region, 0xAB, 65536);
    EXPECT_EQ(static_cast<unsigned char*>(region)[65535], 0xAB);
    ReleaseRegion(region, 65536);
    EXPECT_EQ(LiveRegionCount(), before);
}

} // namespace
} // namespace Korvel::Platform
