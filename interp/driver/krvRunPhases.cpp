// The phases of a run. Each function is the single place where the run
// sequence reaches a component; components not built yet are skipped.
#include "driver/krvRunPhases.h"

#include "builtin/krvBuiltins.h"
#include "checker/krvCheck.h"
#include "eval/krvEval.h"
#include "exthost/krvExtCall.h"
#include "exthost/krvModule.h"
#include "frontend/krvParse.h"
#include "layout/krvLayout.h"
#include "model/krvModel.h"
#include "resolve/krvSolve.h"
#include "task/krvTask.h"

int krvPhaseInitTables(void)
{
    if (!krvTaskInit()) {
        krvError("out of memory for the task table\n");
        return KRV_PHASE_FAILED;
    }
    return KRV_PHASE_DONE;
}

void krvPhaseFreeTables(void)
{
    krvTaskFreeAll();
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

void krvPhasePrepareEval(krvEnv_t *)
{
    krvEvalPrepareScript(krvGlobalNs());
}

void krvPhasePrepareModules(krvEnv_t *pEnv)
{
    krvPrepareModules(pEnv);
}

void krvPhaseDeinitModules(krvEnv_t *pEnv)
{
    // Tasks that module callbacks started after main ended are waited for
    // as well, before and after the modules stop their own threads.
    krvTaskEndOfRun();
    krvDeinitModules(pEnv);
    krvTaskEndOfRun();
}

struct runMainJob_t {
    krvEnv_t *pEnv;
    krvRunArgs_t args;
    int ok;
};

static void runMainJob(void *p)
{
    auto *pJob = static_cast<runMainJob_t *>(p);
    krvEvalState_t *pSt = pJob->pEnv->pEval;
    pSt->flXcpt = 0;
    pJob->ok = krvEvalRunTask(pJob->pEnv, &pSt->result, &pSt->flXcpt, KRV_RUN_MAIN, &pJob->args);
    krvClearValue(&pSt->result);    // a string result of main is freed
}

int krvPhaseRunMain(krvEnv_t *pEnv, int argc, char **argv)
{
    if (krvEvalStateInit(pEnv) != 0) {
        krvError("out of memory\n");
        return KRV_PHASE_FAILED;
    }
    runMainJob_t job{pEnv, {}, 0};
    job.args.argc = argc;
    job.args.argv = argv;
    // main runs on a thread of its own whose stack fits the deepest call
    // nesting the evaluator allows; the driver waits for it.
    krvEvalRunOnBigStack(runMainJob, &job);
    // Tasks still running keep the modules they use: wait for them before
    // the modules are de-initialised.
    krvTaskEndOfRun();
    return job.ok ? KRV_PHASE_DONE : KRV_PHASE_FAILED;
}

void krvPhaseReleaseEnv(krvEnv_t *pEnv)
{
    krvEvalStateFree(pEnv);
    krvFreeModules(pEnv);
}
