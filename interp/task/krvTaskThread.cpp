// The thread of a script task: it runs the task's entry function with its
// one argument on a stack of its own, then frees its start block. The
// task's result and status are dropped; its errors were reported as they
// happened.
#include <pthread.h>

#include <new>

#include "task/krvTaskInt.h"

// Native stack of a task thread. The evaluator checks calls against the
// stack it runs on, so a deep recursion ends the task with an error
// rather than a fault; this size lets tasks nest calls about as deeply as
// main.
#define KRV_TASK_THREAD_STACK (size_t(256) << 20)

namespace {

// Handed to the new thread, which frees it.
struct krvTaskStartBlock_t {
    krvEnv_t *pEnv;
    krvValue_t arg;                // a copy of the argument (owns its string)
};

void *taskThread(void *p)
{
    auto *pStart = static_cast<krvTaskStartBlock_t *>(p);
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
    auto *pStart = new (std::nothrow) krvTaskStartBlock_t;
    if (!pStart)
        return -1;
    pStart->pEnv = pTask->pEnv;
    pStart->arg.type = KRV_DT_INTEGER;
    pStart->arg.val.uRaw = 0;
    if (krvSetDataByData(&pStart->arg, pArg) != 0) {
        delete pStart;
        return -1;
    }
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        krvClearValue(&pStart->arg);
        delete pStart;
        return -1;
    }
    pthread_attr_setstacksize(&attr, KRV_TASK_THREAD_STACK);
    krvTaskRunBegin();
    int rc = pthread_create(&pTask->thread, &attr, taskThread, pStart);
    if (rc != 0) {
        // A smaller stack may still be possible.
        pthread_attr_setstacksize(&attr, size_t(8) << 20);
        rc = pthread_create(&pTask->thread, &attr, taskThread, pStart);
    }
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        krvTaskRunEnd();
        krvClearValue(&pStart->arg);
        delete pStart;
        return -1;
    }
    return 0;
}
