// Reports of the resolution phase and the error count they feed.
#include <cstdarg>
#include <cstdio>

#include "resolve/krvSolveInternal.h"

void krvSolveCountError(krvEnv_t *pEnv)
{
    if (pEnv && pEnv->finfo)
        pEnv->finfo->nErrors++;
}

const char *krvSolveFile(const krvEnv_t *pEnv, int nFileIdx)
{
    return krvEnvFileName(pEnv, nFileIdx);
}

static void vErrAtPos(krvEnv_t *pEnv, int nId, int nFileIdx, int nLine, int bCount, const char *szFmt,
                      va_list ap)
{
    char szMsg[KRV_DIAG_MSG_MAX];
    vsnprintf(szMsg, sizeof szMsg, szFmt, ap);
    krvErrorAtPos(nId, pEnv, nFileIdx, nLine, "%s", szMsg);
    if (bCount)
        krvSolveCountError(pEnv);
}

void krvSolveErrAt(krvEnv_t *pEnv, int nId, const krvAPTN_t *pNode, int bCount, const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    vErrAtPos(pEnv, nId, pNode ? pNode->nFileIdx : 0, pNode ? pNode->nLine : 0, bCount, szFmt, ap);
    va_end(ap);
}

void krvSolveErrAtPos(krvEnv_t *pEnv, int nId, int nFileIdx, int nLine, int bCount, const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    vErrAtPos(pEnv, nId, nFileIdx, nLine, bCount, szFmt, ap);
    va_end(ap);
}

void krvSolveErrSelf(krvEnv_t *pEnv, int nId, int nFileIdx, int nLine, const char *szFmt, ...)
{
    char szMsg[KRV_DIAG_MSG_MAX];
    va_list ap;
    va_start(ap, szFmt);
    vsnprintf(szMsg, sizeof szMsg, szFmt, ap);
    va_end(ap);
    krvError("%c%d: %s line %d: %s", pEnv ? pEnv->phase : 'S', nId, krvSolveFile(pEnv, nFileIdx), nLine, szMsg);
    krvSolveCountError(pEnv);
}

void krvSolveInternalErr(krvEnv_t *pEnv, int nFileIdx, int nLine, const char *szText)
{
    krvDebug("\"%s\" line %d: %s\n", krvSolveFile(pEnv, nFileIdx), nLine, szText);
    krvSolveCountError(pEnv);
}
