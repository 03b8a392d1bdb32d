// Version text and path functions; '/' is the separator.
#pragma once
#include <cstddef>

#define SYS_PATH_MAX 512

char *sysVersionString(char *pBuf, int nMajor, int nMinor, int nPatch, const char *pSuffix);

char *sysPathNormalize(const char *pPath);                           // new heap string (free())
char *sysPathJoin(const char *pDir, const char *pName, char *pOut);  // pOut holds SYS_PATH_MAX
void sysPathToSlash(char *pPath);                                    // every '\' becomes '/'
int sysFileExists(const char *pPath);
char *sysPathFileName(const char *pPath, char *pOut);
char *sysPathDir(const char *pPath, char *pOut);
char *sysPathExt(const char *pPath, char *pOut);
