#include "sysPath.h"

#include <gtest/gtest.h>

TEST(SysVersionString, Formats)
{
    char buf[64];
    EXPECT_EQ(buf, sysVersionString(buf, 1, 2, 0, ""));
    EXPECT_STREQ("1.2.0", buf);
    EXPECT_STREQ("3.14.159-beta", sysVersionString(buf, 3, 14, 159, "-beta"));
    EXPECT_STREQ("0.0.-1", sysVersionString(buf, 0, 0, -1, nullptr));
}
