// User function and member function calls: frame, object, argument binding
// (by value and by reference; elementary values, structures, whole arrays
// and sub-range views), locals, the body and the return value.
#include <climits>
#include <cstdio>
#include <pthread.h>

#include "eval/krvEvalFrame.h"

int krvEvalNativeStackExhausted(krvEnv_t *pEnv, const krvAPTN_t *pAt)
{
    krvErrorAt(KRV_RTE_DEPTH, pEnv, pAt, "Too deep function calls; the native stack is exhausted.");
    return 1;
}

static const char *argName(const krvAPTN_t *pArg)
{
    return pArg->nKind == krvAPTNType_varRef && pArg->u.varRef.szName ? pArg->u.varRef.szName : "";
}

static int needVarRef(krvEnv_t *pEnv, const krvAPTN_t *pArg, const krvVar_t *pParam)
{
    if (pArg->nKind == krvAPTNType_varRef)
        return 1;
    krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "A variable is required for parameter %s.", pParam->szName);
    return 0;
}

static int outOfMemory(krvEnv_t *pEnv, const krvAPTN_t *pAt)
{
    krvErrorAt(KRV_RTE_DEPTH, pEnv, pAt, "Out of memory for the call's arguments.");
    return 0;
}

// Makes the slot a reference to cells it does not own.
static void makeRef(krvSlot_t *pSlot, uint8_t dbd, krvStruct_t *pType, krvValue_t *pData)
{
    if (!KRV_IS_VAR_REF(pSlot->dbd) && pSlot->pData && pSlot->nCells > 0)
        krvFreeValues(pSlot->pData, pSlot->nCells);
    if (pSlot->bOwnSizes)
        free(pSlot->pASizes);
    pSlot->bOwnSizes = 0;
    pSlot->pASizes = nullptr;
    pSlot->nCells = 0;
    pSlot->dbd = dbd;
    pSlot->pType = pType;
    pSlot->pData = pData;
}

__attribute__((noinline)) static int bindArray(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg, const krvVar_t *pParam, krvSlot_t *pSlot,
                     uint32_t *pFl)
{
    if (!needVarRef(pEnv, pArg, pParam))
        return 0;
    krvLoc_t loc;
    krvWindow_t win;
    if (!krvEvalArgWindow(pEnv, pCur, pArg, &loc, &win, pFl))
        return 0;
    const int32_t *pP = pParam->arrSize.pSizes;
    int n = win.nDims;
    if (krvDescDims(pP) != n) {
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "unmatched array dimension passed to parameter %s",
                   pParam->szName);
        return 0;
    }
    if (!KRV_IS_VAR_VSARR(pParam->dbd)) {
        for (int j = 0; j < n; j++) {
            int32_t nReal = krvDescDim(pP, false, j).nSize;
            if (win.aCount[j] != nReal) {
                int k = win.nLead + j;
                krvErrorAt(KRV_RTE_RANGE, pEnv, pArg, "%s: %d-%s index: size is evaled as %d, but real size is %d",
                           argName(pArg), k, krvOrdinalSuffix(k), win.aCount[j], nReal);
                return 0;
            }
        }
    }
    if (KRV_IS_VAR_REF(pParam->dbd)) {
        // A view over the caller's cells.
        int32_t *pV = krvWindowNewView(&win);
        if (!pV)
            return outOfMemory(pEnv, pArg);
        makeRef(pSlot, pParam->dbd, loc.pType, win.pBase);
        pSlot->pASizes = pV;
        pSlot->bOwnSizes = 1;
        return 1;
    }
    // By value: a new array of the window's sizes holding copies.
    int64_t nCount = krvWindowCount(&win);
    int64_t nCells = nCount * win.nElemSize;
    if (nCells > INT32_MAX)
        return outOfMemory(pEnv, pArg);
    int32_t *pNew = static_cast<int32_t *>(malloc(static_cast<size_t>(krvDescLen(n)) * sizeof(int32_t)));
    if (!pNew)
        return outOfMemory(pEnv, pArg);
    krvDescFill(pNew, n, win.aCount);
    if (KRV_IS_VAR_REF(pSlot->dbd))
        makeRef(pSlot, KRV_DBD_ELEMENT, nullptr, nullptr);
    if (pSlot->bOwnSizes)
        free(pSlot->pASizes);
    pSlot->pASizes = pNew;
    pSlot->bOwnSizes = 1;
    if (krvEvalSlotOwnCells(pSlot, static_cast<int32_t>(nCells)) != 0)
        return outOfMemory(pEnv, pArg);
    for (int64_t i = 0; i < nCount; i++) {
        krvValue_t *pSrc = krvWindowElem(&win, i);
        krvValue_t *pDst = pSlot->pData + i * win.nElemSize;
        for (int32_t c = 0; c < win.nElemSize; c++) {
            krvCellGuard guard(&pSrc[c]);
            if (!krvEvalCopy(&pDst[c], &pSrc[c]))
                return outOfMemory(pEnv, pArg);
        }
    }
    pSlot->dbd = pParam->dbd;
    pSlot->pType = loc.pType;
    return 1;
}

// Parameters by reference and structures by value.
__attribute__((noinline)) static int bindVariable(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg,
                                                  const krvVar_t *pParam, krvSlot_t *pSlot, uint32_t *pFl)
{
    if (KRV_IS_VAR_REF(pParam->dbd)) {
        if (!needVarRef(pEnv, pArg, pParam))
            return 0;
        krvLoc_t loc;
        if (!krvEvalLocate(pEnv, pCur, pArg, &loc, pFl))
            return 0;
        makeRef(pSlot, pParam->dbd, pParam->pType, loc.pCell);
        return 1;
    }
    if (krvStruct_t *pType = pParam->pType) {
        if (!needVarRef(pEnv, pArg, pParam))
            return 0;
        krvLoc_t loc;
        if (!krvEvalLocate(pEnv, pCur, pArg, &loc, pFl))
            return 0;
        if (pSlot->bOwnSizes) {
            free(pSlot->pASizes);
            pSlot->bOwnSizes = 0;
        }
        pSlot->pASizes = nullptr;
        if (KRV_IS_VAR_REF(pSlot->dbd))
            makeRef(pSlot, KRV_DBD_ELEMENT, nullptr, nullptr);
        if (krvEvalSlotOwnCells(pSlot, pType->nSize) != 0)
            return outOfMemory(pEnv, pArg);
        for (int32_t c = 0; c < pType->nSize; c++) {
            krvCellGuard guard(&loc.pCell[c]);
            if (!krvEvalCopy(&pSlot->pData[c], &loc.pCell[c]))
                return outOfMemory(pEnv, pArg);
        }
        pSlot->dbd = pParam->dbd;
        pSlot->pType = pType;
        return 1;
    }
    return 0;
}

static inline int bindOne(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg, const krvVar_t *pParam,
                          krvSlot_t *pSlot, uint32_t *pFl)
{
    if (pParam->dbd != KRV_DBD_ELEMENT || pParam->pType) [[unlikely]] {
        if (KRV_IS_VAR_ARRAY(pParam->dbd))
            return bindArray(pEnv, pCur, pArg, pParam, pSlot, pFl);
        if (KRV_IS_VAR_REF(pParam->dbd) || pParam->pType)
            return bindVariable(pEnv, pCur, pArg, pParam, pSlot, pFl);
    }
    // Elementary by value: evaluated straight into the slot's one cell.
    if (!krvEvalSlotElementary(pSlot))
        return outOfMemory(pEnv, pArg);
    return krvEvalInto(pEnv, pCur, pArg, pSlot->pData, pFl);
}

__attribute__((cold, noinline)) static int unboundCall(krvEnv_t *pEnv, krvAPTN_t *pCall)
{
    char szText[300];
    snprintf(szText, sizeof szText, "not solve function call to %s",
             pCall->u.usrCall.szName ? pCall->u.usrCall.szName : "");
    krvEvalUnbound(pEnv, pCall, szText);
    return 0;
}

// The object of a member function call.
__attribute__((noinline)) static int bindObject(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pCall,
                                                const krvFuncInfo_t *pF, int32_t nNewTop, uint32_t *pFl)
{
    krvAPTN_t *pObjRef = pCall->u.usrCall.objRef;
    krvStruct_t *pType = nullptr;
    krvValue_t *pObj = nullptr;
    if (!pObjRef)
        krvEvalUnbound(pEnv, pCall, "member function call without object");
    else if (pObjRef->nKind == krvAPTNType_varRef)
        pObj = krvEvalCellOf(pEnv, pCur, pObjRef, &pType, pFl);
    if (!pObj)
        return 0;
    krvSlot_t *pSlot = krvEvalSlot(pEnv->pEval, nNewTop - pF->obj->stoffset);
    uint8_t dbd = static_cast<uint8_t>((pF->obj->dbd & ~KRV_DBD_ARRAY_BIT) | KRV_DBD_REF_BIT);
    makeRef(pSlot, dbd, pType, pObj);
    return 1;
}

int krvEvalCallUsrFunc(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl)
{
    krvFuncInfo_t *pF = pCall->u.usrCall.pFuncPtr;
    if (!pF || pF->type != KRV_USR_FUNC_TYPE) [[unlikely]]
        return unboundCall(pEnv, pCall);
    krvEvalState_t *pSt = pEnv->pEval;
    if (krvEvalNativeStackLow(pEnv, pCall))
        return 0;
    int32_t nFrame = pF->nAutoVarNum;
    int32_t nSavedTop = pSt->top;
    int32_t nSavedFrameTop = pSt->nFrameTop;
    int32_t nNewTop = nSavedTop + nFrame;
    if (krvEvalStackReserve(pEnv, nNewTop + 2, pCall) != 0)
        return 0;
    // Calls made while the arguments are evaluated go above this frame.
    pSt->top = nNewTop;
    int ok = 1;
    if (pF->obj)
        ok = bindObject(pEnv, pCur, pCall, pF, nNewTop, pFl);
    krvAPTN_t *pArg = pCall->u.usrCall.pArgs;
    if (ok) {
        krvSlot_t *pTop = krvEvalSlot(pSt, nNewTop);
        for (krvVar_t *pP = pF->pParams; pP && pArg; pP = pP->link, pArg = pArg->next) {
            if (!bindOne(pEnv, pCur, pArg, pP, pTop - pP->stoffset, pFl)) {
                ok = 0;
                break;
            }
        }
    }
    if (ok && pF->pLocals)
        ok = krvEvalSetupLocals(pEnv, pF, nNewTop, pCall);
    if (ok) {
        krvEvalSetFrame(pEnv, nNewTop);
        if (pF->pLocals)
            ok = krvEvalInitLocals(pEnv, pF, pFl);
        if (ok) {
            krvEvalSetInt(pResult, 0);
            ok = krvEvalFuncBody(pEnv, pF, pF->pBody, pResult, pFl);
        }
    }
    krvEvalSetFrame(pEnv, nSavedFrameTop);
    pSt->top = nSavedTop;
    return ok;
}
