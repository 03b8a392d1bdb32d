// The script path of the command line (module file names are the extension
// host's: exthost/krvModuleNames.h).
#pragma once
#include <cstddef>

// Script path: every '\' becomes '/', the path is joined to szCwd unless it
// starts with '/', then normalised. Returns a heap copy, or NULL when the
// result does not fit a path buffer or memory runs out.
char *krvScriptPath(const char *szCwd, const char *szFile);
