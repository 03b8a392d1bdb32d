// Arguments of user function calls: the count, then every argument against
// its parameter (by reference, elementary, structure, array).
#include "model/krvArrDesc.h"
#include "resolve/krvSolveInternal.h"

static int dimSize(const int32_t *pSizes, int nDim)   // nDim from 1
{
    return krvDescDim(pSizes, false, nDim - 1).nSize;
}

static void solveStructArg(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pArg,
                           const krvVar_t *pParam, const char *szCallee, int nPos)
{
    if (pArg->nKind != krvAPTNType_varRef) {
        krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s requires a struct variable!", nPos,
                      krvOrdinalSuffix(nPos), szCallee);
        krvSolveExpr(pEnv, pNs, pFunc, pArg, 0);
        return;
    }
    krvVarrInfo_t info;
    if (krvSolveVarRef(pEnv, pNs, pFunc, pArg, &info) != 0)
        return;
    std::string sArg = krvRefShapeText(pArg);
    krvStruct_t *pArgType = info.isCid ? nullptr : info.pType;
    if (pArgType && KRV_IS_VAR_ARRAY(info.dbd) &&
        krvIndexCount(info.pIndexes) != krvVarDims(info.dbd, info.pASizes)) {
        // A whole array of structures is not one structure.
        krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s requires a struct variable!", nPos,
                      krvOrdinalSuffix(nPos), szCallee);
        return;
    }
    krvStruct_t *pParamType = krvVarStructType(pParam);
    if (!pArgType)
        krvSolveErrSelf(pEnv, 140, pArg->nFileIdx, pArg->nLine, "type of argument '%s' is not found\n", sArg.c_str());
    if (!pParamType)
        krvSolveErrSelf(pEnv, 140, pArg->nFileIdx, pArg->nLine, "type of parameter '%s' is not found\n",
                        pParam->szName);
    if (pArgType && pParamType && pArgType != pParamType)
        krvSolveErrSelf(pEnv, 257, pArg->nFileIdx, pArg->nLine,
                        "type of argument %s mismatch type of parameter %s at line %d in \"%s\"\n", sArg.c_str(),
                        pParam->szName, pParam->nLine, krvSolveFile(pEnv, pParam->nFileIdx));
}

static void solveArrayArg(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pArg,
                          const krvVar_t *pParam, const char *szCallee, int nPos)
{
    const char *szOrd = krvOrdinalSuffix(nPos);
    if (pArg->nKind != krvAPTNType_varRef) {
        krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s requires an array!", nPos, szOrd,
                      szCallee);
        krvSolveExpr(pEnv, pNs, pFunc, pArg, 0);
        return;
    }
    krvVarrInfo_t info;
    if (krvSolveVarRef(pEnv, pNs, pFunc, pArg, &info) != 0)
        return;
    if (info.isCid || !KRV_IS_VAR_ARRAY(info.dbd) || !info.pASizes) {
        krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument psssed to function %s should be an array!", nPos, szOrd,
                      szCallee);
        krvPrint("\t%s is not an array variable\n", krvRefShapeText(pArg).c_str());
        return;
    }
    // Leading plain indexes, then sub-ranges only.
    int nLead = 0, nIdxPos = 0;
    bool bRange = false, bBad = false;
    for (krvAPTN_t *p = info.pIndexes; p; p = p->next) {
        nIdxPos++;
        if (p->nKind == krvAPTNType_subRange) {
            bRange = true;
        } else if (bRange) {
            krvSolveErrAt(pEnv, 256, p, 1,
                          "%d-%s index of the %d-%s argument: should be a sub-range expression or not be specified",
                          nIdxPos, krvOrdinalSuffix(nIdxPos), nPos, szOrd);
            bBad = true;
        } else {
            nLead++;
        }
    }
    if (bBad)
        return;
    const int32_t *pA = info.pASizes;
    const int32_t *pP = pParam->arrSize.pSizes;
    int nArgDims = krvVarDims(info.dbd, pA);
    int nParDims = krvVarDims(pParam->dbd, pP);
    if (nArgDims - nLead != nParDims) {
        krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument: unmatched array dimension passed to parameter %s", nPos,
                      szOrd, pParam->szName);
        return;
    }
    if (KRV_IS_VAR_VSARR(info.dbd) || KRV_IS_VAR_VSARR(pParam->dbd))
        return;
    int nIdx = krvIndexCount(info.pIndexes);
    for (int j = 1; j <= nParDims; j++) {
        int nArgDim = nLead + j;
        if (nArgDim <= nIdx)
            continue;                      // a sub-range: its size is known at run time
        if (dimSize(pA, nArgDim) != dimSize(pP, j)) {
            krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument: unmatched array size passed to parameter %s", nPos,
                          szOrd, pParam->szName);
            return;
        }
    }
}

void krvSolveUsrArgs(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, int bInLoop)
{
    krvFuncInfo_t *pCallee = pCall->u.usrCall.pFuncPtr;
    const char *szName = pCall->u.usrCall.szName ? pCall->u.usrCall.szName : "";
    krvAPTN_t *pArgs = pCall->u.usrCall.pArgs;
    if (!pCallee) {
        krvSolveErrAt(pEnv, 250, pCall, 1, "refer to an unknown function %s", szName);
        // Visit the arguments all the same; a bare name may be an array.
        for (krvAPTN_t *p = pArgs; p; p = p->next) {
            if (p->nKind == krvAPTNType_varRef)
                krvSolveVarRef(pEnv, pNs, pFunc, p, nullptr);
            else
                krvSolveExpr(pEnv, pNs, pFunc, p, bInLoop);
        }
        return;
    }
    int nArgs = krvIndexCount(pArgs);
    int nParams = 0;
    for (krvVar_t *p = pCallee->pParams; p; p = p->link)
        nParams++;
    if (nArgs != nParams) {
        krvSolveErrAt(pEnv, 254, pCall, 1, "%s arguments to function '%s'!", nArgs > nParams ? "Too many" : "Insufficient",
                      szName);
        krvPrint("\t%d argument%s required, but %d argument%s specified.\n", nParams, nParams < 2 ? " is" : "s are",
                 nArgs, nArgs < 2 ? " is" : "s are");
        krvPrint("\tRefer to \"%s\" line %d for function '%s'.\n", krvSolveFile(pEnv, pCallee->nFileIdx),
                 pCallee->nLine, szName);
    }
    krvAPTN_t *pArg = pArgs;
    krvVar_t *pParam = pCallee->pParams;
    int nPos = 0;
    for (; pArg && pParam; pArg = pArg->next, pParam = pParam->link) {
        nPos++;
        if (KRV_IS_VAR_REF(pParam->dbd) && pArg->nKind != krvAPTNType_varRef) {
            krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s should be", nPos,
                          krvOrdinalSuffix(nPos), szName);
            krvPrint("\ta variable; parameter requires call-by-reference!\n");
            krvSolveExpr(pEnv, pNs, pFunc, pArg, bInLoop);
            continue;
        }
        if (KRV_IS_VAR_ARRAY(pParam->dbd))
            solveArrayArg(pEnv, pNs, pFunc, pArg, pParam, szName, nPos);
        else if (krvVarIsStructTyped(pParam))
            solveStructArg(pEnv, pNs, pFunc, pArg, pParam, szName, nPos);
        else
            krvSolveExpr(pEnv, pNs, pFunc, pArg, bInLoop);
        if (KRV_IS_VAR_REF(pParam->dbd) && pArg->nKind == krvAPTNType_cidRef) {
            // A named constant cannot be passed where the callee may write.
            krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s should be", nPos,
                          krvOrdinalSuffix(nPos), szName);
            krvPrint("\ta variable; parameter requires call-by-reference!\n");
        }
    }
    // Arguments past the parameters are still resolved.
    for (; pArg; pArg = pArg->next) {
        if (pArg->nKind == krvAPTNType_varRef)
            krvSolveVarRef(pEnv, pNs, pFunc, pArg, nullptr);
        else
            krvSolveExpr(pEnv, pNs, pFunc, pArg, bInLoop);
    }
}
