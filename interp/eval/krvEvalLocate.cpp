// Element location: a variable's storage (namespace cells or frame slot),
// plain array indices against plain and view descriptors, and member paths.
#include <cstdio>

#include "eval/krvEvalInt.h"

void krvEvalUnbound(krvEnv_t *pEnv, const krvAPTN_t *pRef, const char *szWhat)
{
    const char *szFile = krvEnvFileName(pEnv, pRef->nFileIdx);
    krvDebug("script \"%s\" line %d: %s\n", szFile, pRef->nLine, szWhat);
    krvDebug("Run-time check fail in \"%s\" line %d!\n", szFile, pRef->nLine);
}

krvValue_t *krvEvalNoStorage(krvEnv_t *pEnv, const krvAPTN_t *pRef)
{
    char szText[300];
    snprintf(szText, sizeof szText, "%s has no storage", pRef->u.varRef.szName ? pRef->u.varRef.szName : "");
    krvEvalUnbound(pEnv, pRef, szText);
    return nullptr;
}

krvValue_t *krvEvalIndexIllegal(krvEnv_t *pEnv, const krvAPTN_t *pIdx, const krvVar_t *pVar)
{
    krvErrorAt(KRV_RTE_RANGE, pEnv, pIdx, "Illegal array index expression for variable \"%s\".", pVar->szName);
    return nullptr;
}

krvValue_t *krvEvalIndexRange(krvEnv_t *pEnv, const krvAPTN_t *pIdx, int64_t nIdx, int32_t nSize)
{
    krvErrorAt(KRV_RTE_INDEX, pEnv, pIdx, "the %d-%s array index %lld is out of 0 ~ %d", 0, krvOrdinalSuffix(0),
               static_cast<long long>(nIdx), nSize - 1);
    return nullptr;
}

// Applies the plain indices of pIdx (up to the first sub-range) to a
// descriptor. *pOff receives the element offset (in elements). Returns 1,
// or 0 after a report.
static int applyIndexes(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pIdx, const int32_t *pSizes, int bView,
                        const char *szName, int64_t *pOff, uint32_t *pFl)
{
    int64_t nOff = 0;
    int32_t n = krvDescDims(pSizes);
    krvValue_t v;
    v.type = KRV_DT_INTEGER;
    v.val.uRaw = 0;
    for (int k = 0; pIdx && k < n; pIdx = pIdx->next, k++) {
        if (pIdx->nKind == krvAPTNType_subRange)
            break;
        int64_t nIdx;
        if (pIdx->nKind == krvAPTNType_intConst) {
            nIdx = pIdx->u.nIntConst;
        } else {
            if (!krvEvalValue(pEnv, pFunc, pIdx, &v, pFl)) {
                krvEvalDrop(&v);
                return 0;
            }
            if (v.type != KRV_DT_INTEGER) {
                krvEvalDrop(&v);
                krvErrorAt(KRV_RTE_RANGE, pEnv, pIdx, "Illegal array index expression for variable \"%s\".", szName);
                return 0;
            }
            nIdx = v.val.nInt;
        }
        krvDescDim_t d = krvDescDim(pSizes, bView, k);
        if (nIdx < 0 || nIdx >= d.nSize) {
            krvErrorAt(KRV_RTE_INDEX, pEnv, pIdx, "the %d-%s array index %lld is out of 0 ~ %d", k,
                       krvOrdinalSuffix(k), static_cast<long long>(nIdx), d.nSize - 1);
            return 0;
        }
        nOff += (d.nStart + nIdx) * static_cast<int64_t>(d.nStride);
    }
    *pOff = nOff;
    return 1;
}

int krvEvalLocate(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pRef, krvLoc_t *pLoc, uint32_t *pFl)
{
    krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    if (!pVar) {
        char szText[300];
        snprintf(szText, sizeof szText, "not solve var reference to %s",
                 pRef->u.varRef.szName ? pRef->u.varRef.szName : "");
        krvEvalUnbound(pEnv, pRef, szText);
        return 0;
    }
    krvValue_t *pBase;
    uint8_t dbd;
    krvStruct_t *pType;
    const int32_t *pSizes;
    int bView = 0;
    if (pVar->isGlobal) {
        pBase = pVar->pData;
        dbd = pVar->dbd;
        pType = pVar->pType;
        pSizes = KRV_IS_VAR_ARRAY(dbd) ? pVar->arrSize.pSizes : nullptr;
        if (!pBase || (KRV_IS_VAR_ARRAY(dbd) && !pSizes)) {
            char szText[300];
            snprintf(szText, sizeof szText, "%s has no storage", pVar->szName ? pVar->szName : "");
            krvEvalUnbound(pEnv, pRef, szText);
            return 0;
        }
    } else {
        krvEvalState_t *pSt = pEnv->pEval;
        krvSlot_t *pSlot = krvEvalSlot(pSt, pSt->nFrameTop - pVar->stoffset);
        pBase = pSlot->pData;
        dbd = pSlot->dbd;
        pType = pSlot->pType;
        pSizes = pSlot->pASizes;
        bView = KRV_IS_VAR_REF(dbd) && KRV_IS_VAR_ARRAY(dbd);
        if (dbd == KRV_DBD_UNKNOWN || !pBase) {
            char szText[300];
            snprintf(szText, sizeof szText, "%s has no storage",
                     pRef->u.varRef.szName ? pRef->u.varRef.szName : "");
            krvEvalUnbound(pEnv, pRef, szText);
            return 0;
        }
    }
    krvValue_t *pArrBase = pBase;
    krvValue_t *pCell = pBase;
    krvAPTN_t *pLastNode = pRef;
    krvVar_t *pLastVar = pVar;
    if (KRV_IS_VAR_ARRAY(dbd) && pRef->u.varRef.pIndexes) {
        int64_t nOff;
        if (!applyIndexes(pEnv, pFunc, pRef->u.varRef.pIndexes, pSizes, bView, pVar->szName, &nOff, pFl))
            return 0;
        pCell = pBase + nOff * (pType ? pType->nSize : 1);
    }
    for (krvAPTN_t *pM = pRef->u.varRef.pMember; pM; pM = pM->u.varRef.pMember) {
        krvVar_t *pMd = pM->u.varRef.pVarPtr;
        if (!pMd) {
            krvEvalUnbound(pEnv, pM, "member data not solved");
            return 0;
        }
        pCell += pMd->nMbrOffset;
        pArrBase = pCell;
        dbd = pMd->dbd;
        pType = pMd->pType;
        pSizes = KRV_IS_VAR_ARRAY(dbd) ? pMd->arrSize.pSizes : nullptr;
        bView = 0;
        if (KRV_IS_VAR_ARRAY(dbd) && pM->u.varRef.pIndexes) {
            int64_t nOff;
            if (!applyIndexes(pEnv, pFunc, pM->u.varRef.pIndexes, pSizes, 0, pMd->szName, &nOff, pFl))
                return 0;
            pCell += nOff * (pType ? pType->nSize : 1);
        }
        pLastNode = pM;
        pLastVar = pMd;
    }
    pLoc->pCell = pCell;
    pLoc->pArrBase = pArrBase;
    pLoc->dbd = dbd;
    pLoc->pType = pType;
    pLoc->pSizes = pSizes;
    pLoc->bView = bView;
    pLoc->pIndexes = pLastNode->u.varRef.pIndexes;
    pLoc->pLastNode = pLastNode;
    pLoc->pLastVar = pLastVar;
    return 1;
}
