// Admin commands the engine sends on its own (bring-up, identify pass), as
// requests for the submission skeleton.
#pragma once
#include <cstdint>

#include "nvmeSubmit.h"

namespace kxmnvme {

NvmeCmdReq nvmeReqGetFeatures(uint32_t nCdw10, uint32_t nCdw11 = 0);
NvmeCmdReq nvmeReqSetFeatures(uint32_t nCdw10, uint32_t nCdw11);
// PRP1 = the ring's bus address; physically contiguous, no interrupts.
NvmeCmdReq nvmeReqCreateIOCQ(NvmeCQ *pCQ, uint16_t qID, uint32_t nSize);
// CDW11 = CQID << 16 | QPRIO << 1 | PC (1); CDW12 = NVMSETID.
NvmeCmdReq nvmeReqCreateIOSQ(NvmeSQ *pSQ, uint16_t qID, uint32_t nSize, uint16_t cqID, uint32_t nPrio = 0,
                             uint16_t nNvmSetId = 0);
// Identify: CDW10 = CNTID << 16 | CNS, 4096 bytes into pBuf.
NvmeCmdReq nvmeReqIdentify(uint32_t nCns, uint32_t nNsid, uint16_t nCntId, NvmeBuf *pBuf);

} // namespace kxmnvme
