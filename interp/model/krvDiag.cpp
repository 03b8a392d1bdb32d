// Diagnostic reports, the last diagnostic id and internal assertions.
#include "model/krvDiag.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/krvAPTN.h"
#include "model/krvEnv.h"
#include "model/krvHostFuncs.h"

static std::atomic<int> g_lastDiagId{0};

int krvGetLastDiagId(void)
{
    return g_lastDiagId.load();
}

void krvSetLastDiagId(int nId)
{
    g_lastDiagId.store(nId);
}

const char *krvEnvFileName(const krvEnv_t *pEnv, int nFileIdx)
{
    if (!pEnv || !pEnv->finfo || nFileIdx < 0 || nFileIdx >= KRV_GROUP_FILES_MAX)
        return "";
    const char *p = pEnv->finfo->currentParsedFiles_f[nFileIdx];
    return p ? p : "";
}

// Prints prefix + head + " " + message + "\n", the message cut to fit its
// buffer and the whole line cut to fit the line buffer; a cut line still
// ends with its newline.
static void positioned(const char *szHead, const char *szFmt, va_list ap)
{
    char szMsg[KRV_DIAG_MSG_MAX];
    vsnprintf(szMsg, sizeof(szMsg), szFmt, ap);
    char szLine[KRV_DIAG_LINE_MAX];
    int n = snprintf(szLine, sizeof(szLine), "%s %s\n", szHead, szMsg);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) >= sizeof(szLine))
        szLine[sizeof(szLine) - 2] = '\n';
    krvHost()->pfnErrPrintf("Error %s", szLine);
}

static void errorAt(int nId, const krvEnv_t *pEnv, int nFileIdx, int nLine, const char *szFmt, va_list ap)
{
    char szHead[KRV_DIAG_LINE_MAX];
    char cPhase = (pEnv && pEnv->phase) ? pEnv->phase : '?';
    snprintf(szHead, sizeof(szHead), "%c%3d: %s line %d:", cPhase, nId, krvEnvFileName(pEnv, nFileIdx), nLine);
    positioned(szHead, szFmt, ap);
    krvSetLastDiagId(nId);
}

void krvErrorAt(int nId, const krvEnv_t *pEnv, const krvAPTN_t *pNode, const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    errorAt(nId, pEnv, pNode ? pNode->nFileIdx : -1, pNode ? pNode->nLine : 0, szFmt, ap);
    va_end(ap);
}

void krvErrorAtPos(int nId, const krvEnv_t *pEnv, int nFileIdx, int nLine, const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    errorAt(nId, pEnv, nFileIdx, nLine, szFmt, ap);
    va_end(ap);
}

void krvParseError(int nId, const char *szFile, int nLine, const char *szFmt, ...)
{
    char szHead[KRV_DIAG_LINE_MAX];
    snprintf(szHead, sizeof(szHead), "P%3d: %s line %d:", nId, szFile ? szFile : "", nLine);
    va_list ap;
    va_start(ap, szFmt);
    positioned(szHead, szFmt, ap);
    va_end(ap);
    krvSetLastDiagId(nId);
}

static void prefixed(const char *szPrefix, const char *szFmt, va_list ap)
{
    char szLine[KRV_DIAG_LINE_MAX];
    vsnprintf(szLine, sizeof(szLine), szFmt, ap);
    krvHost()->pfnErrPrintf("%s%s", szPrefix, szLine);
}

const char *krvDiagShortPath(const char *szPath, char *pOut)
{
    const char *sz = szPath ? szPath : "";
    size_t n = strlen(sz);
    if (n <= KRV_DIAG_PATH_SHOWN) {
        memcpy(pOut, sz, n + 1);
        return pOut;
    }
    const size_t nHead = (KRV_DIAG_PATH_SHOWN - 3) / 2, nTail = KRV_DIAG_PATH_SHOWN - 3 - nHead;
    memcpy(pOut, sz, nHead);
    memcpy(pOut + nHead, "...", 3);
    memcpy(pOut + nHead + 3, sz + n - nTail, nTail + 1);
    return pOut;
}

void krvError(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    prefixed("Error ", szFmt, ap);
    va_end(ap);
}

void krvWarning(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    prefixed("Warning: ", szFmt, ap);
    va_end(ap);
}

void krvDebug(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    prefixed("Debug: ", szFmt, ap);
    va_end(ap);
}

void krvPrint(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    prefixed("", szFmt, ap);
    va_end(ap);
}

void krvAssertFail(const char *szFile, int nLine, const char *szCond)
{
    const char *pSlash = szFile ? strrchr(szFile, '/') : nullptr;
    if (pSlash)
        szFile = pSlash + 1;
    krvHost()->pfnErrPrintf("\"%s\" line %d: assertion (%s) fail\n", szFile, nLine, szCond);
    fflush(nullptr);
    abort();
}

void krvFatal(const char *szFile, int nLine, const char *szDetailFmt, ...)
{
    krvHost()->pfnErrPrintf("\"%s\" line %d: fatal error; please debug\n", szFile, nLine);
    if (szDetailFmt) {
        char szLine[KRV_DIAG_LINE_MAX];
        va_list ap;
        va_start(ap, szDetailFmt);
        vsnprintf(szLine, sizeof(szLine), szDetailFmt, ap);
        va_end(ap);
        krvHost()->pfnErrPrintf("%s", szLine);
    }
    fflush(nullptr);
    abort();
}
