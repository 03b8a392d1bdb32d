// checkIntegrity: a report of whether the engine's records of a controller
// or an SQ agree with each other. Meaningful with the idle flag only when no
// command is in flight.
#pragma once
#include "nvmeRecords.h"
#include "nvmeTextOut.h"

namespace kxmnvme {

class NvmeEngine;

// Each prints its report and returns true when every check passed.
bool nvmeCheckSQ(NvmeEngine &eng, NvmeSQ *pSQ, bool bIdle, NvmeTextOut &out, const char *szIndent = "");
bool nvmeCheckCntl(NvmeEngine &eng, NvmeCntl *pCntl, bool bIdle, NvmeTextOut &out);

} // namespace kxmnvme
