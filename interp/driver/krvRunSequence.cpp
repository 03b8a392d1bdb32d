// Run sequence: the phases in their fixed order, each stopping the run when
// a diagnostic was reported, then main (or the check verdict), then clean-up.
#include "driver/krvRunSequence.h"

#include <cstdio>

#include "driver/krvRunPhases.h"
#include "model/krvModel.h"

#define KRV_DIAG_NO_MAIN 252

// How the phases ended; what is printed after the modules are deinitialised.
enum runEnd_t { RUN_STOPPED, RUN_NO_MAIN, RUN_CHECK_PASS, RUN_RAN };

static bool failed(const krvEnv_t *pEnv)
{
    return krvGetLastDiagId() != 0 || (pEnv->finfo && pEnv->finfo->nErrors != 0);
}

static runEnd_t runPhases(krvEnv_t *pEnv, int argc, char **argv, bool bCheck)
{
    if (krvGetLastDiagId() != 0)
        return RUN_STOPPED;
    pEnv->phase = 'S';
    krvPhaseResolve(pEnv);
    if (failed(pEnv))
        return RUN_STOPPED;
    krvPhaseLayout(pEnv);
    if (failed(pEnv))
        return RUN_STOPPED;
    if (krvPhaseAllocGlobals(pEnv) == KRV_PHASE_FAILED || failed(pEnv))
        return RUN_STOPPED;
    krvPhaseCheck(pEnv);
    if (pEnv->finfo && pEnv->finfo->nErrors != 0)
        return RUN_STOPPED;
    if (!pEnv->pMainFunc)
        return RUN_NO_MAIN;
    if (bCheck)
        return RUN_CHECK_PASS;
    pEnv->phase = 'R';
    krvPhasePrepareEval(pEnv);
    krvPhasePrepareModules(pEnv);
    krvPhaseRunMain(pEnv, argc, argv);
    return RUN_RAN;
}

int krvRunScript(const char *szPath, int argc, char **argv, bool bCheck)
{
    if (krvEnvTableInit() != 0) {
        krvError("out of memory\n");
        return 0;
    }
    krvPhaseInitTables();
    krvSetLastDiagId(0);

    krvEnv_t *pEnv = krvPhaseParse(szPath);
    if (pEnv) {
        runEnd_t end = runPhases(pEnv, argc, argv, bCheck);
        krvPhaseDeinitModules(pEnv);
        if (end == RUN_NO_MAIN) {
            krvError("S%d: main() function is not found!\n", KRV_DIAG_NO_MAIN);
            krvSetLastDiagId(KRV_DIAG_NO_MAIN);
        } else if (end == RUN_CHECK_PASS) {
            krvPrint("Check pass!\n");
        }
    }
    fflush(stdout);
    krvFreeAllEnvs();
    krvPhaseFreeTables();
    return 0;
}

void krvFreeAllEnvs(void)
{
    while (krvEnv_t *pEnv = krvEnvTableFirst()) {
        krvEnvTableRemove(pEnv);
        krvPhaseReleaseEnv(pEnv);
        krvFreeEnv(pEnv);
    }
    krvFreeModel();
    krvEnvTableFree();
}
