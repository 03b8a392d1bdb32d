// backtrace: one line per active user call, innermost first, to the console
// and optionally to a host file.
#include <cstdio>

#include "builtin/krvBuiltins.h"
#include "eval/krvEval.h"
#include "exthost/krvHostSlots.h"
#include "exthost/krvHostTable.h"

#define KRV_BT_LINE_MAX 1024

int krvBuiFunc_backtrace(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                         uint32_t *pFl)
{
    krvSetInt(pResult, 0);
    void *pFile = nullptr;
    if (krvAPTN_t *pArg = pCall->u.builtinCall.pArgs) {
        krvValue_t v;
        if (!krvBuiEvalArg(pEnv, pFunc, pArg, &v, pFl))
            return 0;
        if (v.type != KRV_DT_HANDLE)
            krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "Required to specify a file handle to %s().\n", "backtrace");
        else if (krvIsFileHandle(v.val.pHandle))
            pFile = v.val.pHandle;
        krvClearValue(&v);
    }
    krvEvalState_t *pSt = pEnv->pEval;
    const krvAPTN_t *pPos = pCall;
    for (int i = pSt->nBtDepth - 1; i >= 0; i--) {
        const krvAPTN_t *pEntry = pSt->ppBacktrace[i];
        const krvFuncInfo_t *pF = pEntry->u.usrCall.pFuncPtr;
        char szLine[KRV_BT_LINE_MAX];
        snprintf(szLine, sizeof szLine, "%s() \"%s\" line %d\n", pF && pF->szName ? pF->szName : "?",
                 krvEnvFileName(pEnv, pPos->nFileIdx), pPos->nLine);
        krvHost()->pfnPrintf("%s", szLine);
        if (pFile)
            krvExtFprintf(pFile, "%s", szLine);
        pPos = pEntry;
    }
    if (pFile)
        krvExtFflush(pFile);
    return 1;
}
