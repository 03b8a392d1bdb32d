// The task runner: entry activations of main (argc/argv), of a task
// function (one value) and of a callback (count and values), the body run,
// and the big-stack thread every script task runs on.
#include <cstring>
#include <pthread.h>

#include "eval/krvEvalFrame.h"

// Room left on the native stack for what a call at the limit still does
// (built-ins, diagnostics).
#ifdef __SANITIZE_ADDRESS__
#define KRV_NATIVE_STACK_MARGIN (4u << 20)
#else
#define KRV_NATIVE_STACK_MARGIN (1u << 20)
#endif
// Stack of the thread main runs on: enough for the deepest nesting the
// backtrace stack allows (65536 calls at up to 4 KiB each), and no more, as
// it is reserved whole and tasks need address space of their own.
#ifdef __SANITIZE_ADDRESS__
#define KRV_TASK_STACK_SIZE (size_t(4) << 30)
#elif defined(__SANITIZE_THREAD__)
#define KRV_TASK_STACK_SIZE (size_t(1) << 30)
#else
#define KRV_TASK_STACK_SIZE (size_t(256) << 20)
#endif

// The margin is smaller on a small stack (a task's): a quarter of it.
static const char *nativeLimit(void)
{
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return nullptr;
    void *pAddr = nullptr;
    size_t nSize = 0;
    int rc = pthread_attr_getstack(&attr, &pAddr, &nSize);
    pthread_attr_destroy(&attr);
    size_t nMargin = nSize / 4 < KRV_NATIVE_STACK_MARGIN ? nSize / 4 : KRV_NATIVE_STACK_MARGIN;
    if (rc != 0 || !pAddr || nMargin < (64u << 10))
        return nullptr;
    return static_cast<const char *>(pAddr) + nMargin;
}

// An array slot holding copies of nCount values (one dimension).
static int arraySlot(krvSlot_t *pSlot, uint8_t dbd, int32_t nCount, const krvValue_t *pValues, char **argv)
{
    int32_t *pSizes = static_cast<int32_t *>(malloc(static_cast<size_t>(krvDescLen(1)) * sizeof(int32_t)));
    if (!pSizes)
        return -1;
    krvDescFill(pSizes, 1, &nCount);
    if (pSlot->bOwnSizes)
        free(pSlot->pASizes);
    pSlot->pASizes = pSizes;
    pSlot->bOwnSizes = 1;
    if (krvEvalSlotOwnCells(pSlot, nCount) != 0)
        return -1;
    for (int32_t i = 0; i < nCount; i++) {
        int rc = argv ? krvSetStr(&pSlot->pData[i], argv[i] ? argv[i] : "") : krvSetDataByData(&pSlot->pData[i], &pValues[i]);
        if (rc != 0)
            return -1;
    }
    pSlot->dbd = static_cast<uint8_t>(dbd & ~KRV_DBD_REF_BIT);
    pSlot->pType = nullptr;
    return 0;
}

static int valueSlot(krvSlot_t *pSlot, const krvValue_t *pValue)
{
    if (!krvEvalSlotElementary(pSlot))
        return -1;
    krvEvalSetInt(pSlot->pData, 0);
    if (pValue && krvSetDataByData(pSlot->pData, pValue) != 0)
        return -1;
    return 0;
}

static int bindEntryArgs(krvEnv_t *pEnv, krvFuncInfo_t *pF, int32_t nTop, int nMode, const krvRunArgs_t *pArgs)
{
    krvEvalState_t *pSt = pEnv->pEval;
    krvVar_t *pP1 = pF->pParams;
    krvVar_t *pP2 = pP1 ? pP1->link : nullptr;
    if (!pP1)
        return 0;
    krvSlot_t *pS1 = krvEvalSlot(pSt, nTop - pP1->stoffset);
    krvSlot_t *pS2 = pP2 ? krvEvalSlot(pSt, nTop - pP2->stoffset) : nullptr;
    krvValue_t v;
    v.type = KRV_DT_INTEGER;
    switch (nMode) {
    case KRV_RUN_MAIN:
        v.val.nInt = pArgs ? pArgs->argc : 0;
        if (valueSlot(pS1, &v) != 0)
            return -1;
        if (pS2 && arraySlot(pS2, pP2->dbd, pArgs ? pArgs->argc : 0, nullptr, pArgs ? pArgs->argv : nullptr) != 0)
            return -1;
        return 0;
    case KRV_RUN_TASK:
        return valueSlot(pS1, pArgs ? pArgs->pArg : nullptr);
    default:
        v.val.nInt = pArgs ? pArgs->nCount : 0;
        if (valueSlot(pS1, &v) != 0)
            return -1;
        if (pS2 && arraySlot(pS2, pP2->dbd, pArgs ? pArgs->nCount : 0, pArgs ? pArgs->pValues : nullptr, nullptr) != 0)
            return -1;
        return 0;
    }
}

int krvEvalRunTask(krvEnv_t *pEnv, krvValue_t *pResult, uint32_t *pFl, int nMode, const krvRunArgs_t *pArgs)
{
    if (!pEnv || krvEvalStateInit(pEnv) != 0)
        return 0;
    krvEvalState_t *pSt = pEnv->pEval;
    krvFuncInfo_t *pF = pSt->pEntryFunc;
    if (!pF && nMode == KRV_RUN_MAIN)
        pF = pEnv->pMainFunc;
    if (!pF || pF->type != KRV_USR_FUNC_TYPE)
        return 0;
    if (!pSt->ppBacktrace) {
        pSt->ppBacktrace = static_cast<krvAPTN_t **>(calloc(static_cast<size_t>(pSt->nBtMax), sizeof(krvAPTN_t *)));
        if (!pSt->ppBacktrace)
            return 0;
    }
    if (!pSt->pEntryCall || pSt->pEntryCall->u.usrCall.pFuncPtr != pF) {
        if (pSt->pEntryCall)
            krvFreeAPTN(pSt->pEntryCall);
        pSt->pEntryCall = krvNewAPTN(krvAPTNType_usrCall, pF->nFileIdx, pF->nLine);
        if (!pSt->pEntryCall)
            return 0;
        pSt->pEntryCall->u.usrCall.pFuncPtr = pF;
    }
    const char *pSavedLimit = pSt->pNativeLimit;
    pSt->pNativeLimit = nativeLimit();
    krvAPTN_t *pAt = pSt->pEntryCall;
    int32_t nSavedTop = pSt->top, nSavedFrameTop = pSt->nFrameTop, nSavedDepth = pSt->nBtDepth;
    int32_t nNewTop = nSavedTop + pF->nAutoVarNum;
    int ok = 0;
    if (krvEvalStackReserve(pEnv, nNewTop + 2, pAt) == 0) {
        if (bindEntryArgs(pEnv, pF, nNewTop, nMode, pArgs) != 0) {
            krvErrorAt(KRV_RTE_DEPTH, pEnv, pAt, "Out of memory for the arguments of %s().", pF->szName);
        } else if (krvEvalSetupLocals(pEnv, pF, nNewTop, pAt)) {
            if (pSt->nBtDepth < pSt->nBtMax) {
                pSt->ppBacktrace[pSt->nBtDepth++] = pAt;
                pSt->top = nNewTop;
                krvEvalSetFrame(pEnv, nNewTop);
                ok = krvEvalInitLocals(pEnv, pF, pFl);
                if (ok) {
                    krvEvalSetInt(pResult, 0);
                    ok = krvEvalFuncBody(pEnv, pF, pF->pBody, pResult, pFl);
                }
            } else {
                krvErrorAt(KRV_RTE_DEPTH, pEnv, pAt, "Too deep function calls; more than %d calls are nested.",
                           pSt->nBtMax);
            }
        }
    }
    pSt->top = nSavedTop;
    krvEvalSetFrame(pEnv, nSavedFrameTop);
    pSt->nBtDepth = nSavedDepth;
    pSt->pNativeLimit = pSavedLimit;
    return ok;
}

struct bigStackJob_t {
    void (*fn)(void *);
    void *pArg;
};

static void *bigStackThread(void *p)
{
    auto *pJob = static_cast<bigStackJob_t *>(p);
    pJob->fn(pJob->pArg);
    return nullptr;
}

int krvEvalRunOnBigStack(void (*fn)(void *), void *pArg)
{
    bigStackJob_t job{fn, pArg};
    pthread_attr_t attr;
    pthread_t th;
    bool bMade = false;
    if (pthread_attr_init(&attr) == 0) {
        if (pthread_attr_setstacksize(&attr, KRV_TASK_STACK_SIZE) == 0)
            bMade = pthread_create(&th, &attr, bigStackThread, &job) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!bMade) {
        fn(pArg);
        return -1;
    }
    pthread_join(th, nullptr);
    return 0;
}
