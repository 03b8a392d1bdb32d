// The completion check of one command: its 64-bit status word.
//   bit 0      completed (cmdCplFlag)
//   bit 1      execution or waiting time beyond the command time-out (cmdToFlag)
//   bits 30:16 status field of the completion (SC, SCT, CRD, M, DNR)
//   bits 63:32 completion dword 0
#pragma once
#include <cstdint>

#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

constexpr int64_t NVME_CMD_CPL = 1;
constexpr int64_t NVME_CMD_TO = 2;
// Unanswered checks before a waiting command may be reported as timed out.
constexpr uint32_t NVME_CHECK_GRACE = 16;

// A completed command: its word; the execution time and DW0-DW3 when asked;
// an admin command's post-processing runs and the record goes back to its
// pool. An incomplete one: 0, or NVME_CMD_TO from the 17th check on once
// its waiting time passed the time-out.
int64_t nvmeCmdCheck(NvmeEngine &eng, CmdRR *pCmd, int64_t *pExeUs = nullptr, uint32_t *pDws = nullptr);

// Checks every millisecond until the word is not 0 (initialisation's
// waiting rule).
int64_t nvmeCmdWait(NvmeEngine &eng, CmdRR *pCmd);

} // namespace kxmnvme
