// Binary operators over value cells other than == and != (krvEvalEquals):
// the arithmetic and ordering group, the integer group, and addition.
#include <climits>
#include <malloc.h>

#include "eval/krvEvalExprOps.h"

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

int krvEvalDivideByZero(krvEnv_t *pEnv, const krvAPTN_t *pAt)
{
    krvErrorAt(KRV_RTE_DIVIDE, pEnv, pAt, "Divide by 0.");
    return 0;
}

int krvEvalUnknownOp(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp)
{
    krvDebug("\"%s\" line %d: not process expression operator %d\n", krvEnvFileName(pEnv, pAt->nFileIdx), pAt->nLine,
             nOp);
    return 0;
}

int krvEvalConcat(krvEnv_t *pEnv, const krvAPTN_t *pAt, const krvValue_t *pA, const krvValue_t *pB,
                  krvValue_t *pOut)
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
    if (pOut == pA && pB->val.pStr != pA->val.pStr) {
        // A string that grows by appending grows by half again, so that a
        // loop of appends copies each byte a few times only.
        size_t n = la + lb + 1;
        char *p = static_cast<char *>(realloc(pA->val.pStr, n + n / 2));
        if (!p)
            return krvEvalOutOfMemory(pEnv, pAt);
        memcpy(p + la, pB->val.pStr, lb + 1);
        pOut->val.pStr = p;
        return 1;
    }
    char *p = static_cast<char *>(malloc(la + lb + 1));
    if (!p)
        return krvEvalOutOfMemory(pEnv, pAt);
    memcpy(p, pA->val.pStr, la);
    memcpy(p + la, pB->val.pStr, lb + 1);
    if (pOut->type == KRV_DT_STRING)
        free(pOut->val.pStr);
    pOut->type = KRV_DT_STRING;
    pOut->val.pStr = p;
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
            return krvEvalDivideByZero(pEnv, pAt);
        krvEvalSetFloat(pOut, a / b);
        return 1;
    case KRV_OP_ADD: krvEvalSetFloat(pOut, a + b); return 1;
    case KRV_OP_SUB: krvEvalSetFloat(pOut, a - b); return 1;
    case KRV_OP_GT: krvEvalSetInt(pOut, a > b); return 1;
    case KRV_OP_GE: krvEvalSetInt(pOut, a >= b); return 1;
    case KRV_OP_LT: krvEvalSetInt(pOut, a < b); return 1;
    case KRV_OP_LE: krvEvalSetInt(pOut, a <= b); return 1;
    default:
        return krvEvalUnknownOp(pEnv, pAt, nOp);
    }
}

int krvEvalBinaryMixed(krvEnv_t *pEnv, const krvAPTN_t *pAt, int32_t nOp, int32_t nMsgOp, const krvValue_t *pA,
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
            return typeError(pEnv, pAt, "Now", krvOpForm(nMsgOp), pA, pB);
        break;
    case KRV_OP_MOD:
    case KRV_OP_SHR:
    case KRV_OP_SHL:
    case KRV_OP_BAND:
    case KRV_OP_BXOR:
    case KRV_OP_BOR:
        if (!KRV_T_INTLIKE(ta) || !KRV_T_INTLIKE(tb))
            return typeError(pEnv, pAt, "Not", krvOpForm(nMsgOp), pA, pB);
        break;
    case KRV_OP_ADD:
        if (KRV_T_NUMERIC(ta) && KRV_T_NUMERIC(tb))
            break;
        // Two strings are joined before this (krvEvalBinary).
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pAt, "Not allow operator '%s' operating on a %s and a %s.", krvOpForm(nMsgOp),
                   krvDataTypeName(ta), krvDataTypeName(tb));
        return 0;
    default:
        return krvEvalUnknownOp(pEnv, pAt, nOp);
    }
    if (KRV_T_INTLIKE(ta) && KRV_T_INTLIKE(tb))
        return krvEvalIntOp(pEnv, pAt, nOp, pA->val.nInt, pB->val.nInt, pOut);
    return floatOp(pEnv, pAt, nOp, pA, pB, pOut);
}
