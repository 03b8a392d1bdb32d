#include "nvmeTime.h"

#include <cstdio>
#include <sys/time.h>

namespace kxmnvme {

NvmeTimeBase NvmeTimeBase::now()
{
    NvmeTimeBase b;
    struct timeval tvNow;
    gettimeofday(&tvNow, nullptr);
    b.nCounter = sysTimeNow();
    b.tCalendar = tvNow.tv_sec;
    b.nCalendarUs = tvNow.tv_usec;
    return b;
}

char *nvmeTimeStampText(char *sz, size_t nSize, const NvmeTimeBase &base, sysTimeVal_t tv, int nForm)
{
    // Elapsed time may be negative for a value taken before the base.
    const int64_t nUs = sysTimeElapsedUs(base.nCounter, tv) + base.nCalendarUs;
    int64_t nSec = nUs / 1000000;
    int64_t nFrac = nUs % 1000000;
    if (nFrac < 0) {
        nFrac += 1000000;
        nSec -= 1;
    }
    const time_t t = base.tCalendar + static_cast<time_t>(nSec);
    struct tm tmv;
    localtime_r(&t, &tmv);
    const int nYear = tmv.tm_year + 1900;
    switch (nForm) {
    case NVME_TS_TRACE:
        snprintf(sz, nSize, "%02d/%02d/%02d %02d:%02d:%02d.%06d", nYear % 2000, tmv.tm_mon + 1, tmv.tm_mday,
                 tmv.tm_hour, tmv.tm_min, tmv.tm_sec, static_cast<int>(nFrac));
        break;
    case NVME_TS_LOG:
        snprintf(sz, nSize, "%02d/%02d/%02d %02d:%02d:%02d.%03d", nYear % 2000, tmv.tm_mon + 1, tmv.tm_mday,
                 tmv.tm_hour, tmv.tm_min, tmv.tm_sec, static_cast<int>(nFrac / 1000));
        break;
    case NVME_TS_DATE:
        snprintf(sz, nSize, "%04d/%02d/%02d %02d:%02d:%02d", nYear, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour,
                 tmv.tm_min, tmv.tm_sec);
        break;
    default:
        snprintf(sz, nSize, "%04d-%02d-%02d_%02d%02d%02d", nYear, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour,
                 tmv.tm_min, tmv.tm_sec);
        break;
    }
    return sz;
}

} // namespace kxmnvme
