// task_create and task_join.
#include <cerrno>
#include <cstring>
#include <new>

#include "eval/krvEvalInt.h"
#include "task/krvTaskBuiltins.h"
#include "task/krvTaskInt.h"

#define KRV_RTE_TASK_HANDLE 351

// The environment of the group a task belongs to: derived environments
// share the group's file information and model, so a task's environment is
// made from the group's main environment and stays valid whichever task
// made it ends first.
static krvEnv_t *groupEnv(krvEnv_t *pEnv)
{
    while (pEnv->pDerivedFrom)
        pEnv = pEnv->pDerivedFrom;
    return pEnv;
}

int krvBuiFunc_task_create(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                           uint32_t *pFl)
{
    krvSetInt(pResult, 0);
    krvAPTN_t *pFuncArg = pCall->u.builtinCall.pArgs;
    if (!pFuncArg || !pFuncArg->next)
        return 0;
    krvValue_t arg;
    arg.type = KRV_DT_INTEGER;
    arg.val.uRaw = 0;
    if (!krvTaskEvalArg(pEnv, pFunc, pFuncArg->next, &arg, pFl))
        return 0;
    krvFuncInfo_t *pTaskFunc = pFuncArg->nKind == krvAPTNType_funcRef ? pFuncArg->u.funcRef.pFuncPtr : nullptr;
    if (!pTaskFunc || pTaskFunc->type != KRV_USR_FUNC_TYPE) {
        krvClearValue(&arg);
        krvEvalUnbound(pEnv, pFuncArg, "task function is not a user function");
        return 0;
    }
    const char *szName = pTaskFunc->szName ? pTaskFunc->szName : "";
    krvVar_t *pParam = pTaskFunc->pParams;
    if (!pParam || pParam->link) {
        krvClearValue(&arg);
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pFuncArg, "task function %s should have 1 and only 1 parameter.\n", szName);
        return 0;
    }
    // The parameter receives one value: an array or structure parameter
    // would have no storage of its shape.
    if (KRV_IS_VAR_ARRAY(pParam->dbd) || pParam->pType) {
        krvClearValue(&arg);
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pFuncArg,
                   "the parameter of task function %s should be neither an array nor a structure.\n", szName);
        return 0;
    }
    int nCause = ENOMEM;
    auto *pTask = new (std::nothrow) krvTask_t{};
    krvEnv_t *pTaskEnv = pTask ? krvNewDerivedEnv(groupEnv(pEnv)) : nullptr;
    if (pTaskEnv && krvEvalStateInit(pTaskEnv) == 0) {
        pTaskEnv->pEval->pEntryFunc = pTaskFunc;
        pTask->pEnv = pTaskEnv;
        krvEvalShareCells();
        nCause = krvTaskStart(pTask, &arg);
        if (nCause == 0) {
            krvClearValue(&arg);
            krvSetInt(pResult, krvTaskTableAdd(pTask));
            return 1;
        }
    }
    krvClearValue(&arg);
    if (pTaskEnv) {
        krvEvalStateFree(pTaskEnv);
        krvFreeEnv(pTaskEnv);
    }
    delete pTask;
    // Name the cause: no memory for its state, or no thread (the thread
    // limit, or no address space left for its stack).
    krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pFuncArg, "cannot start a task for function %s (%s).\n", szName,
               nCause == EAGAIN ? "no thread: the thread limit or the address space for its stack is used up"
                                : strerror(nCause));
    return 0;
}

int krvBuiFunc_task_join(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl)
{
    krvSetInt(pResult, 0);
    krvAPTN_t *pArg = pCall->u.builtinCall.pArgs;
    uint64_t u = 0;
    if (!krvTaskHandleArg(pEnv, pFunc, pArg, &u, pFl))
        return 0;
    const int64_t n = static_cast<int64_t>(u);
    if (n <= 0) {
        krvErrorAt(KRV_RTE_TASK_HANDLE, pEnv, pArg, "illegal task handle 0\n");
        return 1;
    }
    int nCycle = 0;
    krvTask_t *pTask = krvTaskTableTake(n, &nCycle);
    if (nCycle == 1) {
        // Waiting for itself would never end.
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "task %lld cannot join itself.\n", static_cast<long long>(n));
        return 1;
    }
    if (nCycle == 2) {
        // Nor would waiting for a task that waits for this one.
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "task %lld cannot be joined: it waits for this task.\n",
                   static_cast<long long>(n));
        return 1;
    }
    if (!pTask)
        return 1;
    pthread_join(pTask->thread, nullptr);
    pTask->bJoined = true;
    krvTaskJoinDone();
    krvTaskRelease(pTask);
    krvSetInt(pResult, 1);
    return 1;
}
