// Thin wrappers over threads, recursive mutexes and condition variables.
#pragma once
#include <cstdint>

struct sysTask_t;    // thread object
struct sysMutex_t;   // recursive mutex
struct sysCond_t;    // condition variable

typedef void *(*sysTaskFunc_t)(void *pArg);

sysTask_t *sysTaskCreate(sysTaskFunc_t pFunc, void *pArg);  // fatal when no thread can be made
int sysTaskJoin(sysTask_t *pTask);                          // frees the object; returns 0

sysMutex_t *sysMutexCreate(void);
void sysMutexDelete(sysMutex_t *pMutex);
void sysMutexLock(sysMutex_t *pMutex);
void sysMutexUnlock(sysMutex_t *pMutex);     // does nothing when the caller does not hold it
int sysMutexIsOwner(sysMutex_t *pMutex);     // 1 when the calling thread holds pMutex
int sysMutexIsHeld(sysMutex_t *pMutex);      // 1 when any thread holds pMutex

sysCond_t *sysCondCreate(void);
void sysCondDelete(sysCond_t *pCond);
void sysCondBroadcast(sysCond_t *pCond);
// Releases pMutex (every level the caller holds) and waits for a broadcast,
// at most the bounded wait (100000 ms); re-acquires pMutex as often before
// returning. The caller cannot tell a wake-up from the time limit.
void sysCondWait(sysCond_t *pCond, sysMutex_t *pMutex);
// Test hook: sets the bounded wait in milliseconds; returns the old value.
int64_t sysCondSetWaitLimitMs(int64_t nMs);
