// Version text and path functions; '/' is the separator.
#pragma once
#include <cstddef>

#define SYS_PATH_MAX 512

char *sysVersionString(char *pBuf, int nMajor, int nMinor, int nPatch, const char *pSuffix);

// An absolute path keeps its root ("/../x" is "/x"); a relative one loses
// what ".." climbs above ("a/../../x" is "x").
char *sysPathNormalize(const char *pPath);                           // new heap string (free())
// A result that does not fit leaves pOut empty and returns NULL; an empty
// directory joins as the current one.
char *sysPathJoin(const char *pDir, const char *pName, char *pOut);  // pOut holds SYS_PATH_MAX
void sysPathToSlash(char *pPath);                                    // every '\' becomes '/'
int sysFileExists(const char *pPath);
// pOut holds SYS_PATH_MAX bytes in the three functions below; a path that
// does not fit gives the empty string.
char *sysPathFileName(const char *pPath, char *pOut);
char *sysPathDir(const char *pPath, char *pOut);
char *sysPathExt(const char *pPath, char *pOut);
