// Recording into the trace rings and the execution-time histogram. These
// run on the command path (builders and completion pollers): they allocate
// nothing and take no lock shared with other queues, only the lock of the
// one trace slot they write.
#pragma once
#include <cstdint>

#include "nvmeRecords.h"

namespace kxmnvme {

// Execution time standing for "not finished yet".
constexpr int64_t NVME_EXE_TIME_UNKNOWN = 9999999999ll;

// Event codes of the controller's event ring.
enum NvmeTraceEvent : uint32_t {
    NVME_EVT_FL_RST = 1,
    NVME_EVT_CNTL_RST = 2,
    NVME_EVT_NVMSS_RST = 3,
    NVME_EVT_PCIE_HOT_RST = 4,
    NVME_EVT_POWER_OFF = 11,
    NVME_EVT_POWER_ON = 12,
    NVME_EVT_SHUTDOWN_NTF = 21,
};

// "Unknown" for a code without a name.
const char *nvmeEvtName(uint32_t nEvent);

// Opens the next slot of the SQ's trace ring for a command being submitted
// and advances the ring. The caller holds the SQ's queue lock. Null when the
// SQ has no ring.
NvmeCmdTraceRec *nvmeTraceOpen(NvmeSQ *pSQ, const nvmewire::Sqe &cmd, uint8_t nCmdSet, sysTimeVal_t tStart);
// Stamps a command's completion into its slot, unless the slot has been
// reused or emptied since the command was opened (tStart tells).
void nvmeTraceClose(NvmeCmdTraceRec *pRec, sysTimeVal_t tStart, sysTimeVal_t tEnd, uint32_t nDw0, uint16_t nStatus);

// Histogram bin of an execution time, or -1 for a time that is not counted
// (negative, or 256 s and longer).
int32_t nvmeHistBin(int64_t nExeUs);
// Counts one execution time into the SQ's histogram.
void nvmeHistAdd(NvmeSQ *pSQ, int64_t nExeUs);

// Opens the next slot of the controller's event ring. The caller holds the
// controller's lock (lock order: controller, event pool, trace slot); it is
// taken again here, recursively, so a caller without it is safe as well as
// long as it holds no event pool lock. Null when the controller has no ring.
NvmeEvtTraceRec *nvmeEvtTraceOpen(NvmeCntl *pCntl, uint32_t nEvent, uint32_t nValue, sysTimeVal_t tStart);
void nvmeEvtTraceClose(NvmeEvtTraceRec *pRec, sysTimeVal_t tStart, sysTimeVal_t tEnd, bool bTimedOut);

// End minus start in microseconds; NVME_EXE_TIME_UNKNOWN when the end holds
// the not-finished mark. An end before the start is a fatal internal error.
int64_t nvmeExeTimeUs(sysTimeVal_t tStart, sysTimeVal_t tEnd);

// Empty the rings (the counters and histograms are kept). The caller holds
// the SQ's queue lock, or the controller's lock for the event ring.
void nvmeTraceClean(NvmeCmdTraceMgr *pMgr);
void nvmeEvtTraceClean(NvmeEvtTraceMgr *pMgr);

} // namespace kxmnvme
