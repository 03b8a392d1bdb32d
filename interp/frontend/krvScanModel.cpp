// The scanner's links to the rest of the interpreter: diagnostics, the
// group's file information, #if conditions and module loading.
#include "krvScanModel.h"
#include "constexpr/krvConstExpr.h"
#include "constexpr/krvPPCond.h"
#include "exthost/krvModule.h"
#include "model/krvModel.h"

#include <cstdarg>
#include <cstdio>

void krvScanReportAt(krvScanner_t *, int nId, const char *szBase, int nLine, const char *szFmt, ...)
{
    char szMsg[KRV_DIAG_LINE_MAX];
    va_list ap;
    va_start(ap, szFmt);
    vsnprintf(szMsg, sizeof(szMsg), szFmt, ap);
    va_end(ap);
    krvParseError(nId, szBase, nLine, "%s", szMsg);
}

void krvScanSyncLine(krvScanner_t *pSc)
{
    if (!pSc->pEnv || !pSc->pEnv->finfo)
        return;
    parseFileInfo_t *pFi = pSc->pEnv->finfo;
    pFi->fileStack[pFi->currentDepth].nLine = krvScanLine(pSc);
}

int krvScanFileInGroup(krvScanner_t *pSc, const char *szPath)
{
    if (!pSc->pEnv || !pSc->pEnv->finfo)
        return 0;
    return krvFileInfoFindFile(pSc->pEnv->finfo, szPath) >= 0;
}

int krvScanEvalCondition(krvScanner_t *pSc, const char *szText)
{
    krvAPTN_t *pTree = nullptr;
    uint16_t nFileIdx = pSc->pEnv && pSc->pEnv->finfo ? pSc->pEnv->finfo->currentFileIdx : 0;
    int nErr = krvPPParseCondAt(szText, krvScanFileBase(pSc), nFileIdx, krvScanLine(pSc), &pTree);
    if (nErr != 0 || !pTree) {
        krvFreeAPTN(pTree);
        krvScanError(pSc, 157, "Constant-expression syntax error");
        return 0;
    }
    krvValue_t v{};
    v.type = KRV_DT_INTEGER;
    krvNamespace_t *pNs = pSc->pEnv && pSc->pEnv->finfo ? pSc->pEnv->finfo->pCurNs : nullptr;
    int bOk = krvEvalPPConstExpr(pSc->pEnv, pNs, pTree, &v);
    int bTrue = bOk && v.val.uRaw != 0;
    krvClearValue(&v);
    krvFreeAPTN(pTree);
    return bTrue;
}

int krvScanLoadModule(krvScanner_t *pSc, const char *szPath, const char **ppScript)
{
    *ppScript = nullptr;
    if (!pSc->pEnv)
        return 0;
    return krvLoadModule(pSc->pEnv, szPath, ppScript);
}
