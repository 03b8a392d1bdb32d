// What the evaluator's units share: cell copies, the cells that prepared
// references name, and operands read in place.
#pragma once
#include <array>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

#include "eval/krvEval.h"
#include "eval/krvEvalOps.h"
#include "model/krvArrDesc.h"

// Copies a cell; strings are duplicated (into the target's own text buffer
// when it is large enough). false when out of memory.
static inline bool krvEvalCopy(krvValue_t *pDst, const krvValue_t *pSrc)
{
    if (pSrc->type != KRV_DT_STRING && pDst->type != KRV_DT_STRING) {
        pDst->type = pSrc->type;
        pDst->val.uRaw = pSrc->val.uRaw;
        return true;
    }
    if (pSrc->type == KRV_DT_STRING && pDst->type == KRV_DT_STRING) {
        if (pSrc->val.pStr == pDst->val.pStr)
            return true;
        size_t n = strlen(pSrc->val.pStr) + 1;
        if (malloc_usable_size(pDst->val.pStr) >= n) {
            memcpy(pDst->val.pStr, pSrc->val.pStr, n);
            return true;
        }
    }
    return krvSetDataByData(pDst, pSrc) == 0;
}

static inline void krvEvalSetInt(krvValue_t *pCell, int64_t n)
{
    if (pCell->type == KRV_DT_STRING) [[unlikely]]
        free(pCell->val.pStr);
    pCell->type = KRV_DT_INTEGER;
    pCell->val.nInt = n;
}

static inline void krvEvalSetFloat(krvValue_t *pCell, double d)
{
    if (pCell->type == KRV_DT_STRING)
        free(pCell->val.pStr);
    pCell->type = KRV_DT_FLOAT;
    pCell->val.dFloat = d;
}

// Frees a temporary's text.
static inline void krvEvalDrop(krvValue_t *pCell)
{
    if (pCell->type == KRV_DT_STRING) {
        free(pCell->val.pStr);
        pCell->type = KRV_DT_INTEGER;
        pCell->val.uRaw = 0;
    }
}

static inline void krvEvalZero(krvValue_t *pCell)
{
    pCell->type = KRV_DT_INTEGER;
    pCell->val.uRaw = 0;
}

// Failed, or exit was executed.
static inline bool krvEvalFailed(int ok, const uint32_t *pFl)
{
    return !ok || (*pFl & KRV_XCPT_EXIT);
}

// The function of every operation (krvEvalStmt.cpp). The evaluator's units
// dispatch through it at each place of their own (krvEvalDispatch), which
// lets the processor tell the places apart; krvEval_APTN is the same for
// the rest of the interpreter.
typedef int (*krvEvalOpFn_t)(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                             krvValue_t *pResult, uint32_t *pFl);
extern const std::array<krvEvalOpFn_t, KRV_EOP_COUNT> g_krvEvalOps;
static inline int krvEvalDispatch(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                                  krvValue_t *pResult, uint32_t *pFl)
{
    return g_krvEvalOps[pNode->nEvalKind](pEnv, pFunc, pNode, pszTag, pResult, pFl);
}

// Evaluates a node into pResult (the dispatcher without a tag out-parameter,
// for expressions). 1, or 0 on failure or exit.
static inline int krvEvalValue(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult,
                               uint32_t *pFl)
{
    const char *szTag = nullptr;
    return !krvEvalFailed(krvEvalDispatch(pEnv, pFunc, pNode, &szTag, pResult, pFl), pFl);
}

// "Debug: " run-time check failure of an unbound reference.
void krvEvalUnbound(krvEnv_t *pEnv, const krvAPTN_t *pRef, const char *szWhat);
// The same for a variable without storage; returns NULL.
krvValue_t *krvEvalNoStorage(krvEnv_t *pEnv, const krvAPTN_t *pRef);
// Index errors of one-index references (reported at the index); NULL.
krvValue_t *krvEvalIndexIllegal(krvEnv_t *pEnv, const krvAPTN_t *pIdx, const krvVar_t *pVar);
krvValue_t *krvEvalIndexRange(krvEnv_t *pEnv, const krvAPTN_t *pIdx, int64_t nIdx, int32_t nSize);

// Truth of a condition: the payload is not zero, whatever the type.
static inline bool krvEvalTrue(const krvValue_t *pCell)
{
    return pCell->val.uRaw != 0;
}

// The cell of frame slot nSlot of the running activation.
static inline krvValue_t *krvEvalFrameCell(krvEnv_t *pEnv, const krvAPTN_t *pRef, int32_t nSlot)
{
    krvValue_t *pCell = pEnv->pEval->pFrame[-nSlot].pData;
    if (!pCell) [[unlikely]]
        return krvEvalNoStorage(pEnv, pRef);
    return pCell;
}

// A temporary for an operand: its cell, and whether the cell's text is the
// temporary's own (a literal's text read in place is not).
struct krvOpnd_t {
    krvValue_t v;
    bool bOwned;
};
static inline void krvEvalOpndDrop(krvOpnd_t *pT)
{
    if (pT->bOwned)
        krvEvalDrop(&pT->v);
}
const krvValue_t *krvEvalOperand(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvOpnd_t *pTmp,
                                 bool bInPlace, uint32_t *pFl);

// The element a one-index reference names (KRV_EOP_ELEM): storage, the
// index checked against the dimension, then the member. *ppType receives
// the element's structure type. NULL after a report.
__attribute__((noinline)) static krvValue_t *krvEvalElemCell(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pRef,
                                                             krvStruct_t **ppType, uint32_t *pFl)
{
    krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    krvValue_t *pBase;
    const int32_t *pDesc;
    krvStruct_t *pType;
    bool bView = false;
    if (pVar->isGlobal) {
        pBase = pVar->pData;
        pDesc = pVar->arrSize.pSizes;
        pType = pVar->pType;
    } else {
        const krvSlot_t *pSlot = pEnv->pEval->pFrame - pRef->nEvalArg;
        pBase = pSlot->pData;
        pDesc = pSlot->pASizes;
        pType = pSlot->pType;
        bView = KRV_IS_VAR_REF(pSlot->dbd);
    }
    if (!pBase || !pDesc) [[unlikely]]
        return krvEvalNoStorage(pEnv, pRef);
    krvAPTN_t *pIdx = pRef->u.varRef.pIndexes;
    krvOpnd_t t;
    const krvValue_t *pI = krvEvalOperand(pEnv, pFunc, pIdx, &t, true, pFl);
    if (!pI)
        return nullptr;
    if (pI->type != KRV_DT_INTEGER) [[unlikely]] {
        krvEvalOpndDrop(&t);
        return krvEvalIndexIllegal(pEnv, pIdx, pVar);
    }
    int64_t nIdx = pI->val.nInt;
    krvDescDim_t d = krvDescDim(pDesc, bView, 0);
    if (nIdx < 0 || nIdx >= d.nSize) [[unlikely]]
        return krvEvalIndexRange(pEnv, pIdx, nIdx, d.nSize);
    krvValue_t *pCell = pBase + (d.nStart + nIdx) * static_cast<int64_t>(d.nStride) * (pType ? pType->nSize : 1);
    if (const krvAPTN_t *pM = pRef->u.varRef.pMember) {
        pCell += pM->u.varRef.pVarPtr->nMbrOffset;
        pType = pM->u.varRef.pVarPtr->pType;
    }
    *ppType = pType;
    return pCell;
}

// The cell a prepared reference names (for the general locator: the first
// cell of the element), with its structure type; NULL after a report.
__attribute__((always_inline)) static inline krvValue_t *krvEvalCellOf(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pRef, krvStruct_t **ppType,
                                        uint32_t *pFl)
{
    *ppType = nullptr;
    switch (pRef->nEvalKind) {
    case KRV_EOP_LOCAL:
        return krvEvalFrameCell(pEnv, pRef, pRef->nEvalArg);
    case KRV_EOP_GLOBAL:
        return pRef->u.varRef.pVarPtr->pData;
    case KRV_EOP_OBJ_MEMBER: {
        krvValue_t *pObj = krvEvalFrameCell(pEnv, pRef, pRef->nEvalArg);
        return pObj ? pObj + pRef->u.varRef.pMember->u.varRef.pVarPtr->nMbrOffset : nullptr;
    }
    case KRV_EOP_ELEM:
        return krvEvalElemCell(pEnv, pFunc, pRef, ppType, pFl);
    default: {
        krvLoc_t loc;
        if (!krvEvalLocate(pEnv, pFunc, pRef, &loc, pFl))
            return nullptr;
        *ppType = loc.pType;
        return loc.pCell;
    }
    }
}

// An operand's value: read in place (bInPlace, while no cell is shared
// between threads) when the node is a literal, a constant or a reference,
// else evaluated into *pTmp. The result must only be read; pTmp is to be
// dropped afterwards (krvEvalOpndDrop). NULL on failure or exit.
__attribute__((always_inline)) inline const krvValue_t *krvEvalOperand(krvEnv_t *pEnv, krvFuncInfo_t *pFunc,
                                                                        krvAPTN_t *pNode, krvOpnd_t *pTmp,
                                                                        bool bInPlace, uint32_t *pFl)
{
    krvEvalZero(&pTmp->v);
    pTmp->bOwned = false;
    if (bInPlace && !krvEvalCellsShared()) {
        switch (pNode->nEvalKind) {
        case KRV_EOP_INT:
            pTmp->v.val.nInt = pNode->u.nIntConst;
            return &pTmp->v;
        case KRV_EOP_LOCAL:
        case KRV_EOP_GLOBAL:
        case KRV_EOP_OBJ_MEMBER:
        case KRV_EOP_ELEM: {
            krvStruct_t *pType;
            return krvEvalCellOf(pEnv, pFunc, pNode, &pType, pFl);
        }
        case KRV_EOP_CONST:
            return pNode->u.varRef.pCid->pData;
        case KRV_EOP_STR:
            // The literal's text is read where it is, not copied.
            pTmp->v.type = KRV_DT_STRING;
            pTmp->v.val.pStr = pNode->u.szStrConst;
            return &pTmp->v;
        default:
            break;
        }
    }
    pTmp->bOwned = true;
    if (!krvEvalValue(pEnv, pFunc, pNode, &pTmp->v, pFl)) {
        krvEvalDrop(&pTmp->v);
        return nullptr;
    }
    return &pTmp->v;
}
