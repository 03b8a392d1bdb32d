// Helpers shared by the evaluator's units: fast paths for the commonest
// nodes and cell copies that avoid the general dispatcher.
#pragma once
#include <cstdlib>
#include <cstring>
#include <malloc.h>

#include "eval/krvEval.h"

// Copies a cell; strings are duplicated (into the target's own text buffer
// when it is large enough). 0, or -1 when out of memory.
static inline int krvEvalCopy(krvValue_t *pDst, const krvValue_t *pSrc)
{
    if (pSrc->type != KRV_DT_STRING && pDst->type != KRV_DT_STRING) {
        pDst->type = pSrc->type;
        pDst->val.uRaw = pSrc->val.uRaw;
        return 0;
    }
    if (pSrc->type == KRV_DT_STRING && pDst->type == KRV_DT_STRING && pSrc != pDst) {
        size_t n = strlen(pSrc->val.pStr) + 1;
        if (malloc_usable_size(pDst->val.pStr) >= n) {
            memcpy(pDst->val.pStr, pSrc->val.pStr, n);
            return 0;
        }
    }
    return krvSetDataByData(pDst, pSrc) == 0 ? 0 : -1;
}

static inline void krvEvalSetInt(krvValue_t *pCell, int64_t n)
{
    if (pCell->type == KRV_DT_STRING)
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

// The cell of a plain elementary reference (no indices, no members), or
// NULL when the reference needs the general locator.
static inline krvValue_t *krvEvalPlainCell(krvEnv_t *pEnv, const krvAPTN_t *pRef)
{
    if (pRef->u.varRef.pIndexes || pRef->u.varRef.pMember)
        return nullptr;
    krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    if (!pVar)
        return nullptr;
    if (pVar->isGlobal)
        return pVar->dbd == KRV_DBD_ELEMENT && !pVar->pType ? pVar->pData : nullptr;
    krvEvalState_t *pSt = pEnv->pEval;
    krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - pVar->stoffset);
    return (pSlot->dbd & ~KRV_DBD_REF_BIT) == 0 && !pSlot->pType ? pSlot->pData : nullptr;
}

// The element cell of a one-index reference to a plain one-dimensional
// elementary array whose index is a literal or a plain integer variable,
// when the index is in range; NULL otherwise (the general locator then
// evaluates and reports). Reading the index has no side effects, so using
// this path instead of evaluating the index again changes nothing.
static inline krvValue_t *krvEvalFastElem(krvEnv_t *pEnv, const krvAPTN_t *pRef)
{
    const krvAPTN_t *pIdx = pRef->u.varRef.pIndexes;
    if (!pIdx || pIdx->next || pRef->u.varRef.pMember)
        return nullptr;
    krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    if (!pVar)
        return nullptr;
    krvValue_t *pBase;
    const int32_t *pSizes;
    if (pVar->isGlobal) {
        if ((pVar->dbd != KRV_DBD_FIXARR && pVar->dbd != KRV_DBD_VSARR) || pVar->pType)
            return nullptr;
        pBase = pVar->pData;
        pSizes = pVar->arrSize.pSizes;
    } else {
        krvEvalState_t *pSt = pEnv->pEval;
        krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - pVar->stoffset);
        if ((pSlot->dbd != KRV_DBD_FIXARR && pSlot->dbd != KRV_DBD_VSARR) || pSlot->pType)
            return nullptr;
        pBase = pSlot->pData;
        pSizes = pSlot->pASizes;
    }
    if (!pBase || !pSizes || pSizes[0] != 1)
        return nullptr;
    int64_t n;
    if (pIdx->nKind == krvAPTNType_intConst) {
        n = pIdx->u.nIntConst;
    } else if (pIdx->nKind == krvAPTNType_varRef) {
        const krvValue_t *pCell = krvEvalPlainCell(pEnv, pIdx);
        if (!pCell || pCell->type != KRV_DT_INTEGER)
            return nullptr;
        n = pCell->val.nInt;
    } else {
        return nullptr;
    }
    if (n < 0 || n >= pSizes[1])
        return nullptr;
    return pBase + n;
}

// A cell that holds an operand's value without evaluating it: literals (in
// *pTmp, a string literal borrowed from the tree), named constants, plain
// variables and simple array elements. NULL when the node needs evaluation.
// The cell must only be read, and *pTmp must not be freed.
static inline const krvValue_t *krvEvalPeek(krvEnv_t *pEnv, const krvAPTN_t *pNode, krvValue_t *pTmp)
{
    // The two commonest kinds first, without the table jump.
    if (pNode->nKind == krvAPTNType_varRef) {
        if (const krvValue_t *p = krvEvalPlainCell(pEnv, pNode))
            return p;
        return krvEvalFastElem(pEnv, pNode);
    }
    if (pNode->nKind == krvAPTNType_intConst) {
        pTmp->type = KRV_DT_INTEGER;
        pTmp->val.nInt = pNode->u.nIntConst;
        return pTmp;
    }
    switch (pNode->nKind) {
    case krvAPTNType_intConst:
        pTmp->type = KRV_DT_INTEGER;
        pTmp->val.nInt = pNode->u.nIntConst;
        return pTmp;
    case krvAPTNType_floatConst:
        pTmp->type = KRV_DT_FLOAT;
        pTmp->val.dFloat = pNode->u.dFloatConst;
        return pTmp;
    case krvAPTNType_strConst:
        if (!pNode->u.szStrConst)
            return nullptr;
        pTmp->type = KRV_DT_STRING;
        pTmp->val.pStr = pNode->u.szStrConst;
        return pTmp;
    case krvAPTNType_cidRef:
        return pNode->u.varRef.pCid ? pNode->u.varRef.pCid->pData : nullptr;
    case krvAPTNType_varRef:
        if (const krvValue_t *p = krvEvalPlainCell(pEnv, pNode))
            return p;
        return krvEvalFastElem(pEnv, pNode);
    default:
        return nullptr;
    }
}

// Evaluates an operand into pResult with the common cases inline.
__attribute__((always_inline)) static inline int krvEvalNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult,
                              uint32_t *pFl)
{
    if (pNode->nKind == krvAPTNType_opExpr)
        return krvEvalExpr(pEnv, pFunc, pNode, pResult, pFl);
    switch (pNode->nKind) {
    case krvAPTNType_intConst:
        krvEvalSetInt(pResult, pNode->u.nIntConst);
        return 1;
    case krvAPTNType_varRef:
        if (krvValue_t *pCell = krvEvalPlainCell(pEnv, pNode) ?: krvEvalFastElem(pEnv, pNode)) {
            if (krvEvalCopy(pResult, pCell) != 0) {
                krvErrorAt(KRV_RTE_OPERATOR, pEnv, pNode, "Out of memory.");
                return 0;
            }
            return 1;
        }
        break;
    case krvAPTNType_opExpr:
        return krvEvalExpr(pEnv, pFunc, pNode, pResult, pFl);
    default:
        break;
    }
    const char *szTag = nullptr;
    return krvEval_APTN(pEnv, pFunc, pNode, &szTag, pResult, pFl);
}

// "Debug: " run-time check failure of an unbound reference.
void krvEvalUnbound(krvEnv_t *pEnv, const krvAPTN_t *pRef, const char *szWhat);
// Truth of a condition: the payload is not zero, whatever the type.
static inline bool krvEvalTrue(const krvValue_t *pCell)
{
    return pCell->val.uRaw != 0;
}
