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

// The cell of a plain elementary reference without hint (no indices, no
// members), or NULL when the reference needs the general locator.
// An elementary slot whose cell the quick paths may use: the task's own
// cell, or (while no cell is shared) the cell a by-reference parameter
// reaches.
static inline bool krvEvalQuickSlot(const krvSlot_t *pSlot)
{
    return pSlot->dbd == KRV_DBD_ELEMENT || (pSlot->dbd == KRV_DBD_ELEMENT_REF && !krvEvalCellsShared());
}

static inline krvValue_t *krvEvalPlainCellNoHint(krvEnv_t *pEnv, const krvAPTN_t *pRef)
{
    if (pRef->u.varRef.pIndexes || pRef->u.varRef.pMember)
        return nullptr;
    krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    if (!pVar)
        return nullptr;
    if (pVar->isGlobal)
        return pVar->dbd == KRV_DBD_ELEMENT && !pVar->pType && !krvEvalCellsShared() ? pVar->pData : nullptr;
    krvEvalState_t *pSt = pEnv->pEval;
    krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - pVar->stoffset);
    return krvEvalQuickSlot(pSlot) && !pSlot->pType ? pSlot->pData : nullptr;
}

// The cell of a plain elementary reference (an elementary variable, or an
// elementary member of a member function's object), or NULL when the
// reference needs the general locator. The frame slot is checked all the
// same: a slot not set up as the hint expects goes the general way.
static inline krvValue_t *krvEvalPlainCell(krvEnv_t *pEnv, const krvAPTN_t *pRef)
{
    if (pRef->nHint == KRV_HINT_LOCAL) {
        krvEvalState_t *pSt = pEnv->pEval;
        krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - pRef->nHintArg);
        return krvEvalQuickSlot(pSlot) && !pSlot->pType ? pSlot->pData : nullptr;
    }
    switch (pRef->nHint) {
    case KRV_HINT_GLOBAL:
        return krvEvalCellsShared() ? nullptr : pRef->u.varRef.pVarPtr->pData;
    case KRV_HINT_OBJMBR: {
        if (krvEvalCellsShared())
            return nullptr;
        krvEvalState_t *pSt = pEnv->pEval;
        krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - pRef->nHintArg);
        if (pSlot->dbd != KRV_DBD_ELEMENT_REF || !pSlot->pType || !pSlot->pData)
            return nullptr;
        return pSlot->pData + pRef->u.varRef.pMember->u.varRef.pVarPtr->nMbrOffset;
    }
    case KRV_HINT_NONE:
        return krvEvalPlainCellNoHint(pEnv, pRef);
    default:
        return nullptr;
    }
}

// The element of a one-index reference to a plain one-dimensional array
// (an elementary element, or with bWhole a structure element as a whole,
// or an elementary member of a structure element) whose index is a literal
// or a plain integer variable, when the index is in range; NULL otherwise
// (the general locator then evaluates and reports). Reading the index has
// no side effects, so using this path instead of evaluating the index
// again changes nothing. *ppType receives the element's structure type.
static inline krvValue_t *krvEvalFastElemOf(krvEnv_t *pEnv, const krvAPTN_t *pRef, bool bWhole, krvStruct_t **ppType)
{
    if (pRef->nHint != KRV_HINT_ELEM1)
        return nullptr;
    krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    krvValue_t *pBase;
    const int32_t *pSizes;
    krvStruct_t *pType;
    if (pVar->isGlobal) {
        if ((pVar->dbd != KRV_DBD_FIXARR && pVar->dbd != KRV_DBD_VSARR) || krvEvalCellsShared())
            return nullptr;
        pBase = pVar->pData;
        pSizes = pVar->arrSize.pSizes;
        pType = pVar->pType;
    } else {
        krvEvalState_t *pSt = pEnv->pEval;
        krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - pRef->nHintArg);
        if (pSlot->dbd != KRV_DBD_FIXARR && pSlot->dbd != KRV_DBD_VSARR)
            return nullptr;
        pBase = pSlot->pData;
        pSizes = pSlot->pASizes;
        pType = pSlot->pType;
    }
    const krvAPTN_t *pMember = pRef->u.varRef.pMember;
    if (pType ? !(pMember || bWhole) : pMember != nullptr)
        return nullptr;
    if (!pBase || !pSizes || pSizes[0] != 1)
        return nullptr;
    const krvAPTN_t *pIdx = pRef->u.varRef.pIndexes;
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
    if (!pType)
        return pBase + n;
    krvValue_t *pElem = pBase + n * pType->nSize;
    if (pMember)
        return pElem + pMember->u.varRef.pVarPtr->nMbrOffset;
    *ppType = pType;
    return pElem;
}

static inline krvValue_t *krvEvalFastElem(krvEnv_t *pEnv, const krvAPTN_t *pRef)
{
    return krvEvalFastElemOf(pEnv, pRef, false, nullptr);
}

// Operands the inline integer path reads: literals, integer constants and
// elementary locals holding integers. 0 for anything else.
__attribute__((always_inline)) static inline int krvEvalSimpleLeaf(krvEnv_t *pEnv, const krvAPTN_t *p, int64_t *pOut)
{
    if (p->nHint == KRV_HINT_LOCAL) {
        krvEvalState_t *pSt = pEnv->pEval;
        const krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - p->nHintArg);
        if (!krvEvalQuickSlot(pSlot) || pSlot->pType || !pSlot->pData ||
            pSlot->pData->type != KRV_DT_INTEGER)
            return 0;
        *pOut = pSlot->pData->val.nInt;
        return 1;
    }
    if (p->nKind == krvAPTNType_intConst) {
        *pOut = p->u.nIntConst;
        return 1;
    }
    if (p->nHint == KRV_HINT_CONSTINT) {
        *pOut = p->nHintArg;
        return 1;
    }
    return 0;
}

// Evaluates a node marked pure as integer arithmetic alone: 1 with *pOut
// set when every operand is an integer and no operator would report
// anything; 0 otherwise, having changed nothing (the general evaluation
// then gives the result or the report).
int krvEvalPureInt(krvEnv_t *pEnv, const krvAPTN_t *pNode, int64_t *pOut);

// The same, with the commonest operators over two simple operands (marked
// by preparation in nHintSpare) done inline.
__attribute__((always_inline)) static inline int krvEvalPureTry(krvEnv_t *pEnv, const krvAPTN_t *pNode, int64_t *pOut)
{
    int64_t x, y;
    if (pNode->nHintSpare && krvEvalSimpleLeaf(pEnv, pNode->u.opExpr.opd1, &x) &&
        krvEvalSimpleLeaf(pEnv, pNode->u.opExpr.opd2, &y)) {
        switch (pNode->u.opExpr.nOp) {
        case KRV_OP_LT: *pOut = x < y; return 1;
        case KRV_OP_LE: *pOut = x <= y; return 1;
        case KRV_OP_GT: *pOut = x > y; return 1;
        case KRV_OP_GE: *pOut = x >= y; return 1;
        case KRV_OP_EQ: *pOut = x == y; return 1;
        case KRV_OP_NE: *pOut = x != y; return 1;
        case KRV_OP_ADD: *pOut = static_cast<int64_t>(static_cast<uint64_t>(x) + static_cast<uint64_t>(y)); return 1;
        case KRV_OP_SUB: *pOut = static_cast<int64_t>(static_cast<uint64_t>(x) - static_cast<uint64_t>(y)); return 1;
        case KRV_OP_MUL: *pOut = static_cast<int64_t>(static_cast<uint64_t>(x) * static_cast<uint64_t>(y)); return 1;
        case KRV_OP_BAND: *pOut = x & y; return 1;
        case KRV_OP_BOR: *pOut = x | y; return 1;
        case KRV_OP_BXOR: *pOut = x ^ y; return 1;
        case KRV_OP_MOD:
            if (y > 0) {
                *pOut = x % y;
                return 1;
            }
            break;
        default:
            break;
        }
    }
    return krvEvalPureInt(pEnv, pNode, pOut);
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

// The right operand of an assignment as an integer without evaluating it
// the general way: literals, and side-effect-free expressions that come
// out as integers. 0 when the general way is needed.
static inline int krvEvalQuickInt(krvEnv_t *pEnv, const krvAPTN_t *pNode, int64_t *pOut)
{
    if (pNode->nKind == krvAPTNType_intConst) {
        *pOut = pNode->u.nIntConst;
        return 1;
    }
    if (pNode->nKind == krvAPTNType_opExpr)
        return pNode->nHint == KRV_HINT_PURE && krvEvalPureTry(pEnv, pNode, pOut);
    if (pNode->nKind == krvAPTNType_varRef && pNode->nHint != KRV_HINT_NONE) {
        const krvValue_t *pCell = krvEvalPlainCell(pEnv, pNode);
        if (!pCell)
            pCell = krvEvalFastElem(pEnv, pNode);
        if (pCell && pCell->type == KRV_DT_INTEGER) {
            *pOut = pCell->val.nInt;
            return 1;
        }
    }
    return 0;
}

// Integer assignments to a hinted target whose right operand needs no
// general evaluation: 1 when done, 0 when the general way must run (nothing
// has been evaluated or changed then).
static inline int krvEvalQuickAssignTo(krvEnv_t *pEnv, krvAPTN_t *pExpr, int32_t nOp, krvAPTN_t *pTarget, krvValue_t *pResult)
{
    krvValue_t *pCell = krvEvalPlainCell(pEnv, pTarget);
    if (!pCell) {
        pCell = krvEvalFastElem(pEnv, pTarget);
        if (!pCell)
            return 0;
    }
    if (nOp >= KRV_OP_PRE_INC) {
        if (pCell->type != KRV_DT_INTEGER || nOp > KRV_OP_POST_DEC)
            return 0;
        uint64_t u = static_cast<uint64_t>(pCell->val.nInt);
        uint64_t v = (nOp == KRV_OP_PRE_INC || nOp == KRV_OP_POST_INC) ? u + 1 : u - 1;
        pCell->val.nInt = static_cast<int64_t>(v);
        krvEvalSetInt(pResult, static_cast<int64_t>((nOp == KRV_OP_POST_INC || nOp == KRV_OP_POST_DEC) ? u : v));
        return 1;
    }
    int64_t y;
    if (nOp == KRV_OP_ASSIGN) {
        if (!krvEvalQuickInt(pEnv, pExpr->u.opExpr.opd2, &y))
            return 0;
        krvEvalSetInt(pCell, y);
        krvEvalSetInt(pResult, y);
        return 1;
    }
    if (pCell->type != KRV_DT_INTEGER || !krvEvalQuickInt(pEnv, pExpr->u.opExpr.opd2, &y))
        return 0;
    uint64_t u = static_cast<uint64_t>(pCell->val.nInt), v = static_cast<uint64_t>(y);
    switch (nOp) {
    case KRV_OP_ADD_ASSIGN: u += v; break;
    case KRV_OP_SUB_ASSIGN: u -= v; break;
    case KRV_OP_MUL_ASSIGN: u *= v; break;
    case KRV_OP_BOR_ASSIGN: u |= v; break;
    case KRV_OP_BAND_ASSIGN: u &= v; break;
    case KRV_OP_BXOR_ASSIGN: u ^= v; break;
    default: return 0;
    }
    pCell->val.nInt = static_cast<int64_t>(u);
    krvEvalSetInt(pResult, static_cast<int64_t>(u));
    return 1;
}

// An assignment, compound assignment or increment done the quick way when
// it can be; 0 (nothing evaluated) when the general way must run.
static inline int krvEvalQuickAssign(krvEnv_t *pEnv, krvAPTN_t *pExpr, krvValue_t *pResult)
{
    int32_t nOp = pExpr->u.opExpr.nOp;
    krvAPTN_t *pTarget = pExpr->u.opExpr.opd1;
    return nOp >= KRV_OP_ASSIGN && pTarget && pTarget->nHint != KRV_HINT_NONE &&
           pTarget->nKind == krvAPTNType_varRef && krvEvalQuickAssignTo(pEnv, pExpr, nOp, pTarget, pResult);
}

// Evaluates an operand into pResult with the common cases inline.
__attribute__((always_inline)) static inline int krvEvalNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult,
                              uint32_t *pFl)
{
    if (pNode->nKind == krvAPTNType_opExpr) {
        if (pNode->nHint == KRV_HINT_PURE) {
            int64_t v;
            if (krvEvalPureTry(pEnv, pNode, &v)) {
                krvEvalSetInt(pResult, v);
                return 1;
            }
        }
        return krvEvalExpr(pEnv, pFunc, pNode, pResult, pFl);
    }
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
    case krvAPTNType_usrCall:
        return krvEvalUsrCall(pEnv, pFunc, pNode, pResult, pFl);
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
