// The host function record of the program: console output to standard
// output and libraries through the dynamic loader.
#include "driver/krvHostFuncsInit.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

#include "model/krvHostFuncs.h"

static int hostPrintf(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    int n = vprintf(szFmt, ap);
    va_end(ap);
    return n;
}

static int hostErrPrintf(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    int n = vprintf(szFmt, ap);
    va_end(ap);
    return n;
}

static int hostPuts(const char *sz)
{
    return puts(sz ? sz : "");
}

static int hostErrPuts(const char *sz)
{
    return puts(sz ? sz : "");
}

static void *hostLoadLib(const char *szPath)
{
    if (!szPath || !*szPath)
        return nullptr;
    return dlopen(szPath, RTLD_NOW | RTLD_LOCAL);
}

static int hostFreeLib(void *pLib)
{
    return pLib ? dlclose(pLib) : -1;
}

static void *hostGetSym(void *pLib, const char *szName)
{
    if (!pLib || !szName)
        return nullptr;
    return dlsym(pLib, szName);
}

void krvDriverInstallHostFuncs(const char *szProgPath)
{
    krvHostFuncs_t host{};
    host.pfnPrintf = hostPrintf;
    host.pfnErrPrintf = hostErrPrintf;
    host.pfnPuts = hostPuts;
    host.pfnErrPuts = hostErrPuts;
    host.pfnLoadLib = hostLoadLib;
    host.pfnFreeLib = hostFreeLib;
    host.pfnGetSym = hostGetSym;
    if (szProgPath)
        snprintf(host.szProgPath, sizeof(host.szProgPath), "%s", szProgPath);
    krvSetHostFuncs(&host);
}
