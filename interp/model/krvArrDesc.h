// The size descriptor of an array and the sub-range view descriptor of a
// by-reference array slot: the one place that knows their layouts.
//
// Plain descriptor of n dimensions (n + 2 integers): [0] n; [1..n] the
// product of the sizes from that dimension to the last (so [1] is the
// element count); [n + 1] 1.
// View (3n + 3 integers): [0] n; the n + 1 products of the underlying array;
// the n start indices into it; the n + 1 products of the window.
#pragma once
#include <cstdint>

// Dimension count (0 for no descriptor).
static inline int32_t krvDescDims(const int32_t *pDesc)
{
    return pDesc ? pDesc[0] : 0;
}

// Element count of a plain descriptor.
static inline int32_t krvDescCount(const int32_t *pDesc)
{
    return pDesc[0] > 0 ? pDesc[1] : 1;
}

// Integers a plain descriptor and a view of n dimensions hold.
static inline int32_t krvDescLen(int32_t n)
{
    return n + 2;
}
static inline int32_t krvViewLen(int32_t n)
{
    return 3 * n + 3;
}

// Dimension k (from 0) as a reference sees it.
struct krvDescDim_t {
    int32_t nSize;         // elements of the dimension (the window's for a view)
    int32_t nStride;       // stride in elements of the underlying storage
    int32_t nStart;        // first index in the underlying storage (0 unless a view)
    int32_t nUnderSize;    // elements of the underlying dimension
};

static inline int32_t krvDescQuot(int32_t a, int32_t b)
{
    return b == 1 ? a : b ? a / b : 0;
}

static inline krvDescDim_t krvDescDim(const int32_t *pDesc, bool bView, int32_t k)
{
    int32_t n = pDesc[0];
    if (!bView) {
        int32_t nSize = krvDescQuot(pDesc[k + 1], pDesc[k + 2]);
        return {nSize, pDesc[k + 2], 0, nSize};
    }
    const int32_t *pU = pDesc + 1, *pS = pDesc + n + 2, *pW = pDesc + 2 * n + 2;
    return {krvDescQuot(pW[k], pW[k + 1]), pU[k + 1], pS[k], krvDescQuot(pU[k], pU[k + 1])};
}

// Fills a plain descriptor (krvDescLen(n) integers) from the dimension sizes.
static inline void krvDescFill(int32_t *pDesc, int32_t n, const int32_t *pSizes)
{
    pDesc[0] = n;
    pDesc[n + 1] = 1;
    for (int32_t k = n - 1; k >= 0; k--)
        pDesc[k + 1] = pDesc[k + 2] * pSizes[k];
}

// Fills a view (krvViewLen(n) integers) over storage whose dimension k has
// stride aUnder[k] and aUnderSize[k] elements, starting at aStart[k], with
// aCount[k] elements in the window.
static inline void krvViewFill(int32_t *pView, int32_t n, const int32_t *aUnder, const int32_t *aUnderSize,
                               const int32_t *aStart, const int32_t *aCount)
{
    int32_t *pU = pView + 1, *pS = pView + n + 2, *pW = pView + 2 * n + 2;
    pView[0] = n;
    pU[n] = 1;
    pW[n] = 1;
    for (int32_t k = n - 1; k >= 0; k--) {
        pU[k + 1] = aUnder[k];
        pS[k] = aStart[k];
        pW[k] = pW[k + 1] * aCount[k];
    }
    if (n > 0)
        pU[0] = aUnder[0] * aUnderSize[0];
}
