// dumpTrace and cleanTrace: the trace rings of one SQ, or of a controller
// (its event ring merged with the rings of its SQs), newest first.
#pragma once
#include <cstdint>

#include "nvmeRecords.h"
#include "nvmeTextOut.h"
#include "nvmeTime.h"

namespace kxmnvme {

// Rows of one SQ's ring, under the SQ's queue lock. nMaxRows <= 0: all.
// A queue lock that stays held (an I/O SQ whose Create I/O SQ command has
// not been post-processed yet) is waited for half a second; the ring is
// then read without it.
void nvmeDumpTraceSQ(const NvmeTimeBase &base, NvmeSQ *pSQ, int64_t nMaxRows, NvmeTextOut &out);
// The controller's event ring and the rings of all its SQs that exist and
// are not deleted, merged by start time (newest first; on equal times the
// event ring, then the SQs by ascending id). Under the controller's lock
// and the queue locks of those SQs, taken in ascending id.
void nvmeDumpTraceCntl(const NvmeTimeBase &base, NvmeCntl *pCntl, int64_t nMaxRows, NvmeTextOut &out);

// Empty the rings: one SQ's under its queue lock; a controller's event
// ring under its lock and every SQ's ring under that SQ's lock as well.
void nvmeCleanTraceSQ(NvmeSQ *pSQ);
void nvmeCleanTraceCntl(NvmeCntl *pCntl);

} // namespace kxmnvme
