// Input stack of the scanner: line reading from script files and from module
// text in memory, pushing an included input and ending one.
#include "krvScanner.h"
#include "krvScanModel.h"
#include "script/krvScriptFile.h"

#include <cstdlib>
#include <cstring>

static void freeInput(krvScanInput_t *pIn)
{
    if (!pIn)
        return;
    if (pIn->pFile)
        krvScriptClose(pIn->pFile);
    free(pIn->szPath);
    free(pIn->szBase);
    free(pIn);
}

static krvScanInput_t *newInput(krvScriptFile_t *pFile, const char *pMem, const char *szPath)
{
    krvScanInput_t *pIn = static_cast<krvScanInput_t *>(calloc(1, sizeof(krvScanInput_t)));
    if (!pIn)
        return nullptr;
    const char *pSlash = strrchr(szPath, '/');
    pIn->pFile = pFile;
    pIn->pMem = pMem;
    pIn->szPath = strdup(szPath);
    pIn->szBase = strdup(pSlash ? pSlash + 1 : szPath);
    if (!pIn->szPath || !pIn->szBase) {
        pIn->pFile = nullptr;   // the caller still owns the file on failure
        freeInput(pIn);
        return nullptr;
    }
    return pIn;
}

static void resetScanner(krvScanner_t *pSc, krvEnv_t *pEnv)
{
    memset(pSc, 0, sizeof(*pSc));
    pSc->pEnv = pEnv;
}

int krvScanInit(krvScanner_t *pSc, krvEnv_t *pEnv, krvScriptFile_t *pMain, const char *szPath)
{
    resetScanner(pSc, pEnv);
    krvScanInput_t *pIn = newInput(pMain, nullptr, szPath);
    if (!pIn) {
        krvScriptClose(pMain);
        pSc->bEnded = 1;
        return 0;
    }
    pSc->apInputs[0] = pIn;
    return 1;
}

int krvScanInitText(krvScanner_t *pSc, krvEnv_t *pEnv, const char *szText, const char *szName)
{
    resetScanner(pSc, pEnv);
    krvScanInput_t *pIn = newInput(nullptr, szText ? szText : "", szName);
    if (!pIn) {
        pSc->bEnded = 1;
        return 0;
    }
    pSc->apInputs[0] = pIn;
    return 1;
}

void krvScanFree(krvScanner_t *pSc)
{
    for (int i = pSc->nDepth; i >= 0; i--) {
        freeInput(pSc->apInputs[i]);
        pSc->apInputs[i] = nullptr;
    }
    pSc->nDepth = 0;
    free(pSc->szFuncName);
    pSc->szFuncName = nullptr;
    pSc->bEnded = 1;
}

void krvScanSetFuncName(krvScanner_t *pSc, const char *szName)
{
    free(pSc->szFuncName);
    pSc->szFuncName = szName ? strdup(szName) : nullptr;
}

int krvScanLine(const krvScanner_t *pSc)
{
    const krvScanInput_t *pIn = pSc->apInputs[pSc->nDepth];
    return pIn ? pIn->nLine : 0;
}

const char *krvScanFileBase(const krvScanner_t *pSc)
{
    const krvScanInput_t *pIn = pSc->apInputs[pSc->nDepth];
    return pIn ? pIn->szBase : "";
}

// Next line of text in memory: up to the next line feed, carriage returns
// dropped; a line longer than the reader takes at once arrives in pieces,
// as it does from a file.
static int readMemLine(krvScanInput_t *pIn, char *pBuf, int *pLen)
{
    const char *p = pIn->pMem + pIn->nMemPos;
    if (*p == '\0')
        return 0;
    int n = 0;
    while (*p != '\0' && *p != '\n' && n < KRV_SCAN_READ_MAX) {
        if (*p != '\r')
            pBuf[n++] = *p;
        p++;
    }
    if (*p == '\n')
        p++;
    pIn->nMemPos = static_cast<uint64_t>(p - pIn->pMem);
    pBuf[n] = '\0';
    *pLen = n;
    return 1;
}

int krvScanReadLine(krvScanner_t *pSc)
{
    krvScanInput_t *pIn = pSc->apInputs[pSc->nDepth];
    pSc->nPos = 0;
    pSc->nLen = 0;
    pSc->szLine[0] = '\0';
    if (!pIn)
        return 0;
    int rc;
    if (pIn->pFile) {
        rc = krvScriptReadLine(pIn->pFile, pSc->szLine);
        if (rc < 0) {
            pIn->nLine++;
            krvScanSyncLine(pSc);
            krvScanError(pSc, 303, "fail to read \"%s\" (%s)", pIn->szBase, krvScriptLastError(pIn->pFile));
            pSc->szLine[0] = '\0';
            return 0;
        }
        if (rc == 0)
            return 0;
        pSc->szLine[KRV_SCAN_READ_MAX] = '\0';
        int n = static_cast<int>(strlen(pSc->szLine));
        while (n > 0 && (pSc->szLine[n - 1] == '\r' || pSc->szLine[n - 1] == '\n'))
            n--;
        pSc->szLine[n] = '\0';
        pSc->nLen = n;
    } else {
        if (!readMemLine(pIn, pSc->szLine, &pSc->nLen))
            return 0;
    }
    pIn->nLine++;
    krvScanSyncLine(pSc);
    return 1;
}

int krvScanPushInput(krvScanner_t *pSc, krvScriptFile_t *pFile, const char *pMem, const char *szPath)
{
    if (pSc->nDepth + 1 >= KRV_SCAN_STACK_SIZE) {
        krvScanError(pSc, 303, "\"%s\" is not read: inputs nest deeper than %d levels", szPath,
                     KRV_SCAN_STACK_SIZE - 1);
        if (pFile)
            krvScriptClose(pFile);
        return 0;
    }
    krvScanInput_t *pIn = newInput(pFile, pMem, szPath);
    if (!pIn) {
        krvScanError(pSc, 303, "\"%s\" is not read: out of memory", szPath);
        if (pFile)
            krvScriptClose(pFile);
        return 0;
    }
    if (pSc->pfnPushFile && !pSc->pfnPushFile(pSc->pHookArg, szPath)) {
        krvScanError(pSc, 303, "\"%s\" is not read: the group cannot take more files", szPath);
        freeInput(pIn);
        return 0;
    }
    pSc->apInputs[++pSc->nDepth] = pIn;
    pSc->nLen = 0;
    pSc->nPos = 0;
    pSc->szLine[0] = '\0';
    krvScanSyncLine(pSc);
    return 1;
}

// Reports the #if blocks still open in an input, innermost first.
static void reportOpenConds(krvScanner_t *pSc, krvScanInput_t *pIn)
{
    for (int i = pIn->nCond - 1; i >= 0; i--)
        krvScanReportAt(pSc, 153, pIn->szBase, pIn->aCond[i].nLine, "unterminated #if");
    pIn->nCond = 0;
}

int krvScanEndOfInput(krvScanner_t *pSc)
{
    krvScanInput_t *pIn = pSc->apInputs[pSc->nDepth];
    pSc->nLen = 0;
    pSc->nPos = 0;
    pSc->szLine[0] = '\0';
    if (pSc->nDepth == 0) {
        if (pIn)
            reportOpenConds(pSc, pIn);
        pSc->bEnded = 1;
        return 0;
    }
    if (pSc->pfnPopFile)
        pSc->pfnPopFile(pSc->pHookArg);
    reportOpenConds(pSc, pIn);
    pSc->apInputs[pSc->nDepth] = nullptr;
    pSc->nDepth--;
    freeInput(pIn);
    krvScanSyncLine(pSc);
    // The rest of the directive line that opened the input is not scanned:
    // go on with the next line.
    return 1;
}
