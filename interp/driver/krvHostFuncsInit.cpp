// The host function record of the program: console output to standard
// output and libraries through the dynamic loader.
#include "driver/krvHostFuncsInit.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>

#include "exthost/krvModuleCheck.h"
#include "model/krvHostFuncs.h"

// A module file is checked before the loader maps it: a truncated or
// forged file would otherwise fault inside the loader. A name the file
// check cannot open is left to the loader's own search and errors.
static void *hostLoadLib(const char *szPath)
{
    if (!szPath || !*szPath)
        return nullptr;
    if (krvCheckModuleFile(szPath) == 0)
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
