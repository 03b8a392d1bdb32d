// Start-up: time base, working directory, program path, host functions,
// object model.
#include "driver/krvStartup.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "driver/krvHostFuncsInit.h"
#include "driver/krvPaths.h"
#include "model/krvNamespace.h"
#include "sysTime.h"

void krvProgramPath(const char *szArgv0, const char *szCwd, char *szOut)
{
    szOut[0] = '\0';
    // The loader knows where the program file is, whatever argv[0] says
    // (a name found through PATH is not relative to the working directory).
    char szExe[SYS_PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    if (n > 0 && szExe[0] == '/') {
        szExe[n] = '\0';
        char *p = sysPathNormalize(szExe);
        if (p && strlen(p) < SYS_PATH_MAX) {
            strcpy(szOut, p);
            free(p);
            return;
        }
        free(p);
    }
    char *p = krvScriptPath(szCwd, szArgv0 ? szArgv0 : "");
    if (p && strlen(p) < SYS_PATH_MAX)
        strcpy(szOut, p);
    free(p);
}

int krvStartup(const char *szArgv0, krvStartup_t *pOut)
{
    sysTimeInit();
    if (!getcwd(pOut->szCwd, sizeof(pOut->szCwd)))
        pOut->szCwd[0] = '\0';
    krvProgramPath(szArgv0, pOut->szCwd, pOut->szProgPath);
    krvDriverInstallHostFuncs(pOut->szProgPath);
    return krvInitModel();
}
