// Local variables of an activation: array locals get fresh cells and a copy
// of their sizes, elementary locals keep the cell their slot already holds,
// then the initialisers run.
#include "eval/krvEvalFrame.h"

int krvEvalSlotOwnCells(krvSlot_t *pSlot, int32_t nCells)
{
    if (!KRV_IS_VAR_REF(pSlot->dbd) && pSlot->pData && pSlot->nCells == nCells) {
        for (int32_t i = 0; i < nCells; i++)
            krvEvalSetInt(&pSlot->pData[i], 0);
    } else {
        if (!KRV_IS_VAR_REF(pSlot->dbd) && pSlot->pData && pSlot->nCells > 0)
            krvFreeValues(pSlot->pData, pSlot->nCells);
        pSlot->pData = nullptr;
        pSlot->nCells = 0;
        if (nCells > 0) {
            pSlot->pData = krvAllocValues(nCells);
            if (!pSlot->pData)
                return -1;
            pSlot->nCells = nCells;
        }
    }
    pSlot->dbd = KRV_DBD_ELEMENT;
    return 0;
}

bool krvEvalSlotMakeElementary(krvSlot_t *pSlot)
{
    if (pSlot->bOwnSizes) {
        free(pSlot->pASizes);
        pSlot->bOwnSizes = 0;
    }
    pSlot->pASizes = nullptr;
    pSlot->pType = nullptr;
    return krvEvalSlotOwnCells(pSlot, 1) == 0;
}

// Gives the slot its own copy of a plain size descriptor.
static int ownSizes(krvSlot_t *pSlot, const int32_t *pSizes)
{
    int n = krvDescDims(pSizes);
    size_t nLen = static_cast<size_t>(krvDescLen(n)) * sizeof(int32_t);
    if (pSlot->bOwnSizes && krvDescDims(pSlot->pASizes) == n && !KRV_IS_VAR_REF(pSlot->dbd)) {
        memcpy(pSlot->pASizes, pSizes, nLen);
        return 0;
    }
    if (pSlot->bOwnSizes)
        free(pSlot->pASizes);
    pSlot->pASizes = static_cast<int32_t *>(malloc(nLen));
    pSlot->bOwnSizes = pSlot->pASizes != nullptr;
    if (!pSlot->pASizes)
        return -1;
    memcpy(pSlot->pASizes, pSizes, nLen);
    return 0;
}

int krvEvalSetupLocals(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, int32_t nFrameTop, const krvAPTN_t *pAt)
{
    krvEvalState_t *pSt = pEnv->pEval;
    for (krvVar_t *pL = pFunc->pLocals; pL; pL = pL->link) {
        krvSlot_t *pSlot = krvEvalSlot(pSt, nFrameTop - pL->stoffset);
        krvStruct_t *pType = pL->pType;
        int64_t nElem = pType ? pType->nSize : 1;
        if (KRV_IS_VAR_ARRAY(pL->dbd)) {
            const int32_t *pSizes = pL->arrSize.pSizes;
            int64_t nCells = pSizes ? nElem * krvDescCount(pSizes) : 0;
            if (nCells > INT32_MAX || krvEvalSlotOwnCells(pSlot, static_cast<int32_t>(nCells)) != 0 ||
                (pSizes && ownSizes(pSlot, pSizes) != 0)) {
                krvErrorAt(KRV_RTE_DEPTH, pEnv, pAt, "Out of memory for local variable %s.", pL->szName);
                return 0;
            }
            pSlot->dbd = pL->dbd;
            pSlot->pType = pType;
            continue;
        }
        if (!pType && pSlot->dbd == KRV_DBD_ELEMENT && !pSlot->pType && pSlot->nCells == 1 && pSlot->pData)
            continue;                     // keeps its cell and the value left in it
        if (pSlot->bOwnSizes) {
            free(pSlot->pASizes);
            pSlot->bOwnSizes = 0;
        }
        pSlot->pASizes = nullptr;
        if (krvEvalSlotOwnCells(pSlot, static_cast<int32_t>(nElem)) != 0) {
            krvErrorAt(KRV_RTE_DEPTH, pEnv, pAt, "Out of memory for local variable %s.", pL->szName);
            return 0;
        }
        pSlot->pType = pType;
    }
    return 1;
}

int krvEvalInitLocals(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, uint32_t *pFl)
{
    krvEvalState_t *pSt = pEnv->pEval;
    for (krvVar_t *pL = pFunc->pLocals; pL; pL = pL->link) {
        if (!pL->pInitExpr || KRV_IS_VAR_ARRAY(pL->dbd) || pL->pType)
            continue;
        krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - pL->stoffset);
        if (!krvEvalValue(pEnv, pFunc, pL->pInitExpr, pSlot->pData, pFl))
            return 0;
    }
    return 1;
}
