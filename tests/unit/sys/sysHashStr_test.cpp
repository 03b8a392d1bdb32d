#include "sysHash.h"

#include <gtest/gtest.h>

#include <string>

TEST(SysHashStr, KnownValues)
{
    EXPECT_EQ(881u, sysHashStr("ab"));          // 97 + (98 << 3)
    EXPECT_EQ(0u, sysHashStr(""));
    EXPECT_EQ(0u, sysHashStr(nullptr));
    EXPECT_EQ(97u, sysHashStr("a"));
    // Position 8 starts the shifts over: "aaaaaaaab" = sum over 0..7 of
    // (97 << 3i) plus 98.
    uint32_t nSum = 0;
    for (int i = 0; i < 8; i++)
        nSum += 97u << (3 * i);
    EXPECT_EQ(nSum + 98u, sysHashStr("aaaaaaaab"));
}

TEST(SysHashStr, NonAsciiByteCountsAsSigned)
{
    // 0xE9 as signed 8-bit is -23.
    EXPECT_EQ(static_cast<uint32_t>(-23), sysHashStr("\xE9"));
    // "a\xE9": 97 + (-23 << 3) = 97 - 184.
    EXPECT_EQ(static_cast<uint32_t>(97 - 184), sysHashStr("a\xE9"));
}

TEST(SysHashStr, WrapsModulo32Bits)
{
    std::string s(64, '\x7f');
    uint32_t nSum = 0;
    for (int i = 0; i < 64; i++)
        nSum += 0x7Fu << (3 * (i % 8));
    EXPECT_EQ(nSum, sysHashStr(s.c_str()));
}

TEST(SysHashStr, CompareIsByteEquality)
{
    std::string a = "name", b = "name";
    EXPECT_EQ(1, sysHashStrCmp(a.c_str(), b.c_str()));
    EXPECT_EQ(0, sysHashStrCmp("name", "names"));
    EXPECT_EQ(0, sysHashStrCmp("Name", "name"));
    EXPECT_EQ(1, sysHashStrCmp("", ""));
    EXPECT_EQ(0, sysHashStrCmp("x", nullptr));
}

TEST(SysHashId, IdentityCompare)
{
    EXPECT_EQ(1, sysHashIdCmp(reinterpret_cast<void *>(7), reinterpret_cast<void *>(7)));
    EXPECT_EQ(0, sysHashIdCmp(reinterpret_cast<void *>(7), reinterpret_cast<void *>(8)));
}
