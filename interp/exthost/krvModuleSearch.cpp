// Finding module files (see krvModuleSearch.h).
#include "exthost/krvModuleSearch.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "model/krvHostFuncs.h"
#include "sysPath.h"

namespace {

void krvCopyPath(const char *szPath, char *szOut)
{
    strncpy(szOut, szPath, SYS_PATH_MAX - 1);
    szOut[SYS_PATH_MAX - 1] = '\0';
}

// szDir joined with szName, made absolute against the working directory;
// true when the result fits and names an existing file.
bool krvTryFolder(const std::string &dir, const char *szName, char *szOut)
{
    if (dir.empty())
        return false;
    std::string folder = dir;
    if (folder[0] != '/') {
        char szCwd[SYS_PATH_MAX];
        if (getcwd(szCwd, sizeof(szCwd)) == nullptr)
            return false;
        folder = std::string(szCwd) + '/' + folder;
    }
    char szCand[SYS_PATH_MAX];
    if (sysPathJoin(folder.c_str(), szName, szCand) == nullptr || !sysFileExists(szCand))
        return false;
    krvCopyPath(szCand, szOut);
    return true;
}

}  // namespace

int krvFindModuleFile(const char *szPath, char *szOut)
{
    if (szPath == nullptr) {
        szOut[0] = '\0';
        return 0;
    }
    if (sysFileExists(szPath)) {
        krvCopyPath(szPath, szOut);
        return 1;
    }
    const char *pSlash = strrchr(szPath, '/');
    const char *szName = pSlash ? pSlash + 1 : szPath;
    if (*szName != '\0') {
        // The folder of the korvel program.
        const char *szProg = krvHost()->szProgPath;
        const char *pProgSlash = strrchr(szProg, '/');
        if (pProgSlash && krvTryFolder(std::string(szProg, pProgSlash == szProg ? 1 : pProgSlash - szProg),
                                       szName, szOut))
            return 1;
        // The folders of KORVEL_MODULE_PATH, in order; empty entries are skipped.
        const char *szEnv = getenv(KRV_MODULE_PATH_ENV);
        while (szEnv && *szEnv) {
            const char *pColon = strchr(szEnv, ':');
            std::string dir = pColon ? std::string(szEnv, pColon - szEnv) : std::string(szEnv);
            if (krvTryFolder(dir, szName, szOut))
                return 1;
            szEnv = pColon ? pColon + 1 : nullptr;
        }
    }
    krvCopyPath(szPath, szOut);
    return 0;
}
