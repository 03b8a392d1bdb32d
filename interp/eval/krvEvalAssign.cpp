// The rare ends of assignments: unbound targets and unknown codes, "++" and
// "--" on floating numbers and strings, compound assignments refused for
// strings.
#include "eval/krvEvalExprOps.h"

int krvEvalOutOfMemory(krvEnv_t *pEnv, const krvAPTN_t *pAt)
{
    krvErrorAt(KRV_RTE_OPERATOR, pEnv, pAt, "Out of memory.");
    return 0;
}

int krvEvalUpdateInvalid(krvEnv_t *pEnv, krvAPTN_t *pExpr)
{
    krvAPTN_t *pTarget = pExpr->u.opExpr.opd1;
    if (!pTarget || pTarget->nKind != krvAPTNType_varRef || !pTarget->u.varRef.pVarPtr) {
        const char *szFile = krvEnvFileName(pEnv, pExpr->nFileIdx);
        krvDebug("script \"%s\" line %d: %s: not solved\n", szFile, pExpr->nLine,
                 pTarget && pTarget->nKind == krvAPTNType_varRef && pTarget->u.varRef.szName
                     ? pTarget->u.varRef.szName
                     : "?");
        krvDebug("Run-time check fail in \"%s\" line %d!\n", szFile, pExpr->nLine);
        return 0;
    }
    return krvEvalUnknownOp(pEnv, pExpr, pExpr->u.opExpr.nOp);
}

int krvEvalIncDecMixed(krvEnv_t *pEnv, krvAPTN_t *pExpr, int32_t nOp, krvValue_t *pCell, krvValue_t *pResult)
{
    bool bInc = nOp == KRV_OP_PRE_INC || nOp == KRV_OP_POST_INC;
    bool bPost = nOp == KRV_OP_POST_INC || nOp == KRV_OP_POST_DEC;
    if (pCell->type == KRV_DT_FLOAT) {
        double dOld = pCell->val.dFloat;
        double dNew = bInc ? dOld + 1.0 : dOld - 1.0;
        pCell->val.dFloat = dNew;
        krvEvalSetFloat(pResult, bPost ? dOld : dNew);
        return 1;
    }
    krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr, "Not allow unary operator '%s' operating on a string.", krvOpForm(nOp));
    return 0;
}

int krvEvalCompoundStrings(krvEnv_t *pEnv, krvAPTN_t *pExpr, int32_t nOp, const krvValue_t *pCell,
                           const krvValue_t *pB)
{
    const char *szOp = krvOpForm(nOp);
    if (pCell->type == pB->type)
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr, "Not allow operator '%s' operating on two %ss.", szOp,
                   krvDataTypeName(pB->type));
    else
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr, "Not allow operator '%s' operating on a %s and a %s.", szOp,
                   krvDataTypeName(pCell->type), krvDataTypeName(pB->type));
    return 0;
}
