// cond_create, cond_wait and cond_broadcast. A wait returns on a broadcast
// or after the bounded wait, with the mutex held again.
#include "sysThread.h"
#include "task/krvTaskBuiltins.h"
#include "task/krvTaskInt.h"

int krvBuiFunc_cond_create(krvEnv_t *pEnv, krvFuncInfo_t *, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *)
{
    return krvTaskNewSyncResult(pEnv, pCall, pResult, KRV_HANDLE_KIND_COND, sysCondCreate(), sysCondDelete);
}

// The condition variable of a built-in's first argument, with a use taken;
// NULL when there is none, *pnRet then being what the built-in returns (0
// when the evaluation failed, 1 after the error for an illegal handle).
static krvSyncBlock_t *condArg(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pArg, uint32_t *pFl,
                               const char *szName, int *pnRet)
{
    uint64_t u = 0;
    *pnRet = 0;
    if (!krvTaskHandleArg(pEnv, pFunc, pArg, &u, pFl))
        return nullptr;
    krvSyncBlock_t *pCond = krvSyncGet(u, KRV_HANDLE_KIND_COND);
    if (!pCond) {
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg,
                   "Illegal condition variable handle %p is specified to the 1st arg. of %s().\n",
                   krvTaskHandlePtr(u), szName);
        *pnRet = 1;
    }
    return pCond;
}

int krvBuiFunc_cond_wait(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl)
{
    krvSetInt(pResult, 0);
    krvAPTN_t *pCondArg = pCall->u.builtinCall.pArgs;
    int nRet = 0;
    krvSyncBlock_t *pCond = condArg(pEnv, pFunc, pCondArg, pFl, "cond_wait", &nRet);
    if (!pCond)
        return nRet;
    uint64_t uMutex = 0;
    krvAPTN_t *pMutexArg = pCondArg ? pCondArg->next : nullptr;
    if (!krvTaskHandleArg(pEnv, pFunc, pMutexArg, &uMutex, pFl)) {
        krvSyncPut(pCond);
        return 0;
    }
    krvSyncBlock_t *pMutex = krvSyncGet(uMutex, KRV_HANDLE_KIND_MUTEX);
    if (!pMutex) {
        krvSyncPut(pCond);
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pMutexArg,
                   "Illegal mutex handle %p is specified to the 2nd arg. of %s().\n", krvTaskHandlePtr(uMutex),
                   "cond_wait");
        return 1;
    }
    sysCondWait(static_cast<sysCond_t *>(pCond->pObj), static_cast<sysMutex_t *>(pMutex->pObj));
    krvSyncPut(pMutex);
    krvSyncPut(pCond);
    krvSetInt(pResult, 1);
    return 1;
}

int krvBuiFunc_cond_broadcast(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                              uint32_t *pFl)
{
    krvSetInt(pResult, 0);
    int nRet = 0;
    krvSyncBlock_t *pCond = condArg(pEnv, pFunc, pCall->u.builtinCall.pArgs, pFl, "cond_broadcast", &nRet);
    if (!pCond)
        return nRet;
    sysCondBroadcast(static_cast<sysCond_t *>(pCond->pObj));
    krvSyncPut(pCond);
    krvSetInt(pResult, 1);
    return 1;
}
