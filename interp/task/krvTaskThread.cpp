// The thread of a script task: it runs the task's entry function with its
// one argument on a stack of its own, then frees its start block. The
// task's result and status are dropped; its errors were reported as they
// happened.
#include <pthread.h>

#include <cerrno>
#include <new>

#include "task/krvTaskInt.h"

// Native stack of a task thread. Kept modest so that a thousand tasks fit
// in a few gigabytes of address space; the evaluator checks calls against
// the stack it runs on, so a deep recursion ends the task with run-time
// error 215 rather than a fault. The evaluation stack and the backtrace
// stack of a task are bounded to match (what the native stack allows
// comes first anyway).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KRV_TASK_THREAD_STACK (size_t(8) << 20)   // instrumented frames are larger
#else
#define KRV_TASK_THREAD_STACK (size_t(2) << 20)
#endif
#define KRV_TASK_SLOTS (8 * 1024)
#define KRV_TASK_CALLS (16 * 1024)

namespace {

// Handed to the new thread, which frees it.
struct krvTaskStartBlock_t {
    krvTask_t *pTask;
    krvEnv_t *pEnv;
    krvValue_t arg;                // a copy of the argument (owns its string)
};

void *taskThread(void *p)
{
    auto *pStart = static_cast<krvTaskStartBlock_t *>(p);
    krvTaskSetSelf(pStart->pTask);
    krvValue_t result;
    result.type = KRV_DT_INTEGER;
    result.val.uRaw = 0;
    uint32_t fl = 0;
    krvRunArgs_t args{};
    args.pArg = &pStart->arg;
    krvEvalRunTask(pStart->pEnv, &result, &fl, KRV_RUN_TASK, &args);
    krvClearValue(&result);
    krvClearValue(&pStart->arg);
    delete pStart;
    krvTaskRunEnd();
    return nullptr;
}

} // namespace

int krvTaskStart(krvTask_t *pTask, const krvValue_t *pArg)
{
    krvEvalStateSetLimits(pTask->pEnv, KRV_TASK_SLOTS, KRV_TASK_CALLS);
    auto *pStart = new (std::nothrow) krvTaskStartBlock_t;
    if (!pStart)
        return ENOMEM;
    pStart->pTask = pTask;
    pStart->pEnv = pTask->pEnv;
    pStart->arg.type = KRV_DT_INTEGER;
    pStart->arg.val.uRaw = 0;
    if (krvSetDataByData(&pStart->arg, pArg) != 0) {
        delete pStart;
        return ENOMEM;
    }
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) {
        krvClearValue(&pStart->arg);
        delete pStart;
        return rc;
    }
    pthread_attr_setstacksize(&attr, KRV_TASK_THREAD_STACK);
    krvTaskRunBegin();
    rc = pthread_create(&pTask->thread, &attr, taskThread, pStart);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        krvTaskRunEnd();
        krvClearValue(&pStart->arg);
        delete pStart;
        return rc;
    }
    return 0;
}
