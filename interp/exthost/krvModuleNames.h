// Module file names: which files are modules, and the stem that names a
// module's entry points.
#pragma once
#include <cstddef>

// True when szFile names a module file: the extension (after the last '.'
// of the last path component, looked for from the end; '/' or '\' ends the
// search, and so does passing more than 10 characters without a '.') is
// exactly "kxm".
bool krvIsModuleFile(const char *szFile);

// Module stem from a file path: the base name (after the last '/'), cut at
// its last '.' with every other '.' turned into '_'; no stem when the base
// name starts with '.', or has no '.' and starts with a decimal digit, or is
// empty. Returns false when there is no stem or it does not fit szOut.
bool krvModuleStem(const char *szPath, char *szOut, size_t nOutSize);
