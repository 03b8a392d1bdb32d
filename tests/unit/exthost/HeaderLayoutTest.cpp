// The table the host builds: every service slot filled, the interpreter's
// directory in slots 2-65.
#include <cstring>

#include "exthostTestSupport.h"

namespace {

using HostTableTest = ExtHostTest;

void *slot(const krvHostTable_t &t, int n)
{
    void *p;
    memcpy(&p, reinterpret_cast<const char *>(&t) + n * 8, sizeof(p));
    return p;
}

TEST_F(HostTableTest, EveryServiceSlotIsFilled)
{
    EXPECT_NE(slot(host, 0), nullptr);
    EXPECT_NE(slot(host, 1), nullptr);
    for (int n = 66; n < 113; n++)
        EXPECT_NE(slot(host, n), nullptr) << "slot " << n;
}

TEST_F(HostTableTest, SlotsSitAtTheirFixedPositions)
{
    EXPECT_EQ(slot(host, 68), reinterpret_cast<void *>(host.pfnAddFunc));
    EXPECT_EQ(slot(host, 102), reinterpret_cast<void *>(host.pfnIsHandle));
    EXPECT_EQ(slot(host, 112), reinterpret_cast<void *>(host.pfnRewind));
    EXPECT_EQ(reinterpret_cast<const char *>(&host.szIntpDir) - reinterpret_cast<const char *>(&host), 16);
}

TEST_F(HostTableTest, IntpDirIsTheProgramFolderWithoutTrailingSlash)
{
    EXPECT_STREQ(host.szIntpDir, "/opt/korvel/bin");
    setProgPath("korvel");
    krvBuildHostTable(&host);
    EXPECT_STREQ(host.szIntpDir, "");
    setProgPath("/korvel");
    krvBuildHostTable(&host);
    EXPECT_STREQ(host.szIntpDir, "");
}

TEST_F(HostTableTest, MiscSlots)
{
    EXPECT_STREQ(host.pfnGetSlashStr(), "/");
    EXPECT_EQ(host.pfnGetZero(), 0);
    void *p = host.pfnMalloc(32);
    ASSERT_NE(p, nullptr);
    memset(p, 1, 32);
    host.pfnFree(p);
}

TEST_F(HostTableTest, ConsoleOutputGoesThroughTheHostRecord)
{
    EXPECT_EQ(host.pfnPrintf("%s=%d\n", "x", 42), 5);
    EXPECT_EQ(host.pfnErrPrintf("err %s\n", "y"), 6);
    EXPECT_EQ(takeOutput(), "x=42\nerr y\n");
    std::string longText(3000, 'a');
    EXPECT_EQ(host.pfnPrintf("%s", longText.c_str()), 3000);
    EXPECT_EQ(takeOutput(), longText);
}

}  // namespace
