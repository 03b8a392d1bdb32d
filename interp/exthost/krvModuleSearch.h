// Where module files are found: the path itself; else a file of the same
// name in the folder of the korvel program, then in each folder of the
// KORVEL_MODULE_PATH environment variable (colon-separated), in that order.
#pragma once

#define KRV_MODULE_PATH_ENV "KORVEL_MODULE_PATH"

// Writes the path of the first existing candidate into szOut (SYS_PATH_MAX
// bytes) and returns 1; returns 0 with szPath copied to szOut (cut to fit)
// when no candidate exists.
int krvFindModuleFile(const char *szPath, char *szOut);
