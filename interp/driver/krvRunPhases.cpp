// The phases of a run. Each function is the single place where the run
// sequence reaches a component; components not built yet are skipped.
#include "driver/krvRunPhases.h"

#include "checker/krvCheck.h"
#include "exthost/krvModule.h"
#include "frontend/krvParse.h"
#include "layout/krvLayout.h"
#include "model/krvModel.h"
#include "resolve/krvSolve.h"

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
    return krvParseScriptGroup(szPath);
}

int krvPhaseResolve(krvEnv_t *pEnv)
{
    krvSolveGroup(pEnv);
    return KRV_PHASE_DONE;
}

int krvPhaseLayout(krvEnv_t *pEnv)
{
    krvSolveStructSizeOffset(krvGlobalNs(), pEnv);
    return KRV_PHASE_DONE;
}

int krvPhaseAllocGlobals(krvEnv_t *pEnv)
{
    return krvAllocGlobalVars(pEnv, krvGlobalNs()) ? KRV_PHASE_DONE : KRV_PHASE_FAILED;
}

int krvPhaseCheck(krvEnv_t *)
{
    krvCheckObjectModel();
    return KRV_PHASE_DONE;
}

void krvPhasePrepareModules(krvEnv_t *pEnv)
{
    krvPrepareModules(pEnv);
}

void krvPhaseDeinitModules(krvEnv_t *pEnv)
{
    krvDeinitModules(pEnv);
}

int krvPhaseRunMain(krvEnv_t *, int, char **)
{
    return KRV_PHASE_SKIPPED;
}

void krvPhaseReleaseEnv(krvEnv_t *pEnv)
{
    krvFreeModules(pEnv);
}
