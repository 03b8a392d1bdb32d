// The file check a module passes before the system loader sees it: the
// loader maps the file's loadable segments as they are described and takes
// a bus error on a page past the end of a truncated file, so a module must
// be a 64-bit ELF shared object of this byte order whose program headers
// and loadable segments all lie inside the file.
#pragma once
#include <cstddef>
#include <cstdint>

// Checks a whole module image of nSize bytes. 1 when it passes, else 0.
int krvCheckModuleImage(const uint8_t *pImage, size_t nSize);

// Checks the module file at a path (a regular file, read with plain reads,
// never mapped). 1 when it passes, 0 when it does not, -1 when the file
// cannot be opened or read (the caller's loader reports that itself).
int krvCheckModuleFile(const char *szPath);
