// Array size descriptors and the cell counts of variables.
#include <gtest/gtest.h>
#include <vector>

#include "model/krvNamespace.h"
#include "model/krvRecords.h"

static std::vector<int32_t> fixedSizes(std::vector<int32_t> dims, int isRef = 0)
{
    int n = static_cast<int>(dims.size());
    int32_t *p = krvArrSizesAlloc(n, isRef, 0);
    EXPECT_NE(p, nullptr);
    for (int k = 1; k <= n; k++)
        EXPECT_EQ(krvArrSizesApplyDim(p, k, dims[k - 1]), 0);
    if (isRef)
        krvArrSizesFillRefCopy(p);
    std::vector<int32_t> v(p, p + krvArrSizesLen(n, isRef));
    free(p);
    return v;
}

TEST(ArraySizes, ProductsFromTheRight)
{
    EXPECT_EQ(fixedSizes({2, 3, 4}), (std::vector<int32_t>{3, 24, 12, 4, 1}));
    EXPECT_EQ(fixedSizes({5}), (std::vector<int32_t>{1, 5, 1}));
    // const N = 3; var a[N][N+1];
    EXPECT_EQ(fixedSizes({3, 4}), (std::vector<int32_t>{2, 12, 4, 1}));
}

TEST(ArraySizes, ByReferenceLayout)
{
    // n+2 as for a fixed array, n zeros, then a copy of elements 1..n+1.
    EXPECT_EQ(fixedSizes({2, 3}, 1), (std::vector<int32_t>{2, 6, 3, 1, 0, 0, 6, 3, 1}));
    EXPECT_EQ(krvArrSizesLen(1, 1), 6);
    EXPECT_EQ(krvArrSizesLen(0, 0), 0);
    EXPECT_EQ(krvArrSizesAlloc(0, 0, 0), nullptr);
}

TEST(ArraySizes, FlexibleArrayHasZeroProducts)
{
    int32_t *p = krvArrSizesAlloc(2, 0, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 2);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], 0);
    EXPECT_EQ(p[3], 1);
    free(p);
}

TEST(ArraySizes, OverflowAndBadDimensionsAreRefused)
{
    int32_t *p = krvArrSizesAlloc(2, 0, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(krvArrSizesApplyDim(p, 1, 65536), 0);
    EXPECT_EQ(krvArrSizesApplyDim(p, 2, 65536), -1);   // 2^32 cells
    EXPECT_EQ(p[1], 65536);                            // unchanged by the refusal
    EXPECT_EQ(krvArrSizesApplyDim(p, 3, 2), -1);
    EXPECT_EQ(krvArrSizesApplyDim(p, 0, 2), -1);
    free(p);
}

TEST(ArraySizes, CellCountOfVariables)
{
    krvVar_t *v = krvNewVar("a", 0, 1);
    EXPECT_EQ(krvVarCellCount(v), 1);
    v->dbd = KRV_DBD_FIXARR;
    v->arrSize.pSizes = krvArrSizesAlloc(2, 0, 0);
    krvArrSizesApplyDim(v->arrSize.pSizes, 1, 2);
    krvArrSizesApplyDim(v->arrSize.pSizes, 2, 3);
    EXPECT_EQ(krvVarCellCount(v), 6);

    krvStruct_t *s = krvNewStruct("S");
    s->nSize = 4;
    v->pType = s;
    EXPECT_EQ(krvVarCellCount(v), 24);
    v->pType = nullptr;
    krvFreeStruct(s);

    // An unresolved structure type does not count as a structure.
    v->nt.nsres = krvNewNameList("ns", nullptr);
    v->nt.tname = strdup("T");
    EXPECT_EQ(krvVarCellCount(v), 6);
    krvFreeVar(v);   // frees the qualification and the type name too
}

TEST(ArraySizes, DescriptorBits)
{
    EXPECT_TRUE(KRV_IS_VAR_REF(KRV_DBD_VSARR_REF));
    EXPECT_TRUE(KRV_IS_VAR_VSARR(KRV_DBD_VSARR));
    EXPECT_FALSE(KRV_IS_VAR_VSARR(KRV_DBD_FIXARR));
    EXPECT_FALSE(KRV_IS_VAR_VSARR(KRV_DBD_ARRAY_TBA));
    EXPECT_TRUE(KRV_IS_VAR_ARRAY(KRV_DBD_ARRAY_TBA));
    EXPECT_FALSE(KRV_IS_VAR_ARRAY(KRV_DBD_ELEMENT_REF));
}
