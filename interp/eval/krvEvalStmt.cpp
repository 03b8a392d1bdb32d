// The node dispatcher krvEval_APTN: literals, references, calls and every
// statement kind with its loops, branches, switch and the flag word.
#include <cstdio>

#include "builtin/krvBuiltinTable.h"
#include "eval/krvEvalFlags.h"

static const char *const kSrc = "krvEval";

void krvEvalMultipleBits(const char *szSrc, const char *szFunc, int nLine, uint32_t fl)
{
    krvDebug("%s %s() %d line: Error: *pFlXcptFlags = %X; multiple bits are of 1\n", szSrc, szFunc, nLine, fl);
    krvAssertFail(szSrc, nLine, "0 == 1");
}

static inline bool failedOrExit(int ok, const uint32_t *pFl)
{
    return !ok || (*pFl & KRV_XCPT_EXIT);
}

int krvEval_ifStmt(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                  uint32_t *pFl)
{
    if (failedOrExit(krvEvalNode(pEnv, pFunc, pNode->u.ifStmt.pCond, pResult, pFl), pFl))
        return 0;
    krvAPTN_t *pList = krvEvalTrue(pResult) ? pNode->u.ifStmt.pThen : pNode->u.ifStmt.pElse;
    if (!krvEvalList(pEnv, pFunc, pList, pszTag, pResult, pFl))
        return 0;
    return (*pFl & KRV_XCPT_EXIT) ? 0 : 1;
}

int krvEval_whileStmt(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                      krvValue_t *pResult, uint32_t *pFl)
{
    for (;;) {
        if (failedOrExit(krvEvalNode(pEnv, pFunc, pNode->u.loopStmt.pCond, pResult, pFl), pFl))
            return 0;
        if (!krvEvalTrue(pResult))
            return 1;
        if (!krvEvalList(pEnv, pFunc, pNode->u.loopStmt.pBody, pszTag, pResult, pFl))
            return 0;
        switch (krvEvalLoopFlags(pFl, kSrc, "krvEval_whileStmt", __LINE__)) {
        case KRV_LOOP_ON: break;
        case KRV_LOOP_LEAVE_OK: return 1;
        case KRV_LOOP_LEAVE_FAIL: return 0;
        }
    }
}

int krvEval_doStmt(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                   uint32_t *pFl)
{
    for (;;) {
        if (!krvEvalList(pEnv, pFunc, pNode->u.loopStmt.pBody, pszTag, pResult, pFl))
            return 0;
        switch (krvEvalLoopFlags(pFl, kSrc, "krvEval_doStmt", __LINE__)) {
        case KRV_LOOP_ON: break;
        case KRV_LOOP_LEAVE_OK: return 1;
        case KRV_LOOP_LEAVE_FAIL: return 0;
        }
        if (failedOrExit(krvEvalNode(pEnv, pFunc, pNode->u.loopStmt.pCond, pResult, pFl), pFl))
            return 0;
        if (!krvEvalTrue(pResult))
            return 1;
    }
}

// The part of a for loop after its body: step, then the loop from the
// condition on. bSkipFirstCond: start with the body (used by the goto search,
// which resumes inside the body).
int krvEval_forLoop(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                    uint32_t *pFl, bool bFromStep)
{
    krvAPTN_t *pCond = pNode->u.forStmt.pCond;
    krvAPTN_t *pStep = pNode->u.forStmt.pStep;
    krvAPTN_t *pBody = pNode->u.forStmt.pBody;
    for (;;) {
        if (!bFromStep) {
            if (pCond) {
                if (failedOrExit(krvEvalNode(pEnv, pFunc, pCond, pResult, pFl), pFl))
                    return 0;
                if (!krvEvalTrue(pResult))
                    return 1;
            }
            if (!krvEvalList(pEnv, pFunc, pBody, pszTag, pResult, pFl))
                return 0;
            switch (krvEvalLoopFlags(pFl, kSrc, "krvEval_forStmt", __LINE__)) {
            case KRV_LOOP_ON: break;
            case KRV_LOOP_LEAVE_OK: return 1;
            case KRV_LOOP_LEAVE_FAIL: return 0;
            }
        }
        bFromStep = false;
        if (pStep && !(pStep->nKind == krvAPTNType_opExpr && krvEvalQuickAssign(pEnv, pStep, pResult)) &&
            failedOrExit(krvEvalNode(pEnv, pFunc, pStep, pResult, pFl), pFl))
            return 0;
    }
}

__attribute__((noinline)) static int evalFor(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                   uint32_t *pFl)
{
    krvAPTN_t *pInit = pNode->u.forStmt.pInit;
    if (pInit && pInit->nKind != krvAPTNType_nullStmt &&
        failedOrExit(krvEvalNode(pEnv, pFunc, pInit, pResult, pFl), pFl))
        return 0;
    return krvEval_forLoop(pEnv, pFunc, pNode, pszTag, pResult, pFl, false);
}

int krvEvalSwitchPick(krvEnv_t *pEnv, krvAPTN_t *pSwitch, const krvValue_t *pValue, krvCaseGroup_t **ppGroup)
{
    if (pValue->type != KRV_DT_INTEGER && pValue->type != KRV_DT_STRING) {
        krvErrorAt(KRV_RTE_SWITCH, pEnv, pSwitch, "Illegal data type (%s) of the switch value evaluated.\n",
                   krvDataTypeName(pValue->type));
        return 0;
    }
    krvCaseGroup_t *pGroup = nullptr;
    if (krvCaseGroup_t **ppDense = pSwitch->u.switchStmt.ppDense; ppDense && pValue->type == KRV_DT_INTEGER) {
        uint64_t i = static_cast<uint64_t>(pValue->val.nInt) - static_cast<uint64_t>(pSwitch->u.switchStmt.nDenseMin);
        if (i < static_cast<uint64_t>(pSwitch->nHintArg))
            pGroup = ppDense[i];
        *ppGroup = pGroup ? pGroup : pSwitch->u.switchStmt.pDefault;
        return 1;
    }
    // A short label list is searched directly; a long one through the table.
    int nSeen = 0;
    bool bFound = false;
    for (krvCaseGroup_t *pG = pSwitch->u.switchStmt.pGroups; pG && nSeen <= 16 && !bFound; pG = pG->next) {
        for (krvCaseLabel_t *pL = pG->pLabels; pL; pL = pL->next) {
            const krvValue_t *pV = pL->pValue;
            if (!pV || pL->isDefault)
                continue;
            if (++nSeen > 16)
                break;
            if (pV->type != pValue->type)
                continue;
            if (pV->type == KRV_DT_INTEGER ? pV->val.nInt == pValue->val.nInt
                                           : strcmp(pV->val.pStr, pValue->val.pStr) == 0) {
                pGroup = pG;
                bFound = true;
                break;
            }
        }
    }
    if (nSeen <= 16) {
        *ppGroup = pGroup ? pGroup : pSwitch->u.switchStmt.pDefault;
        return 1;
    }
    if (sysHashSetting_t *pTable = pSwitch->u.switchStmt.pCaseTable) {
        auto *pLabel = static_cast<krvCaseLabel_t *>(sysHashFind(pTable, pValue));
        if (pLabel)
            pGroup = pLabel->pGroup;
    }
    *ppGroup = pGroup ? pGroup : pSwitch->u.switchStmt.pDefault;
    return 1;
}

// Runs a switch body from the first statement of pGroup to its end.
int krvEvalSwitchRun(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvCaseGroup_t *pGroup, krvAPTN_t *pFrom,
                     const char **pszTag, krvValue_t *pResult, uint32_t *pFl)
{
    for (; pGroup; pGroup = pGroup->next) {
        krvAPTN_t *p = pFrom ? pFrom : pGroup->exeBodyHead;
        pFrom = nullptr;
        for (; p; p = p->next) {
            if (!krvEvalStmt(pEnv, pFunc, p, pszTag, pResult, pFl))
                return 0;
            if (*pFl) {
                switch (krvEvalSwitchFlags(pFl, kSrc, "krvEval_switchStmt", __LINE__)) {
                case KRV_LOOP_ON: break;
                case KRV_LOOP_LEAVE_OK: return 1;
                case KRV_LOOP_LEAVE_FAIL: return 0;
                }
            }
            if (p == pGroup->exeBodyTail)
                break;
        }
    }
    return 1;
}

__attribute__((noinline)) static int evalSwitch(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                      krvValue_t *pResult, uint32_t *pFl)
{
    if (failedOrExit(krvEvalNode(pEnv, pFunc, pNode->u.switchStmt.pExpr, pResult, pFl), pFl))
        return 0;
    krvCaseGroup_t *pGroup;
    if (!krvEvalSwitchPick(pEnv, pNode, pResult, &pGroup))
        return 0;
    return krvEvalSwitchRun(pEnv, pFunc, pGroup, nullptr, pszTag, pResult, pFl);
}

__attribute__((noinline)) static int evalBuiltin(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl)
{
    krvBuiHandler_t pfn = krvBuiGetHandler(pNode->u.builtinCall.nFuncId);
    if (!pfn) {
        const krvBuiFunc_t *pBui = krvBuiGetFunc(pNode->u.builtinCall.nFuncId);
        krvDebug("\"%s\" line %d: built-in function %s is not available\n", krvEnvFileName(pEnv, pNode->nFileIdx),
                 pNode->nLine, pBui ? pBui->szName : "?");
        return 0;
    }
    return pfn(pEnv, pFunc, pNode, pResult, pFl);
}

static krvEvalExtCall_t g_pfnExtCall = nullptr;

void krvEvalSetExtCaller(krvEvalExtCall_t pfn)
{
    g_pfnExtCall = pfn;
}

krvEvalExtCall_t krvEvalGetExtCaller(void)
{
    return g_pfnExtCall;
}

__attribute__((noinline)) static int evalExtCall(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl)
{
    if (!g_pfnExtCall) {
        krvFuncInfo_t *pExt = pNode->u.extCall.pFunc;
        krvDebug("\"%s\" line %d: extension function %s cannot be called yet\n",
                 krvEnvFileName(pEnv, pNode->nFileIdx), pNode->nLine, pExt && pExt->szName ? pExt->szName : "?");
        return 0;
    }
    return g_pfnExtCall(pEnv, pFunc, pNode, pResult, pFl);
}

int krvEvalUsrCall(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl)
{
    krvEvalState_t *pSt = pEnv->pEval;
    if (pSt->nBtDepth >= pSt->nBtMax) {
        krvErrorAt(KRV_RTE_DEPTH, pEnv, pNode, "Too deep function calls; more than %d calls are nested.",
                   pSt->nBtMax);
        return 0;
    }
    pSt->ppBacktrace[pSt->nBtDepth++] = pNode;
    int ok = krvEvalCallUsrFunc(pEnv, pFunc, pNode, pResult, pFl);
    pSt->nBtDepth--;
    return ok;
}

__attribute__((noinline)) static int evalRef(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode,
                                             krvValue_t *pResult, uint32_t *pFl)
{
    krvValue_t *pCell = krvEvalPlainCell(pEnv, pNode);
    if (!pCell)
        pCell = krvEvalFastElem(pEnv, pNode);
    if (!pCell) {
        krvLoc_t loc;
        if (!krvEvalLocate(pEnv, pFunc, pNode, &loc, pFl))
            return 0;
        pCell = loc.pCell;
    }
    krvCellGuard guard(pCell);
    if (krvEvalCopy(pResult, pCell) != 0) {
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pNode, "Out of memory.");
        return 0;
    }
    return 1;
}

int krvEval_APTN(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                 uint32_t *pFl)
{
    switch (pNode->nKind) {
    case krvAPTNType_intConst:
        krvEvalSetInt(pResult, pNode->u.nIntConst);
        return 1;
    case krvAPTNType_floatConst:
        krvEvalSetFloat(pResult, pNode->u.dFloatConst);
        return 1;
    case krvAPTNType_strConst:
        if (krvSetStr(pResult, pNode->u.szStrConst) != 0) {
            krvErrorAt(KRV_RTE_OPERATOR, pEnv, pNode, "Out of memory.");
            return 0;
        }
        return 1;
    case krvAPTNType_varRef:
        return evalRef(pEnv, pFunc, pNode, pResult, pFl);
    case krvAPTNType_cidRef: {
        krvVar_t *pCid = pNode->u.varRef.pCid;
        if (!pCid || !pCid->pData) {
            krvEvalUnbound(pEnv, pNode, "constant not solved");
            return 0;
        }
        if (krvEvalCopy(pResult, pCid->pData) != 0) {
            krvErrorAt(KRV_RTE_OPERATOR, pEnv, pNode, "Out of memory.");
            return 0;
        }
        return 1;
    }
    case krvAPTNType_opExpr:
        return krvEvalExpr(pEnv, pFunc, pNode, pResult, pFl);
    case krvAPTNType_exprList:
        for (krvAPTN_t *p = pNode->u.exprList.pFirst; p; p = p->next)
            if (failedOrExit(krvEvalNode(pEnv, pFunc, p, pResult, pFl), pFl))
                return 0;
        return 1;
    case krvAPTNType_builtinCall:
        return evalBuiltin(pEnv, pFunc, pNode, pResult, pFl);
    case krvAPTNType_extCall:
        return evalExtCall(pEnv, pFunc, pNode, pResult, pFl);
    case krvAPTNType_usrCall:
        return krvEvalUsrCall(pEnv, pFunc, pNode, pResult, pFl);
    case krvAPTNType_exprStmt:
        return krvEvalNode(pEnv, pFunc, pNode->u.exprStmt.pExpr, pResult, pFl);
    case krvAPTNType_nullStmt:
        return 1;
    case krvAPTNType_breakStmt:
        *pFl |= KRV_XCPT_BREAK;
        return 1;
    case krvAPTNType_continueStmt:
        *pFl |= KRV_XCPT_CONTINUE;
        return 1;
    case krvAPTNType_gotoStmt:
        *pFl |= KRV_XCPT_GOTO;
        *pszTag = pNode->u.gotoStmt.szTagName;
        return 1;
    case krvAPTNType_returnStmt: {
        int ok = 1;
        if (pNode->u.exprStmt.pExpr)
            ok = krvEvalNode(pEnv, pFunc, pNode->u.exprStmt.pExpr, pResult, pFl);
        else
            krvEvalSetInt(pResult, 0);
        if (*pFl & KRV_XCPT_EXIT)
            return 0;
        *pFl |= KRV_XCPT_RETURN;
        return ok;
    }
    case krvAPTNType_ifStmt:
        return krvEval_ifStmt(pEnv, pFunc, pNode, pszTag, pResult, pFl);
    case krvAPTNType_whileStmt:
        return krvEval_whileStmt(pEnv, pFunc, pNode, pszTag, pResult, pFl);
    case krvAPTNType_doStmt:
        return krvEval_doStmt(pEnv, pFunc, pNode, pszTag, pResult, pFl);
    case krvAPTNType_forStmt:
        return evalFor(pEnv, pFunc, pNode, pszTag, pResult, pFl);
    case krvAPTNType_switchStmt:
        return evalSwitch(pEnv, pFunc, pNode, pszTag, pResult, pFl);
    case krvAPTNType_compoundStmt:
        if (!krvEvalList(pEnv, pFunc, pNode->u.compoundStmt.pStmts, pszTag, pResult, pFl))
            return 0;
        return (*pFl & KRV_XCPT_EXIT) ? 0 : 1;
    case krvAPTNType_evalStmt:
        return 0;
    case krvAPTNType_exitStmt:
        *pFl |= KRV_XCPT_EXIT;
        krvPrint("Exit from \"%s\" line %d!\n", krvEnvFileName(pEnv, pNode->nFileIdx), pNode->nLine);
        return 0;
    default:
        krvDebug("\"%s\" line %d %s(): type %d is not processed. (script \"%s\", line %d)\n", kSrc, __LINE__,
                 "krvEval_APTN", pNode->nKind, krvEnvFileName(pEnv, pNode->nFileIdx), pNode->nLine);
        krvEvalSetInt(pResult, 0);
        return 0;
    }
}
