// Arguments of extension function calls: the array, structure and
// by-reference masks of the function's descriptor, then the count.
#include "resolve/krvSolveInternal.h"

void krvSolveExtArgs(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, int bInLoop)
{
    krvFuncInfo_t *pExt = pCall->u.extCall.pFunc;
    if (!pExt)
        return;
    const char *szName = pExt->szName;
    int nArgs = 0;
    for (krvAPTN_t *pArg = pCall->u.extCall.pArgs; pArg; pArg = pArg->next) {
        int nPos = ++nArgs;
        uint32_t nBit = nPos <= 32 ? 1u << (nPos - 1) : 0u;
        const char *szOrd = krvOrdinalSuffix(nPos);
        if (pExt->arrMask & nBit) {
            if (pArg->nKind != krvAPTNType_varRef) {
                krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s should be an array", nPos,
                              szOrd, szName);
                krvSolveExpr(pEnv, pNs, pFunc, pArg, bInLoop);
                continue;
            }
            krvVarrInfo_t info;
            if (krvSolveVarRef(pEnv, pNs, pFunc, pArg, &info) != 0)
                continue;
            if (info.isCid || !KRV_IS_VAR_ARRAY(info.dbd))
                krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s should be an array", nPos,
                              szOrd, szName);
        } else if (pExt->structMask & nBit) {
            if (pArg->nKind != krvAPTNType_varRef) {
                krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s should be a structure",
                              nPos, szOrd, szName);
                krvSolveExpr(pEnv, pNs, pFunc, pArg, bInLoop);
                continue;
            }
            krvVarrInfo_t info;
            if (krvSolveVarRef(pEnv, pNs, pFunc, pArg, &info) != 0)
                continue;
            if (info.isCid || KRV_IS_VAR_ARRAY(info.dbd) || !info.pType)
                krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s should be a structure",
                              nPos, szOrd, szName);
        } else {
            krvSolveExpr(pEnv, pNs, pFunc, pArg, bInLoop);
            if ((pExt->refMask & nBit) && pArg->nKind != krvAPTNType_varRef) {
                krvSolveErrAt(pEnv, 256, pArg, 1, "%d-%s argument passed to function %s should be", nPos, szOrd,
                              szName);
                krvPrint("\ta variable; parameter requires call-by-reference\n");
            }
        }
    }
    pCall->u.extCall.nArgNum = nArgs;
    if (nArgs < pExt->minArgNum || nArgs > pExt->maxArgNum) {
        const char *szVerb = nArgs < 2 ? " is" : "s are";
        if (pExt->minArgNum == pExt->maxArgNum)
            krvSolveErrAt(pEnv, 254, pCall, 1, "number of args to function '%s' should be %d but %d arg%s specified",
                          szName, pExt->minArgNum, nArgs, szVerb);
        else
            krvSolveErrAt(pEnv, 254, pCall, 1,
                          "number of args to function '%s' should be %d ~ %d but %d arg%s specified", szName,
                          pExt->minArgNum, pExt->maxArgNum, nArgs, szVerb);
    }
}
