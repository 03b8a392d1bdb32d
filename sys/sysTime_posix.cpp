// Time base and high-resolution time values. The counter is CLOCK_MONOTONIC
// in nanoseconds.
#include "sysTime.h"

#include <climits>
#include <ctime>

namespace {

constexpr int64_t kCounterFrequency = 1000000000;

sysTimeBase_t g_timeBase = {0, {}, 0, kCounterFrequency};

int64_t readCounter()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

void sysTimeInit(void)
{
    g_timeBase.tCalendar = time(nullptr);
    localtime_r(&g_timeBase.tCalendar, &g_timeBase.tmLocal);
    g_timeBase.nFrequency = kCounterFrequency;
    g_timeBase.nBase = readCounter();
}

const sysTimeBase_t *sysTimeBase(void)
{
    return &g_timeBase;
}

sysTimeVal_t sysTimeNow(void)
{
    return readCounter();
}

// Computed in 128 bits so that long intervals do not overflow.
int64_t sysTimeElapsedUs(sysTimeVal_t a, sysTimeVal_t b)
{
    __int128 nUs = (static_cast<__int128>(b) - a) * 1000000 / kCounterFrequency;
    if (nUs > INT64_MAX)
        return INT64_MAX;
    if (nUs < INT64_MIN)
        return INT64_MIN;
    return static_cast<int64_t>(nUs);
}

int sysTimeCompare(sysTimeVal_t a, sysTimeVal_t b)
{
    return a > b ? 1 : (a == b ? 0 : -1);
}

int64_t sysMonotonicNs(void)
{
    int64_t nCount = readCounter();
    int64_t nSec = nCount / kCounterFrequency;
    int64_t nRem = nCount % kCounterFrequency;
    return nSec * 1000000000 + nRem * 1000000000 / kCounterFrequency;
}
