#include "sysTime.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>

namespace {

int64_t wallUs(void (*pSleep)(int64_t), int64_t n)
{
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    pSleep(n);
    clock_gettime(CLOCK_MONOTONIC, &b);
    return (b.tv_sec - a.tv_sec) * 1000000 + (b.tv_nsec - a.tv_nsec) / 1000;
}

} // namespace

TEST(SysSleep, NonPositiveReturnsAtOnce)
{
    EXPECT_LT(wallUs(sysSleepMs, 0), 5000);
    EXPECT_LT(wallUs(sysSleepMs, -5), 5000);
    EXPECT_LT(wallUs(sysSleepMs, INT64_MIN), 5000);
    EXPECT_LT(wallUs(sysSleepUs, 0), 5000);
    EXPECT_LT(wallUs(sysSleepUs, -1), 5000);
}

TEST(SysSleep, SleepsAtLeastN)
{
    EXPECT_GE(wallUs(sysSleepMs, 30), 30000);
    EXPECT_GE(wallUs(sysSleepUs, 2500), 2500);
    EXPECT_GE(wallUs(sysSleepMs, 1), 1000);
}

TEST(SysTime, BaseAndFrequency)
{
    sysTimeInit();
    const sysTimeBase_t *b = sysTimeBase();
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(1000000000, b->nFrequency);
    EXPECT_NEAR(static_cast<double>(time(nullptr)), static_cast<double>(b->tCalendar), 5.0);
    EXPECT_GE(b->tmLocal.tm_year, 100);
    EXPECT_LE(b->nBase, sysTimeNow());
    int64_t ns = sysMonotonicNs();
    EXPECT_LE(ns, sysMonotonicNs());
}

TEST(SysTime, ElapsedAndCompare)
{
    EXPECT_EQ(1, sysTimeElapsedUs(0, 1000));
    EXPECT_EQ(0, sysTimeElapsedUs(0, 999));         // integer division
    EXPECT_EQ(-2, sysTimeElapsedUs(5000, 3000));
    EXPECT_EQ(3000000, sysTimeElapsedUs(1000000000, 4000000000));
    // Ten hours of nanoseconds do not overflow.
    const int64_t nTenHoursNs = 36000LL * 1000000000;
    EXPECT_EQ(36000LL * 1000000, sysTimeElapsedUs(7, 7 + nTenHoursNs));
    EXPECT_EQ(1, sysTimeCompare(5, 4));
    EXPECT_EQ(0, sysTimeCompare(4, 4));
    EXPECT_EQ(-1, sysTimeCompare(-4, 4));
    sysTimeVal_t t0 = sysTimeNow();
    sysSleepMs(20);
    EXPECT_GE(sysTimeElapsedUs(t0, sysTimeNow()), 20000);
    EXPECT_EQ(-1, sysTimeCompare(t0, sysTimeNow()));
}
