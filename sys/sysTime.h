// Time base, high-resolution time values and monotonic sleeps.
#pragma once
#include <cstdint>
#include <ctime>

typedef int64_t sysTimeVal_t;   // a reading of the high-resolution counter

struct sysTimeBase_t {
    time_t tCalendar;       // calendar time at initialisation, seconds
    struct tm tmLocal;      // its broken-down local form
    sysTimeVal_t nBase;     // counter reading at initialisation
    int64_t nFrequency;     // counter ticks per second
};

void sysTimeInit(void);
const sysTimeBase_t *sysTimeBase(void);
sysTimeVal_t sysTimeNow(void);
int64_t sysTimeElapsedUs(sysTimeVal_t a, sysTimeVal_t b);  // (b - a) in microseconds
int sysTimeCompare(sysTimeVal_t a, sysTimeVal_t b);        // 1, 0 or -1
int64_t sysMonotonicNs(void);

void sysSleepMs(int64_t n);   // returns at once for n <= 0
void sysSleepUs(int64_t n);
