// kxm_scom: the serial-port module. Its entry points identify it and
// register namespace scom with open, close and putchar.
#include <cstdio>
#include <cstring>

#include "korvel_ext.h"
#include "scomPort.h"

namespace {

krvHostTable_t g_host;

// open(name): the port, or -1.
int32_t scomOpen(uint32_t, krvValue_t *pArgs, krvValue_t *pResult, char *)
{
    const char *szName = g_host.pfnGetArgType(pArgs, 0) == KRV_DT_STRING ? g_host.pfnGetArgStr(pArgs, 0) : nullptr;
    g_host.pfnSetInt(pResult, scomPortOpen(szName));
    return 0;
}

// close(port): 1, or 0.
int32_t scomClose(uint32_t, krvValue_t *pArgs, krvValue_t *pResult, char *)
{
    int64_t nPort = g_host.pfnGetArgType(pArgs, 0) == KRV_DT_INTEGER ? g_host.pfnGetArgInt(pArgs, 0) : -1;
    g_host.pfnSetInt(pResult, scomPortClose(nPort));
    return 0;
}

// putchar(port, c): 1 when the byte was written, else 0. A character that
// is not an integer (a string, a floating number, a handle) is refused like
// a port that is not one: nothing is sent.
int32_t scomPutChar(uint32_t, krvValue_t *pArgs, krvValue_t *pResult, char *)
{
    if (g_host.pfnGetArgType(pArgs, 1) != KRV_DT_INTEGER) {
        g_host.pfnSetInt(pResult, 0);
        return 0;
    }
    int64_t nPort = g_host.pfnGetArgType(pArgs, 0) == KRV_DT_INTEGER ? g_host.pfnGetArgInt(pArgs, 0) : -1;
    g_host.pfnSetInt(pResult, scomPortPutChar(nPort, g_host.pfnGetArgInt(pArgs, 1)));
    return 0;
}

} // namespace

KRV_EXT_EXPORT void kxm_scom_intpver(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = 1;
    *pMinor = 2;
    *pPatch = 0;
    szSuffix[0] = '\0';
}

KRV_EXT_EXPORT void kxm_scom_ver(char *szName, char *szVersion, char *szBuild)
{
    strcpy(szName, "SCOM Extension Module");
    sprintf(szVersion, "%d.%d.%d%s", 1, 0, 0, "");
    sprintf(szBuild, "Built on %s.", __DATE__);   // "Mmm dd yyyy"
}

KRV_EXT_EXPORT int kxm_scom_init(krvHostTable_t *pHost, const char **ppScript)
{
    g_host = *pHost;                   // the table lives only for this call
    *ppScript = nullptr;
    void *pNs = g_host.pfnAddNs(g_host.pfnGetRootNs(), "scom");
    if (pNs) {
        g_host.pfnAddFunc(pNs, "open", scomOpen, 1, 1, 0, 0, 0);
        g_host.pfnAddFunc(pNs, "close", scomClose, 1, 1, 0, 0, 0);
        g_host.pfnAddFunc(pNs, "putchar", scomPutChar, 2, 2, 0, 0, 0);
    }
    return 1;
}
