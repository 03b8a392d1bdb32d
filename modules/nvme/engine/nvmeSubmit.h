// Command submission: the skeleton every builder shares. A builder fills
// an entry (every field but the CID and the data pointer), names its data
// buffer and post-processing, and the skeleton takes a command record,
// applies the data-pointer rule, copies the entry to the ring at tail,
// stamps and traces it, rings the doorbell and counts the opcode. Nothing
// is allocated on this path.
#pragma once
#include <cstdint>

#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

struct NvmeCmdReq {
    nvmewire::Sqe cmd{};           // CID and data pointer are set by the skeleton
    uint8_t nCmdSet = 0;           // 0 NVM/admin, 1 key-value, 2 zoned (trace)
    NvmeBuf *pBuf = nullptr;       // data buffer, or null
    uint32_t nXferLen = 0;         // bytes the command moves through pBuf
    NvmePPReq pp;                  // post-processing (admin commands)
    uint32_t nBlocksRead = 0;      // added to the SQ's block counters when built
    uint32_t nBlocksWritten = 0;
};

// The skeleton itself; the caller holds the SQ's queue lock. EC_NONE with
// *ppCmd, or EC_SQ_FULL (queue full or no command record left).
int32_t nvmeBuildCmd(NvmeEngine &eng, NvmeSQ *pSQ, const NvmeCmdReq &req, CmdRR **ppCmd);

// What a script function calls: takes the SQ's queue lock, refuses a queue
// that is not active (EC_SQ_DELETED), builds, releases the lock.
int32_t nvmeSubmit(NvmeEngine &eng, NvmeSQ *pSQ, const NvmeCmdReq &req, CmdRR **ppCmd);

// Data pointer of a command that moves nXferLen bytes through pBuf: PRP1 and
// PRP2 (or the PRP list) of a PRP buffer, the SGL descriptor of an SGL
// buffer.
void nvmeBufSetDataPtr(const NvmeBuf *pBuf, uint32_t nXferLen, nvmewire::Sqe &cmd);

} // namespace kxmnvme
