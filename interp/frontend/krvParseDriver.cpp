// Parse driver of a script group: opens the main file, sets up the
// environment, the scanner and the parser, and keeps or discards the result.
#include "krvGrammar.hpp"
#include "krvParse.h"
#include "krvParseCtx.h"
#include "exthost/krvModule.h"
#include "script/krvScriptFile.h"
#include "sysPath.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

void krvPError(krvParseCtx_t *pCtx, int nId, const char *szFmt, ...)
{
    char szMsg[KRV_DIAG_LINE_MAX];
    va_list ap;
    va_start(ap, szFmt);
    vsnprintf(szMsg, sizeof(szMsg), szFmt, ap);
    va_end(ap);
    krvParseError(nId, krvScanFileBase(pCtx->pScan), krvScanLine(pCtx->pScan), "%s", szMsg);
}

void krvPOutOfMemory(krvParseCtx_t *pCtx)
{
    // The parse cannot be trusted any more: end it and discard the group.
    if (!pCtx->pScan->bEnded)
        krvPError(pCtx, 303, "out of memory");
    pCtx->pScan->bEnded = 1;
    pCtx->nSyntaxErrors++;
}

static int pushHook(void *pArg, const char *szPath)
{
    krvEnv_t *pEnv = static_cast<krvEnv_t *>(pArg);
    return krvParserPushFile(pEnv->finfo, szPath);
}

static void popHook(void *pArg)
{
    krvEnv_t *pEnv = static_cast<krvEnv_t *>(pArg);
    krvParserPopFile(pEnv->finfo);
}

// Absolute, normalised form of a script path, so that every file of a group
// is known by one name.
static bool fullPath(const char *szPath, char *szOut)
{
    char szCwd[SYS_PATH_MAX];
    if (szPath[0] == '/') {
        char *p = sysPathNormalize(szPath);
        if (!p || strlen(p) >= SYS_PATH_MAX) {
            free(p);
            return false;
        }
        strcpy(szOut, p);
        free(p);
        return true;
    }
    if (!getcwd(szCwd, sizeof(szCwd)))
        return false;
    return sysPathJoin(szCwd, szPath, szOut) != nullptr && szOut[0] != '\0';
}

void krvParseDiscardGroup(krvEnv_t *pEnv)
{
    if (!pEnv)
        return;
    krvFreeModules(pEnv);
    krvEnvTableRemove(pEnv);
    krvFreeEnv(pEnv);
    krvFreeModel();
    krvInitModel();
}

static krvEnv_t *parseGroup(const char *szPath, krvScriptFile_t *pFile, const char *szText)
{
    krvEnv_t *pEnv = krvNewEnv(szPath);
    krvScanner_t *pScan = pEnv ? new (std::nothrow) krvScanner_t : nullptr;
    if (!pScan) {
        krvError("out of memory\n");
        if (pFile)
            krvScriptClose(pFile);
        if (pEnv)
            krvFreeEnv(pEnv);
        return nullptr;
    }
    int bInit = pFile ? krvScanInit(pScan, pEnv, pFile, szPath) : krvScanInitText(pScan, pEnv, szText, szPath);
    pScan->pfnPushFile = pushHook;
    pScan->pfnPopFile = popHook;
    pScan->pHookArg = pEnv;
    krvParseCtx_t ctx{};
    ctx.pEnv = pEnv;
    ctx.pScan = pScan;
    krvPDepthsInit(&ctx);
    int rc = bInit ? krvpparse(&ctx) : 1;
    krvPDepthsFree(&ctx);
    krvScanFree(pScan);
    delete pScan;
    if (rc != 0 || ctx.nSyntaxErrors != 0) {
        krvParseDiscardGroup(pEnv);
        return nullptr;
    }
    return pEnv;
}

krvEnv_t *krvParseScriptGroup(const char *szPath)
{
    char szFull[SYS_PATH_MAX];
    char szShown[KRV_DIAG_PATH_SHOWN + 1];
    if (!szPath || !fullPath(szPath, szFull)) {
        krvError("Fail to open \"%s\"\n", krvDiagShortPath(szPath, szShown));
        return nullptr;
    }
    krvEnv_t *pEnv = krvEnvTableFind(szFull);
    if (pEnv)
        return pEnv;
    krvScriptFile_t *pFile = krvScriptOpen(szFull);
    if (!pFile) {
        if (krvScriptNotRegular(szFull))
            krvError("Fail to open \"%s\": not a regular file\n", krvDiagShortPath(szPath, szShown));
        else
            krvError("Fail to open \"%s\"\n", krvDiagShortPath(szPath, szShown));
        return nullptr;
    }
    pEnv = parseGroup(szFull, pFile, nullptr);
    if (pEnv && krvEnvTableAdd(pEnv) != 0) {
        krvParseDiscardGroup(pEnv);
        krvError("out of memory\n");
        return nullptr;
    }
    return pEnv;
}

krvEnv_t *krvParseScriptText(const char *szName, const char *szText)
{
    char szFull[SYS_PATH_MAX];
    if (!szName || !szText || !fullPath(szName, szFull))
        return nullptr;
    return parseGroup(szFull, nullptr, szText);
}
