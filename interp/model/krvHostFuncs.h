// The record of host functions through which the interpreter reaches the
// console and the dynamic loader. The driver fills it at start-up; until
// then a default that writes to standard output is in force.
#pragma once
#include <cstdarg>

#define KRV_PROG_PATH_MAX 512

struct krvHostFuncs_t {
    int (*pfnPrintf)(const char *szFmt, ...);      // script output
    int (*pfnErrPrintf)(const char *szFmt, ...);   // diagnostics
    int (*pfnPuts)(const char *sz);                // text + "\n", script output
    int (*pfnErrPuts)(const char *sz);             // text + "\n", diagnostics
    void *(*pfnLoadLib)(const char *szPath);       // NULL on failure
    int (*pfnFreeLib)(void *pLib);
    void *(*pfnGetSym)(void *pLib, const char *szName);
    char szProgPath[KRV_PROG_PATH_MAX];            // absolute, normalised
};

// The record in force (never NULL).
const krvHostFuncs_t *krvHost(void);
// Installs a copy of *pFuncs (NULL entries keep the default). NULL restores
// the default record. Call before any thread of the interpreter runs.
void krvSetHostFuncs(const krvHostFuncs_t *pFuncs);
