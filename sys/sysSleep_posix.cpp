// Sleeps on the monotonic clock until a deadline, in bounded pieces.
#include "sysTime.h"

#include <algorithm>
#include <climits>
#include <ctime>

namespace {

constexpr int64_t kMaxPieceNs = 10LL * 24 * 3600 * 1000000000;

void sleepNs(int64_t n, int64_t nUnitNs)
{
    if (n <= 0)
        return;
    int64_t nNow = sysMonotonicNs();
    int64_t nDeadline = INT64_MAX;
    if (n <= INT64_MAX / nUnitNs && nNow <= INT64_MAX - n * nUnitNs)
        nDeadline = nNow + n * nUnitNs;
    while (nNow < nDeadline) {
        int64_t nPiece = std::min(nDeadline - nNow, kMaxPieceNs);
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(nPiece / 1000000000);
        ts.tv_nsec = static_cast<long>(nPiece % 1000000000);
        // An interrupted piece is simply followed by the next one.
        clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, nullptr);
        nNow = sysMonotonicNs();
    }
}

} // namespace

void sysSleepMs(int64_t n)
{
    sleepNs(n, 1000000);
}

void sysSleepUs(int64_t n)
{
    sleepNs(n, 1000);
}
