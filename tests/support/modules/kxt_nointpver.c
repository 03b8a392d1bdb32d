/* kxt_nointpver: a test module that does not report its interface version. */
#include <string.h>

#include "korvel_ext.h"

KRV_EXT_EXPORT void kxt_nointpver_ver(char *szName, char *szVersion, char *szBuild)
{
    strcpy(szName, "kxt_nointpver");
    strcpy(szVersion, "2.0");
    strcpy(szBuild, "built without a version report");
}

KRV_EXT_EXPORT int kxt_nointpver_init(krvHostTable_t *pHost, const char **ppScript)
{
    (void)pHost;
    (void)ppScript;
    return 1;
}
