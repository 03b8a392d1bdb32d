/*
 * kxt_full: a test module that uses the whole host service table. It
 * registers namespace kxt (with a child kxt::sub), functions that exercise
 * the argument, value, array and structure slots, constants and variables,
 * and hands back a little script text from _init. Its lifecycle calls are
 * counted and printed so that tests can see them.
 */
#include <stdarg.h>
#include <string.h>

#include "korvel_ext.h"

static krvHostTable_t g_host;
static int g_nInit, g_nPrepare, g_nDeinit;

static const char g_szScript[] = "namespace kxt {\n  struct Pair_t {\n    var a;\n    var b;\n  };\n}\n";

/* add(a, b): integer sum. */
static int32_t kxtAdd(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)szMsg;
    g_host.pfnSetInt(pResult, g_host.pfnGetArgInt(pArgs, 0) + g_host.pfnGetArgInt(pArgs, 1));
    return 0;
}

/* concat(s1, s2): the two texts joined. */
static int32_t kxtConcat(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    const char *a = g_host.pfnGetArgStr(pArgs, 0);
    const char *b = g_host.pfnGetArgStr(pArgs, 1);
    char *p;
    (void)nArgs;
    if (a == NULL || b == NULL) {
        strcpy(szMsg, "string arguments expected");
        g_host.pfnSetInt(pResult, -1);
        return 2;
    }
    p = (char *)g_host.pfnMalloc(strlen(a) + strlen(b) + 1);
    if (p == NULL) {
        g_host.pfnSetInt(pResult, -1);
        return 3;
    }
    strcpy(p, a);
    strcat(p, b);
    g_host.pfnSetStr(pResult, p);
    g_host.pfnFree(p);
    return 0;
}

/* setref(&x, v): stores v into the caller's variable; result 0. */
static int32_t kxtSetRef(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    krvValue_t *pCell = (krvValue_t *)g_host.pfnGetArgHandle(pArgs, 0);
    (void)nArgs;
    (void)szMsg;
    g_host.pfnSetDataByData(pCell, &pArgs[1]);
    g_host.pfnSetInt(pResult, 0);
    return 0;
}

/* sum(arr[]): sum of the integer elements of a one- or two-dimensional array. */
static int32_t kxtSum(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    void *pArr = g_host.pfnGetArgHandle(pArgs, 0);
    int32_t nDims, i, j;
    int64_t nSum = 0;
    (void)nArgs;
    if (!g_host.pfnIsArray(pArr)) {
        strcpy(szMsg, "not an array");
        g_host.pfnSetInt(pResult, -1);
        return 4;
    }
    nDims = g_host.pfnGetArrDimNum(pArr);
    if (nDims == 1) {
        for (i = 0; i < g_host.pfnGetArrDimSize(pArr, 0); i++)
            nSum += g_host.pfnGetArrElem(pArr, i)->val.nInt;
    } else if (nDims == 2) {
        for (i = 0; i < g_host.pfnGetArrDimSize(pArr, 0); i++)
            for (j = 0; j < g_host.pfnGetArrDimSize(pArr, 1); j++)
                nSum += g_host.pfnGetArrElem(pArr, i, j)->val.nInt;
    } else {
        strcpy(szMsg, "one or two dimensions expected");
        g_host.pfnSetInt(pResult, -1);
        return 5;
    }
    g_host.pfnSetInt(pResult, nSum);
    return 0;
}

/* fail(code): fails with the given status and the message "bad". */
static int32_t kxtFail(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    strcpy(szMsg, "bad");
    g_host.pfnSetInt(pResult, -1);
    return (int32_t)g_host.pfnGetArgInt(pArgs, 0);
}

/* noargs(): 1 when called with no arguments and a null vector. */
static int32_t kxtNoArgs(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)szMsg;
    g_host.pfnSetInt(pResult, nArgs == 0 && pArgs == NULL);
    return 0;
}

/* typeof(x): the name of the argument's data type. */
static int32_t kxtTypeOf(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)szMsg;
    g_host.pfnSetStr(pResult, g_host.pfnGetTypeName(g_host.pfnGetArgType(pArgs, 0)));
    return 0;
}

/* half(x): the floating argument divided by two. */
static int32_t kxtHalf(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)szMsg;
    g_host.pfnSetFloat(pResult, g_host.pfnGetArgFloat(pArgs, 0) / 2.0);
    return 0;
}

/* member(s): member b of a structure argument; the type name is checked. */
static int32_t kxtMember(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    void *pStruct = g_host.pfnGetArgHandle(pArgs, 0);
    krvValue_t *pCell = g_host.pfnGetStructMember(pStruct, "f", "b");
    (void)nArgs;
    if (pCell == NULL) {
        strcpy(szMsg, "no member b");
        g_host.pfnSetInt(pResult, -1);
        return 6;
    }
    g_host.pfnSetDataByData(pResult, pCell);
    return 0;
}

/* hasctx(): 1 when the host passed an evaluation context. */
static int32_t kxtHasCtx(void *pCtx, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    (void)nArgs;
    (void)pArgs;
    (void)szMsg;
    g_host.pfnSetInt(pResult, pCtx != NULL);
    return 0;
}

KRV_EXT_EXPORT void kxt_full_intpver(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = KRV_EXT_VER_MAJOR;
    *pMinor = KRV_EXT_VER_MINOR;
    *pPatch = KRV_EXT_VER_PATCH;
    szSuffix[0] = '\0';
}

KRV_EXT_EXPORT void kxt_full_ver(char *szName, char *szVersion, char *szBuild)
{
    strcpy(szName, "kxt_full");
    strcpy(szVersion, "0.9.1");
    strcpy(szBuild, "test module, full registration");
}

KRV_EXT_EXPORT int kxt_full_init(krvHostTable_t *pHost, const char **ppScript)
{
    void *pRoot, *pNs, *pSub;
    int ok = 1;

    g_host = *pHost;   /* the table lives only for this call */
    g_nInit++;
    pRoot = g_host.pfnGetRootNs();
    pNs = g_host.pfnAddNs(pRoot, "kxt");
    if (pNs == NULL)
        return 0;
    pSub = g_host.pfnAddNs(pNs, "sub");
    ok &= pSub != NULL;
    ok &= g_host.pfnAddFunc(pNs, "add", kxtAdd, 2, 2, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "concat", kxtConcat, 2, 2, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "setref", kxtSetRef, 2, 2, 0x1, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "sum", kxtSum, 1, 1, 0, 0x1, 0);
    ok &= g_host.pfnAddFunc(pNs, "fail", kxtFail, 1, 1, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "noargs", kxtNoArgs, 0, 0, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "typeof", kxtTypeOf, 1, 1, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "half", kxtHalf, 1, 1, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pNs, "member", kxtMember, 1, 1, 0, 0, 0x1);
    ok &= g_host.pfnAddCtxFunc(pNs, "hasctx", kxtHasCtx, 0, 0, 0, 0, 0);
    ok &= g_host.pfnAddFunc(pSub, "add", kxtAdd, 2, 2, 0, 0, 0);
    ok &= g_host.pfnAddIntConst(pNs, "ANSWER", 42);
    ok &= g_host.pfnAddStrConst(pNs, "GREETING", "hello");
    ok &= g_host.pfnAddVar(pNs, "counter");
    ok &= g_host.pfnSetVarInt(pNs, "counter", 7);
    ok &= g_host.pfnAddVar(pNs, "label");
    ok &= g_host.pfnSetVarStr(pNs, "label", "unset");
    ok &= g_host.pfnAddIntConst(NULL, "KXT_LOADED", 1);
    if (!ok) {
        g_host.pfnErrPrintf("kxt_full: registration failed\n");
        return 0;
    }
    *ppScript = g_szScript;
    return 1;
}

KRV_EXT_EXPORT void kxt_full_prepare(void)
{
    g_nPrepare++;
    g_host.pfnPrintf("kxt_full: prepare %d\n", g_nPrepare);
}

KRV_EXT_EXPORT void kxt_full_deinit(void)
{
    g_nDeinit++;
    g_host.pfnPrintf("kxt_full: deinit %d\n", g_nDeinit);
}

/* Test hooks: the lifecycle counts and the module's copy of the table. */
KRV_EXT_EXPORT void kxt_full_counts(int *pInit, int *pPrepare, int *pDeinit)
{
    *pInit = g_nInit;
    *pPrepare = g_nPrepare;
    *pDeinit = g_nDeinit;
}

KRV_EXT_EXPORT const krvHostTable_t *kxt_full_table(void)
{
    return &g_host;
}
