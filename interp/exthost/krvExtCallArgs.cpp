// Argument kinds of an extension call, by-reference cells, and the
// temporary reference records of array and structure arguments.
#include <cstdlib>
#include <cstring>

#include "exthost/krvExtCallArgs.h"

int krvExtArgKind(const krvFuncInfo_t *pExt, int i)
{
    uint32_t nBit = i < 32 ? 1u << i : 0u;
    int nKind = 0;
    if (pExt->refMask & nBit)
        nKind |= KRV_EXT_ARG_REF;
    if (pExt->arrMask & nBit)
        nKind |= KRV_EXT_ARG_ARRAY;
    if (pExt->structMask & nBit)
        nKind |= KRV_EXT_ARG_STRUCT;
    return nKind;
}

void krvExtTempRefClear(krvExtTempRef_t *pRef)
{
    free(pRef->var.arrSize.pSizes);
    memset(pRef, 0, sizeof *pRef);
}

static const char *argName(const krvAPTN_t *pArg)
{
    return pArg->u.varRef.szName ? pArg->u.varRef.szName : "";
}

static void bindNode(krvExtTempRef_t *pRef, const krvAPTN_t *pArg, const krvLoc_t *pLoc)
{
    pRef->node.nKind = krvAPTNType_varRef;
    pRef->node.nFileIdx = pArg->nFileIdx;
    pRef->node.nLine = pArg->nLine;
    pRef->node.u.varRef.szName = pArg->u.varRef.szName;
    pRef->node.u.varRef.pVarPtr = &pRef->var;
    pRef->var.szName = pLoc->pLastVar && pLoc->pLastVar->szName ? pLoc->pLastVar->szName : pArg->u.varRef.szName;
    pRef->var.nFileIdx = pArg->nFileIdx;
    pRef->var.nLine = pArg->nLine;
}

int krvExtArrayRef(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg, krvExtTempRef_t *pRef, uint32_t *pFl)
{
    krvLoc_t loc;
    krvWindow_t win;
    if (!krvEvalArgWindow(pEnv, pCur, pArg, &loc, &win, pFl))
        return 0;
    int n = win.nDims;
    if (n < 1) {
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "%s is not an array variable.", argName(pArg));
        return 0;
    }
    int32_t *pV = krvWindowNewView(&win);
    if (!pV) {
        krvErrorAt(KRV_RTE_DEPTH, pEnv, pArg, "Out of memory for the call's arguments.");
        return 0;
    }
    bindNode(pRef, pArg, &loc);
    pRef->var.dbd = KRV_DBD_FIXARR_REF;
    pRef->var.pType = loc.pType;
    pRef->var.pData = win.pBase;
    pRef->var.arrSize.pSizes = pV;
    return 1;
}

int krvExtStructRef(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg, krvExtTempRef_t *pRef, uint32_t *pFl)
{
    krvLoc_t loc;
    if (!krvEvalLocate(pEnv, pCur, pArg, &loc, pFl))
        return 0;
    if (!loc.pType || !loc.pCell || (KRV_IS_VAR_ARRAY(loc.dbd) && !loc.pIndexes)) {
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "%s is not a structure variable.", argName(pArg));
        return 0;
    }
    bindNode(pRef, pArg, &loc);
    pRef->var.dbd = KRV_DBD_ELEMENT;
    pRef->var.pType = loc.pType;
    pRef->var.pData = loc.pCell;
    return 1;
}

krvValue_t *krvExtRefCell(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg, uint32_t *pFl)
{
    krvLoc_t loc;
    if (!krvEvalLocate(pEnv, pCur, pArg, &loc, pFl))
        return nullptr;
    return loc.pCell;
}
