// Command line forms and their exit codes.
#include "driver/krvCmdLine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/krvHostFuncsInit.h"
#include "driver/krvModuleQuery.h"
#include "driver/krvPaths.h"
#include "exthost/krvModuleNames.h"
#include "driver/krvRunSequence.h"
#include "driver/krvStartup.h"
#include "model/krvModel.h"
#include "sysPath.h"

void krvPrintUsage(const char *szProg)
{
    const krvHostFuncs_t *pHost = krvHost();
    pHost->pfnPrintf("Usage: %s (--help | --version)\n", szProg);
    pHost->pfnPrintf("       %s FILE [args]\n", szProg);
    pHost->pfnPrintf("       %s --check FILE\n", szProg);
    pHost->pfnPrintf("Run a Korvel script or query extension module information.\n");
    pHost->pfnPrintf("  --help            Display this help and exit.\n");
    pHost->pfnPrintf("  --version         Output version information and exit.\n");
    pHost->pfnPrintf("  FILE [args]       Run FILE (script) with/without arguments.\n");
    pHost->pfnPrintf("  --check FILE      Check FILE (script) syntax and bindings or\n");
    pHost->pfnPrintf("                    query FILE (extension module) information.\n");
}

static const char *programName(const char *szArgv0)
{
    if (!szArgv0)
        return "korvel";
    const char *p = strrchr(szArgv0, '/');
    return p ? p + 1 : szArgv0;
}

// "--check FILE" and "FILE [args]" after start-up.
static int runOrCheck(const char *szArgv0, const char *szFile, int argc, char **argv, bool bCheck)
{
    krvStartup_t st;
    if (krvStartup(szArgv0, &st) != 0) {
        krvError("out of memory\n");
        return 0;
    }
    int nRc = 0;
    char *pPath = krvScriptPath(st.szCwd, szFile);
    if (bCheck && krvIsModuleFile(szFile)) {
        nRc = pPath ? krvModuleQuery(pPath) : 1;
    } else if (!pPath) {
        // Too long for a path: it cannot be opened.
        char szShown[KRV_DIAG_PATH_SHOWN + 1];
        krvError("Fail to open \"%s\"\n", krvDiagShortPath(szFile, szShown));
    } else {
        nRc = krvRunScript(pPath, argc, argv, bCheck);
    }
    free(pPath);
    krvFreeModel();
    return nRc;
}

int krvMain(int argc, char **argv)
{
    // Console output goes through the host functions from the start.
    krvDriverInstallHostFuncs(nullptr);
    const char *szProg = programName(argc > 0 ? argv[0] : nullptr);
    int nRc = 0;

    if (argc < 2) {
        krvHost()->pfnPrintf("Error: no script file is specified!\n");
        krvHost()->pfnPrintf("\n");
        krvPrintUsage(szProg);
        nRc = -1;
    } else if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        krvPrintUsage(szProg);
    } else if (strcmp(argv[1], "--version") == 0 || strcmp(argv[1], "-v") == 0) {
        char szVer[64];
        sysVersionString(szVer, KRV_VERSION_MAJOR, KRV_VERSION_MINOR, KRV_VERSION_PATCH, KRV_VERSION_SUFFIX);
        krvHost()->pfnPrintf("Korvel %s\n", szVer);
    } else if (strcmp(argv[1], "--check") == 0) {
        if (argc < 3) {
            krvHost()->pfnPrintf("Error: no script file is specified!\n");
            krvPrintUsage(szProg);
        } else {
            // Arguments after FILE are ignored; FILE is the script's only argument.
            nRc = runOrCheck(argv[0], argv[2], 1, argv + 2, true);
        }
    } else if (argv[1][0] == '-') {
        krvHost()->pfnPrintf("Error: unknown option %s\n", argv[1]);
        krvPrintUsage(szProg);
    } else {
        nRc = runOrCheck(argv[0], argv[1], argc - 1, argv + 1, false);
    }
    fflush(stdout);
    return nRc;
}
