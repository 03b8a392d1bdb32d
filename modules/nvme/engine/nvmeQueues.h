// Submission and completion queue records: allocation with their DMA rings,
// resizing that never shrinks DMA memory, and release at teardown.
#pragma once
#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

// A CQ of nSize 16-byte entries with a zeroed ring; null (and a log line)
// when the ring cannot be had.
NvmeCQ *nvmeAllocCQ(NvmeEngine &eng, NvmeCntl *pCntl, uint16_t qID, uint32_t nSize);
// An SQ of nSize 64-byte entries with its lock, zeroed ring, trace ring,
// histogram and command pool, registered as an SQ handle; on any failure
// everything made so far is released and null returned.
NvmeSQ *nvmeAllocSQ(NvmeEngine &eng, NvmeCntl *pCntl, uint16_t qID, uint32_t nSize);

// A size that is not larger only changes nSize; a larger one gets a new
// zeroed ring (and, for an SQ, a new command pool) and releases the old one
// after success. False leaves the queue as it was.
bool nvmeResizeCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ, uint32_t nNewSize);
bool nvmeResizeSQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSQ *pSQ, uint32_t nNewSize);

void nvmeFreeCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ);
void nvmeFreeSQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSQ *pSQ);

} // namespace kxmnvme
