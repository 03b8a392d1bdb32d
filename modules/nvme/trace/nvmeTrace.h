// Recording into the trace rings and the execution-time histogram.
#pragma once
#include <cstdint>

#include "nvmeRecords.h"

namespace kxmnvme {

// At submission, under the SQ's queue lock: the next slot of the SQ's ring,
// filled and marked in use (end = the not-finished mark).
NvmeCmdTraceRec *nvmeTraceOpen(NvmeSQ *pSQ, const nvmewire::Sqe &cmd, uint8_t nCmdSet, sysTimeVal_t tStart);
// At completion: stamps the slot if it still holds the command that started
// at tStart.
void nvmeTraceClose(NvmeCmdTraceRec *pRec, sysTimeVal_t tStart, sysTimeVal_t tEnd, uint32_t nDw0, uint16_t nStatus);
// One count in the bin of an execution time in microseconds.
void nvmeHistAdd(NvmeSQ *pSQ, int64_t nExeUs);

} // namespace kxmnvme
