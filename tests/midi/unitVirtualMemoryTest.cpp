#include "midi/unitVirtualMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using vozaro::midi::EVirtualMemory;
using vozaro::midi::TVirtualMemoryStream;

namespace {
const std::uint8_t* bytes(const TVirtualMemoryStream& s) { return static_cast<const std::uint8_t*>(s.memory()); }
}  // namespace

TEST(VirtualMemory, GrowsInCommitStepsUpToTheCapacity) {
    TVirtualMemoryStream s(3000, 0);
    EXPECT_EQ(s.Capacity(), 3000);
    EXPECT_EQ(s.CommitStep(), 1024);
    EXPECT_EQ(s.size(), 0);
    void* base = s.memory();
    s.SetSize(1);
    EXPECT_EQ(s.size(), 1024);
    s.SetSize(1025);
    EXPECT_EQ(s.size(), 2048);
    s.SetSize(2100);  // 1024 more would pass the capacity
    EXPECT_EQ(s.size(), 3000);
    EXPECT_EQ(s.memory(), base);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(bytes(s)[i], 0) << i;
}

TEST(VirtualMemory, LargerGrowthIsExactAndInitialSizeIsCommitted) {
    TVirtualMemoryStream s(100000, 10);
    EXPECT_EQ(s.size(), 1024);
    s.SetSize(50000);
    EXPECT_EQ(s.size(), 50000);
}

TEST(VirtualMemory, BeyondCapacityChangesNothing) {
    TVirtualMemoryStream s(2000, 0);
    s.SetSize(100);
    try {
        s.SetSize(2001);
        FAIL() << "grew";
    } catch (const EVirtualMemory& e) {
        EXPECT_STREQ(e.what(), "Size exceeds capacity");
    }
    EXPECT_EQ(s.size(), 1024);
}

TEST(VirtualMemory, ShrinkKeepsBytesBelowAndRegrowReadsZero) {
    TVirtualMemoryStream s(1 << 20, 0);
    std::vector<std::uint8_t> data(200000, 0xAB);
    EXPECT_EQ(s.Write(data.data(), static_cast<std::int64_t>(data.size())), 200000);
    EXPECT_EQ(s.position(), 200000);
    s.SetSize(5000);
    EXPECT_EQ(s.size(), 5000);
    EXPECT_EQ(s.position(), 200000);  // SetSize leaves the position alone
    EXPECT_EQ(bytes(s)[4999], 0xAB);
    s.SetSize(200000);
    EXPECT_EQ(bytes(s)[4999], 0xAB);
    EXPECT_EQ(bytes(s)[5000], 0);
    EXPECT_EQ(bytes(s)[199999], 0);
}

TEST(VirtualMemory, WriteGrowsAndReadSeeksWithin) {
    TVirtualMemoryStream s(4096, 0);
    const char text[] = "karaoke";
    s.Write(text, 7);
    EXPECT_EQ(s.size(), 1024);
    s.setPosition(4);
    char back[8] = {};
    EXPECT_EQ(s.Read(back, 3), 3);
    EXPECT_EQ(std::memcmp(back, "oke", 3), 0);
    s.setPosition(1020);
    EXPECT_EQ(s.Read(back, 8), 4);  // up to the committed size
    s.setPosition(4090);
    EXPECT_THROW(s.Write(text, 7), EVirtualMemory);
}
