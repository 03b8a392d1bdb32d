// Record constructors, array size descriptors, cell counts, function lines.
#include "model/krvRecords.h"

#include <cstdlib>
#include <cstring>

#include "model/krvAPTN.h"

// A zeroed record of type T owning a copy of szName (NULL reads as "");
// NULL when out of memory.
template <typename T>
static T *newNamed(const char *szName)
{
    T *p = static_cast<T *>(calloc(1, sizeof(T)));
    if (!p)
        return nullptr;
    p->szName = strdup(szName ? szName : "");
    if (!p->szName) {
        free(p);
        return nullptr;
    }
    return p;
}

krvVar_t *krvNewVar(const char *szName, uint16_t nFileIdx, int32_t nLine)
{
    krvVar_t *p = newNamed<krvVar_t>(szName);
    if (!p)
        return nullptr;
    p->nFileIdx = nFileIdx;
    p->nLine = nLine;
    return p;
}

krvVar_t *krvNewConst(const char *szName, const krvValue_t *pValue, uint16_t nFileIdx, int32_t nLine)
{
    krvVar_t *p = krvNewVar(szName, nFileIdx, nLine);
    if (!p)
        return nullptr;
    p->isGlobal = 1;
    p->pData = krvAllocValues(1);
    if (!p->pData || (pValue && krvSetDataByData(p->pData, pValue) != 0)) {
        if (p->pData)
            krvFreeValues(p->pData, 1);
        free(p->szName);
        free(p);
        return nullptr;
    }
    return p;
}

krvStruct_t *krvNewStruct(const char *szName)
{
    krvStruct_t *p = newNamed<krvStruct_t>(szName);
    if (!p)
        return nullptr;
    p->nSize = KRV_STRUCT_SIZE_TBD;
    return p;
}

krvNamespace_t *krvNewNamespace(const char *szName)
{
    return newNamed<krvNamespace_t>(szName);
}

static krvFuncInfo_t *newFunc(const char *szName, uint8_t type)
{
    krvFuncInfo_t *p = newNamed<krvFuncInfo_t>(szName);
    if (!p)
        return nullptr;
    p->type = type;
    return p;
}

krvFuncInfo_t *krvNewUsrFunc(const char *szName, uint16_t nFileIdx, int32_t nLine)
{
    krvFuncInfo_t *p = newFunc(szName, KRV_USR_FUNC_TYPE);
    if (p) {
        p->nFileIdx = nFileIdx;
        p->nLine = nLine;
    }
    return p;
}

krvFuncInfo_t *krvNewExtFunc(const char *szName)
{
    return newFunc(szName, KRV_EXT_FUNC_TYPE);
}

krvVar_t *krvVarListAppend(krvVar_t *pHead, krvVar_t *pVar)
{
    if (!pHead)
        return pVar;
    krvVar_t *p = pHead;
    while (p->link)
        p = p->link;
    p->link = pVar;
    return pHead;
}

int krvArrSizesLen(int nDims, int isRef)
{
    if (nDims < 1)
        return 0;
    return isRef ? 3 * (nDims + 1) : nDims + 2;
}

int32_t *krvArrSizesAlloc(int nDims, int isRef, int isFlexible)
{
    int nLen = krvArrSizesLen(nDims, isRef);
    if (nLen == 0)
        return nullptr;
    int32_t *p = static_cast<int32_t *>(calloc(static_cast<size_t>(nLen), sizeof(int32_t)));
    if (!p)
        return nullptr;
    p[0] = nDims;
    for (int i = 1; i <= nDims; i++)
        p[i] = isFlexible ? 0 : 1;
    p[nDims + 1] = 1;
    return p;
}

int krvArrSizesApplyDim(int32_t *pSizes, int k, int32_t nSize)
{
    if (!pSizes || k < 1 || k > pSizes[0] || nSize < 0)
        return -1;
    for (int i = 1; i <= k; i++) {
        int64_t nProd = static_cast<int64_t>(pSizes[i]) * nSize;
        if (nProd > INT32_MAX)
            return -1;
    }
    for (int i = 1; i <= k; i++)
        pSizes[i] *= nSize;
    return 0;
}

void krvArrSizesFillRefCopy(int32_t *pSizes)
{
    if (!pSizes)
        return;
    int n = pSizes[0];
    // [n+2 .. 2n+1] zeros, then [2n+2 .. 3n+2] = [1 .. n+1].
    for (int i = 0; i < n; i++)
        pSizes[n + 2 + i] = 0;
    for (int i = 1; i <= n + 1; i++)
        pSizes[2 * n + 1 + i] = pSizes[i];
}

int64_t krvVarCellCount(const krvVar_t *pVar)
{
    if (!pVar)
        return 0;
    int64_t nCells = 1;
    // While the type name is held, the type word is the qualification list.
    if (!pVar->nt.tname && pVar->pType)
        nCells = pVar->pType->nSize;
    if (KRV_IS_VAR_ARRAY(pVar->dbd) && pVar->dbd != KRV_DBD_ARRAY_TBA && !(pVar->dbd & KRV_DBD_UNKNOWN) &&
        pVar->arrSize.pSizes)
        nCells *= pVar->arrSize.pSizes[1];
    return nCells;
}

int32_t krvFuncLine(const krvFuncInfo_t *pFunc, int32_t nEndLine)
{
    if (pFunc->pParams)
        return pFunc->pParams->nLine;
    if (pFunc->pLocals)
        return pFunc->pLocals->nLine;
    if (pFunc->pBody)
        return pFunc->pBody->nLine;
    return nEndLine;
}
