// The task table: tasks created and not yet joined, keyed by their number,
// under the task-table lock, which also guards the number counter. Beside
// it, the count of tasks still running that the end of a run waits for.
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "task/krvTask.h"
#include "task/krvTaskInt.h"
#include "sysHash.h"
#include "sysThread.h"

#define KRV_TASK_TABLE_SLOTS 32
#define KRV_TASK_FIRST_NUMBER 2

namespace {

sysMutex_t *g_pTableLock = nullptr;
sysHashSetting_t g_table;
int64_t g_nNextNumber = KRV_TASK_FIRST_NUMBER;

// Running tasks: raised before a thread starts, lowered as its last step.
std::mutex g_runLock;
std::condition_variable g_runDone;
int64_t g_nRunning = 0;

// The task record of the calling thread; NULL on main's thread.
thread_local krvTask_t *t_pSelf = nullptr;

} // namespace

void krvTaskSetSelf(krvTask_t *pTask)
{
    t_pSelf = pTask;
}

bool krvTaskInit(void)
{
    if (g_pTableLock)
        return true;
    if (sysHashInit(&g_table, KRV_TASK_TABLE_SLOTS, offsetof(krvTask_t, link), offsetof(krvTask_t, nNumber),
                    sysHashId, sysHashIdCmp) != 0)
        return false;
    g_pTableLock = sysMutexCreate();
    g_nNextNumber = KRV_TASK_FIRST_NUMBER;
    return true;
}

int64_t krvTaskTableAdd(krvTask_t *pTask)
{
    sysMutexLock(g_pTableLock);
    int64_t n = g_nNextNumber++;
    pTask->nNumber = static_cast<intptr_t>(n);
    sysHashAdd(&g_table, pTask);
    sysMutexUnlock(g_pTableLock);
    return n;
}

krvTask_t *krvTaskTableTake(int64_t nNumber, int *pnCycle)
{
    *pnCycle = 0;
    if (!g_pTableLock)
        return nullptr;
    sysMutexLock(g_pTableLock);
    auto *pTask = static_cast<krvTask_t *>(sysHashFind(&g_table, reinterpret_cast<const void *>(nNumber)));
    if (pTask && pthread_equal(pTask->thread, pthread_self()))
        *pnCycle = 1;
    // Tasks being joined have left the table, but their records stay until
    // their joiner is done with them, so the chain can be followed.
    for (krvTask_t *p = pTask; p && !*pnCycle && t_pSelf; p = p->pJoining)
        *pnCycle = p == t_pSelf ? 2 : 0;
    if (*pnCycle)
        pTask = nullptr;
    if (pTask) {
        sysHashDel(&g_table, pTask);
        if (t_pSelf)
            t_pSelf->pJoining = pTask;
    }
    sysMutexUnlock(g_pTableLock);
    return pTask;
}

void krvTaskJoinDone(void)
{
    if (!t_pSelf || !g_pTableLock)
        return;
    sysMutexLock(g_pTableLock);
    t_pSelf->pJoining = nullptr;
    sysMutexUnlock(g_pTableLock);
}

void krvTaskRunBegin(void)
{
    std::lock_guard<std::mutex> lock(g_runLock);
    g_nRunning++;
}

void krvTaskRunEnd(void)
{
    std::lock_guard<std::mutex> lock(g_runLock);
    if (--g_nRunning == 0)
        g_runDone.notify_all();
}

void krvTaskWaitRunning(void)
{
    std::unique_lock<std::mutex> lock(g_runLock);
    g_runDone.wait(lock, [] { return g_nRunning == 0; });
}

void krvTaskRelease(krvTask_t *pTask)
{
    if (!pTask->bJoined)
        pthread_join(pTask->thread, nullptr);
    krvEvalStateFree(pTask->pEnv);
    krvFreeEnv(pTask->pEnv);
    delete pTask;
}

void krvTaskEndOfRun(void)
{
    krvTaskWaitRunning();
    if (!g_pTableLock)
        return;
    // Every task has ended: release those nobody joined.
    for (;;) {
        sysMutexLock(g_pTableLock);
        krvTask_t *pTask = nullptr;
        sysHashIter_t *pIter = sysHashIterCreate(&g_table);
        if (pIter) {
            pTask = static_cast<krvTask_t *>(sysHashIterNext(pIter));
            sysHashIterFree(pIter);
        }
        if (pTask)
            sysHashDel(&g_table, pTask);
        sysMutexUnlock(g_pTableLock);
        if (!pTask)
            break;
        krvTaskRelease(pTask);
    }
}

void krvTaskFreeAll(void)
{
    krvTaskEndOfRun();
    krvSyncFreeAll();
}
