// Captures the interpreter's console output through the host function
// record for the lifetime of the object.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>

#include "model/krvHostFuncs.h"

class OutputCapture {
public:
    OutputCapture()
    {
        text().clear();
        krvHostFuncs_t host{};
        host.pfnPrintf = capPrintf;
        host.pfnErrPrintf = capPrintf;
        host.pfnPuts = capPuts;
        host.pfnErrPuts = capPuts;
        krvSetHostFuncs(&host);
    }
    ~OutputCapture() { krvSetHostFuncs(nullptr); }
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    std::string take()
    {
        std::string s = text();
        text().clear();
        return s;
    }

private:
    static std::string &text()
    {
        static std::string s;
        return s;
    }
    static int capPrintf(const char *szFmt, ...)
    {
        char buf[2048];
        va_list ap;
        va_start(ap, szFmt);
        int n = vsnprintf(buf, sizeof(buf), szFmt, ap);
        va_end(ap);
        text() += buf;
        return n;
    }
    static int capPuts(const char *sz)
    {
        text() += sz;
        text() += "\n";
        return 1;
    }
};

// For death tests, which watch standard error: console output goes there.
inline int stderrPrintf(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    int n = vfprintf(stderr, szFmt, ap);
    va_end(ap);
    return n;
}

inline void useStderrHost()
{
    krvHostFuncs_t host{};
    host.pfnPrintf = stderrPrintf;
    host.pfnErrPrintf = stderrPrintf;
    krvSetHostFuncs(&host);
}
