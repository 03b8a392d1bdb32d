/* kxt_v130: a test module built for a newer interface (1.3.0); refused at load. */
#include <string.h>

#include "korvel_ext.h"

KRV_EXT_EXPORT void kxt_v130_intpver(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = 1;
    *pMinor = 3;
    *pPatch = 0;
    szSuffix[0] = '\0';
}

KRV_EXT_EXPORT void kxt_v130_ver(char *szName, char *szVersion, char *szBuild)
{
    strcpy(szName, "kxt_v130");
    strcpy(szVersion, "1.3.0-test");
    strcpy(szBuild, "test module, newer interface");
}

KRV_EXT_EXPORT int kxt_v130_init(krvHostTable_t *pHost, const char **ppScript)
{
    (void)ppScript;
    pHost->pfnPrintf("kxt_v130: init must not run\n");
    return 1;
}
