// Path functions with '/' as the separator.
#include "sysPath.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>
#include <sys/stat.h>

namespace {

// Copies s into pOut (SYS_PATH_MAX bytes); a text that does not fit leaves
// pOut empty and returns false.
bool copyOut(std::string_view s, char *pOut)
{
    if (s.size() >= SYS_PATH_MAX) {
        pOut[0] = '\0';
        return false;
    }
    if (!s.empty())
        memcpy(pOut, s.data(), s.size());
    pOut[s.size()] = '\0';
    return true;
}

std::string normalize(std::string_view path)
{
    if (path.empty())
        return std::string();
    std::vector<std::string_view> parts;
    size_t nStart = 0;
    for (;;) {
        size_t nSep = path.find('/', nStart);
        parts.push_back(path.substr(nStart, nSep == std::string_view::npos ? std::string_view::npos : nSep - nStart));
        if (nSep == std::string_view::npos)
            break;
        nStart = nSep + 1;
    }
    // The first component is kept as it is; an empty one is the root of an
    // absolute path, which ".." never removes.
    const bool bAbsolute = parts[0].empty();
    std::vector<std::string_view> kept;
    kept.push_back(parts[0]);
    for (size_t i = 1; i < parts.size(); i++) {
        std::string_view c = parts[i];
        if (c.empty() || c == ".")
            continue;
        if (c == "..") {
            if (!kept.empty() && !(bAbsolute && kept.size() == 1))
                kept.pop_back();
            continue;
        }
        kept.push_back(c);
    }
    if (bAbsolute && kept.size() == 1)
        return "/";
    std::string out;
    for (size_t i = 0; i < kept.size(); i++) {
        if (i)
            out += '/';
        out += kept[i];
    }
    return out;
}

} // namespace

char *sysPathNormalize(const char *pPath)
{
    std::string s = normalize(pPath ? pPath : "");
    char *pOut = static_cast<char *>(malloc(s.size() + 1));
    if (pOut)
        memcpy(pOut, s.c_str(), s.size() + 1);
    return pOut;
}

char *sysPathJoin(const char *pDir, const char *pName, char *pOut)
{
    if (!pOut)
        return nullptr;
    if (!pDir || !pName) {
        pOut[0] = '\0';
        return nullptr;
    }
    // An empty directory means the current one, not the root.
    std::string joined = *pDir ? std::string(pDir) + '/' + pName : std::string(pName);
    if (!copyOut(normalize(joined), pOut))
        return nullptr;
    return pOut;
}

void sysPathToSlash(char *pPath)
{
    if (!pPath)
        return;
    for (char *p = pPath; *p; p++)
        if (*p == '\\')
            *p = '/';
}

int sysFileExists(const char *pPath)
{
    if (!pPath)
        return 0;
    FILE *f = fopen(pPath, "r");
    if (!f)
        return 0;
    // A directory opens for reading here, but it is no file.
    struct stat st;
    int bFile = fstat(fileno(f), &st) == 0 && !S_ISDIR(st.st_mode);
    fclose(f);
    return bFile;
}

char *sysPathFileName(const char *pPath, char *pOut)
{
    if (!copyOut(pPath ? pPath : "", pOut))
        return pOut;
    char *pSlash = strrchr(pOut, '/');
    return pSlash ? pSlash + 1 : pOut;
}

char *sysPathDir(const char *pPath, char *pOut)
{
    std::string_view path(pPath ? pPath : "");
    size_t nSlash = path.rfind('/');
    if (nSlash == std::string_view::npos)
        path = std::string_view();
    else if (nSlash == 0)
        path = path.substr(0, 1);   // the root keeps its slash
    else
        path = path.substr(0, nSlash);
    copyOut(path, pOut);
    return pOut;
}

char *sysPathExt(const char *pPath, char *pOut)
{
    std::string_view path(pPath ? pPath : "");
    size_t nSlash = path.rfind('/');
    std::string_view name = nSlash == std::string_view::npos ? path : path.substr(nSlash + 1);
    size_t nDot = name.rfind('.');
    if (nDot == std::string_view::npos || nDot == 0)
        name = std::string_view();
    else
        name = name.substr(nDot + 1);
    copyOut(name, pOut);
    return pOut;
}
