// The host function record in force, with a default that writes to
// standard output and loads nothing.
#include "model/krvHostFuncs.h"

#include <cstdio>
#include <cstring>

static int defPrintf(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    int n = vprintf(szFmt, ap);
    va_end(ap);
    return n;
}

static int defPuts(const char *sz)
{
    return puts(sz ? sz : "");
}

static void *defLoadLib(const char *)
{
    return nullptr;
}

static int defFreeLib(void *)
{
    return -1;
}

static void *defGetSym(void *, const char *)
{
    return nullptr;
}

static const krvHostFuncs_t g_default = {defPrintf, defPrintf, defPuts, defPuts, defLoadLib, defFreeLib, defGetSym, ""};
static krvHostFuncs_t g_host = g_default;

const krvHostFuncs_t *krvHost(void)
{
    return &g_host;
}

void krvSetHostFuncs(const krvHostFuncs_t *pFuncs)
{
    if (!pFuncs) {
        g_host = g_default;
        return;
    }
    g_host = *pFuncs;
    if (!g_host.pfnPrintf)
        g_host.pfnPrintf = g_default.pfnPrintf;
    if (!g_host.pfnErrPrintf)
        g_host.pfnErrPrintf = g_default.pfnErrPrintf;
    if (!g_host.pfnPuts)
        g_host.pfnPuts = g_default.pfnPuts;
    if (!g_host.pfnErrPuts)
        g_host.pfnErrPuts = g_default.pfnErrPuts;
    if (!g_host.pfnLoadLib)
        g_host.pfnLoadLib = g_default.pfnLoadLib;
    if (!g_host.pfnFreeLib)
        g_host.pfnFreeLib = g_default.pfnFreeLib;
    if (!g_host.pfnGetSym)
        g_host.pfnGetSym = g_default.pfnGetSym;
    g_host.szProgPath[sizeof(g_host.szProgPath) - 1] = '\0';
}
