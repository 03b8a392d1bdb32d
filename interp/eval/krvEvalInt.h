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

// Runs a statement: an expression statement is its expression's operation.
static inline int krvEvalStmt(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                              krvValue_t *pResult, uint32_t *pFl)
{
    return krvEvalDispatch(pEnv, pFunc, pNode->nEvalKind == KRV_EOP_EXPR_STMT ? pNode->u.exprStmt.pExpr : pNode,
                           pszTag, pResult, pFl);
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
    krvValue_t *pCell = pEnv->pEvalFrame[-nSlot].pData;
    if (!pCell) [[unlikely]]
        return krvEvalNoStorage(pEnv, pRef);
    return pCell;
}

// The general operation of an operator node whose operands are prepared.
uint8_t krvEvalOpKind(const krvAPTN_t *p);

// Integer trees (KRV_EOP_INT_TREE): operators over integer literals,
// constants, elementary variables and such trees, nothing that changes
// anything. Each operator node has a function of its own (nEvalArg indexes
// g_krvEvalIntFns, chosen by krvEvalIntTreeFn) that gives its value while
// every value read is an integer and no division by 0 occurs; false
// otherwise, and the node's general operation is then to evaluate it (and
// report what is wrong). Only while no cell is shared between threads.
typedef bool (*krvEvalIntFn_t)(const krvSlot_t *pFrame, const krvAPTN_t *pNode, int64_t *pn);
#define KRV_EVAL_INT_FNS (17 * 6 * 6 + 4)   // per operator and operand classes, then the others
extern const std::array<krvEvalIntFn_t, KRV_EVAL_INT_FNS> g_krvEvalIntFns;
int32_t krvEvalIntTreeFn(const krvAPTN_t *pNode);
// Any node krvEvalIntTree can read: a literal, a constant, an elementary
// variable, an element or an integer tree.
bool krvEvalIntOther(const krvSlot_t *pFrame, const krvAPTN_t *pNode, int64_t *pn);
__attribute__((always_inline)) static inline bool krvEvalIntTree(const krvSlot_t *pFrame, const krvAPTN_t *pNode, int64_t *pn)
{
    return g_krvEvalIntFns[pNode->nEvalArg](pFrame, pNode, pn);
}
__attribute__((always_inline)) static inline bool krvEvalIntNode(const krvSlot_t *pFrame, const krvAPTN_t *pNode, int64_t *pn)
{
    uint8_t k = pNode->nEvalKind;
    if (k == KRV_EOP_INT_TREE)
        return krvEvalIntTree(pFrame, pNode, pn);
    if (k == KRV_EOP_LOCAL) {
        const krvValue_t *pCell = pFrame[-pNode->nEvalArg].pData;
        if (!pCell || pCell->type != KRV_DT_INTEGER)
            return false;
        *pn = pCell->val.nInt;
        return true;
    }
    if (k == KRV_EOP_INT) {
        *pn = pNode->u.nIntConst;
        return true;
    }
    if (k == KRV_EOP_CONST && pNode->u.varRef.pCid) {
        const krvValue_t *pCell = pNode->u.varRef.pCid->pData;
        if (!pCell || pCell->type != KRV_DT_INTEGER)
            return false;
        *pn = pCell->val.nInt;
        return true;
    }
    return krvEvalIntOther(pFrame, pNode, pn);
}

// Evaluates an integer tree by its general operation.
static inline int krvEvalGeneral(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult,
                                 uint32_t *pFl)
{
    const char *szTag = nullptr;
    return !krvEvalFailed(g_krvEvalOps[krvEvalOpKind(pNode)](pEnv, pFunc, pNode, &szTag, pResult, pFl), pFl);
}

// krvEvalValue, reading what krvEvalIntNode can read without its operation.
int krvEvalIntoGeneral(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl);
__attribute__((always_inline)) static inline int krvEvalInto(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode,
                                                             krvValue_t *pResult, uint32_t *pFl)
{
    int64_t n;
    if ((pNode->nEvalFlags & KRV_EF_INT) && !krvEvalCellsShared() && krvEvalIntNode(pEnv->pEvalFrame, pNode, &n)) [[likely]] {
        krvEvalSetInt(pResult, n);
        return 1;
    }
    return krvEvalIntoGeneral(pEnv, pFunc, pNode, pResult, pFl);
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

// The array a one-index reference (KRV_EOP_ELEM) indexes: its cells
// (NULL without storage), size descriptor and structure type.
struct krvElemBase_t {
    krvValue_t *pBase;
    const int32_t *pDesc;
    krvStruct_t *pType;
    bool bView;
};
__attribute__((always_inline)) static inline krvElemBase_t krvEvalElemBase(const krvSlot_t *pFrame, const krvAPTN_t *pRef)
{
    const krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    krvElemBase_t b;
    if (pVar->isGlobal) {
        b = {pVar->pData, pVar->arrSize.pSizes, pVar->pType, false};
    } else {
        const krvSlot_t *pSlot = pFrame - pRef->nEvalArg;
        b = {pSlot->pData, pSlot->pASizes, pSlot->pType, KRV_IS_VAR_REF(pSlot->dbd)};
    }
    if (!b.pDesc)
        b.pBase = nullptr;
    return b;
}

// Element nIdx of that array, then the reference's member; *ppType receives
// the element's structure type. NULL when the index is out of range (the
// dimension's size in *pnSize).
__attribute__((always_inline)) static inline krvValue_t *krvEvalElemPick(const krvElemBase_t &b, const krvAPTN_t *pRef, int64_t nIdx,
                                          krvStruct_t **ppType, int32_t *pnSize)
{
    krvDescDim_t d = krvDescDim(b.pDesc, b.bView, 0);
    *pnSize = d.nSize;
    if (nIdx < 0 || nIdx >= d.nSize) [[unlikely]]
        return nullptr;
    krvStruct_t *pType = b.pType;
    krvValue_t *pCell = b.pBase + (d.nStart + nIdx) * static_cast<int64_t>(d.nStride) * (pType ? pType->nSize : 1);
    if (const krvAPTN_t *pM = pRef->u.varRef.pMember) {
        pCell += pM->u.varRef.pVarPtr->nMbrOffset;
        pType = pM->u.varRef.pVarPtr->pType;
    }
    *ppType = pType;
    return pCell;
}

// The element a one-index reference names: storage, the index checked
// against the dimension, then the member. NULL after a report.
__attribute__((noinline)) static krvValue_t *krvEvalElemCell(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pRef,
                                                             krvStruct_t **ppType, uint32_t *pFl)
{
    krvElemBase_t b = krvEvalElemBase(pEnv->pEvalFrame, pRef);
    if (!b.pBase) [[unlikely]]
        return krvEvalNoStorage(pEnv, pRef);
    krvAPTN_t *pIdx = pRef->u.varRef.pIndexes;
    krvOpnd_t t;
    const krvValue_t *pI = krvEvalOperand(pEnv, pFunc, pIdx, &t, true, pFl);
    if (!pI)
        return nullptr;
    if (pI->type != KRV_DT_INTEGER) [[unlikely]] {
        krvEvalOpndDrop(&t);
        return krvEvalIndexIllegal(pEnv, pIdx, pRef->u.varRef.pVarPtr);
    }
    int32_t nSize;
    krvValue_t *pCell = krvEvalElemPick(b, pRef, pI->val.nInt, ppType, &nSize);
    if (!pCell) [[unlikely]]
        return krvEvalIndexRange(pEnv, pIdx, pI->val.nInt, nSize);
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
    case KRV_EOP_ELEM: {
        // An integer index in range is read without a temporary; anything
        // else goes the way that reports it (the index changes nothing, so
        // evaluating it twice is harmless).
        const krvAPTN_t *pIdx = pRef->u.varRef.pIndexes;
        int64_t nIdx;
        if ((pIdx->nEvalFlags & KRV_EF_INT) && !krvEvalCellsShared()) {
            krvElemBase_t b = krvEvalElemBase(pEnv->pEvalFrame, pRef);
            int32_t nSize;
            if (b.pBase && krvEvalIntNode(pEnv->pEvalFrame, pIdx, &nIdx))
                if (krvValue_t *pCell = krvEvalElemPick(b, pRef, nIdx, ppType, &nSize))
                    return pCell;
        }
        return krvEvalElemCell(pEnv, pFunc, pRef, ppType, pFl);
    }
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
    pTmp->bOwned = false;
    uint8_t k = pNode->nEvalKind;
    if (!krvEvalCellsShared()) {
        if (k == KRV_EOP_LOCAL && bInPlace) {
            // An elementary local, the commonest operand.
            if (krvValue_t *pCell = pEnv->pEvalFrame[-pNode->nEvalArg].pData) [[likely]]
                return pCell;
        } else if (k == KRV_EOP_INT_TREE) {
            pTmp->bOwned = true;
            pTmp->v.type = KRV_DT_INTEGER;
            if (krvEvalIntTree(pEnv->pEvalFrame, pNode, &pTmp->v.val.nInt))
                return &pTmp->v;
            pTmp->v.val.nInt = 0;
            if (krvEvalGeneral(pEnv, pFunc, pNode, &pTmp->v, pFl))
                return &pTmp->v;
            krvEvalDrop(&pTmp->v);
            return nullptr;
        } else if (bInPlace) {
            switch (k) {
            case KRV_EOP_INT:
                pTmp->v.type = KRV_DT_INTEGER;
                pTmp->v.val.nInt = pNode->u.nIntConst;
                return &pTmp->v;
            case KRV_EOP_GLOBAL:
            case KRV_EOP_OBJ_MEMBER:
            case KRV_EOP_ELEM: {
                krvStruct_t *pType;
                krvEvalZero(&pTmp->v);
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
    }
    krvEvalZero(&pTmp->v);
    pTmp->bOwned = true;
    if (!krvEvalValue(pEnv, pFunc, pNode, &pTmp->v, pFl)) {
        krvEvalDrop(&pTmp->v);
        return nullptr;
    }
    return &pTmp->v;
}
