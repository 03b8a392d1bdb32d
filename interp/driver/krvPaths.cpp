// The script path of the command line.
#include "driver/krvPaths.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "sysPath.h"

char *krvScriptPath(const char *szCwd, const char *szFile)
{
    if (!szFile)
        return nullptr;
    std::string s(szFile);
    for (char &c : s) {
        if (c == '\\')
            c = '/';
    }
    if (!s.empty() && s[0] == '/')
        return sysPathNormalize(s.c_str());
    char szOut[SYS_PATH_MAX];
    if (!sysPathJoin(szCwd ? szCwd : "", s.c_str(), szOut))
        return nullptr;
    return strdup(szOut);
}
