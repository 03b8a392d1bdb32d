// The evaluator: statements, expressions, user calls and the task runner
// that starts main (and later tasks and module callbacks).
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "eval/krvEvalState.h"
#include "model/krvModel.h"

// ---- cells shared between tasks ------------------------------------------------
// Once a second thread may run script code (a task, or a callback a module
// may run on a thread of its own), the cells of global variables, and the
// cells a by-reference parameter reaches, are shared. From then on the
// evaluator reads no operand in place: it reads and writes each cell under
// a lock of its own stripe, so that a cell's type
// and payload change together and a string is never read while another
// task frees it. A script race still gives one value or the other. While
// one thread runs script code alone nothing of this costs anything but the
// test of the flag.
extern std::atomic<bool> g_krvEvalCellsShared;
static inline bool krvEvalCellsShared(void)
{
    return g_krvEvalCellsShared.load(std::memory_order_relaxed);
}
// Turns sharing on (for good), before the second thread starts.
void krvEvalShareCells(void);
// The stripe lock of a cell.
std::mutex &krvEvalCellLock(const krvValue_t *pCell);
// Holds the stripe lock of a cell while sharing is on (one at a time).
class krvCellGuard {
public:
    explicit krvCellGuard(const krvValue_t *pCell)
        : m_p(krvEvalCellsShared() ? &krvEvalCellLock(pCell) : nullptr)
    {
        if (m_p)
            m_p->lock();
    }
    ~krvCellGuard()
    {
        if (m_p)
            m_p->unlock();
    }
    krvCellGuard(const krvCellGuard &) = delete;
    krvCellGuard &operator=(const krvCellGuard &) = delete;

private:
    std::mutex *m_p;
};

// ---- evaluation state -------------------------------------------------------
// Creates the environment's evaluation state (empty stack, top 0); 0, or -1
// when out of memory. A second call does nothing.
int krvEvalStateInit(krvEnv_t *pEnv);
// Bounds of a task's state, before it first runs: nSlots stack slots (a
// multiple of the chunk size, at most KRV_STACK_SLOT_MAX) and nCalls nested
// calls (at most KRV_BACKTRACE_MAX). A task runs on a small native stack,
// which ends a deep recursion long before these; they keep the address
// space a task reserves small, so that many tasks fit.
void krvEvalStateSetLimits(krvEnv_t *pEnv, int32_t nSlots, int32_t nCalls);
// Tears the stack down (every slot released, chunks freed), frees the
// backtrace stack and the state itself. Safe on an environment without one.
void krvEvalStateFree(krvEnv_t *pEnv);
// Makes sure slots [0, nEnd) exist; 0, or -1 (reported at pAt) past the limit.
int krvEvalStackGrow(krvEnv_t *pEnv, int32_t nEnd, const krvAPTN_t *pAt);
static inline int krvEvalStackReserve(krvEnv_t *pEnv, int32_t nEnd, const krvAPTN_t *pAt)
{
    return nEnd <= pEnv->pEval->nLastAlloc ? 0 : krvEvalStackGrow(pEnv, nEnd, pAt);
}
// Releases what a slot owns and marks it free.
void krvEvalSlotRelease(krvSlot_t *pSlot);

// Prepares every user function of the namespace tree below pNs (member
// functions included) for evaluation: gives each node its operation and
// builds the switch tables. Run once resolution, layout and checking are
// done, before anything can run; running tasks only read what it writes.
void krvEvalPrepareScript(krvNamespace_t *pNs);
// The same for a tree outside any function (a call node made in code).
void krvEvalPrepareTree(krvAPTN_t *pNode);

// ---- statements and expressions -----------------------------------------------
// Evaluates any node (statement or expression) into pResult. Returns 1, or 0
// on a run-time error or exit. A goto hands its tag name out through
// *pszTagName with bit 16 set in *pFlXcptFlags.
int krvEval_APTN(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pNode, const char **pszTagName,
                 krvValue_t *pResult, uint32_t *pFlXcptFlags);
// The goto search inside a statement: resumes execution at the statement
// tagged *pszTagName when it is found inside pNode (then *pGotoFlag is 0).
int krvEval_APTN_goto(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pNode, const char **pszTagName,
                      int *pGotoFlag, krvValue_t *pResult, uint32_t *pFlXcptFlags);
// Operator expressions (kind 7).
int krvEvalExpr(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pExpr, krvValue_t *pResult,
                uint32_t *pFlXcptFlags);
// The body loop of an activation once statement pAt (of the top-level list
// from pFirst) has left a flag word other than 0 and return: the goto
// search, and the rest of the body. 1 or 0.
int krvEvalBodyResume(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pFirst, krvAPTN_t *pAt, const char *szTag,
                      krvValue_t *pResult, uint32_t *pFlXcptFlags);

// ---- element location -------------------------------------------------------------
// Where a reference leads: the element's first cell and what the last
// element of its path is.
struct krvLoc_t {
    krvValue_t *pCell;             // first cell of the element (or of the array's leading element)
    krvValue_t *pArrBase;          // first cell of the array the last path element names (arrays)
    uint8_t dbd;                   // dbd of the last path element
    krvStruct_t *pType;            // its structure type, NULL when elementary
    const int32_t *pSizes;         // its size descriptor (arrays)
    int bView;                     // pSizes is a sub-range view descriptor
    krvAPTN_t *pIndexes;           // index list of the last path element
    krvAPTN_t *pLastNode;          // last node of the path
    krvVar_t *pLastVar;            // variable (or member datum) of the last element
};
// Locates the element a reference names. Plain indices of the last path
// element are applied up to the first sub-range. 1, or 0 after a report.
int krvEvalLocate(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pRef, krvLoc_t *pLoc,
                  uint32_t *pFlXcptFlags);

// A window over an array: the dimensions not fixed by plain indices.
#define KRV_WIN_DIMS_MAX 32
struct krvWindow_t {
    krvValue_t *pBase;             // underlying element (0, ..., 0) of these dimensions
    int32_t nElemSize;             // cells per element
    int32_t nDims;
    int32_t nLead;                 // dimensions consumed by plain indices
    int32_t aUnder[KRV_WIN_DIMS_MAX + 1];   // underlying stride of each dimension, [nDims] = 1
    int32_t aUnderSize[KRV_WIN_DIMS_MAX];   // underlying size of each dimension
    int32_t aAddrStart[KRV_WIN_DIMS_MAX];   // first index in the underlying storage
    int32_t aStart[KRV_WIN_DIMS_MAX];       // first index as the reference sees it
    int32_t aCount[KRV_WIN_DIMS_MAX];
};
// Message set for window errors (argument binding or printing).
enum krvWinMsgs_t { KRV_WIN_MSG_ARG, KRV_WIN_MSG_PRINT };
// Builds the window of an array reference located by krvEvalLocate. 1, or 0
// after a report.
int krvEvalWindow(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, const krvLoc_t *pLoc, krvWindow_t *pWin,
                  krvWinMsgs_t eMsgs, uint32_t *pFlXcptFlags);
// Locates an array argument of a call and builds its window: 1, or 0 after
// a report ("... is not an array variable." when the argument is no array).
int krvEvalArgWindow(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pArg, krvLoc_t *pLoc,
                     krvWindow_t *pWin, uint32_t *pFlXcptFlags);
// Number of elements in a window.
int64_t krvWindowCount(const krvWindow_t *pWin);
// Element i (row-major) of a window: its first cell.
krvValue_t *krvWindowElem(const krvWindow_t *pWin, int64_t i);
// A new view descriptor (malloc'ed; NULL when out of memory) through which
// a by-reference array parameter sees the window.
int32_t *krvWindowNewView(const krvWindow_t *pWin);

// ---- calls and the runner --------------------------------------------------------
// An if statement.
int krvEval_ifStmt(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pNode, const char **pszTagName,
                   krvValue_t *pResult, uint32_t *pFlXcptFlags);
int krvEvalCallUsrFunc(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                       uint32_t *pFlXcptFlags);

// Task runner modes.
#define KRV_RUN_MAIN 0
#define KRV_RUN_TASK 1
#define KRV_RUN_CALLBACK 2
struct krvRunArgs_t {
    int argc;                      // mode 0
    char **argv;
    const krvValue_t *pArg;        // mode 1
    int32_t nCount;                // mode 2
    const krvValue_t *pValues;
};
// Runs the environment's entry function (pEnv->pEval->pEntryFunc; for mode 0
// pEnv->pMainFunc when unset) with its entry activation. Returns the
// activation's status (1 or 0); 0 without an entry function.
int krvEvalRunTask(krvEnv_t *pEnv, krvValue_t *pResult, uint32_t *pFlXcptFlags, int nMode, const krvRunArgs_t *pArgs);
// Runs fn(pArg) on a thread with a stack large enough for the deepest call
// nesting the evaluator allows, and waits for it. 0, or -1 when no thread
// could be made (fn is then run on the calling thread).
int krvEvalRunOnBigStack(void (*fn)(void *), void *pArg);
