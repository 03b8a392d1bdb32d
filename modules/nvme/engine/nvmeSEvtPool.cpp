#include "nvmeSEvtPool.h"

#include "nvmeEngine.h"

namespace kxmnvme {

namespace {

void appendFree(NvmeSEvtRscMgr *pMgr, NvmeSEvt *p)
{
    p->bFree = 1;
    p->pNextFree = nullptr;
    if (pMgr->pTail)
        pMgr->pTail->pNextFree = p;
    else
        pMgr->pHead = p;
    pMgr->pTail = p;
}

} // namespace

NvmeSEvtRscMgr *nvmeSEvtPoolCreate(NvmeEngine &eng)
{
    NvmeSEvtRscMgr *pMgr = new (std::nothrow) NvmeSEvtRscMgr;
    if (!pMgr)
        return nullptr;
    for (NvmeSEvt &e : pMgr->recs)
        appendFree(pMgr, &e);
    eng.registry.add(&pMgr->recs[0].hdr, NVME_KIND_EVT, NVME_SEVT_NUM, sizeof(NvmeSEvt));
    return pMgr;
}

void nvmeSEvtPoolDestroy(NvmeEngine &eng, NvmeSEvtRscMgr *pMgr)
{
    if (!pMgr)
        return;
    eng.registry.remove(&pMgr->recs[0].hdr);
    delete pMgr;
}

NvmeSEvt *nvmeSEvtTake(NvmeSEvtRscMgr *pMgr)
{
    std::lock_guard<std::mutex> g(pMgr->lock);
    NvmeSEvt *p = pMgr->pHead;
    if (!p || !p->pNextFree)
        return nullptr;
    pMgr->pHead = p->pNextFree;
    p->pNextFree = nullptr;
    p->bFree = 0;
    p->bTimedOut = 0;
    p->pTrace = nullptr;
    return p;
}

void nvmeSEvtGiveBack(NvmeSEvtRscMgr *pMgr, NvmeSEvt *pEvt)
{
    std::lock_guard<std::mutex> g(pMgr->lock);
    if (!pEvt->bFree)
        appendFree(pMgr, pEvt);
}

} // namespace kxmnvme
