// The phases between a clean parse and running main: resolution, structure
// layout, storage of namespace variables, the consistency checker and the
// test for main, with the stop tests between them.
#pragma once

struct krvEnv_t;

enum krvPhasesResult_t {
    KRV_PHASES_STOP = 0,        // a phase reported something: stop the run
    KRV_PHASES_NO_MAIN = 1,     // no main: stop, then krvPhasesReportEnd()
    KRV_PHASES_CHECK_PASS = 2,  // --check and all is well: stop, then krvPhasesReportEnd()
    KRV_PHASES_RUN = 3,         // go on and run main
};

// Runs the phases on a parsed group; bCheckOnly for "--check".
krvPhasesResult_t krvRunSolvePhases(krvEnv_t *pEnv, int bCheckOnly);
// After the stop (modules deinitialised): the missing-main report (id 252,
// also stored as the last diagnostic id) or "Check pass!". Nothing for the
// other results.
void krvPhasesReportEnd(krvPhasesResult_t eResult);
