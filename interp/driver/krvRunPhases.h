// The phases of a run, one function each, in the order the run sequence
// calls them. Each calls into the component that implements the phase; a
// phase whose component is not built yet does nothing and reports
// KRV_PHASE_SKIPPED.
#pragma once

struct krvEnv_t;

#define KRV_PHASE_DONE 0
#define KRV_PHASE_SKIPPED 1
#define KRV_PHASE_FAILED (-1)

// Tables that live for the whole process (built-in functions); created
// before the first run, released after the last.
int krvPhaseInitTables(void);
void krvPhaseFreeTables(void);

// Parses the script group rooted at szPath (an environment, already in the
// environment table, or NULL). A file that cannot be opened is reported
// here as "Error Fail to open \"<path>\"".
krvEnv_t *krvPhaseParse(const char *szPath);
// Resolution of names and references.
int krvPhaseResolve(krvEnv_t *pEnv);
// Structure sizes and member offsets.
int krvPhaseLayout(krvEnv_t *pEnv);
// Storage and initialisers of namespace variables: KRV_PHASE_FAILED when an
// allocation failed.
int krvPhaseAllocGlobals(krvEnv_t *pEnv);
// Consistency checker.
int krvPhaseCheck(krvEnv_t *pEnv);
// Readies the resolved script for the evaluator.
void krvPhasePrepareEval(krvEnv_t *pEnv);
// Modules: _prepare before main, _deinit when a run stops.
void krvPhasePrepareModules(krvEnv_t *pEnv);
void krvPhaseDeinitModules(krvEnv_t *pEnv);
// Runs main with the script's arguments (argv[0] is FILE as typed).
int krvPhaseRunMain(krvEnv_t *pEnv, int argc, char **argv);
// Releases what other components keep in an environment (its modules, the
// evaluation state) before the model frees it.
void krvPhaseReleaseEnv(krvEnv_t *pEnv);
