/* kxt_initfail: a test module whose _init refuses to start. */
#include <string.h>

#include "korvel_ext.h"

KRV_EXT_EXPORT void kxt_initfail_intpver(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = 1;
    *pMinor = 2;
    *pPatch = 0;
    szSuffix[0] = '\0';
}

KRV_EXT_EXPORT void kxt_initfail_ver(char *szName, char *szVersion, char *szBuild)
{
    strcpy(szName, "kxt_initfail");
    strcpy(szVersion, "0.1");
    strcpy(szBuild, "");
}

KRV_EXT_EXPORT int kxt_initfail_init(krvHostTable_t *pHost, const char **ppScript)
{
    (void)ppScript;
    pHost->pfnErrPrintf("kxt_initfail: no device\n");
    return 0;
}
