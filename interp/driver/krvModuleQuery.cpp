// Module query: the module's own name, version and build text, and the
// interpreter version it was built for.
#include "driver/krvModuleQuery.h"

#include <cstdio>
#include <cstring>

#include "driver/krvPaths.h"
#include "exthost/krvModuleNames.h"
#include "exthost/krvModuleSearch.h"
#include "model/krvHostFuncs.h"
#include "sysPath.h"

typedef void (*verFunc_t)(char *szName, char *szVersion, char *szBuild);
typedef void (*intpVerFunc_t)(int *pMajor, int *pMinor, int *pPatch, char *szSuffix);

int krvModuleQuery(const char *szPath)
{
    const krvHostFuncs_t *pHost = krvHost();
    char szStem[256];
    if (!krvModuleStem(szPath, szStem, sizeof(szStem)))
        return 1;
    // Not at the path: the module folders (program folder, KORVEL_MODULE_PATH).
    char szFound[SYS_PATH_MAX];
    krvFindModuleFile(szPath, szFound);
    void *pLib = pHost->pfnLoadLib(szFound);
    if (!pLib)
        return 1;

    char szSym[300];
    snprintf(szSym, sizeof(szSym), "%s_ver", szStem);
    verFunc_t pfnVer = reinterpret_cast<verFunc_t>(pHost->pfnGetSym(pLib, szSym));
    snprintf(szSym, sizeof(szSym), "%s_intpver", szStem);
    intpVerFunc_t pfnIntpVer = reinterpret_cast<intpVerFunc_t>(pHost->pfnGetSym(pLib, szSym));

    // The texts come from the module: clear the buffers and terminate them
    // whatever it wrote.
    char szName[128] = {0};
    char szVersion[128] = {0};
    char szBuild[512] = {0};
    if (pfnVer) {
        pfnVer(szName, szVersion, szBuild);
        szName[sizeof(szName) - 1] = '\0';
        szVersion[sizeof(szVersion) - 1] = '\0';
        szBuild[sizeof(szBuild) - 1] = '\0';
        pHost->pfnPrintf("%s %s\n", szName, szVersion);
    }
    if (pfnIntpVer) {
        int nMajor = 0, nMinor = 0, nPatch = 0;
        char szSuffix[64] = {0};
        pfnIntpVer(&nMajor, &nMinor, &nPatch, szSuffix);
        szSuffix[sizeof(szSuffix) - 1] = '\0';
        char szVer[256];
        sysVersionString(szVer, nMajor, nMinor, nPatch, szSuffix);
        pHost->pfnPrintf("Based on Korvel %s.\n", szVer);
    }
    if (pfnVer)
        pHost->pfnPrintf("%s\n", szBuild);
    fflush(stdout);
    pHost->pfnFreeLib(pLib);
    return 0;
}
