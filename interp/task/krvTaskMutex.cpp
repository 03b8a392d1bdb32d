// mutex_create, mutex_lock, mutex_unlock and mutex_delete. A mutex may be
// locked again by the task that holds it; unlocking one the task does not
// hold does nothing. A mutex that is held or waited for is not deleted
// (result 0): its holder can still unlock it and its waiters still wake.
#include "sysThread.h"
#include "task/krvTaskBuiltins.h"
#include "task/krvTaskInt.h"

int krvBuiFunc_mutex_create(krvEnv_t *pEnv, krvFuncInfo_t *, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *)
{
    return krvTaskNewSyncResult(pEnv, pCall, pResult, KRV_HANDLE_KIND_MUTEX, sysMutexCreate(), sysMutexDelete);
}

// Evaluates the handle argument and runs op on the mutex when it is valid.
static int withMutex(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl,
                     const char *szName, void (*op)(sysMutex_t *))
{
    krvSetInt(pResult, 0);
    krvAPTN_t *pArg = pCall->u.builtinCall.pArgs;
    uint64_t u = 0;
    if (!krvTaskHandleArg(pEnv, pFunc, pArg, &u, pFl))
        return 0;
    krvSyncBlock_t *pBlock = krvSyncGet(u, KRV_HANDLE_KIND_MUTEX);
    if (!pBlock) {
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "Illegal mutex handle %p is specified to %s().\n", krvTaskHandlePtr(u),
                   szName);
        return 1;
    }
    op(static_cast<sysMutex_t *>(pBlock->pObj));
    krvSyncPut(pBlock);
    krvSetInt(pResult, 1);
    return 1;
}

int krvBuiFunc_mutex_lock(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl)
{
    return withMutex(pEnv, pFunc, pCall, pResult, pFl, "mutex_lock", sysMutexLock);
}

int krvBuiFunc_mutex_unlock(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                            uint32_t *pFl)
{
    return withMutex(pEnv, pFunc, pCall, pResult, pFl, "mutex_unlock", sysMutexUnlock);
}

int krvBuiFunc_mutex_delete(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                            uint32_t *pFl)
{
    krvSetInt(pResult, 0);
    krvAPTN_t *pArg = pCall->u.builtinCall.pArgs;
    uint64_t u = 0;
    if (!krvTaskHandleArg(pEnv, pFunc, pArg, &u, pFl))
        return 0;
    int rc = krvSyncDelete(u, KRV_HANDLE_KIND_MUTEX);
    if (rc == 0) {
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "Illegal mutex handle %p is specified to %s().\n", krvTaskHandlePtr(u),
                   "mutex_delete");
        return 1;
    }
    if (rc < 0)
        return 1;       // held or waited for: refused, the result stays 0

    krvSetInt(pResult, 1);
    return 1;
}
