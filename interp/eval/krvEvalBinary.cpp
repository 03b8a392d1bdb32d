// Binary operators over value cells: the arithmetic and ordering group, the
// integer group, and the equality and addition group.
#include <climits>
#include <malloc.h>

#include "eval/krvEvalArith.h"

static int typeError(krvEnv_t *pEnv, const krvAPTN_t *pAt, const char *szVerb, const char *szOp,
                     const krvValue_t *pA, const krvValue_t *pB)
{
    if (pA->type == pB->type)
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pAt, "%s allow operator '%s' operating on two %ss.", szVerb, szOp,
                   krvDataTypeName(pA->type));
    else
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pAt, "%s allow operator '%s' operating on a %s and a %s.", szVerb, szOp,
                   krvDataTypeName(pA->type), krvDataTypeName(pB->type));
    return 0;
}

static int divideByZero(krvEnv_t *pEnv, const krvAPTN_t *pAt)
{
    krvErrorAt(KRV_RTE_DIVIDE, pEnv, pAt, "Divide by 0.");
    return 0;
}

static int concat(krvEnv_t *pEnv, const krvAPTN_t *pAt, const krvValue_t *pA, const krvValue_t *pB, krvValue_t *pOut)
{
    size_t la = strlen(pA->val.pStr), lb = strlen(pB->val.pStr);
    if (pOut->type == KRV_DT_STRING && malloc_usable_size(pOut->val.pStr) > la + lb) {
        // Room enough in the target's own buffer.
        if (pOut == pA) {
            memmove(pOut->val.pStr + la, pB->val.pStr, lb + 1);
            return 1;
        }
        if (pOut != pB && pOut->val.pStr != pA->val.pStr && pOut->val.pStr != pB->val.pStr) {
            memcpy(pOut->val.pStr, pA->val.pStr, la);
            memcpy(pOut->val.pStr + la, pB->val.pStr, lb + 1);
            return 1;
        }
    }
    char *p = static_cast<char *>(malloc(la + lb + 1));
    if (!p) {
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pAt, "Out of memory.");
        return 0;
    }
    memcpy(p, pA->val.pStr, la);
    memcpy(p + la, pB->val.pStr, lb + 1);
    if (pOut->type == KRV_DT_STRING)
        free(pOut->val.pStr);
    pOut->type = KRV_DT_STRING;
    pOut->val.pStr = p;
    return 1;
}

// Both integer-like.
static int intOp(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp, int64_t a, int64_t b, krvValue_t *pOut)
{
    uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    int64_t r;
    switch (nOp) {
    case KRV_OP_MUL: r = static_cast<int64_t>(ua * ub); break;
    case KRV_OP_DIV:
        if (b == 0)
            return divideByZero(pEnv, pAt);
        r = (b == -1) ? static_cast<int64_t>(0 - ua) : a / b;
        break;
    case KRV_OP_MOD:
        if (b == 0)
            return divideByZero(pEnv, pAt);
        r = (b == -1) ? 0 : a % b;
        break;
    case KRV_OP_ADD: r = static_cast<int64_t>(ua + ub); break;
    case KRV_OP_SUB: r = static_cast<int64_t>(ua - ub); break;
    case KRV_OP_SHR: r = a >> (b & 63); break;
    case KRV_OP_SHL: r = static_cast<int64_t>(ua << (b & 63)); break;
    case KRV_OP_GT: r = a > b; break;
    case KRV_OP_GE: r = a >= b; break;
    case KRV_OP_LT: r = a < b; break;
    case KRV_OP_LE: r = a <= b; break;
    case KRV_OP_NE: r = a != b; break;
    case KRV_OP_EQ: r = a == b; break;
    case KRV_OP_BAND: r = a & b; break;
    case KRV_OP_BXOR: r = a ^ b; break;
    case KRV_OP_BOR: r = a | b; break;
    default:
        krvDebug("\"%s\" line %d: not process expression operator %d\n", krvEnvFileName(pEnv, pAt->nFileIdx),
                 pAt->nLine, nOp);
        return 0;
    }
    krvEvalSetInt(pOut, r);
    return 1;
}

// At least one floating number, both numeric.
static int floatOp(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp, const krvValue_t *pA, const krvValue_t *pB,
                   krvValue_t *pOut)
{
    double a = krvEvalToD(pA), b = krvEvalToD(pB);
    switch (nOp) {
    case KRV_OP_MUL: krvEvalSetFloat(pOut, a * b); return 1;
    case KRV_OP_DIV:
        if (KRV_T_INTLIKE(pB->type) ? pB->val.nInt == 0 : b == 0.0)
            return divideByZero(pEnv, pAt);
        krvEvalSetFloat(pOut, a / b);
        return 1;
    case KRV_OP_ADD: krvEvalSetFloat(pOut, a + b); return 1;
    case KRV_OP_SUB: krvEvalSetFloat(pOut, a - b); return 1;
    case KRV_OP_GT: krvEvalSetInt(pOut, a > b); return 1;
    case KRV_OP_GE: krvEvalSetInt(pOut, a >= b); return 1;
    case KRV_OP_LT: krvEvalSetInt(pOut, a < b); return 1;
    case KRV_OP_LE: krvEvalSetInt(pOut, a <= b); return 1;
    case KRV_OP_NE: krvEvalSetInt(pOut, a != b); return 1;
    case KRV_OP_EQ: krvEvalSetInt(pOut, a == b); return 1;
    default:
        krvDebug("\"%s\" line %d: not process expression operator %d\n", krvEnvFileName(pEnv, pAt->nFileIdx),
                 pAt->nLine, nOp);
        return 0;
    }
}

int krvEvalBinary(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp, const char *szOp, const krvValue_t *pA,
                  const krvValue_t *pB, krvValue_t *pOut)
{
    int32_t ta = pA->type, tb = pB->type;
    switch (nOp) {
    case KRV_OP_MUL:
    case KRV_OP_DIV:
    case KRV_OP_SUB:
    case KRV_OP_GT:
    case KRV_OP_GE:
    case KRV_OP_LT:
    case KRV_OP_LE:
        if (!KRV_T_NUMERIC(ta) || !KRV_T_NUMERIC(tb))
            return typeError(pEnv, pAt, "Now", szOp, pA, pB);
        break;
    case KRV_OP_MOD:
    case KRV_OP_SHR:
    case KRV_OP_SHL:
    case KRV_OP_BAND:
    case KRV_OP_BXOR:
    case KRV_OP_BOR:
        if (!KRV_T_INTLIKE(ta) || !KRV_T_INTLIKE(tb))
            return typeError(pEnv, pAt, "Not", szOp, pA, pB);
        break;
    case KRV_OP_ADD:
    case KRV_OP_NE:
    case KRV_OP_EQ:
        if (KRV_T_NUMERIC(ta) && KRV_T_NUMERIC(tb))
            break;
        if (ta == KRV_DT_STRING && tb == KRV_DT_STRING) {
            if (nOp == KRV_OP_ADD)
                return concat(pEnv, pAt, pA, pB, pOut);
            int bEq = strcmp(pA->val.pStr, pB->val.pStr) == 0;
            krvEvalSetInt(pOut, nOp == KRV_OP_EQ ? bEq : !bEq);
            return 1;
        }
        if (nOp == KRV_OP_EQ || nOp == KRV_OP_NE) {
            krvEvalSetInt(pOut, nOp == KRV_OP_NE);
            return 1;
        }
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pAt, "Not allow operator '%s' operating on a %s and a %s.", szOp,
                   krvDataTypeName(ta), krvDataTypeName(tb));
        return 0;
    default:
        krvDebug("\"%s\" line %d: not process expression operator %d\n", krvEnvFileName(pEnv, pAt->nFileIdx),
                 pAt->nLine, nOp);
        return 0;
    }
    if (KRV_T_INTLIKE(ta) && KRV_T_INTLIKE(tb))
        return intOp(pEnv, pAt, nOp, pA->val.nInt, pB->val.nInt, pOut);
    return floatOp(pEnv, pAt, nOp, pA, pB, pOut);
}
