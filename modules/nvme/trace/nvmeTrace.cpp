#include "nvmeTrace.h"

#include <mutex>

namespace kxmnvme {

NvmeCmdTraceRec *nvmeTraceOpen(NvmeSQ *pSQ, const nvmewire::Sqe &cmd, uint8_t nCmdSet, sysTimeVal_t tStart)
{
    NvmeCmdTraceMgr *pMgr = pSQ->pQCmdTraceMgr;
    if (!pMgr)
        return nullptr;
    NvmeCmdTraceRec *pRec = &pMgr->recs[pMgr->nNext];
    {
        std::lock_guard<NvmeSlotLock> g(pRec->lock);
        pRec->cmd = cmd;
        pRec->tStart = tStart;
        pRec->tEnd = NVME_TIME_NOT_FINISHED;
        pRec->nDw0 = 0;
        pRec->nStatus = 0;
        pRec->nFlags = NVME_TRACE_IN_USE;
        pRec->nCmdSet = nCmdSet;
    }
    pMgr->nNext = (pMgr->nNext + 1) % NVME_CMD_TRACE_NUM;
    return pRec;
}

void nvmeTraceClose(NvmeCmdTraceRec *pRec, sysTimeVal_t tStart, sysTimeVal_t tEnd, uint32_t nDw0, uint16_t nStatus)
{
    std::lock_guard<NvmeSlotLock> g(pRec->lock);
    if (pRec->tStart != tStart)
        return;
    pRec->tEnd = tEnd;
    pRec->nDw0 = nDw0;
    pRec->nStatus = nStatus;
    pRec->nFlags |= NVME_TRACE_COMPLETED;
}

void nvmeHistAdd(NvmeSQ *pSQ, int64_t nExeUs)
{
    if (!pSQ->pHist || nExeUs < 0)
        return;
    uint32_t nBin;
    if (nExeUs < 10000)
        nBin = static_cast<uint32_t>(nExeUs);
    else if (nExeUs < 10000000)
        nBin = NVME_HIST_US_BINS + static_cast<uint32_t>(nExeUs / 1000);
    else if (nExeUs < 256000000)
        nBin = NVME_HIST_US_BINS + NVME_HIST_MS_BINS + static_cast<uint32_t>(nExeUs / 1000000);
    else
        return;
    pSQ->pHist[nBin].fetch_add(1, std::memory_order_relaxed);
}

} // namespace kxmnvme
