// Sub-range windows of array references: the dimensions left after the
// plain indices, each whole or cut by a "start .. end" range, over a plain
// array or over a view that is itself a window.
#include "eval/krvEvalInt.h"

// Evaluates one bound of a range; 1 with *pn set, 0 on failure (bIllegal
// set when the value is not an integer).
static int evalBound(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, int64_t *pn, bool *pbIllegal,
                     uint32_t *pFl)
{
    krvValue_t v;
    v.type = KRV_DT_INTEGER;
    v.val.uRaw = 0;
    *pbIllegal = false;
    if (!krvEvalValue(pEnv, pFunc, pExpr, &v, pFl)) {
        krvEvalDrop(&v);
        return 0;
    }
    if (v.type != KRV_DT_INTEGER) {
        krvEvalDrop(&v);
        *pbIllegal = true;
        return 0;
    }
    *pn = v.val.nInt;
    return 1;
}

static const char *refName(const krvLoc_t *pLoc)
{
    return pLoc->pLastVar && pLoc->pLastVar->szName ? pLoc->pLastVar->szName : "";
}

// One bound ("start" or "end") of the range pIdx over dimension k of nSize
// elements: evaluated and checked, with the messages of printing (bPrint) or
// of argument binding. 1 with *pn set, or 0 after a report.
static int rangeBound(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, const krvAPTN_t *pIdx, krvAPTN_t *pExpr,
                      const char *szWhich, int k, int32_t nSize, bool bPrint, const krvLoc_t *pLoc, int64_t *pn,
                      uint32_t *pFl)
{
    bool bIllegal = false;
    if (!evalBound(pEnv, pFunc, pExpr, pn, &bIllegal, pFl)) {
        if (bIllegal) {
            if (bPrint)
                krvErrorAt(KRV_RTE_RANGE, pEnv, pIdx, "Illegal array sub-range is specified.");
            else
                krvErrorAt(KRV_RTE_RANGE, pEnv, pIdx, "Illegal array sub-range specified to variable \"%s\".",
                           refName(pLoc));
        }
        return 0;
    }
    if (*pn < 0 || *pn >= nSize) {
        if (bPrint)
            krvErrorAt(KRV_RTE_RANGE, pEnv, pIdx,
                       "sub-range %s value %lld is specified as the %d-%s index and is out of range (0 ~ %d)", szWhich,
                       static_cast<long long>(*pn), k, krvOrdinalSuffix(k), nSize - 1);
        else
            krvErrorAt(KRV_RTE_RANGE, pEnv, pIdx,
                       "sub-range %s value %lld is specified to the %d-%s index of \"%s\" and is out of range (0 ~ %d)",
                       szWhich, static_cast<long long>(*pn), k, krvOrdinalSuffix(k), refName(pLoc), nSize - 1);
        return 0;
    }
    return 1;
}

int krvEvalWindow(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, const krvLoc_t *pLoc, krvWindow_t *pWin, krvWinMsgs_t eMsgs,
                  uint32_t *pFl)
{
    const int32_t *pS = pLoc->pSizes;
    int32_t n = krvDescDims(pS);
    if (n < 1 || n > KRV_WIN_DIMS_MAX) {
        krvErrorAt(KRV_RTE_RANGE, pEnv, pLoc->pLastNode, "Array \"%s\" has %d dimensions; at most %d are handled.",
                   refName(pLoc), n, KRV_WIN_DIMS_MAX);
        return 0;
    }
    // Per dimension of the reference: size, underlying stride, start.
    int32_t aSize[KRV_WIN_DIMS_MAX], aStride[KRV_WIN_DIMS_MAX], aVStart[KRV_WIN_DIMS_MAX];
    int32_t aUSize[KRV_WIN_DIMS_MAX];
    for (int k = 0; k < n; k++) {
        krvDescDim_t d = krvDescDim(pS, pLoc->bView, k);
        aSize[k] = d.nSize;
        aStride[k] = d.nStride;
        aVStart[k] = d.nStart;
        aUSize[k] = d.nUnderSize;
    }
    krvAPTN_t *pIdx = pLoc->pIndexes;
    int nLead = 0;
    while (pIdx && pIdx->nKind != krvAPTNType_subRange && nLead < n) {
        nLead++;
        pIdx = pIdx->next;
    }
    pWin->pBase = pLoc->pCell;
    pWin->nElemSize = pLoc->pType ? pLoc->pType->nSize : 1;
    pWin->nDims = n - nLead;
    pWin->nLead = nLead;
    for (int k = nLead; k < n; k++) {
        int j = k - nLead;
        int32_t nStart = 0, nEnd = aSize[k] - 1;
        if (pIdx && pIdx->nKind == krvAPTNType_subRange) {
            int64_t s = 0, e = 0;
            bool bPrint = eMsgs == KRV_WIN_MSG_PRINT;
            if (!rangeBound(pEnv, pFunc, pIdx, pIdx->u.subRange.pStart, "start", k, aSize[k], bPrint, pLoc, &s, pFl) ||
                !rangeBound(pEnv, pFunc, pIdx, pIdx->u.subRange.pEnd, "end", k, aSize[k], bPrint, pLoc, &e, pFl))
                return 0;
            if (s > e) {
                krvErrorAt(KRV_RTE_RANGE, pEnv, pIdx,
                           "%d-%s index: sub-range end value should be greater than or equal to sub-range start value; "
                           "%lld .. %lld is specified",
                           k, krvOrdinalSuffix(k), static_cast<long long>(s), static_cast<long long>(e));
                return 0;
            }
            nStart = static_cast<int32_t>(s);
            nEnd = static_cast<int32_t>(e);
            pIdx = pIdx->next;
        }
        pWin->aStart[j] = nStart;
        pWin->aCount[j] = nEnd - nStart + 1;
        pWin->aAddrStart[j] = aVStart[k] + nStart;
        pWin->aUnder[j] = aStride[k];
        pWin->aUnderSize[j] = aUSize[k];
    }
    pWin->aUnder[pWin->nDims] = 1;
    return 1;
}

int64_t krvWindowCount(const krvWindow_t *pWin)
{
    int64_t n = 1;
    for (int k = 0; k < pWin->nDims; k++)
        n *= pWin->aCount[k];
    return n;
}

krvValue_t *krvWindowElem(const krvWindow_t *pWin, int64_t i)
{
    int64_t nOff = 0;
    for (int k = pWin->nDims - 1; k >= 0; k--) {
        int64_t c = pWin->aCount[k];
        int64_t ik = c ? i % c : 0;
        i = c ? i / c : 0;
        nOff += (pWin->aAddrStart[k] + ik) * pWin->aUnder[k];
    }
    return pWin->pBase + nOff * pWin->nElemSize;
}

int32_t *krvWindowNewView(const krvWindow_t *pWin)
{
    int32_t n = pWin->nDims;
    int32_t *pV = static_cast<int32_t *>(malloc(static_cast<size_t>(krvViewLen(n)) * sizeof(int32_t)));
    if (pV)
        krvViewFill(pV, n, pWin->aUnder, pWin->aUnderSize, pWin->aAddrStart, pWin->aCount);
    return pV;
}

int krvEvalArgWindow(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pArg, krvLoc_t *pLoc,
                     krvWindow_t *pWin, uint32_t *pFlXcptFlags)
{
    if (!krvEvalLocate(pEnv, pCurFunc, pArg, pLoc, pFlXcptFlags))
        return 0;
    if (!KRV_IS_VAR_ARRAY(pLoc->dbd) || !pLoc->pSizes) {
        const char *szName = pArg->nKind == krvAPTNType_varRef && pArg->u.varRef.szName ? pArg->u.varRef.szName : "";
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "%s is not an array variable.", szName);
        return 0;
    }
    return krvEvalWindow(pEnv, pCurFunc, pLoc, pWin, KRV_WIN_MSG_ARG, pFlXcptFlags);
}
