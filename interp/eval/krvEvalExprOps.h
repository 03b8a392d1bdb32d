// The operator operations that loops run most (binary operators,
// assignment, compound assignment and increments), as inline functions for
// the dispatcher; the rarer ones live in krvEvalExpr.cpp.
#pragma once
#include "eval/krvEvalArith.h"

// Operators of krvEvalExpr.cpp.
int krvEvalUnaryNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl);
int krvEvalLogicNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl);
int krvEvalCondNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl);
int krvEvalListNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl);
// Of krvEvalAssign.cpp: an assignment whose target resolution did not bind
// or whose operator code is unknown (reported; 0), "++" and "--" on what is
// not integer-like, compound assignments refused for strings.
int krvEvalUpdateInvalid(krvEnv_t *pEnv, krvAPTN_t *pExpr);
int krvEvalIncDecMixed(krvEnv_t *pEnv, krvAPTN_t *pExpr, int32_t nOp, krvValue_t *pCell, krvValue_t *pResult);
int krvEvalOutOfMemory(krvEnv_t *pEnv, const krvAPTN_t *pAt);
int krvEvalCompoundStrings(krvEnv_t *pEnv, krvAPTN_t *pExpr, int32_t nOp, const krvValue_t *pCell,
                           const krvValue_t *pB);

// Binary operator nOp (the node's own, given as a constant by the operation
// of each operator). Operand 1 is read in place when operand 2 cannot
// change it, else copied before operand 2 is evaluated.
__attribute__((always_inline)) static inline int krvEvalBinaryNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc,
                                                                   krvAPTN_t *pExpr, int32_t nOp,
                                                                   krvValue_t *pResult, uint32_t *pFl)
{
    krvOpnd_t ta, tb;
    const krvValue_t *pA =
        krvEvalOperand(pEnv, pFunc, pExpr->u.opExpr.opd1, &ta, pExpr->nEvalFlags & KRV_EF_OPD2_PURE, pFl);
    if (!pA)
        return 0;
    const krvValue_t *pB = krvEvalOperand(pEnv, pFunc, pExpr->u.opExpr.opd2, &tb, true, pFl);
    if (!pB) {
        krvEvalOpndDrop(&ta);
        return 0;
    }
    int ok = krvEvalBinary(pEnv, pExpr, nOp, nOp, pA, pB, pResult);
    krvEvalOpndDrop(&ta);
    krvEvalOpndDrop(&tb);
    if (!ok)
        krvEvalDrop(pResult);
    return ok;
}

// "=": the target is located, operand 2 evaluated into the result, and the
// target becomes a copy of it.
// The second half, once the target is located.
// When the value is never read, a text the value owns moves into the target
// and any other value is copied there straight (into the target's own text
// buffer when it is large enough).
static inline int krvEvalAssignTo(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pCell,
                                  krvValue_t *pResult, uint32_t *pFl)
{
    if (pExpr->nEvalFlags & KRV_EF_VOID) {
        krvOpnd_t t;
        const krvValue_t *pB = krvEvalOperand(pEnv, pFunc, pExpr->u.opExpr.opd2, &t, true, pFl);
        if (!pB)
            return 0;
        krvCellGuard guard(pCell);
        if (t.bOwned && t.v.type == KRV_DT_STRING) {
            if (pCell->type == KRV_DT_STRING)
                free(pCell->val.pStr);
            *pCell = t.v;
            return 1;
        }
        int ok = krvEvalCopy(pCell, pB) ? 1 : krvEvalOutOfMemory(pEnv, pExpr);
        krvEvalOpndDrop(&t);
        return ok;
    }
    if (!krvEvalValue(pEnv, pFunc, pExpr->u.opExpr.opd2, pResult, pFl))
        return 0;
    krvCellGuard guard(pCell);
    return krvEvalCopy(pCell, pResult) ? 1 : krvEvalOutOfMemory(pEnv, pExpr);
}
static inline int krvEvalAssignNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult,
                                    uint32_t *pFl)
{
    krvStruct_t *pType;
    krvValue_t *pCell = krvEvalCellOf(pEnv, pFunc, pExpr->u.opExpr.opd1, &pType, pFl);
    return pCell ? krvEvalAssignTo(pEnv, pFunc, pExpr, pCell, pResult, pFl) : 0;
}

static inline int32_t krvEvalCompoundBase(int32_t nOp)
{
    static const int32_t aBase[] = {KRV_OP_ADD, KRV_OP_SUB, KRV_OP_MUL, KRV_OP_DIV, KRV_OP_MOD,
                                    KRV_OP_SHR, KRV_OP_SHL, KRV_OP_BOR, KRV_OP_BAND, KRV_OP_BXOR};
    return aBase[nOp - KRV_OP_ADD_ASSIGN];
}

// The target cell of a compound assignment or an increment. The target is
// read as a value first (its index expressions run twice) unless reading it
// changes nothing. NULL on failure.
__attribute__((always_inline)) static inline krvValue_t *krvEvalUpdateTarget(krvEnv_t *pEnv, krvFuncInfo_t *pFunc,
                                                                            krvAPTN_t *pTarget, uint32_t *pFl)
{
    if (!(pTarget->nEvalFlags & KRV_EF_PURE)) {
        krvValue_t t;
        krvEvalZero(&t);
        int ok = krvEvalValue(pEnv, pFunc, pTarget, &t, pFl);
        krvEvalDrop(&t);
        if (!ok)
            return nullptr;
    }
    krvStruct_t *pType;
    return krvEvalCellOf(pEnv, pFunc, pTarget, &pType, pFl);
}

// "++" or "--" (nOp) on an integer-like cell, which becomes an integer; the
// expression's value goes to pResult unless it is never read.
static inline int krvEvalIncDecInt(const krvAPTN_t *pExpr, krvValue_t *pCell, krvValue_t *pResult)
{
    int32_t nOp = pExpr->u.opExpr.nOp;
    uint64_t u = pCell->val.uRaw;
    uint64_t v = (nOp == KRV_OP_PRE_INC || nOp == KRV_OP_POST_INC) ? u + 1 : u - 1;
    pCell->type = KRV_DT_INTEGER;
    pCell->val.uRaw = v;
    if (!(pExpr->nEvalFlags & KRV_EF_VOID))
        krvEvalSetInt(pResult, static_cast<int64_t>((nOp == KRV_OP_POST_INC || nOp == KRV_OP_POST_DEC) ? u : v));
    return 1;
}

// "++" and "--", prefix and postfix.
static inline int krvEvalIncDecNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult,
                                    uint32_t *pFl)
{
    krvValue_t *pCell = krvEvalUpdateTarget(pEnv, pFunc, pExpr->u.opExpr.opd1, pFl);
    if (!pCell)
        return 0;
    krvCellGuard guard(pCell);
    if (!KRV_T_INTLIKE(pCell->type))
        return krvEvalIncDecMixed(pEnv, pExpr, pExpr->u.opExpr.nOp, pCell, pResult);
    return krvEvalIncDecInt(pExpr, pCell, pResult);
}

// Compound assignments: the operator's rules over the target and operand 2.
static inline int krvEvalCompoundNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult,
                                      uint32_t *pFl)
{
    krvValue_t *pCell = krvEvalUpdateTarget(pEnv, pFunc, pExpr->u.opExpr.opd1, pFl);
    if (!pCell)
        return 0;
    int32_t nOp = pExpr->u.opExpr.nOp;
    krvOpnd_t tb;
    const krvValue_t *pB = krvEvalOperand(pEnv, pFunc, pExpr->u.opExpr.opd2, &tb, true, pFl);
    if (!pB)
        return 0;
    // The operand is a temporary, a literal or (only while no cell is
    // shared) a cell read in place: one stripe lock at a time.
    krvCellGuard guard(pCell);
    int ok;
    if (nOp != KRV_OP_ADD_ASSIGN && (pCell->type == KRV_DT_STRING || pB->type == KRV_DT_STRING))
        ok = krvEvalCompoundStrings(pEnv, pExpr, nOp, pCell, pB);
    else
        ok = krvEvalBinary(pEnv, pExpr, krvEvalCompoundBase(nOp), nOp, pCell, pB, pCell);
    krvEvalOpndDrop(&tb);
    if (ok && !(pExpr->nEvalFlags & KRV_EF_VOID) && !krvEvalCopy(pResult, pCell))
        ok = krvEvalOutOfMemory(pEnv, pExpr);
    return ok;
}
