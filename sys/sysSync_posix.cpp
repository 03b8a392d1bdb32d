// Recursive mutexes and condition variables with a bounded wait.
#include "sysThread.h"
#include "sysFatal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

struct sysMutex_t {
    std::recursive_mutex mutex;
};

struct sysCond_t {
    std::condition_variable_any cond;
};

namespace {

const char kSource[] = "sysSync_posix.cpp";

std::atomic<int64_t> g_nWaitLimitMs{100000};

} // namespace

sysMutex_t *sysMutexCreate(void)
{
    return new sysMutex_t;
}

void sysMutexDelete(sysMutex_t *pMutex)
{
    delete pMutex;
}

void sysMutexLock(sysMutex_t *pMutex)
{
    SYS_ASSERT(kSource, pMutex != nullptr);
    pMutex->mutex.lock();
}

void sysMutexUnlock(sysMutex_t *pMutex)
{
    SYS_ASSERT(kSource, pMutex != nullptr);
    pMutex->mutex.unlock();
}

sysCond_t *sysCondCreate(void)
{
    return new sysCond_t;
}

void sysCondDelete(sysCond_t *pCond)
{
    delete pCond;
}

void sysCondBroadcast(sysCond_t *pCond)
{
    SYS_ASSERT(kSource, pCond != nullptr);
    pCond->cond.notify_all();
}

// Releases one level of the recursive lock while waiting; a caller that holds
// the mutex more than once keeps it held through the wait.
void sysCondWait(sysCond_t *pCond, sysMutex_t *pMutex)
{
    SYS_ASSERT(kSource, pCond != nullptr);
    SYS_ASSERT(kSource, pMutex != nullptr);
    int64_t nMs = g_nWaitLimitMs.load(std::memory_order_relaxed);
    pCond->cond.wait_for(pMutex->mutex, std::chrono::milliseconds(nMs));
}

int64_t sysCondSetWaitLimitMs(int64_t nMs)
{
    if (nMs < 0)
        nMs = 0;
    return g_nWaitLimitMs.exchange(nMs);
}
