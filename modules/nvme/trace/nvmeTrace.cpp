#include "nvmeTrace.h"

#include <mutex>

#include "sysFatal.h"

namespace kxmnvme {

const char *nvmeEvtName(uint32_t nEvent)
{
    switch (nEvent) {
    case NVME_EVT_FL_RST: return "FL Rst";
    case NVME_EVT_CNTL_RST: return "Ctrlr Rst";
    case NVME_EVT_NVMSS_RST: return "NVM SS Rst";
    case NVME_EVT_PCIE_HOT_RST: return "PCIe Hot Rst";
    case NVME_EVT_POWER_OFF: return "Power Off";
    case NVME_EVT_POWER_ON: return "Power On";
    case NVME_EVT_SHUTDOWN_NTF: return "Shutdown Ntf";
    default: return "Unknown";
    }
}

NvmeCmdTraceRec *nvmeTraceOpen(NvmeSQ *pSQ, const nvmewire::Sqe &cmd, uint8_t nCmdSet, sysTimeVal_t tStart)
{
    NvmeCmdTraceMgr *pMgr = pSQ->pQCmdTraceMgr;
    if (!pMgr)
        return nullptr;
    const uint32_t nNext = pMgr->nNext.load(std::memory_order_relaxed);
    NvmeCmdTraceRec *pRec = &pMgr->recs[nNext];
    pRec->lock.lock();
    pRec->cmd = cmd;
    pRec->tStart = tStart;
    pRec->tEnd = NVME_TIME_NOT_FINISHED;
    pRec->nDw0 = 0;
    pRec->nFlags = NVME_TRACE_IN_USE;
    pRec->nCmdSet = nCmdSet;
    pRec->nStatus = 0;
    pRec->lock.unlock();
    pMgr->nNext.store(nNext + 1 < NVME_CMD_TRACE_NUM ? nNext + 1 : 0, std::memory_order_release);
    return pRec;
}

void nvmeTraceClose(NvmeCmdTraceRec *pRec, sysTimeVal_t tStart, sysTimeVal_t tEnd, uint32_t nDw0, uint16_t nStatus)
{
    if (!pRec)
        return;
    pRec->lock.lock();
    if ((pRec->nFlags & NVME_TRACE_IN_USE) && pRec->tStart == tStart) {
        pRec->tEnd = tEnd;
        pRec->nDw0 = nDw0;
        pRec->nStatus = nStatus;
        pRec->nFlags |= NVME_TRACE_COMPLETED;
    }
    pRec->lock.unlock();
}

int32_t nvmeHistBin(int64_t nExeUs)
{
    if (nExeUs < 0)
        return -1;
    if (nExeUs < 10000)
        return static_cast<int32_t>(nExeUs);
    if (nExeUs < 10000000)
        return static_cast<int32_t>(NVME_HIST_US_BINS + nExeUs / 1000);
    if (nExeUs < 256000000)
        return static_cast<int32_t>(NVME_HIST_US_BINS + NVME_HIST_MS_BINS + nExeUs / 1000000);
    return -1;
}

void nvmeHistAdd(NvmeSQ *pSQ, int64_t nExeUs)
{
    const int32_t nBin = nvmeHistBin(nExeUs);
    if (nBin >= 0 && pSQ->pHist)
        pSQ->pHist[nBin].fetch_add(1, std::memory_order_relaxed);
}

NvmeEvtTraceRec *nvmeEvtTraceOpen(NvmeCntl *pCntl, uint32_t nEvent, uint32_t nValue, sysTimeVal_t tStart)
{
    std::lock_guard<std::recursive_mutex> guard(pCntl->lock);
    NvmeEvtTraceMgr *pMgr = pCntl->pSEvtTraceMgr;
    if (!pMgr)
        return nullptr;
    NvmeEvtTraceRec *pRec = &pMgr->recs[pMgr->nNext];
    pRec->lock.lock();
    pRec->nEvent = nEvent;
    pRec->nValue = nValue;
    pRec->bInUse = 1;
    pRec->bTimedOut = 0;
    pRec->tStart = tStart;
    pRec->tEnd = NVME_TIME_NOT_FINISHED;
    pRec->lock.unlock();
    pMgr->nNext = pMgr->nNext + 1 < NVME_EVT_TRACE_NUM ? pMgr->nNext + 1 : 0;
    return pRec;
}

void nvmeEvtTraceClose(NvmeEvtTraceRec *pRec, sysTimeVal_t tStart, sysTimeVal_t tEnd, bool bTimedOut)
{
    if (!pRec)
        return;
    pRec->lock.lock();
    if (pRec->bInUse && pRec->tStart == tStart) {
        pRec->tEnd = tEnd;
        pRec->bTimedOut = bTimedOut ? 1 : 0;
    }
    pRec->lock.unlock();
}

int64_t nvmeExeTimeUs(sysTimeVal_t tStart, sysTimeVal_t tEnd)
{
    if (tEnd == NVME_TIME_NOT_FINISHED)
        return NVME_EXE_TIME_UNKNOWN;
    if (sysTimeCompare(tEnd, tStart) < 0)
        sysFatal("\"%s\" line %d: assertion (%s) fails\n", "nvmeTrace", __LINE__,
                 "sysTimeValueCompare(pet, pst) >= 0");
    return sysTimeElapsedUs(tStart, tEnd);
}

void nvmeTraceClean(NvmeCmdTraceMgr *pMgr)
{
    if (!pMgr)
        return;
    for (NvmeCmdTraceRec &r : pMgr->recs) {
        r.lock.lock();
        r.nFlags = 0;
        r.tStart = 0;
        r.tEnd = 0;
        r.lock.unlock();
    }
    pMgr->nNext.store(0, std::memory_order_release);
}

void nvmeEvtTraceClean(NvmeEvtTraceMgr *pMgr)
{
    if (!pMgr)
        return;
    for (NvmeEvtTraceRec &r : pMgr->recs) {
        r.lock.lock();
        r.bInUse = 0;
        r.tStart = 0;
        r.tEnd = 0;
        r.lock.unlock();
    }
    pMgr->nNext = 0;
}

} // namespace kxmnvme
