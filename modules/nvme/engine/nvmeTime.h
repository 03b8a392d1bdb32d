// The module's time base and the text forms of its time stamps.
//
// Time values are readings of the monotonic high-resolution counter
// (sysTimeNow). The base pairs one reading with the calendar time, both
// taken when the module is loaded; a value's calendar time is the base's
// plus the elapsed counter time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "sysTime.h"

namespace kxmnvme {

// End time of a record that has not finished yet.
constexpr sysTimeVal_t NVME_TIME_NOT_FINISHED = 17;

struct NvmeTimeBase {
    time_t tCalendar = 0;     // seconds
    long nCalendarUs = 0;     // microseconds within that second
    sysTimeVal_t nCounter = 0;

    static NvmeTimeBase now();
};

enum NvmeTimeForm {
    NVME_TS_TRACE = 0,     // "yy/mm/dd hh:mm:ss.uuuuuu"
    NVME_TS_LOG = 1,       // "yy/mm/dd hh:mm:ss.mmm"
    NVME_TS_DATE = 2,      // "yyyy/mm/dd hh:mm:ss"
    NVME_TS_FILE = 3,      // "yyyy-mm-dd_hhmmss"
};

// Writes the text of time value tv in the given form into sz (at least 32
// bytes); returns sz.
char *nvmeTimeStampText(char *sz, size_t nSize, const NvmeTimeBase &base, sysTimeVal_t tv, int nForm);

} // namespace kxmnvme
