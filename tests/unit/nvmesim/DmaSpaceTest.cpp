#include "nvmesim/DmaSpace.h"

#include <gtest/gtest.h>

using nvmesim::DmaSpace;

TEST(DmaSpace, BuffersAreSeparateAndGuarded) {
    DmaSpace d;
    void *p1 = nullptr, *p2 = nullptr;
    uint64_t b1 = 0, b2 = 0;
    ASSERT_EQ(d.alloc(5000, &p1, &b1), 0);
    ASSERT_EQ(d.alloc(100, &p2, &b2), 0);
    EXPECT_EQ(b1 % 4096, 0u);
    EXPECT_GE(b2, b1 + 8192 + 4096);   // rounded up, then a guard page
    uint8_t x[16] = {1, 2, 3};
    EXPECT_TRUE(d.write(b1 + 100, x, 16));
    EXPECT_EQ(static_cast<uint8_t *>(p1)[102], 3);
    EXPECT_FALSE(d.write(b1 + 8190, x, 16));     // runs into the guard page
    EXPECT_TRUE(d.read(b1 + 8192 - 16, x, 16));
    EXPECT_EQ(d.translate(b1, 8192), static_cast<uint8_t *>(p1));
    EXPECT_EQ(d.translate(b1, 8193), nullptr);
    EXPECT_EQ(d.translate(0, 1), nullptr);
    EXPECT_EQ(d.free(b1 + 4096), -1);
    EXPECT_EQ(d.free(b1), 0);
    EXPECT_EQ(d.free(b1), -1);                   // stale
    EXPECT_FALSE(d.read(b1, x, 1));
    EXPECT_EQ(d.bufferCount(), 1u);
    EXPECT_EQ(d.alloc(0, &p1, &b1), -1);
}

TEST(DmaSpace, InPageOffset) {
    DmaSpace d(4096, 256);
    void *p = nullptr;
    uint64_t b = 0;
    ASSERT_EQ(d.alloc(4096, &p, &b), 0);
    EXPECT_EQ(b % 4096, 256u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 256u);
    EXPECT_NE(d.translate(b + 4095, 1), nullptr);   // the buffer spills into a second page
    ASSERT_EQ(d.alloc(64, &p, &b, true), 0);
    EXPECT_EQ(b % 4096, 0u);
    EXPECT_EQ(d.free(b), 0);
}
