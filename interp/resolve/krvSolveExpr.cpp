// Expressions: operators with their assignment targets, lists, sub-ranges,
// plain references used as values, and calls.
#include <cstdio>

#include "resolve/krvSolveInternal.h"

static bool isAssignOp(int32_t nOp)
{
    return nOp >= KRV_OP_ASSIGN && nOp <= KRV_OP_BXOR_ASSIGN;
}

static bool isIncDecOp(int32_t nOp)
{
    return nOp >= KRV_OP_PRE_INC && nOp <= KRV_OP_POST_DEC;
}

void krvSolveValueRef(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pRef)
{
    krvVarrInfo_t info;
    if (krvSolveVarRef(pEnv, pNs, pFunc, pRef, &info) != 0 || info.isCid)
        return;
    if (KRV_IS_VAR_ARRAY(info.dbd)) {
        bool bRange = false;
        for (krvAPTN_t *p = info.pIndexes; p; p = p->next)
            if (p->nKind == krvAPTNType_subRange)
                bRange = true;
        int nIdx = krvIndexCount(info.pIndexes);
        int nDims = krvVarDims(info.dbd, info.pASizes);
        if (bRange) {
            krvSolveErrSelf(pEnv, 205, pRef->nFileIdx, pRef->nLine,
                            "Illegal to refer to a variable; array index sub-range is specified\n");
            return;
        }
        if (nIdx != nDims) {
            krvSolveErrSelf(pEnv, 205, pRef->nFileIdx, pRef->nLine, "%s array indexs are specified to '%s'\n",
                            nIdx > nDims ? "Too many" : "Insufficient", krvRefShapeText(pRef).c_str());
            return;
        }
    }
    if (info.pType)
        krvSolveErrSelf(pEnv, 122, pRef->nFileIdx, pRef->nLine,
                        "Refer to a variable with an incomplete resolution; '%s' is not a complete elementary "
                        "variable description\n",
                        krvRefShapeText(pRef).c_str());
}

// The first operand of an assignment or increment must be a variable.
static void checkTarget(krvEnv_t *pEnv, krvAPTN_t *pExpr)
{
    int32_t nOp = pExpr->u.opExpr.nOp;
    krvAPTN_t *pOpd = pExpr->u.opExpr.opd1;
    if (!pOpd || pOpd->nKind == krvAPTNType_varRef)
        return;
    const char *szOp = krvOpForm(nOp);
    if (isIncDecOp(nOp)) {
        switch (pOpd->nKind) {
        case krvAPTNType_intConst:
            krvSolveErrAt(pEnv, 203, pOpd, 1, "constant %lld cannot be the operand of %s operator",
                          static_cast<long long>(pOpd->u.nIntConst), szOp);
            return;
        case krvAPTNType_strConst:
            krvSolveErrAt(pEnv, 203, pOpd, 1, "constant %s cannot be the operand of %s operator",
                          pOpd->u.szStrConst ? pOpd->u.szStrConst : "", szOp);
            return;
        case krvAPTNType_cidRef:
            krvSolveErrAt(pEnv, 203, pOpd, 1, "constant Id %s cannot be the operand of %s operator",
                          pOpd->u.varRef.szName, szOp);
            return;
        default:
            break;
        }
    } else if (pOpd->nKind == krvAPTNType_cidRef) {
        krvSolveErrAt(pEnv, 203, pOpd, 1, "constant Id %s cannot be assigned a value by %s operator",
                      pOpd->u.varRef.szName, szOp);
        return;
    }
    krvSolveInternalErr(pEnv, pOpd->nFileIdx, pOpd->nLine, "on new type error!\n");
}

void krvSolveExpr(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, int bInLoop)
{
    if (!pExpr)
        return;
    switch (pExpr->nKind) {
    case krvAPTNType_intConst:
    case krvAPTNType_floatConst:
    case krvAPTNType_strConst:
    case krvAPTNType_cidRef:
    case krvAPTNType_funcRef:
        return;
    case krvAPTNType_varRef:
        krvSolveValueRef(pEnv, pNs, pFunc, pExpr);
        return;
    case krvAPTNType_opExpr: {
        int32_t nOp = pExpr->u.opExpr.nOp;
        krvAPTN_t *pOpd1 = pExpr->u.opExpr.opd1;
        krvSolveExpr(pEnv, pNs, pFunc, pOpd1, bInLoop);
        if (isAssignOp(nOp) || isIncDecOp(nOp))
            checkTarget(pEnv, pExpr);
        krvAPTN_t *pOpd2 = pExpr->u.opExpr.opd2;
        krvSolveExpr(pEnv, pNs, pFunc, pOpd2, bInLoop);
        if (nOp == KRV_OP_COND && pOpd2)
            krvSolveExpr(pEnv, pNs, pFunc, pOpd2->next, bInLoop);
        return;
    }
    case krvAPTNType_subRange:
        krvSolveExpr(pEnv, pNs, pFunc, pExpr->u.subRange.pStart, bInLoop);
        krvSolveExpr(pEnv, pNs, pFunc, pExpr->u.subRange.pEnd, bInLoop);
        return;
    case krvAPTNType_exprList:
        for (krvAPTN_t *p = pExpr->u.exprList.pFirst; p; p = p->next)
            krvSolveExpr(pEnv, pNs, pFunc, p, bInLoop);
        return;
    case krvAPTNType_call:
        krvSolveCall(pEnv, pNs, pFunc, pExpr, bInLoop);
        return;
    case krvAPTNType_builtinCall:
        krvSolveBuiltinArgs(pEnv, pNs, pFunc, pExpr, bInLoop);
        return;
    case krvAPTNType_extCall:
        krvSolveExtArgs(pEnv, pNs, pFunc, pExpr, bInLoop);
        return;
    case krvAPTNType_usrCall:
        krvSolveUsrArgs(pEnv, pNs, pFunc, pExpr, bInLoop);
        return;
    default: {
        char szText[64];
        snprintf(szText, sizeof szText, "APTN type %d is not processed", pExpr->nKind);
        krvSolveInternalErr(pEnv, pExpr->nFileIdx, pExpr->nLine, szText);
        return;
    }
    }
}
