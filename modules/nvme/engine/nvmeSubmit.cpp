#include "nvmeSubmit.h"

#include <cstring>

#include "nvmeBuf.h"
#include "nvmeCmdPool.h"
#include "nvmeEngine.h"
#include "nvmePollers.h"
#include "nvmeTrace.h"

namespace kxmnvme {

void nvmeBufSetDataPtr(const NvmeBuf *pBuf, uint32_t nXferLen, nvmewire::Sqe &cmd)
{
    if (pBuf->nBufType == NVME_BUF_SGL) {
        cmd.setPsdt(nvmewire::PSDT_SGL_MPTR_ADDRESS);
        nvmewire::SglDesc d{};
        memcpy(&d, &pBuf->sgl, sizeof d);
        // The descriptor covers what the command moves, not the whole
        // buffer: a controller may refuse a data block longer than the
        // transfer (Data SGL Length Invalid).
        if (nXferLen > 0 && nXferLen < d.length)
            d.length = nXferLen;
        cmd.setSgl1(d);
    } else if (pBuf->nBufType == NVME_BUF_PRP) {
        cmd.setPsdt(nvmewire::PSDT_PRP);
        cmd.setPrp1(pBuf->nPRP1Entry);
        if (nXferLen <= pBuf->nSize_PRP1)
            cmd.setPrp2(0);
        else if (nXferLen <= pBuf->nSize_PRP12)
            cmd.setPrp2(pBuf->nPRP2Entry);
        else
            cmd.setPrp2(pBuf->PRP2List.nPointer);
    }
}

int32_t nvmeBuildCmd(NvmeEngine &eng, NvmeSQ *pSQ, const NvmeCmdReq &req, CmdRR **ppCmd)
{
    *ppCmd = nullptr;
    const uint32_t nTail = pSQ->nTail;
    const uint32_t nHead = __atomic_load_n(&pSQ->nHead, __ATOMIC_RELAXED);
    if ((nTail + 1) % pSQ->nSize == nHead)
        return EC_SQ_FULL;
    CmdRR *pCmd = nvmeCmdTake(pSQ->pQCmdRscMgr);
    if (!pCmd)
        return EC_SQ_FULL;
    pCmd->pp = req.pp;
    pCmd->cmd = req.cmd;
    pCmd->cmd.setCid(pCmd->nCID);
    pCmd->nCmdSet = req.nCmdSet;
    if (req.pBuf)
        nvmeBufSetDataPtr(req.pBuf, req.nXferLen, pCmd->cmd);

    memcpy(static_cast<char *>(pSQ->pEntries) + static_cast<size_t>(nTail) * 64, &pCmd->cmd, 64);
    pCmd->tSubmit = sysTimeNow();
    pCmd->pTrace = nvmeTraceOpen(pSQ, pCmd->cmd, req.nCmdSet, pCmd->tSubmit);
    pSQ->nTail = (nTail + 1) % pSQ->nSize;
    // Counted before the doorbell, so the poller cannot go to sleep between
    // the doorbell and the count.
    CqPoller *pPoller = nvmePollerOfSQ(pSQ);
    if (pPoller)
        pPoller->nInFlight.fetch_add(1, std::memory_order_relaxed);
    eng.platform()->mmioWrite32(pSQ->pCntl->device(), pSQ->nSQyTDBL, pSQ->nTail);
    if (pPoller)
        nvmePollerKick(pPoller);
    pSQ->aIssueCnt[pCmd->cmd.opc()]++;
    pSQ->nBlocksRead += req.nBlocksRead;
    pSQ->nBlocksWritten += req.nBlocksWritten;
    *ppCmd = pCmd;
    return EC_NONE;
}

int32_t nvmeSubmit(NvmeEngine &eng, NvmeSQ *pSQ, const NvmeCmdReq &req, CmdRR **ppCmd)
{
    *ppCmd = nullptr;
    pSQ->qLock.acquire();
    int32_t nErr = EC_SQ_DELETED;
    if (pSQ->nState == NVME_SQ_ACTIVE && eng.platform())
        nErr = nvmeBuildCmd(eng, pSQ, req, ppCmd);
    pSQ->qLock.release();
    return nErr;
}

} // namespace kxmnvme
