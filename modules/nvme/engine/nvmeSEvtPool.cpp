#include "nvmeSEvtPool.h"

#include "nvmeEngine.h"

namespace kxmnvme {

NvmeSEvtRscMgr *nvmeSEvtPoolCreate(NvmeEngine &eng)
{
    NvmeSEvtRscMgr *pMgr = new (std::nothrow) NvmeSEvtRscMgr;
    if (!pMgr)
        return nullptr;
    for (NvmeSEvt &e : pMgr->recs)
        pMgr->free.append(&e);
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
    NvmeSEvt *p = pMgr->free.take();
    if (!p)
        return nullptr;
    p->bTimedOut = 0;
    p->pTrace = nullptr;
    return p;
}

void nvmeSEvtGiveBack(NvmeSEvtRscMgr *pMgr, NvmeSEvt *pEvt)
{
    std::lock_guard<std::mutex> g(pMgr->lock);
    if (!pEvt->bFree)
        pMgr->free.append(pEvt);
}

} // namespace kxmnvme
