// Helpers shared by the evaluator's units: fast paths for the commonest
// nodes and cell copies that avoid the general dispatcher.
#pragma once
#include <cstdlib>
#include <cstring>

#include "eval/krvEval.h"

// Copies a cell; strings are duplicated. 0, or -1 when out of memory.
static inline int krvEvalCopy(krvValue_t *pDst, const krvValue_t *pSrc)
{
    if (pSrc->type != KRV_DT_STRING && pDst->type != KRV_DT_STRING) {
        pDst->type = pSrc->type;
        pDst->val.uRaw = pSrc->val.uRaw;
        return 0;
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

// Evaluates an operand into pResult with the common cases inline.
static inline int krvEvalNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult,
                              uint32_t *pFl)
{
    switch (pNode->nKind) {
    case krvAPTNType_intConst:
        krvEvalSetInt(pResult, pNode->u.nIntConst);
        return 1;
    case krvAPTNType_varRef:
        if (krvValue_t *pCell = krvEvalPlainCell(pEnv, pNode)) {
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
