#include "sysFatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void sysFatal(const char *pFmt, ...)
{
    va_list ap;
    va_start(ap, pFmt);
    vfprintf(stdout, pFmt, ap);
    va_end(ap);
    // Other threads may still be running: flush what was written and leave
    // without running static destructors underneath them.
    fflush(nullptr);
    _Exit(EXIT_FAILURE);
}

void sysAssertFail(const char *pFile, int nLine, const char *pExpr)
{
    sysFatal("\"%s\" line %d: assertion (%s) fail\n", pFile, nLine, pExpr);
}
