#include "nvmeCmdPool.h"

#include <cstring>

#include "nvmeEngine.h"

namespace kxmnvme {

uint32_t nvmeCmdPoolCount(uint32_t nSQSize)
{
    if (nSQSize <= 2048)
        return 4096;
    if (nSQSize <= 8192)
        return nSQSize + 4096;
    return nSQSize;
}

CmdRscMgr *nvmeCmdPoolCreate(NvmeEngine &eng, NvmeSQ *pSQ, uint32_t nSQSize)
{
    CmdRscMgr *pMgr = new (std::nothrow) CmdRscMgr;
    if (!pMgr)
        return nullptr;
    pMgr->nSQId = pSQ->qID;
    pMgr->nCount = nvmeCmdPoolCount(nSQSize);
    pMgr->pRecs = new (std::nothrow) CmdRR[pMgr->nCount];
    if (!pMgr->pRecs) {
        delete pMgr;
        return nullptr;
    }
    for (uint32_t i = 0; i < pMgr->nCount; i++) {
        CmdRR *p = &pMgr->pRecs[i];
        p->nSQId = pSQ->qID;
        p->nCID = static_cast<uint16_t>(i);
        p->pSQ = pSQ;
        pMgr->free.append(p);
    }
    eng.registry.add(&pMgr->pRecs[0].hdr, NVME_KIND_CMD, pMgr->nCount, sizeof(CmdRR));
    return pMgr;
}

void nvmeCmdPoolDestroy(NvmeEngine &eng, CmdRscMgr *pMgr)
{
    if (!pMgr)
        return;
    eng.registry.remove(&pMgr->pRecs[0].hdr);
    delete[] pMgr->pRecs;
    delete pMgr;
}

CmdRR *nvmeCmdTake(CmdRscMgr *pMgr)
{
    std::lock_guard<NvmeSlotLock> g(pMgr->lock);
    CmdRR *p = pMgr->free.take();
    if (!p)
        return nullptr;
    p->nPollCount = 0;
    p->nStatus = 0;
    p->bCompleted.store(0, std::memory_order_relaxed);
    p->pp = NvmePPReq{};
    p->cmd = nvmewire::Sqe{};
    return p;
}

void nvmeCmdGiveBack(CmdRscMgr *pMgr, CmdRR *pCmd)
{
    std::lock_guard<NvmeSlotLock> g(pMgr->lock);
    if (!pCmd->bFree)   // never enter a record twice
        pMgr->free.append(pCmd);
}

CmdRR *nvmeCmdFind(CmdRscMgr *pMgr, uint32_t nCID)
{
    return nCID < pMgr->nCount ? &pMgr->pRecs[nCID] : nullptr;
}

void nvmeCmdPoolReset(CmdRscMgr *pMgr)
{
    std::lock_guard<NvmeSlotLock> g(pMgr->lock);
    for (uint32_t i = 0; i < pMgr->nCount; i++)
        if (!pMgr->pRecs[i].bFree)
            pMgr->free.append(&pMgr->pRecs[i]);
}

uint32_t nvmeCmdPoolFreeNum(CmdRscMgr *pMgr)
{
    std::lock_guard<NvmeSlotLock> g(pMgr->lock);
    return pMgr->free.count();
}

} // namespace kxmnvme
