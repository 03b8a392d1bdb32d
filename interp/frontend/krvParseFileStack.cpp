// The parser's file stack: which file of the group is being read, at which
// depth, so that every node and diagnostic names the right file.
#include "krvParse.h"
#include "model/krvModel.h"

#include <cstdlib>
#include <cstring>

static char *baseOf(const char *szPath)
{
    const char *p = strrchr(szPath, '/');
    return strdup(p ? p + 1 : szPath);
}

int krvParserPushFile(parseFileInfo_t *pFi, const char *szPath)
{
    if (krvFileInfoFindFile(pFi, szPath) >= 0) {
        krvDebug("%s(): \"%s\" is in the parsed group already! debug your code\n", "krvParserPushFile", szPath);
        krvPrint("\tFile(s) in the group:\n");
        for (int i = 0; i < KRV_GROUP_FILES_MAX && pFi->currentParsedFiles[i]; i++)
            krvPrint("\t%s\n", pFi->currentParsedFiles[i]);
        krvFatal("krvParserPushFile", __LINE__, "%s", "file pushed twice");
    }
    if (pFi->currentDepth >= KRV_FILE_STACK_DEPTH - 1) {
        krvDebug("%s(): currentDepth is %d; will overflow after push\n", "krvParserPushFile", pFi->currentDepth);
        return 0;
    }
    char *pPath = strdup(szPath);
    char *pBase = pPath ? baseOf(szPath) : nullptr;
    int nIdx = pBase ? krvFileInfoAddFile(pFi, szPath) : -1;
    if (nIdx < 0) {
        free(pPath);
        free(pBase);
        return 0;
    }
    pFi->currentDepth++;
    krvFileStackEntry_t *pEnt = &pFi->fileStack[pFi->currentDepth];
    pEnt->szPath = pPath;
    pEnt->szBaseName = pBase;
    pEnt->nLine = 0;
    pFi->currentFileIdx = static_cast<uint16_t>(nIdx);
    return 1;
}

void krvParserPopFile(parseFileInfo_t *pFi)
{
    if (pFi->currentDepth == 0) {
        krvDebug("%s(): currentDepth = 0; debug the scanner behavior!\n", "krvParserPopFile");
        krvFatal("krvParserPopFile", __LINE__, "%s", "pop of the main file");
    }
    krvFileStackEntry_t *pEnt = &pFi->fileStack[pFi->currentDepth];
    free(pEnt->szPath);
    free(pEnt->szBaseName);
    pEnt->szPath = nullptr;
    pEnt->szBaseName = nullptr;
    pEnt->nLine = 0;
    pFi->currentDepth--;
    int nIdx = krvFileInfoFindFile(pFi, pFi->fileStack[pFi->currentDepth].szPath);
    pFi->currentFileIdx = static_cast<uint16_t>(nIdx < 0 ? 0 : nIdx);
}
