// Operator expressions: order of evaluation, unary operators, short-circuit
// logic, the conditional, and the binary operators (assignments and
// increments live in krvEvalAssign.cpp).
#include "eval/krvEvalArith.h"

int krvEvalAssign(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl);

static inline bool failed(int ok, const uint32_t *pFl)
{
    return !ok || (*pFl & KRV_XCPT_EXIT);
}

// Truth for the logical operators: strings are true, integer-like values
// when not 0, floating numbers when not 0.0 (a NaN is true).
static inline bool logicalTrue(const krvValue_t *p)
{
    if (p->type == KRV_DT_STRING)
        return true;
    if (KRV_T_INTLIKE(p->type))
        return p->val.nInt != 0;
    if (p->type == KRV_DT_FLOAT)
        return p->val.dFloat != 0.0;
    return false;
}

static int unary(krvEnv_t *pEnv, krvAPTN_t *pExpr, int32_t nOp, krvValue_t *pResult)
{
    int32_t t = pResult->type;
    const char *szOp = krvOpForm(nOp);
    switch (nOp) {
    case KRV_OP_POS:
    case KRV_OP_NEG:
        if (KRV_T_INTLIKE(t)) {
            uint64_t u = pResult->val.uRaw;
            pResult->type = KRV_DT_INTEGER;
            pResult->val.uRaw = nOp == KRV_OP_NEG ? 0 - u : u;
            return 1;
        }
        if (t == KRV_DT_FLOAT) {
            if (nOp == KRV_OP_NEG)
                pResult->val.dFloat = -pResult->val.dFloat;
            return 1;
        }
        if (t == KRV_DT_STRING) {
            krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr,
                       "Unary operator '%s' is not allowed to operate on a string (\"%s\")!", szOp,
                       pResult->val.pStr);
            krvEvalDrop(pResult);
            return 0;
        }
        krvDebug("\"%s\" line %d: not process opr. '%s' on a %s\n", krvEnvFileName(pEnv, pExpr->nFileIdx),
                 pExpr->nLine, szOp, krvDataTypeName(t));
        return 0;
    case KRV_OP_NOT:
        if (KRV_T_INTLIKE(t))
            krvEvalSetInt(pResult, pResult->val.nInt == 0);
        else if (t == KRV_DT_FLOAT)
            krvEvalSetInt(pResult, pResult->val.dFloat == 0.0);
        else
            krvEvalSetInt(pResult, 0);
        return 1;
    case KRV_OP_BNOT:
        if (KRV_T_INTLIKE(t)) {
            krvEvalSetInt(pResult, ~pResult->val.nInt);
            return 1;
        }
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr,
                   "Unary operator '%s' should operate on integers only; however it operates on a %s", szOp,
                   krvDataTypeName(t));
        krvEvalDrop(pResult);
        return 0;
    default:
        return 0;
    }
}

// The binary operators: operand 1 is read in place when operand 2 cannot
// change anything (a literal, constant or plain reference), else it is
// evaluated into the result cell first; operand 2 is read in place when it
// can be, else evaluated into a temporary.
static int binary(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, int32_t nOp, krvValue_t *pResult,
                  uint32_t *pFl)
{
    krvAPTN_t *pOpd1 = pExpr->u.opExpr.opd1;
    krvAPTN_t *pOpd2 = pExpr->u.opExpr.opd2;
    krvValue_t ta, tb;
    const krvValue_t *pB = krvEvalPeek(pEnv, pOpd2, &tb);
    const krvValue_t *pA = pB ? krvEvalPeek(pEnv, pOpd1, &ta) : nullptr;
    if (!pA) {
        if (failed(krvEvalNode(pEnv, pFunc, pOpd1, pResult, pFl), pFl))
            return 0;
        pA = pResult;
    }
    bool bOwnB = false;
    if (!pB) {
        tb.type = KRV_DT_INTEGER;
        tb.val.uRaw = 0;
        bOwnB = true;
        if (failed(krvEvalNode(pEnv, pFunc, pOpd2, &tb, pFl), pFl)) {
            krvEvalDrop(&tb);
            return 0;
        }
        pB = &tb;
    }
    // Integers on both sides: the common case, without the general rules.
    if (pA->type == KRV_DT_INTEGER && pB->type == KRV_DT_INTEGER) {
        int64_t x = pA->val.nInt, y = pB->val.nInt, r;
        uint64_t ux = static_cast<uint64_t>(x), uy = static_cast<uint64_t>(y);
        bool bDone = true;
        switch (nOp) {
        case KRV_OP_ADD: r = static_cast<int64_t>(ux + uy); break;
        case KRV_OP_SUB: r = static_cast<int64_t>(ux - uy); break;
        case KRV_OP_MUL: r = static_cast<int64_t>(ux * uy); break;
        case KRV_OP_LT: r = x < y; break;
        case KRV_OP_LE: r = x <= y; break;
        case KRV_OP_GT: r = x > y; break;
        case KRV_OP_GE: r = x >= y; break;
        case KRV_OP_EQ: r = x == y; break;
        case KRV_OP_NE: r = x != y; break;
        case KRV_OP_BAND: r = x & y; break;
        case KRV_OP_BOR: r = x | y; break;
        case KRV_OP_BXOR: r = x ^ y; break;
        case KRV_OP_SHR: r = x >> (y & 63); break;
        case KRV_OP_SHL: r = static_cast<int64_t>(ux << (y & 63)); break;
        case KRV_OP_DIV: bDone = y > 0; r = bDone ? x / y : 0; break;
        case KRV_OP_MOD: bDone = y > 0; r = bDone ? x % y : 0; break;
        default: bDone = false; r = 0; break;
        }
        if (bDone) {
            krvEvalSetInt(pResult, r);
            return 1;
        }
    }
    int ok = krvEvalBinary(pEnv, pExpr, nOp, krvOpForm(nOp), pA, pB, pResult);
    if (bOwnB)
        krvEvalDrop(&tb);
    if (!ok)
        krvEvalDrop(pResult);
    return ok;
}

int krvEvalExpr(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl)
{
    int32_t nOp = pExpr->u.opExpr.nOp;
    if (nOp >= KRV_OP_ASSIGN)
        return krvEvalAssign(pEnv, pFunc, pExpr, pResult, pFl);
    if (nOp >= KRV_OP_MUL && nOp <= KRV_OP_BOR)
        return binary(pEnv, pFunc, pExpr, nOp, pResult, pFl);
    if (nOp < KRV_OP_POS || nOp > KRV_OP_COND)
        return binary(pEnv, pFunc, pExpr, nOp, pResult, pFl);    // reports the unknown code
    krvAPTN_t *pOpd1 = pExpr->u.opExpr.opd1;
    if (failed(krvEvalNode(pEnv, pFunc, pOpd1, pResult, pFl), pFl))
        return 0;
    switch (nOp) {
    case KRV_OP_LAND:
        if (!logicalTrue(pResult)) {
            krvEvalSetInt(pResult, 0);
            return 1;
        }
        if (failed(krvEvalNode(pEnv, pFunc, pExpr->u.opExpr.opd2, pResult, pFl), pFl))
            return 0;
        krvEvalSetInt(pResult, logicalTrue(pResult));
        return 1;
    case KRV_OP_LOR:
        if (logicalTrue(pResult)) {
            krvEvalSetInt(pResult, 1);
            return 1;
        }
        if (failed(krvEvalNode(pEnv, pFunc, pExpr->u.opExpr.opd2, pResult, pFl), pFl))
            return 0;
        krvEvalSetInt(pResult, logicalTrue(pResult));
        return 1;
    case KRV_OP_COND: {
        bool bTrue = pResult->type == KRV_DT_STRING || pResult->val.uRaw != 0;
        krvAPTN_t *pOpd2 = pExpr->u.opExpr.opd2;
        krvAPTN_t *pPick = bTrue ? pOpd2 : (pOpd2 ? pOpd2->next : nullptr);
        if (!pPick)
            return 0;
        return failed(krvEvalNode(pEnv, pFunc, pPick, pResult, pFl), pFl) ? 0 : 1;
    }
    default:
        return unary(pEnv, pExpr, nOp, pResult);
    }
}
