// Version text "MAJOR.MINOR.PATCH" followed by a suffix.
#include "sysPath.h"

#include <cstdio>

char *sysVersionString(char *pBuf, int nMajor, int nMinor, int nPatch, const char *pSuffix)
{
    sprintf(pBuf, "%d.%d.%d%s", nMajor, nMinor, nPatch, pSuffix ? pSuffix : "");
    return pBuf;
}
