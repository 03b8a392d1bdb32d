// Captures the interpreter's console output through the host function
// record for the lifetime of the object.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>

#include "model/krvHostFuncs.h"
#include "testConsole.h"

class OutputCapture {
public:
    OutputCapture() { testConsole::install(); }
    ~OutputCapture() { krvSetHostFuncs(nullptr); }
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    std::string take() { return testConsole::take(); }
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
