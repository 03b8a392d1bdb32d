#include "nvmeNsLinks.h"

#include <algorithm>

#include "nvmeEngine.h"

namespace kxmnvme {

NvmeNs *nvmeNewNs(NvmeEngine &eng, uint32_t nsid)
{
    NvmeNs *pNs = new (std::nothrow) NvmeNs;
    if (!pNs)
        return nullptr;
    pNs->nsid = nsid;
    eng.registry.add(&pNs->hdr, NVME_KIND_NS);
    return pNs;
}

void nvmeFreeNs(NvmeEngine &eng, NvmeNs *pNs)
{
    if (!pNs)
        return;
    eng.registry.remove(&pNs->hdr);
    delete pNs;
}

void nvmeBindNs(NvmeNs *pNs, NvmeCntl *pCntl)
{
    pNs->users.push_back(pCntl);
    pCntl->usedNs.push_back(pNs);
}

bool nvmeUnbindNs(NvmeNs *pNs, NvmeCntl *pCntl)
{
    auto it = std::find(pNs->users.begin(), pNs->users.end(), pCntl);
    if (it == pNs->users.end())
        return false;
    pNs->users.erase(it);
    auto jt = std::find(pCntl->usedNs.begin(), pCntl->usedNs.end(), pNs);
    if (jt != pCntl->usedNs.end())
        pCntl->usedNs.erase(jt);
    return true;
}

NvmeNs *nvmeFirstUsedNs(NvmeCntl *pCntl)
{
    return pCntl->usedNs.empty() ? nullptr : pCntl->usedNs.front();
}

NvmeNs *nvmeNsById(NvmeDev *pDev, uint32_t nsid)
{
    return nsid >= 1 && nsid <= NVME_MAX_NS_NUM ? pDev->namespaces[nsid] : nullptr;
}

NvmeCntl *nvmeCntlByCntlId(NvmeDev *pDev, uint16_t nCntlId)
{
    for (uint16_t i = 0; i < pDev->nFuncNum && i < NVME_MAX_FUNC_NUM; i++)
        if (pDev->cntls[i] && pDev->cntls[i]->nCntlIdCopy == nCntlId)
            return pDev->cntls[i];
    return nullptr;
}

} // namespace kxmnvme
