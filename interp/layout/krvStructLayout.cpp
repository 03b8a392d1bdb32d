// Structure sizes and member offsets, computed depth first; a structure met
// again while it is being laid out contains itself.
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "model/krvArrDesc.h"
#include "layout/krvLayout.h"

namespace {

struct LayoutPass {
    krvEnv_t *pEnv;
    int nFailed = 0;

    void report(int nId, const krvVar_t *pAt, const std::string &sText)
    {
        krvErrorAtPos(nId, pEnv, pAt->nFileIdx, pAt->nLine, "%s", sText.c_str());
        if (pEnv && pEnv->finfo)
            pEnv->finfo->nErrors++;
    }

    // Returns the size, or a negative value when S cannot be laid out.
    int32_t layout(krvStruct_t *pS)
    {
        if (pS->nSize >= 0 || pS->nSize == KRV_STRUCT_SIZE_BAD)
            return pS->nSize;
        if (pS->nSize == KRV_STRUCT_SIZE_BUSY)
            return KRV_STRUCT_SIZE_BUSY;
        if (!pS->pMembers) {
            pS->nSize = 1;
            return 1;
        }
        pS->nSize = KRV_STRUCT_SIZE_BUSY;
        int64_t nTotal = 0;
        bool bOk = true;
        for (krvVar_t *pMd = pS->pMembers; pMd; pMd = pMd->link) {
            pMd->nMbrOffset = static_cast<int32_t>(nTotal < INT32_MAX ? nTotal : INT32_MAX);
            int64_t nElems = 1;
            if (KRV_IS_VAR_ARRAY(pMd->dbd) && pMd->arrSize.pSizes && pMd->dbd != KRV_DBD_ARRAY_TBA)
                nElems = krvDescCount(pMd->arrSize.pSizes);
            int64_t nElemSize = 1;
            if (!pMd->nt.tname && pMd->pType) {
                int32_t nSub = layout(pMd->pType);
                if (nSub == KRV_STRUCT_SIZE_BUSY) {
                    report(143, pMd, std::string("structure ") + pS->szName + " contains itself through member " +
                                        pMd->szName);
                    bOk = false;
                    break;
                }
                if (nSub < 0) {
                    bOk = false;       // reported where the loop was found
                    break;
                }
                nElemSize = nSub;
            } else if (pMd->nt.tname) {
                bOk = false;           // type never bound (reported by resolution)
                break;
            }
            nTotal += nElems * nElemSize;
            if (nTotal > INT32_MAX) {
                report(144, pMd, std::string("structure ") + pS->szName + " is too large at member " + pMd->szName);
                bOk = false;
                break;
            }
        }
        if (!bOk) {
            pS->nSize = KRV_STRUCT_SIZE_BAD;
            nFailed++;
            return KRV_STRUCT_SIZE_BAD;
        }
        pS->nSize = static_cast<int32_t>(nTotal);
        return pS->nSize;
    }

    void walk(krvNamespace_t *pNs)
    {
        // Both lists are taken before any layout work runs.
        std::vector<void *> structs = krvNsTableElems(pNs->structs);
        std::vector<void *> children = krvNsTableElems(pNs->nss);
        for (void *p : structs)
            layout(static_cast<krvStruct_t *>(p));
        for (void *p : children)
            walk(static_cast<krvNamespace_t *>(p));
    }
};

}  // namespace

int krvSolveStructSizeOffset(krvNamespace_t *pNs, krvEnv_t *pEnv)
{
    LayoutPass pass{pEnv};
    pass.walk(pNs ? pNs : krvGlobalNs());
    return pass.nFailed;
}
