// Extension modules of a script group: loading on #load, the lifecycle calls
// around a run, release when the group is freed, and finding module files.
#pragma once

struct krvEnv_t;

// Loads the module at szFullPath into the group of peee (once per group: a
// module already loaded under the same full path or the same base name is
// not loaded again). When no file exists at szFullPath, the folder of the
// korvel program and then the folders of KORVEL_MODULE_PATH are searched for
// the same file name. *ppScript is set to null and, on success, to the
// script text that the module's _init handed back (owned by the module), or
// left null. Returns 1 when the module is loaded (or already was), 0 on
// failure after printing the reason.
int krvLoadModule(krvEnv_t *peee, const char *szFullPath, const char **ppScript);

// Calls every loaded module's _prepare (before main runs).
void krvPrepareModules(krvEnv_t *peee);

// Calls every loaded module's _deinit (after the run, or after a failed phase).
void krvDeinitModules(krvEnv_t *peee);

// Takes every module record out of the group's table, releases its library
// and frees the record. _deinit is not called again.
void krvFreeModules(krvEnv_t *peee);
