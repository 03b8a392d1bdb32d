// Internals of the task component: the task record kept in the task table,
// the table operations, and the registry of live mutex and condition blocks.
#pragma once
#include <pthread.h>

#include <cstdint>

#include "eval/krvEval.h"
#include "include/korvel_ext.h"

// One created task: its environment, the thread that runs it and the
// number the script knows it by. Lives in the task table from creation
// until it is joined (or released at the end of the run).
struct krvTask_t {
    krvTask_t *link;               // task table chain
    intptr_t nNumber;              // table key
    krvEnv_t *pEnv;                // owned
    pthread_t thread;
    krvTask_t *pJoining;           // the task this one waits for in task_join (task-table lock)
    bool bJoined;                  // its thread has been joined already
};

// ---- task table (krvTaskTable.cpp) ---------------------------------------------
// Gives the task the next number and adds it to the table.
int64_t krvTaskTableAdd(krvTask_t *pTask);
// Takes the task of a number out of the table to join it; NULL when
// unknown. A task asking for its own number (*pnCycle 1), or for a task
// that waits through any chain of joins for the caller (*pnCycle 2), stays
// in the table: the join would never end. Otherwise the caller is recorded
// as waiting for the task until krvTaskJoinDone.
krvTask_t *krvTaskTableTake(int64_t nNumber, int *pnCycle);
// The caller's join of pTask has ended (before pTask is released).
void krvTaskJoinDone(void);
// The task record of the calling thread (NULL on main's thread).
void krvTaskSetSelf(krvTask_t *pTask);
// Counts a task as running / ended; the end of a run waits for the count
// to drop to 0.
void krvTaskRunBegin(void);
void krvTaskRunEnd(void);
void krvTaskWaitRunning(void);
// Waits for the thread of a task taken from the table (unless bJoined) and frees it with
// its environment and evaluation stack.
void krvTaskRelease(krvTask_t *pTask);

// ---- thread (krvTaskThread.cpp) -------------------------------------------------
// Starts the thread that runs the task's entry function with a copy of
// *pArg. 0, or the error number of the cause when no thread could be made
// (nothing is left behind).
int krvTaskStart(krvTask_t *pTask, const krvValue_t *pArg);

// ---- mutex and condition blocks (krvTaskHandles.cpp) ----------------------------
#define KRV_HANDLE_KIND_MUTEX 0x6d746578u
#define KRV_HANDLE_KIND_COND 0x63766172u

// The block behind a mutex or condition handle: the handle header and the
// operating-system object.
struct krvSyncBlock_t {
    krvHandleHdr_t hdr;
    void *pObj;                    // sysMutex_t or sysCond_t
};
static_assert(sizeof(krvSyncBlock_t) == 24, "mutex and condition blocks are 24 bytes");

// A new block of a kind around pObj, registered as live; NULL when out of
// memory.
krvSyncBlock_t *krvSyncNew(uint32_t nKind, void *pObj);
// The live block of a kind at a script value, held for use until
// krvSyncPut; NULL for any other value. Never reads memory a value
// points at unless it is a live block.
krvSyncBlock_t *krvSyncGet(uint64_t uValue, uint32_t nKind);
// Ends a use; frees a deleted block when its last user leaves.
void krvSyncPut(krvSyncBlock_t *pBlock);
// Unregisters the block of a kind at a value (later lookups fail) and frees
// it once no use is under way. 1, or 0 for an invalid value; -1 for a mutex
// that is held or waited for (it stays as it is).
int krvSyncDelete(uint64_t uValue, uint32_t nKind);
// Frees every block still registered (end of the interpreter's life).
void krvSyncFreeAll(void);

// ---- shared helpers (krvTaskArgs.cpp) ---------------------------------------------
// Evaluates a built-in's argument into *pValue (set up by the caller). 1, or
// 0 when the evaluation failed or the task is leaving (exit).
int krvTaskEvalArg(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pArg, krvValue_t *pValue, uint32_t *pFl);
// Evaluates a handle argument into *pu (its raw 64 bits); 1, or 0 as above.
int krvTaskHandleArg(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pArg, uint64_t *pu, uint32_t *pFl);
// Registers pObj (NULL when its creation failed) as a block of nKind and
// sets *pResult to its handle: 1, or 0 after an "Out of memory." error, with
// the object deleted.
template <typename T>
int krvTaskNewSyncResult(krvEnv_t *pEnv, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t nKind, T *pObj,
                         void (*pfnDelete)(T *))
{
    krvSetInt(pResult, 0);
    krvSyncBlock_t *pBlock = pObj ? krvSyncNew(nKind, pObj) : nullptr;
    if (!pBlock) {
        if (pObj)
            pfnDelete(pObj);
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pCall, "Out of memory.");
        return 0;
    }
    krvSetInt(pResult, static_cast<int64_t>(reinterpret_cast<uintptr_t>(pBlock)));
    return 1;
}
// A handle value as the pointer it is shown as in messages.
inline void *krvTaskHandlePtr(uint64_t u)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(u));
}
