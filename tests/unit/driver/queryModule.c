/* A module for the module query tests: reports a name, a version, a build
 * text and the interpreter version it was built for. QMOD_STEM names the
 * entry points; QMOD_NO_EXPORTS builds a library without them. */
#include <stdio.h>
#include <string.h>

#define CAT2(a, b) a##b
#define CAT(a, b) CAT2(a, b)

#ifndef QMOD_NO_EXPORTS
void CAT(QMOD_STEM, _ver)(char *szName, char *szVersion, char *szBuild)
{
    strcpy(szName, "qtest");
    strcpy(szVersion, "3.4.5");
    strcpy(szBuild, "built for the query test");
}

void CAT(QMOD_STEM, _intpver)(int *pMajor, int *pMinor, int *pPatch, char *szSuffix)
{
    *pMajor = 1;
    *pMinor = 2;
    *pPatch = 0;
    strcpy(szSuffix, "-rc1");
}
#else
int qmod_placeholder(void)
{
    return 0;
}
#endif
