// Start-up of the interpreter's global state for the run and check forms.
#pragma once
#include "sysPath.h"

struct krvStartup_t {
    char szCwd[SYS_PATH_MAX];        // working directory ("" when unknown)
    char szProgPath[SYS_PATH_MAX];   // program's absolute, normalised path
};

// Time base, working directory, program path, host function record, object
// model. Returns 0, or -1 when the object model cannot be initialised.
int krvStartup(const char *szArgv0, krvStartup_t *pOut);

// The program's absolute path from argv[0] and the working directory
// (joined unless it begins with '/', normalised), into szOut (SYS_PATH_MAX).
void krvProgramPath(const char *szArgv0, const char *szCwd, char *szOut);
