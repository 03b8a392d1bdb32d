// Recursive mutexes and condition variables with a bounded wait.
#include "sysThread.h"
#include "sysFatal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct sysMutex_t {
    std::recursive_mutex mutex;
    std::atomic<std::thread::id> owner{};   // the holding thread, or none
    int nDepth = 0;                         // touched by the owner only
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
    if (pMutex->nDepth++ == 0)
        pMutex->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

// Unlocking a mutex that the calling thread does not hold does nothing.
void sysMutexUnlock(sysMutex_t *pMutex)
{
    SYS_ASSERT(kSource, pMutex != nullptr);
    if (!sysMutexIsOwner(pMutex))
        return;
    if (--pMutex->nDepth == 0)
        pMutex->owner.store(std::thread::id(), std::memory_order_relaxed);
    pMutex->mutex.unlock();
}

int sysMutexIsOwner(sysMutex_t *pMutex)
{
    return pMutex && pMutex->owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

int sysMutexIsHeld(sysMutex_t *pMutex)
{
    return pMutex && pMutex->owner.load(std::memory_order_relaxed) != std::thread::id();
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

// The mutex is released completely while waiting, however often the caller
// holds it, and held as often again on return. A caller that does not hold
// it only sleeps for the bounded wait.
void sysCondWait(sysCond_t *pCond, sysMutex_t *pMutex)
{
    SYS_ASSERT(kSource, pCond != nullptr);
    SYS_ASSERT(kSource, pMutex != nullptr);
    const auto limit = std::chrono::milliseconds(g_nWaitLimitMs.load(std::memory_order_relaxed));
    if (!sysMutexIsOwner(pMutex)) {
        std::mutex m;
        std::unique_lock<std::mutex> lock(m);
        pCond->cond.wait_for(lock, limit);
        return;
    }
    const int nDepth = pMutex->nDepth;
    for (int i = 1; i < nDepth; i++)
        pMutex->mutex.unlock();
    pMutex->nDepth = 0;
    pMutex->owner.store(std::thread::id(), std::memory_order_relaxed);
    pCond->cond.wait_for(pMutex->mutex, limit);
    for (int i = 1; i < nDepth; i++)
        pMutex->mutex.lock();
    pMutex->nDepth = nDepth;
    pMutex->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

int64_t sysCondSetWaitLimitMs(int64_t nMs)
{
    if (nMs < 0)
        nMs = 0;
    return g_nWaitLimitMs.exchange(nMs);
}
