// The host function record of the program: console output to standard
// output and libraries through the dynamic loader.
#include "driver/krvHostFuncsInit.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>

#include "model/krvHostFuncs.h"

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
    // The console entries stay NULL: the model's default writes to standard
    // output, as the program does.
    krvHostFuncs_t host{};
    host.pfnLoadLib = hostLoadLib;
    host.pfnFreeLib = hostFreeLib;
    host.pfnGetSym = hostGetSym;
    if (szProgPath)
        snprintf(host.szProgPath, sizeof(host.szProgPath), "%s", szProgPath);
    krvSetHostFuncs(&host);
}
