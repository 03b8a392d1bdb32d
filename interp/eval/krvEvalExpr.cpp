// Operator expressions other than the binary ones and assignments: unary
// operators, short-circuit logic, the conditional, and expression lists.
#include "eval/krvEvalExprOps.h"

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

int krvEvalUnaryNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl)
{
    if (!krvEvalValue(pEnv, pFunc, pExpr->u.opExpr.opd1, pResult, pFl))
        return 0;
    return unary(pEnv, pExpr, pExpr->u.opExpr.nOp, pResult);
}

int krvEvalLogicNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl)
{
    if (!krvEvalValue(pEnv, pFunc, pExpr->u.opExpr.opd1, pResult, pFl))
        return 0;
    bool bAnd = pExpr->u.opExpr.nOp == KRV_OP_LAND;
    if (logicalTrue(pResult) != bAnd) {
        krvEvalSetInt(pResult, bAnd ? 0 : 1);
        return 1;
    }
    if (!krvEvalValue(pEnv, pFunc, pExpr->u.opExpr.opd2, pResult, pFl))
        return 0;
    krvEvalSetInt(pResult, logicalTrue(pResult));
    return 1;
}

int krvEvalCondNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl)
{
    if (!krvEvalValue(pEnv, pFunc, pExpr->u.opExpr.opd1, pResult, pFl))
        return 0;
    bool bTrue = pResult->type == KRV_DT_STRING || pResult->val.uRaw != 0;
    krvAPTN_t *pOpd2 = pExpr->u.opExpr.opd2;
    krvAPTN_t *pPick = bTrue ? pOpd2 : (pOpd2 ? pOpd2->next : nullptr);
    if (!pPick)
        return 0;
    return krvEvalValue(pEnv, pFunc, pPick, pResult, pFl);
}

int krvEvalListNode(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl)
{
    for (krvAPTN_t *p = pNode->u.exprList.pFirst; p; p = p->next)
        if (!krvEvalValue(pEnv, pFunc, p, pResult, pFl))
            return 0;
    return 1;
}
