// Host services that read array and structure arguments. A reference is the
// variable-reference node that the call hands to the module: its variable
// describes exactly what the script passed (data, structure type, sizes).
// An array passed as a sub-range carries a window descriptor:
//   [0] n, [1..n+1] products of the underlying array, [n+2..2n+1] the start
//   index in each dimension, [2n+2..3n+2] products of the window;
// a whole array carries the plain descriptor [0] n, [1..n+1] products.
#include <cstdarg>
#include <cstring>

#include "model/krvArrDesc.h"
#include "exthost/krvHostSlots.h"
#include "model/krvAPTN.h"
#include "model/krvDiag.h"
#include "model/krvRecords.h"

// Assertions of this group report under the component's own name.
#define KRV_EXT_ASSERT(cond) \
    do { \
        if (!(cond)) krvAssertFail("krvExtend", __LINE__, #cond); \
    } while (0)

#define KRV_EXT_ARR_DIMS_MAX 8

namespace {

// The view of an array as the module sees it.
struct krvArrView_t {
    int32_t nDims;
    const int32_t *pSizes;     // the descriptor
    bool isWindow;             // sub-range window descriptor
};

// The variable behind a reference; NULL for no reference or a node of
// another kind.
krvVar_t *krvRefVar(void *pRef)
{
    krvAPTN_t *pVarRef = static_cast<krvAPTN_t *>(pRef);
    if (pVarRef == nullptr || pVarRef->nKind != krvAPTNType_varRef)
        return nullptr;
    KRV_EXT_ASSERT(pVarRef->u.varRef.pVarPtr);
    return pVarRef->u.varRef.pVarPtr;
}

bool krvIsSizedArray(const krvVar_t *pVar)
{
    return KRV_IS_VAR_ARRAY(pVar->dbd) && pVar->dbd != KRV_DBD_ARRAY_TBA && !(pVar->dbd & KRV_DBD_UNKNOWN);
}

bool krvArrViewOf(void *pRef, krvArrView_t *pView)
{
    krvVar_t *pVar = krvRefVar(pRef);
    if (pVar == nullptr || !krvIsSizedArray(pVar))
        return false;
    krvAPTN_t *pVarRef = static_cast<krvAPTN_t *>(pRef);
    KRV_EXT_ASSERT(pVarRef->u.varRef.pVarPtr->arrSize.pSizes);
    pView->pSizes = pVar->arrSize.pSizes;
    pView->nDims = krvDescDims(pView->pSizes);
    pView->isWindow = KRV_IS_VAR_REF(pVar->dbd);
    return pView->nDims >= 1;
}

// Element count of dimension d (from 0) as seen through the view.
int32_t krvViewDimSize(const krvArrView_t &v, int32_t d)
{
    return krvDescDim(v.pSizes, v.isWindow, d).nSize;
}

// Row-major position of (start_d + i_d) in the underlying array.
int64_t krvViewOrdinal(const krvArrView_t &v, const int32_t *pIdx)
{
    int64_t nOrd = 0;
    for (int32_t d = 0; d < v.nDims; d++) {
        krvDescDim_t dim = krvDescDim(v.pSizes, v.isWindow, d);
        nOrd += (dim.nStart + pIdx[d]) * static_cast<int64_t>(dim.nStride);
    }
    return nOrd;
}

// Cells per element: the structure's size for an array of structures.
int32_t krvElemCells(const krvVar_t *pVar)
{
    return pVar->pType ? pVar->pType->nSize : 1;
}

}  // namespace

int krvExtIsArray(void *pArrRef)
{
    krvVar_t *pVar = krvRefVar(pArrRef);
    return pVar != nullptr && krvIsSizedArray(pVar);
}

int32_t krvExtGetArrDimNum(void *pArrRef)
{
    krvArrView_t v;
    return krvArrViewOf(pArrRef, &v) ? v.nDims : -1;
}

int32_t krvExtGetArrDimSize(void *pArrRef, int32_t nDim)
{
    krvArrView_t v;
    if (!krvArrViewOf(pArrRef, &v) || nDim < 0 || nDim >= v.nDims)
        return -1;
    return krvViewDimSize(v, nDim);
}

krvValue_t *krvExtGetArrElem(void *pArrRef, ...)
{
    krvArrView_t v;
    if (!krvArrViewOf(pArrRef, &v) || v.nDims > KRV_EXT_ARR_DIMS_MAX)
        return nullptr;
    krvVar_t *pVar = krvRefVar(pArrRef);
    int32_t aIdx[KRV_EXT_ARR_DIMS_MAX];
    va_list ap;
    va_start(ap, pArrRef);
    for (int32_t d = 0; d < v.nDims; d++)
        aIdx[d] = va_arg(ap, int32_t);
    va_end(ap);
    for (int32_t d = 0; d < v.nDims; d++)
        if (aIdx[d] < 0 || aIdx[d] >= krvViewDimSize(v, d))
            return nullptr;
    int32_t nCells = krvElemCells(pVar);
    if (pVar->pData == nullptr || nCells < 1)
        return nullptr;
    return pVar->pData + krvViewOrdinal(v, aIdx) * nCells;
}

const char *krvExtGetStructTypeName(void *pStructRef)
{
    krvVar_t *pVar = krvRefVar(pStructRef);
    if (pVar == nullptr || pVar->pType == nullptr)
        return nullptr;
    return pVar->pType->szQName;
}

// Member path: 'f'/'F' takes a member name, a run of 'i'/'I' takes one
// index per dimension of the current array. The result is the selected
// cell, or NULL for any step that does not fit.
krvValue_t *krvExtGetStructMember(void *pStructRef, const char *szPath, ...)
{
    krvVar_t *pVar = krvRefVar(pStructRef);
    if (pVar == nullptr || pVar->pType == nullptr || pVar->pData == nullptr || szPath == nullptr ||
        KRV_IS_VAR_ARRAY(pVar->dbd) || strlen(szPath) > KRV_EXT_MEMBER_PATH_MAX)
        return nullptr;

    const krvStruct_t *pCurType = pVar->pType;   // structure of the current object, NULL if elementary
    const int32_t *pCurSizes = nullptr;          // sizes while the current object is an unindexed array
    int64_t nOffset = 0;
    krvValue_t *pResult = nullptr;
    va_list ap;
    va_start(ap, szPath);
    const char *p = szPath;
    for (;;) {
        char c = *p;
        if (c == '\0') {
            pResult = pVar->pData + nOffset;
            break;
        }
        if (c == 'f' || c == 'F') {
            const char *szMember = va_arg(ap, const char *);
            p++;
            if (szMember == nullptr || pCurType == nullptr || pCurSizes != nullptr)
                break;
            const krvVar_t *pMember = pCurType->pMembers;
            while (pMember && strcmp(pMember->szName, szMember) != 0)
                pMember = pMember->link;
            if (pMember == nullptr)
                break;
            nOffset += pMember->nMbrOffset;
            pCurType = pMember->pType;
            pCurSizes = nullptr;
            if (KRV_IS_VAR_ARRAY(pMember->dbd)) {
                if (!krvIsSizedArray(pMember) || pMember->arrSize.pSizes == nullptr)
                    break;
                pCurSizes = pMember->arrSize.pSizes;
            }
        } else if (c == 'i' || c == 'I') {
            int32_t aIdx[KRV_EXT_MEMBER_PATH_MAX];
            int32_t nRun = 0;
            while (*p == 'i' || *p == 'I') {
                aIdx[nRun++] = va_arg(ap, int32_t);
                p++;
            }
            if (pCurSizes == nullptr || pCurSizes[0] != nRun)
                break;
            int64_t nOrd = 0;
            bool ok = true;
            for (int32_t d = 0; d < nRun && ok; d++) {
                int32_t nNext = pCurSizes[d + 2];
                int32_t nSize = nNext > 0 ? pCurSizes[d + 1] / nNext : 0;
                ok = aIdx[d] >= 0 && aIdx[d] < nSize;
                nOrd += static_cast<int64_t>(aIdx[d]) * nNext;
            }
            if (!ok)
                break;
            int32_t nCells = pCurType ? pCurType->nSize : 1;
            if (nCells < 1)
                break;
            nOffset += nOrd * nCells;
            pCurSizes = nullptr;
        } else {
            break;
        }
    }
    va_end(ap);
    return pResult;
}
