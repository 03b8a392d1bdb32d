/*
 * kxt_calls: a test module for calls from scripts into modules and back. It
 * registers namespace kxc with functions that report what arrived (count,
 * types, by-reference cells, array windows, structure elements, the
 * calling context), fail in the ways a handler can, and run script
 * callbacks on the caller's thread or on a thread of the module's own.
 */
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "korvel_ext.h"

static krvHostTable_t g_host;

/* Appends formatted text to a result buffer. */
static void put(char *szBuf, size_t nSize, const char *szFmt, ...) __attribute__((format(printf, 3, 4)));
static void put(char *szBuf, size_t nSize, const char *szFmt, ...)
{
    size_t nLen = strlen(szBuf);
    va_list ap;
    if (nLen + 1 >= nSize)
        return;
    va_start(ap, szFmt);
    vsnprintf(szBuf + nLen, nSize - nLen, szFmt, ap);
    va_end(ap);
}

static void putCell(char *szBuf, size_t nSize, const krvValue_t *pCell)
{
    if (pCell == NULL) {
        put(szBuf, nSize, "null");
        return;
    }
    switch (pCell->type) {
    case KRV_DT_INTEGER:
        put(szBuf, nSize, "%lld", (long long)pCell->val.nInt);
        break;
    case KRV_DT_FLOAT:
        put(szBuf, nSize, "%g", pCell->val.dFloat);
        break;
    case KRV_DT_STRING:
        put(szBuf, nSize, "'%s'", pCell->val.pStr);
        break;
    default:
        put(szBuf, nSize, "%s", g_host.pfnGetTypeName(pCell->type));
        break;
    }
}

/* nargs(...): 10 x the count, plus 1 when the vector is null. */
static int32_t kxcNargs(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)szMsg;
    g_host.pfnSetInt(pResult, (int64_t)nArgs * 10 + (pArgs == NULL ? 1 : 0));
    return 0;
}

/* desc(x): the argument's type name and value. */
static int32_t kxcDesc(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    char sz[256] = "";
    (void)nArgs;
    (void)szMsg;
    put(sz, sizeof sz, "%s ", g_host.pfnGetTypeName(g_host.pfnGetArgType(pArgs, 0)));
    putCell(sz, sizeof sz, &pArgs[0]);
    g_host.pfnSetStr(pResult, sz);
    return 0;
}

/* setref(&x, v): stores v into the caller's variable; result 1. */
static int32_t kxcSetRef(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    krvValue_t *pCell = (krvValue_t *)g_host.pfnGetArgHandle(pArgs, 0);
    (void)nArgs;
    (void)szMsg;
    g_host.pfnSetDataByData(pCell, &pArgs[1]);
    g_host.pfnSetInt(pResult, 1);
    return 0;
}

/* Row-major element k of an array reference with up to 3 dimensions. */
static krvValue_t *elemAt(void *pRef, int32_t nDims, const int32_t *pSizes, int32_t k)
{
    int32_t i[3] = {0, 0, 0};
    int32_t d;
    for (d = nDims - 1; d >= 0; d--) {
        i[d] = k % pSizes[d];
        k /= pSizes[d];
    }
    if (nDims == 1)
        return g_host.pfnGetArrElem(pRef, i[0]);
    if (nDims == 2)
        return g_host.pfnGetArrElem(pRef, i[0], i[1]);
    return g_host.pfnGetArrElem(pRef, i[0], i[1], i[2]);
}

/* view(a[]): "N:[S0xS1] e0 e1 ..." as the module sees the array passed. */
static int32_t kxcView(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    void *pRef = g_host.pfnGetArgHandle(pArgs, 0);
    int32_t nDims = g_host.pfnGetArrDimNum(pRef), aSizes[3], d, k, nCount = 1;
    char sz[256] = "";
    (void)nArgs;
    if (!g_host.pfnIsArray(pRef) || nDims < 1 || nDims > 3) {
        strcpy(szMsg, "not an array of 1 to 3 dimensions");
        g_host.pfnSetInt(pResult, -1);
        return 1;
    }
    put(sz, sizeof sz, "%d:[", nDims);
    for (d = 0; d < nDims; d++) {
        aSizes[d] = g_host.pfnGetArrDimSize(pRef, d);
        nCount *= aSizes[d];
        put(sz, sizeof sz, "%s%d", d ? "x" : "", aSizes[d]);
    }
    put(sz, sizeof sz, "]");
    for (k = 0; k < nCount; k++) {
        put(sz, sizeof sz, " ");
        putCell(sz, sizeof sz, elemAt(pRef, nDims, aSizes, k));
    }
    /* Past the last index of a dimension there is no element. */
    if (g_host.pfnGetArrDimSize(pRef, nDims) != -1 || (nDims == 1 && g_host.pfnGetArrElem(pRef, aSizes[0]) != NULL) ||
        (nDims == 1 && g_host.pfnGetArrElem(pRef, -1) != NULL))
        put(sz, sizeof sz, " BOUNDS");
    g_host.pfnSetStr(pResult, sz);
    return 0;
}

/* fill(a[], v): element k of the passed array (row-major) becomes v + k. */
static int32_t kxcFill(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    void *pRef = g_host.pfnGetArgHandle(pArgs, 0);
    int32_t nDims = g_host.pfnGetArrDimNum(pRef), aSizes[3], d, k, nCount = 1;
    int64_t v = g_host.pfnGetArgInt(pArgs, 1);
    (void)nArgs;
    if (nDims < 1 || nDims > 3) {
        strcpy(szMsg, "not an array of 1 to 3 dimensions");
        g_host.pfnSetInt(pResult, -1);
        return 1;
    }
    for (d = 0; d < nDims; d++) {
        aSizes[d] = g_host.pfnGetArrDimSize(pRef, d);
        nCount *= aSizes[d];
    }
    for (k = 0; k < nCount; k++)
        g_host.pfnSetInt(elemAt(pRef, nDims, aSizes, k), v + k);
    g_host.pfnSetInt(pResult, nCount);
    return 0;
}

/* sinfo(s): "TYPE x=.. y=[..]" of a structure with members x and y[2];
 * member x is then incremented in the caller's storage. */
static int32_t kxcSinfo(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    void *pRef = g_host.pfnGetArgHandle(pArgs, 0);
    const char *szType = g_host.pfnGetStructTypeName(pRef);
    krvValue_t *pX = g_host.pfnGetStructMember(pRef, "f", "x");
    char sz[256] = "";
    (void)nArgs;
    if (szType == NULL || pX == NULL) {
        strcpy(szMsg, "not a structure with member x");
        g_host.pfnSetInt(pResult, -1);
        return 1;
    }
    put(sz, sizeof sz, "%s x=", szType);
    putCell(sz, sizeof sz, pX);
    put(sz, sizeof sz, " y=");
    putCell(sz, sizeof sz, g_host.pfnGetStructMember(pRef, "fi", "y", 0));
    put(sz, sizeof sz, ",");
    putCell(sz, sizeof sz, g_host.pfnGetStructMember(pRef, "fi", "y", 1));
    if (pX->type == KRV_DT_INTEGER)
        g_host.pfnSetInt(pX, pX->val.nInt + 1);
    g_host.pfnSetStr(pResult, sz);
    return 0;
}

/* fail(code, text): fails with the status and the text as its message. */
static int32_t kxcFail(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    const char *szText = g_host.pfnGetArgStr(pArgs, 1);
    (void)nArgs;
    snprintf(szMsg, KRV_EXT_MSG_SIZE, "%s", szText ? szText : "");
    g_host.pfnSetInt(pResult, -1);
    return (int32_t)g_host.pfnGetArgInt(pArgs, 0);
}

/* longfail(): fails with a message that fills the whole buffer. */
static int32_t kxcLongFail(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)pArgs;
    memset(szMsg, 'm', KRV_EXT_MSG_SIZE);
    g_host.pfnSetInt(pResult, -1);
    return 9;
}

/* reported(): the failure is said to be reported already. */
static int32_t kxcReported(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)pArgs;
    (void)pResult;
    strcpy(szMsg, "never shown");
    return KRV_EXT_STATUS_REPORTED;
}

/* noresult(x): sets no value. */
static int32_t kxcNoResult(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)pArgs;
    (void)pResult;
    (void)szMsg;
    return 0;
}

/* ctx(): the calling evaluation context as an integer. */
static int32_t kxcCtx(void *pCtx, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)pArgs;
    (void)szMsg;
    g_host.pfnSetInt(pResult, (int64_t)(intptr_t)pCtx);
    return 0;
}

/* cbparams(name): parameters of a script function, -1 when not found. */
static int32_t kxcCbParams(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)szMsg;
    g_host.pfnSetInt(pResult, g_host.pfnGetUsrFuncParamNum(g_host.pfnGetArgStr(pArgs, 0)));
    return 0;
}

/* A callback run: n cells 100, 101, ... (cell 1 a string), the result. */
struct cbJob {
    void *pCb;
    int32_t nCount;
    int32_t nTimes;
    krvValue_t aCells[16];
    krvValue_t result;
    int nRan;
};

static void jobInit(struct cbJob *pJob, void *pCb, int64_t n, int64_t nTimes)
{
    int32_t i;
    memset(pJob, 0, sizeof *pJob);
    pJob->pCb = pCb;
    pJob->nCount = n < 0 ? 0 : n > 16 ? 16 : (int32_t)n;
    pJob->nTimes = nTimes < 1 ? 1 : (int32_t)nTimes;
    for (i = 0; i < 16; i++)
        g_host.pfnSetInt(&pJob->aCells[i], 100 + i);
    g_host.pfnSetStr(&pJob->aCells[1], "text");
    g_host.pfnSetInt(&pJob->result, 0);
}

static void jobFree(struct cbJob *pJob)
{
    int32_t i;
    for (i = 0; i < 16; i++)
        g_host.pfnSetInt(&pJob->aCells[i], 0);
    g_host.pfnSetInt(&pJob->result, 0);
}

static void *jobRun(void *p)
{
    struct cbJob *pJob = (struct cbJob *)p;
    int32_t t;
    for (t = 0; t < pJob->nTimes; t++)
        pJob->nRan += g_host.pfnRunCallback(pJob->pCb, pJob->nCount, pJob->aCells, &pJob->result);
    return NULL;
}

/* cbrun(name, n, onthread): runs name(n, cells) on the caller's thread
 * (onthread 0) or on a new thread of the module; the function's result,
 * or -1 when no callback can be made for the name. */
static int32_t kxcCbRun(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    struct cbJob job;
    void *pCb = g_host.pfnNewCallback(g_host.pfnGetArgStr(pArgs, 0));
    (void)nArgs;
    if (pCb == NULL) {
        g_host.pfnSetInt(pResult, -1);
        return 0;
    }
    jobInit(&job, pCb, g_host.pfnGetArgInt(pArgs, 1), 1);
    if (g_host.pfnGetArgInt(pArgs, 2)) {
        pthread_t th;
        if (pthread_create(&th, NULL, jobRun, &job) != 0) {
            strcpy(szMsg, "no thread");
            g_host.pfnFreeCallback(pCb);
            jobFree(&job);
            g_host.pfnSetInt(pResult, -1);
            return 1;
        }
        pthread_join(th, NULL);
    } else {
        jobRun(&job);
    }
    g_host.pfnSetDataByData(pResult, &job.result);
    g_host.pfnFreeCallback(pCb);
    jobFree(&job);
    return 0;
}

/* cbnull(): what running a null callback returns. */
static int32_t kxcCbNull(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    krvValue_t r;
    (void)nArgs;
    (void)pArgs;
    (void)szMsg;
    r.type = KRV_DT_INTEGER;
    r.val.nInt = 0;
    g_host.pfnSetInt(pResult, g_host.pfnRunCallback(NULL, 0, NULL, &r) * 10 + g_host.pfnFreeCallback(NULL));
    return 0;
}

/* Background runs: cbstart(name, times) starts a module thread that runs
 * name(2, cells) the given number of times while the script goes on;
 * cbwait() waits for it and returns how many runs succeeded. */
static struct cbJob g_bgJob;
static pthread_t g_bgThread;
static int g_bgActive;

static int32_t kxcCbStart(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    void *pCb;
    (void)nArgs;
    if (g_bgActive) {
        strcpy(szMsg, "a background run is active");
        g_host.pfnSetInt(pResult, 0);
        return 1;
    }
    pCb = g_host.pfnNewCallback(g_host.pfnGetArgStr(pArgs, 0));
    if (pCb == NULL) {
        g_host.pfnSetInt(pResult, 0);
        return 0;
    }
    jobInit(&g_bgJob, pCb, 2, g_host.pfnGetArgInt(pArgs, 1));
    if (pthread_create(&g_bgThread, NULL, jobRun, &g_bgJob) != 0) {
        g_host.pfnFreeCallback(pCb);
        jobFree(&g_bgJob);
        strcpy(szMsg, "no thread");
        g_host.pfnSetInt(pResult, 0);
        return 1;
    }
    g_bgActive = 1;
    g_host.pfnSetInt(pResult, 1);
    return 0;
}

static void bgStop(void)
{
    if (!g_bgActive)
        return;
    pthread_join(g_bgThread, NULL);
    g_host.pfnFreeCallback(g_bgJob.pCb);
    jobFree(&g_bgJob);
    g_bgActive = 0;
}

static int32_t kxcCbWait(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    int nRan = g_bgActive ? 0 : -1;
    (void)nArgs;
    (void)pArgs;
    (void)szMsg;
    if (g_bgActive) {
        pthread_join(g_bgThread, NULL);
        g_bgActive = 0;
        nRan = g_bgJob.nRan;
        g_host.pfnFreeCallback(g_bgJob.pCb);
        jobFree(&g_bgJob);
    }
    g_host.pfnSetInt(pResult, nRan);
    return 0;
}

KRV_EXT_EXPORT void kxt_calls_intpver(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = KRV_EXT_VER_MAJOR;
    *pMinor = KRV_EXT_VER_MINOR;
    *pPatch = KRV_EXT_VER_PATCH;
    szSuffix[0] = '\0';
}

KRV_EXT_EXPORT int kxt_calls_init(krvHostTable_t *pHost, const char **ppScript)
{
    void *pNs;
    int ok = 1;

    g_host = *pHost;
    *ppScript = NULL;
    pNs = g_host.pfnAddNs(g_host.pfnGetRootNs(), "kxc");
    if (pNs == NULL)
        return 0;
    ok &= g_host.pfnAddFunc(pNs, "nargs", kxcNargs, 0, 8, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "desc", kxcDesc, 1, 1, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "setref", kxcSetRef, 2, 2, 0x1, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "view", kxcView, 1, 1, 0, 0x1, 0);
    ok &= g_host.pfnAddFunc(pNs, "fill", kxcFill, 2, 2, 0, 0x1, 0);
    ok &= g_host.pfnAddFunc(pNs, "sinfo", kxcSinfo, 1, 1, 0, 0, 0x1);
    ok &= g_host.pfnAddFunc(pNs, "fail", kxcFail, 2, 2, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "longfail", kxcLongFail, 0, 0, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "reported", kxcReported, 0, 0, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "noresult", kxcNoResult, 1, 1, 0, 0, 0);
    ok &= g_host.pfnAddCtxFunc(pNs, "ctx", kxcCtx, 0, 0, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "cbparams", kxcCbParams, 1, 1, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "cbrun", kxcCbRun, 3, 3, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "cbnull", kxcCbNull, 0, 0, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "cbstart", kxcCbStart, 2, 2, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "cbwait", kxcCbWait, 0, 0, 0, 0, 0);
    return ok;
}

KRV_EXT_EXPORT void kxt_calls_deinit(void)
{
    bgStop();
}
