// The phases of a run. Each function is the single place where the run
// sequence reaches a component; components not built yet are skipped.
#include "driver/krvRunPhases.h"

#include "model/krvModel.h"
#include "script/krvScriptFile.h"

int krvPhaseInitTables(void)
{
    // Built-in function table: to be created here by the built-ins.
    return KRV_PHASE_SKIPPED;
}

void krvPhaseFreeTables(void)
{
}

krvEnv_t *krvPhaseParse(const char *szPath)
{
    krvEnv_t *pEnv = krvEnvTableFind(szPath);
    if (pEnv)
        return pEnv;
    // Until the grammar is wired in, only the opening of the main file is
    // done, with its report.
    krvScriptFile_t *pFile = krvScriptOpen(szPath);
    if (!pFile) {
        krvError("Fail to open \"%s\"\n", szPath);
        return nullptr;
    }
    krvScriptClose(pFile);
    return nullptr;
}

int krvPhaseResolve(krvEnv_t *)
{
    return KRV_PHASE_SKIPPED;
}

int krvPhaseLayout(krvEnv_t *)
{
    return KRV_PHASE_SKIPPED;
}

int krvPhaseAllocGlobals(krvEnv_t *)
{
    return KRV_PHASE_SKIPPED;
}

int krvPhaseCheck(krvEnv_t *)
{
    return KRV_PHASE_SKIPPED;
}

void krvPhasePrepareModules(krvEnv_t *)
{
}

void krvPhaseDeinitModules(krvEnv_t *)
{
}

int krvPhaseRunMain(krvEnv_t *, int, char **)
{
    return KRV_PHASE_SKIPPED;
}

void krvPhaseReleaseEnv(krvEnv_t *)
{
}
