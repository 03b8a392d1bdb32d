// Arguments of built-in calls: the kind of every position, then the count.
#include <cstdlib>
#include <cstring>

#include "builtin/krvBuiltinTable.h"
#include "resolve/krvSolveInternal.h"

// A user function name as an argument: the node becomes a function
// reference (kind 6) over the original reference.
static void solveFuncName(krvEnv_t *pEnv, krvNamespace_t *pNs, krvAPTN_t *pArg, const char *szBui, int nPos)
{
    if (pArg->nKind != krvAPTNType_varRef || pArg->u.varRef.pIndexes || pArg->u.varRef.pMember) {
        krvSolveErrAt(pEnv, 256, pArg, 1, "%s: the %d-%s arg.: an user function is required", szBui, nPos,
                      krvOrdinalSuffix(nPos));
        return;
    }
    krvNameList_t *pNsRes = pArg->u.varRef.pNsRes;
    const char *szName = pArg->u.varRef.szName;
    krvFuncInfo_t *pFound = nullptr;
    if (pNsRes) {
        krvNamespace_t *pTarget = krvFindNsByQual(pNsRes);
        if (!pTarget) {
            krvSolveErrAt(pEnv, 256, pArg, 1, "%s: %d-%s arg.: namespace %s cannot be found", szBui, nPos,
                          krvOrdinalSuffix(nPos), krvNsResText(pNsRes).c_str());
            return;
        }
        pFound = krvFindUsrFunc(pTarget, szName);
    } else {
        for (krvNamespace_t *p = pNs ? pNs : krvGlobalNs(); p && !pFound; p = p->parent)
            pFound = krvFindUsrFunc(p, szName);
    }
    if (!pFound) {
        krvSolveErrAt(pEnv, 256, pArg, 1, "%s: the %d-%s arg.: function %s cannot be found", szBui, nPos,
                      krvOrdinalSuffix(nPos), szName);
        return;
    }
    krvAPTN_t *pRef = krvNewAPTN(krvAPTNType_varRef, pArg->nFileIdx, pArg->nLine);
    if (!pRef) {
        krvSolveInternalErr(pEnv, pArg->nFileIdx, pArg->nLine, "out of memory");
        return;
    }
    pRef->u.varRef = pArg->u.varRef;
    memset(&pArg->u, 0, sizeof pArg->u);
    pArg->nKind = krvAPTNType_funcRef;
    pArg->u.funcRef.pRef = pRef;
    pArg->u.funcRef.pFuncPtr = pFound;
}

static void solveElementary(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pArg,
                            const char *szBui, int nPos, int bInLoop)
{
    if (pArg->nKind != krvAPTNType_varRef) {
        krvSolveExpr(pEnv, pNs, pFunc, pArg, bInLoop);
        return;
    }
    krvVarrInfo_t info;
    if (krvSolveVarRef(pEnv, pNs, pFunc, pArg, &info) != 0 || info.isCid)
        return;
    bool bWholeArray = KRV_IS_VAR_ARRAY(info.dbd) &&
                       krvIndexCount(info.pIndexes) < krvVarDims(info.dbd, info.pASizes);
    bool bRange = false;
    for (krvAPTN_t *p = info.pIndexes; p; p = p->next)
        bRange = bRange || p->nKind == krvAPTNType_subRange;
    if (bWholeArray || (KRV_IS_VAR_ARRAY(info.dbd) && bRange))
        krvSolveErrAt(pEnv, 256, pArg, 1, "%s: the %d-%s arg.: an array is specified, but an elementary data is required",
                      szBui, nPos, krvOrdinalSuffix(nPos));
    else if (info.pType)
        krvSolveErrAt(pEnv, 256, pArg, 1,
                      "%s: the %d-%s arg.: a structure is specified, but an elementary data is required", szBui,
                      nPos, krvOrdinalSuffix(nPos));
}

static void solveAny(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pArg, int bInLoop)
{
    switch (pArg->nKind) {
    case krvAPTNType_intConst:
    case krvAPTNType_floatConst:
    case krvAPTNType_strConst:
        return;
    case krvAPTNType_varRef:
        krvSolveVarRef(pEnv, pNs, pFunc, pArg, nullptr);
        return;
    case krvAPTNType_opExpr:
    case krvAPTNType_subRange:
    case krvAPTNType_exprList:
    case krvAPTNType_call:
    case krvAPTNType_builtinCall:
    case krvAPTNType_extCall:
    case krvAPTNType_usrCall:
        krvSolveExpr(pEnv, pNs, pFunc, pArg, bInLoop);
        return;
    default:
        krvDebug("type %d is lost in checking noRestrictionType!\n", pArg->nKind);
        krvSolveCountError(pEnv);
        return;
    }
}

void krvSolveBuiltinArgs(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, int bInLoop)
{
    int nId = pCall->u.builtinCall.nFuncId;
    const krvBuiFunc_t *pBui = krvBuiGetFunc(nId);
    if (!pBui) {
        krvDebug("\"%s\" line %d: TODO on built-in function id %d!\n", krvSolveFile(pEnv, pCall->nFileIdx),
                 pCall->nLine, nId);
        krvSolveCountError(pEnv);
        return;
    }
    int nArgs = 0;
    for (krvAPTN_t *pArg = pCall->u.builtinCall.pArgs; pArg; pArg = pArg->next) {
        int nPos = ++nArgs;
        switch (krvBuiArgKind(nId, nPos - 1)) {
        case KRV_BUI_ARG_NONE:
            krvSolveErrAt(pEnv, 256, pArg, 1, "%s: the %d-%s arg.: redundant", pBui->szName, nPos,
                          krvOrdinalSuffix(nPos));
            break;
        case KRV_BUI_ARG_VAR:
            if (pArg->nKind != krvAPTNType_varRef)
                krvSolveErrAt(pEnv, 256, pArg, 1, "%s: the %d-%s arg.: a variable is required", pBui->szName, nPos,
                              krvOrdinalSuffix(nPos));
            else if (krvSolveVarRef(pEnv, pNs, pFunc, pArg, nullptr) == 0 && pArg->nKind != krvAPTNType_varRef)
                krvSolveErrAt(pEnv, 256, pArg, 1, "%s: the %d-%s arg.: a variable is required", pBui->szName, nPos,
                              krvOrdinalSuffix(nPos));
            break;
        case KRV_BUI_ARG_ELEM:
            solveElementary(pEnv, pNs, pFunc, pArg, pBui->szName, nPos, bInLoop);
            break;
        case KRV_BUI_ARG_USRFUNC:
            solveFuncName(pEnv, pNs, pArg, pBui->szName, nPos);
            break;
        case KRV_BUI_ARG_LITSTR:
            if (pArg->nKind != krvAPTNType_strConst)
                krvSolveErrAt(pEnv, 256, pArg, 1, "the %d-%s argument should be a literal string constant", nPos,
                              krvOrdinalSuffix(nPos));
            break;
        case KRV_BUI_ARG_ANY:
            solveAny(pEnv, pNs, pFunc, pArg, bInLoop);
            break;
        default:
            krvDebug("\"%s\" line %d: TODO on built-in function id %d!\n", krvSolveFile(pEnv, pCall->nFileIdx),
                     pCall->nLine, nId);
            krvSolveCountError(pEnv);
            break;
        }
    }
    if (nArgs < pBui->nMinArgs)
        krvSolveErrAt(pEnv, 254, pCall, 0, "Too few arguments to function %s", pBui->szName);
    if (nArgs > pBui->nMaxArgs)
        krvSolveErrAt(pEnv, 254, pCall, 0, "Too many arguments to function %s", pBui->szName);
}
