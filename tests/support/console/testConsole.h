// The interpreter's console output gathered in one string for unit tests:
// print entries of the host function record that write into
// testConsole::text() instead of standard output.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>

#include "model/krvHostFuncs.h"

namespace testConsole {

inline std::string &text()
{
    static std::string s;
    return s;
}

// The gathered text; the store starts empty again.
inline std::string take()
{
    std::string s;
    s.swap(text());
    return s;
}

inline int print(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    va_list ap2;
    va_copy(ap2, ap);
    const int n = vsnprintf(nullptr, 0, szFmt, ap);
    va_end(ap);
    if (n > 0) {
        std::string s(static_cast<size_t>(n) + 1, '\0');
        vsnprintf(s.data(), s.size(), szFmt, ap2);
        s.resize(static_cast<size_t>(n));
        text() += s;
    }
    va_end(ap2);
    return n;
}

inline int putLine(const char *sz)
{
    text() += sz ? sz : "";
    text() += "\n";
    return 1;
}

// Installs a copy of *pBase (the default record for NULL) whose four console
// entries write into text(), and empties text().
inline void install(const krvHostFuncs_t *pBase = nullptr)
{
    krvHostFuncs_t host{};
    if (pBase)
        host = *pBase;
    host.pfnPrintf = print;
    host.pfnErrPrintf = print;
    host.pfnPuts = putLine;
    host.pfnErrPuts = putLine;
    krvSetHostFuncs(&host);
    text().clear();
}

}  // namespace testConsole
