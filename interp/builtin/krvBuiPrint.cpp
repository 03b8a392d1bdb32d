// print and printh: values by type, whole structures, and array windows.
#include <cstring>
#include <string>

#include "model/krvArrDesc.h"
#include "builtin/krvBuiltins.h"
#include "eval/krvEval.h"

void krvBuiPrintFormatText(const char *szText)
{
    const krvHostFuncs_t *pHost = krvHost();
    if (!strchr(szText, '%')) {
        pHost->pfnPrintf("%s", szText);
        return;
    }
    std::string s;
    s.reserve(strlen(szText));
    for (const char *p = szText; *p; p++) {
        s += *p;
        if (p[0] == '%' && p[1] == '%')
            p++;
    }
    pHost->pfnPrintf("%s", s.c_str());
}

// A variable's cell may be shared with other tasks: it is read under its
// stripe lock (see krvCellGuard).
static void printValue(const krvValue_t *pCell, bool bHex)
{
    krvCellGuard guard(pCell);
    const krvHostFuncs_t *pHost = krvHost();
    switch (pCell->type) {
    case KRV_DT_INTEGER:
        if (bHex)
            pHost->pfnPrintf("%llx", static_cast<unsigned long long>(pCell->val.nInt));
        else
            pHost->pfnPrintf("%lld", static_cast<long long>(pCell->val.nInt));
        break;
    case KRV_DT_FLOAT:
        pHost->pfnPrintf("%f", pCell->val.dFloat);
        break;
    case KRV_DT_STRING:
        krvBuiPrintFormatText(pCell->val.pStr ? pCell->val.pStr : "");
        break;
    case KRV_DT_HANDLE:
        pHost->pfnPrintf("%p", pCell->val.pHandle);
        break;
    default:
        break;
    }
}

static void printStruct(const krvStruct_t *pType, const krvValue_t *pCells, bool bHex)
{
    const krvHostFuncs_t *pHost = krvHost();
    pHost->pfnPrintf("{");
    bool bFirst = true;
    for (const krvVar_t *pMd = pType->pMembers; pMd; pMd = pMd->link) {
        pHost->pfnPrintf("%s%s = ", bFirst ? "" : ", ", pMd->szName);
        bFirst = false;
        const krvValue_t *p = pCells + pMd->nMbrOffset;
        int64_t n = krvVarCellCount(pMd);
        if (n == 1) {
            printValue(p, bHex);
            continue;
        }
        pHost->pfnPrintf("{");
        for (int64_t i = 0; i < n; i++) {
            if (i)
                pHost->pfnPrintf(", ");
            printValue(&p[i], bHex);
        }
        pHost->pfnPrintf("}");
    }
    pHost->pfnPrintf("}");
}

static std::string refText(const krvAPTN_t *pRef)
{
    std::string s = pRef->u.varRef.szName ? pRef->u.varRef.szName : "";
    for (const krvAPTN_t *p = pRef->u.varRef.pMember; p; p = p->u.varRef.pMember) {
        s += ".";
        s += p->u.varRef.szName ? p->u.varRef.szName : "";
    }
    return s;
}

static int printWindow(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pRef, const krvLoc_t *pLoc, bool bHex,
                       uint32_t *pFl)
{
    krvWindow_t win;
    if (!krvEvalWindow(pEnv, pFunc, pLoc, &win, KRV_WIN_MSG_PRINT, pFl)) {
        if (!(*pFl & KRV_XCPT_EXIT))
            krvErrorAt(KRV_RTE_INDEX, pEnv, pRef, "Incorrect array indexs are specified to '%s'\n",
                       refText(pRef).c_str());
        return 0;
    }
    const krvHostFuncs_t *pHost = krvHost();
    int64_t nCount = krvWindowCount(&win);
    pHost->pfnPrintf("{\n");
    int32_t aPos[KRV_WIN_DIMS_MAX] = {};
    for (int64_t i = 0; i < nCount; i++) {
        if (i)
            pHost->pfnPrintf("\n");
        pHost->pfnPrintf("    ");
        for (int k = 0; k < win.nDims; k++)
            pHost->pfnPrintf("[%d]", win.aStart[k] + aPos[k]);
        pHost->pfnPrintf(" = ");
        const krvValue_t *pElem = krvWindowElem(&win, i);
        if (pLoc->pType)
            printStruct(pLoc->pType, pElem, bHex);
        else
            printValue(pElem, bHex);
        for (int k = win.nDims - 1; k >= 0; k--) {
            if (++aPos[k] < win.aCount[k])
                break;
            aPos[k] = 0;
        }
    }
    pHost->pfnPrintf("\n}");
    return 1;
}

static bool wholeArray(const krvLoc_t *pLoc)
{
    if (!KRV_IS_VAR_ARRAY(pLoc->dbd) || !pLoc->pSizes)
        return false;
    int n = 0;
    for (const krvAPTN_t *p = pLoc->pIndexes; p; p = p->next) {
        if (p->nKind == krvAPTNType_subRange)
            return true;
        n++;
    }
    return n < krvDescDims(pLoc->pSizes);
}

static int printArgs(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl,
                     bool bHex)
{
    krvSetInt(pResult, 0);
    for (krvAPTN_t *pArg = pCall->u.builtinCall.pArgs; pArg; pArg = pArg->next) {
        if (pArg->nKind == krvAPTNType_varRef) {
            krvLoc_t loc;
            if (!krvEvalLocate(pEnv, pFunc, pArg, &loc, pFl))
                return 0;
            if (wholeArray(&loc)) {
                if (!printWindow(pEnv, pFunc, pArg, &loc, bHex, pFl))
                    return 0;
            } else if (loc.pType) {
                printStruct(loc.pType, loc.pCell, bHex);
            } else {
                printValue(loc.pCell, bHex);
            }
            continue;
        }
        krvValue_t v;
        if (!krvBuiEvalArg(pEnv, pFunc, pArg, &v, pFl))
            return 0;
        printValue(&v, bHex);
        krvClearValue(&v);
    }
    return 1;
}

int krvBuiFunc_print(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl)
{
    return printArgs(pEnv, pFunc, pCall, pResult, pFl, false);
}

int krvBuiFunc_printh(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl)
{
    return printArgs(pEnv, pFunc, pCall, pResult, pFl, true);
}
