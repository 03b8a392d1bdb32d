// Module file names: the module-file test and the module stem.
#include "exthost/krvModuleNames.h"

#include <cstring>
#include <string>

bool krvIsModuleFile(const char *szFile)
{
    if (!szFile)
        return false;
    size_t nLen = strlen(szFile);
    size_t nPassed = 0;
    for (size_t i = nLen; i > 0; i--) {
        char c = szFile[i - 1];
        if (c == '/' || c == '\\')
            return false;
        if (c == '.')
            return strcmp(szFile + i, "kxm") == 0;
        if (++nPassed > 10)
            return false;
    }
    return false;
}

bool krvModuleStem(const char *szPath, char *szOut, size_t nOutSize)
{
    if (!szPath || !szOut || nOutSize == 0)
        return false;
    szOut[0] = '\0';
    const char *pBase = strrchr(szPath, '/');
    pBase = pBase ? pBase + 1 : szPath;
    std::string s(pBase);
    if (s.empty())
        return false;
    size_t nDot = s.rfind('.');
    if (nDot != std::string::npos) {
        if (s[0] == '.')
            return false;
        s.resize(nDot);
        for (char &c : s) {
            if (c == '.')
                c = '_';
        }
    } else if (s[0] >= '0' && s[0] <= '9') {
        return false;
    }
    if (s.empty() || s.size() >= nOutSize)
        return false;
    memcpy(szOut, s.c_str(), s.size() + 1);
    return true;
}
