// Storage of namespace variables and their constant initialisers.
#include <climits>
#include <vector>

#include "constexpr/krvConstExpr.h"
#include "layout/krvLayout.h"

static int allocOne(krvEnv_t *pEnv, krvNamespace_t *pNs, krvVar_t *pVar)
{
    if (pVar->pData)
        return 1;
    int64_t nCells = krvVarCellCount(pVar);
    krvValue_t *pCells = nCells >= 1 && nCells <= INT_MAX ? krvAllocValues(static_cast<int>(nCells)) : nullptr;
    if (!pCells) {
        krvError("\"%s\" line %d: fail to allocate memory for %s\n", krvEnvFileName(pEnv, pVar->nFileIdx),
                 pVar->nLine, pVar->szName ? pVar->szName : "");
        if (pEnv && pEnv->finfo)
            pEnv->finfo->nErrors++;
        return 0;
    }
    pVar->pData = pCells;
    if (nCells == 1 && !KRV_IS_VAR_ARRAY(pVar->dbd) && pVar->pInitExpr) {
        if (!krvEvalPPConstExpr(pEnv, pNs, pVar->pInitExpr, pCells)) {
            krvClearValue(pCells);
            if (pEnv && pEnv->finfo)
                pEnv->finfo->nErrors++;
        }
        krvFreeAPTN(pVar->pInitExpr);
        pVar->pInitExpr = nullptr;
    }
    return 1;
}

int krvAllocGlobalVars(krvEnv_t *pEnv, krvNamespace_t *pNs)
{
    if (!pNs)
        pNs = krvGlobalNs();
    for (void *p : krvNsTableElems(pNs->vars))
        if (!allocOne(pEnv, pNs, static_cast<krvVar_t *>(p)))
            return 0;
    for (void *p : krvNsTableElems(pNs->nss))
        if (!krvAllocGlobalVars(pEnv, static_cast<krvNamespace_t *>(p)))
            return 0;
    return 1;
}
