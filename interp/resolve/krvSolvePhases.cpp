// Resolution, layout, storage, checking and the main test, in order.
#include "resolve/krvSolvePhases.h"

#include "checker/krvCheck.h"
#include "layout/krvLayout.h"
#include "model/krvModel.h"
#include "resolve/krvSolve.h"

static bool mustStop(const krvEnv_t *pEnv)
{
    return krvGetLastDiagId() != 0 || (pEnv->finfo && pEnv->finfo->nErrors != 0);
}

krvPhasesResult_t krvRunSolvePhases(krvEnv_t *pEnv, int bCheckOnly)
{
    if (!pEnv)
        return KRV_PHASES_STOP;
    pEnv->phase = 'S';
    krvSolveGroup(pEnv);
    if (mustStop(pEnv))
        return KRV_PHASES_STOP;
    krvSolveStructSizeOffset(krvGlobalNs(), pEnv);
    if (mustStop(pEnv))
        return KRV_PHASES_STOP;
    if (!krvAllocGlobalVars(pEnv, krvGlobalNs()) || mustStop(pEnv))
        return KRV_PHASES_STOP;
    krvCheckObjectModel();
    if (pEnv->finfo && pEnv->finfo->nErrors != 0)
        return KRV_PHASES_STOP;
    if (!pEnv->pMainFunc)
        return KRV_PHASES_NO_MAIN;
    return bCheckOnly ? KRV_PHASES_CHECK_PASS : KRV_PHASES_RUN;
}

void krvPhasesReportEnd(krvPhasesResult_t eResult)
{
    if (eResult == KRV_PHASES_NO_MAIN) {
        krvError("S%d: main() function is not found!\n", 252);
        krvSetLastDiagId(252);
    } else if (eResult == KRV_PHASES_CHECK_PASS) {
        krvPrint("Check pass!\n");
    }
}
