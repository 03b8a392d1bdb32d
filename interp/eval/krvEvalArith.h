// The binary operator rules shared by plain operators and compound
// assignments: type classes, wrap-around integer arithmetic, division
// checks and the 203/211 messages.
#pragma once
#include <cstdint>

#include "eval/krvEvalInt.h"

#define KRV_T_NUMERIC(t) ((((uint32_t)(t)) & 1u) != 0)
#define KRV_T_INTLIKE(t) ((((uint32_t)(t)) & 3u) == 3u)

static inline double krvEvalToD(const krvValue_t *p)
{
    return KRV_T_INTLIKE(p->type) ? static_cast<double>(p->val.nInt) : p->val.dFloat;
}

// Reports "Divide by 0." at pAt; 0.
int krvEvalDivideByZero(krvEnv_t *pEnv, const krvAPTN_t *pAt);
// Reports an operator code no rule covers; 0.
int krvEvalUnknownOp(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp);

// Binary operator nOp over two integers, in wrap-around signed 64-bit
// arithmetic. false for a division by 0 or a code no operator has.
__attribute__((always_inline)) static inline bool krvEvalIntCompute(int32_t nOp, int64_t a, int64_t b, int64_t *pR)
{
    uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    switch (nOp) {
    case KRV_OP_MUL: *pR = static_cast<int64_t>(ua * ub); return true;
    case KRV_OP_DIV:
        if (b == 0)
            return false;
        *pR = (b == -1) ? static_cast<int64_t>(0 - ua) : a / b;
        return true;
    case KRV_OP_MOD:
        if (b == 0)
            return false;
        if (a >= 0 && b > 0 && (b & (b - 1)) == 0)
            *pR = a & (b - 1);             // a power of two: no division
        else
            *pR = (b == -1) ? 0 : a % b;
        return true;
    case KRV_OP_ADD: *pR = static_cast<int64_t>(ua + ub); return true;
    case KRV_OP_SUB: *pR = static_cast<int64_t>(ua - ub); return true;
    case KRV_OP_SHR: *pR = a >> (b & 63); return true;
    case KRV_OP_SHL: *pR = static_cast<int64_t>(ua << (b & 63)); return true;
    case KRV_OP_GT: *pR = a > b; return true;
    case KRV_OP_GE: *pR = a >= b; return true;
    case KRV_OP_LT: *pR = a < b; return true;
    case KRV_OP_LE: *pR = a <= b; return true;
    case KRV_OP_NE: *pR = a != b; return true;
    case KRV_OP_EQ: *pR = a == b; return true;
    case KRV_OP_BAND: *pR = a & b; return true;
    case KRV_OP_BXOR: *pR = a ^ b; return true;
    case KRV_OP_BOR: *pR = a | b; return true;
    default: return false;
    }
}

// The same over two integer-like values into a cell. 1, or 0 after a report.
static inline int krvEvalIntOp(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp, int64_t a, int64_t b,
                               krvValue_t *pOut)
{
    int64_t r;
    if (!krvEvalIntCompute(nOp, a, b, &r)) [[unlikely]] {
        if (b == 0 && (nOp == KRV_OP_DIV || nOp == KRV_OP_MOD))
            return krvEvalDivideByZero(pEnv, pAt);
        return krvEvalUnknownOp(pEnv, pAt, nOp);
    }
    krvEvalSetInt(pOut, r);
    return 1;
}

// Whether two values are equal (== and !=, which never fail): integer-like
// values by payload, numbers as doubles, strings byte for byte; a string
// and a number never.
static inline bool krvEvalEquals(const krvValue_t *pA, const krvValue_t *pB)
{
    int32_t ta = pA->type, tb = pB->type;
    if (KRV_T_INTLIKE(ta) && KRV_T_INTLIKE(tb))
        return pA->val.nInt == pB->val.nInt;
    if (KRV_T_NUMERIC(ta) && KRV_T_NUMERIC(tb))
        return krvEvalToD(pA) == krvEvalToD(pB);
    return ta == KRV_DT_STRING && tb == KRV_DT_STRING && strcmp(pA->val.pStr, pB->val.pStr) == 0;
}

// pA + pB of two strings into pOut (which may be pA or pB). 1, or 0 after
// reporting that memory ran out.
int krvEvalConcat(krvEnv_t *pEnv, const krvAPTN_t *pAt, const krvValue_t *pA, const krvValue_t *pB,
                  krvValue_t *pOut);

// The rules for every pair that is not two integer-like values, for the
// operators other than == and !=.
int krvEvalBinaryMixed(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp, int32_t nMsgOp, const krvValue_t *pA,
                       const krvValue_t *pB, krvValue_t *pOut);

// Applies binary operator nOp (5..21) to *pA and *pB, storing into *pOut
// (which may be pA or pB). Messages show the operator nMsgOp (a compound
// assignment shows its own form). pAt is the node errors are reported at.
// 1, or 0 after a report.
static inline int krvEvalBinary(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp, int32_t nMsgOp,
                                const krvValue_t *pA, const krvValue_t *pB, krvValue_t *pOut)
{
    if (nOp == KRV_OP_EQ || nOp == KRV_OP_NE) {
        bool bEq = krvEvalEquals(pA, pB);
        krvEvalSetInt(pOut, nOp == KRV_OP_EQ ? bEq : !bEq);
        return 1;
    }
    if (KRV_T_INTLIKE(pA->type) && KRV_T_INTLIKE(pB->type))
        return krvEvalIntOp(pEnv, pAt, nOp, pA->val.nInt, pB->val.nInt, pOut);
    // Joins of two strings, the one other operator strings have.
    if (nOp == KRV_OP_ADD && pA->type == KRV_DT_STRING && pB->type == KRV_DT_STRING)
        return krvEvalConcat(pEnv, pAt, pA, pB, pOut);
    return krvEvalBinaryMixed(pEnv, pAt, nOp, nMsgOp, pA, pB, pOut);
}
