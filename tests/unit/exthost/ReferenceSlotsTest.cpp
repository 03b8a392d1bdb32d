// Array and structure references as a module sees them: dimension sizes
// and element cells through whole arrays and sub-range windows, member
// paths through structures.
#include <cstring>

#include "exthostTestSupport.h"

namespace {

using ReferenceSlotsTest = ExtHostTest;

TEST_F(ReferenceSlotsTest, WholeTwoByThreeArray)
{
    HandRef a;
    makeArray(a, {2, 3});
    EXPECT_NE(host.pfnIsArray(a.handle()), 0);
    EXPECT_EQ(host.pfnGetArrDimNum(a.handle()), 2);
    EXPECT_EQ(host.pfnGetArrDimSize(a.handle(), 0), 2);
    EXPECT_EQ(host.pfnGetArrDimSize(a.handle(), 1), 3);
    EXPECT_EQ(host.pfnGetArrDimSize(a.handle(), 2), -1);
    EXPECT_EQ(host.pfnGetArrDimSize(a.handle(), -1), -1);
    // (1, 2) is the sixth cell; (2, 0) and (0, -1) are outside.
    EXPECT_EQ(host.pfnGetArrElem(a.handle(), 1, 2), &a.cells[5]);
    EXPECT_EQ(host.pfnGetArrElem(a.handle(), 0, 0), &a.cells[0]);
    EXPECT_EQ(host.pfnGetArrElem(a.handle(), 2, 0), nullptr);
    EXPECT_EQ(host.pfnGetArrElem(a.handle(), 0, -1), nullptr);
    EXPECT_EQ(host.pfnGetArrElem(a.handle(), 0, 3), nullptr);
    // Writing through the element cell changes the array.
    host.pfnSetStr(host.pfnGetArrElem(a.handle(), 1, 0), "x");
    EXPECT_STREQ(a.cells[3].val.pStr, "x");
}

TEST_F(ReferenceSlotsTest, SubRangeWindowShowsItsOwnExtentAndStart)
{
    // A 4 x 5 array seen through rows 1..2 and columns 2..4.
    HandRef w;
    makeWindow(w, {4, 5}, {1, 2}, {2, 3});
    EXPECT_EQ(host.pfnGetArrDimNum(w.handle()), 2);
    EXPECT_EQ(host.pfnGetArrDimSize(w.handle(), 0), 2);
    EXPECT_EQ(host.pfnGetArrDimSize(w.handle(), 1), 3);
    // Index (0, 0) is the window's first element: (1, 2) of the array.
    EXPECT_EQ(host.pfnGetArrElem(w.handle(), 0, 0), &w.cells[1 * 5 + 2]);
    EXPECT_EQ(host.pfnGetArrElem(w.handle(), 1, 2), &w.cells[2 * 5 + 4]);
    EXPECT_EQ(host.pfnGetArrElem(w.handle(), 2, 0), nullptr);   // beyond the window, inside the array
    EXPECT_EQ(host.pfnGetArrElem(w.handle(), 0, 3), nullptr);
}

TEST_F(ReferenceSlotsTest, OneDimensionalWindow)
{
    HandRef w;
    makeWindow(w, {10}, {6}, {3});
    EXPECT_EQ(host.pfnGetArrDimSize(w.handle(), 0), 3);
    EXPECT_EQ(host.pfnGetArrElem(w.handle(), 0)->val.nInt, 6);
    EXPECT_EQ(host.pfnGetArrElem(w.handle(), 2)->val.nInt, 8);
    EXPECT_EQ(host.pfnGetArrElem(w.handle(), 3), nullptr);
}

TEST_F(ReferenceSlotsTest, NotAnArray)
{
    HandRef e;
    krvValue_t cell{};
    e.var.dbd = KRV_DBD_ELEMENT;
    e.var.pData = &cell;
    EXPECT_EQ(host.pfnIsArray(e.handle()), 0);
    EXPECT_EQ(host.pfnGetArrDimNum(e.handle()), -1);
    EXPECT_EQ(host.pfnGetArrDimSize(e.handle(), 0), -1);
    EXPECT_EQ(host.pfnGetArrElem(e.handle(), 0), nullptr);
    EXPECT_EQ(host.pfnIsArray(nullptr), 0);
    EXPECT_EQ(host.pfnGetArrDimNum(nullptr), -1);
    EXPECT_EQ(host.pfnGetArrElem(nullptr, 0), nullptr);
    // A node of another kind is no reference.
    krvAPTN_t node{};
    node.nKind = krvAPTNType_intConst;
    EXPECT_EQ(host.pfnIsArray(&node), 0);
    EXPECT_EQ(host.pfnGetArrDimNum(&node), -1);
}

TEST_F(ReferenceSlotsTest, MoreThanEightDimensionsGiveNoElement)
{
    HandRef a;
    makeArray(a, {1, 1, 1, 1, 1, 1, 1, 1, 2});
    EXPECT_EQ(host.pfnGetArrDimNum(a.handle()), 9);
    EXPECT_EQ(host.pfnGetArrElem(a.handle(), 0, 0, 0, 0, 0, 0, 0, 0, 1), nullptr);
    HandRef b;
    makeArray(b, {1, 1, 1, 1, 1, 1, 1, 2});
    EXPECT_EQ(host.pfnGetArrElem(b.handle(), 0, 0, 0, 0, 0, 0, 0, 1), &b.cells[1]);
}

TEST_F(ReferenceSlotsTest, UnboundFlexibleArrayHasNoElements)
{
    HandRef a;
    a.sizes = {2, 0, 0, 1};
    a.var.dbd = KRV_DBD_VSARR;
    a.var.arrSize.pSizes = a.sizes.data();
    EXPECT_EQ(host.pfnGetArrDimSize(a.handle(), 0), 0);
    EXPECT_EQ(host.pfnGetArrDimSize(a.handle(), 1), 0);
    EXPECT_EQ(host.pfnGetArrElem(a.handle(), 0, 0), nullptr);
}

TEST_F(ReferenceSlotsTest, ArrayOfStructuresStepsByTheStructureSize)
{
    krvStruct_t *s = krvNewStruct("Pair_t");
    ASSERT_NE(s, nullptr);
    s->nSize = 2;
    HandRef a;
    makeArray(a, {3});          // sizes of 3 elements ...
    a.cells.assign(6, krvValue_t{});
    a.var.pData = a.cells.data();   // ... of 2 cells each
    a.var.pType = s;
    EXPECT_EQ(host.pfnGetArrElem(a.handle(), 2), &a.cells[4]);
    a.var.pType = nullptr;
    krvFreeStruct(s);
}

// struct Inner_t { var x; var y; }, struct Outer_t { var a; var m[2][3]; Inner_t in[2]; var z; }
class StructPathTest : public ExtHostTest {
protected:
    void SetUp() override
    {
        ExtHostTest::SetUp();
        ns = krvCreateNs(krvGlobalNs(), "nvme");
        inner = krvNewStruct("Inner_t");
        outer = krvNewStruct("Outer_t");
        ASSERT_EQ(krvAddStruct(ns, inner), 0);
        ASSERT_EQ(krvAddStruct(ns, outer), 0);
        outer->szQName = krvQualifiedName(ns, "Outer_t");
        addMember(inner, "x", 0, nullptr, {});
        addMember(inner, "y", 1, nullptr, {});
        inner->nSize = 2;
        addMember(outer, "a", 0, nullptr, {});
        addMember(outer, "m", 1, nullptr, {2, 3});
        addMember(outer, "in", 7, inner, {2});
        addMember(outer, "z", 11, nullptr, {});
        outer->nSize = 12;
        cells.assign(12, krvValue_t{});
        for (int k = 0; k < 12; k++) {
            cells[k].type = KRV_DT_INTEGER;
            cells[k].val.nInt = k;
        }
        r.var.szName = const_cast<char *>("s");
        r.var.pType = outer;
        r.var.pData = cells.data();
    }

    void addMember(krvStruct_t *st, const char *name, int32_t offset, krvStruct_t *type, std::vector<int32_t> dims)
    {
        krvVar_t *m = krvNewVar(name, 0, 1);
        m->isMember = 1;
        m->pMemberOf = st;
        m->nMbrOffset = offset;
        m->pType = type;
        if (!dims.empty()) {
            m->dbd = KRV_DBD_FIXARR;
            m->arrSize.pSizes = krvArrSizesAlloc(static_cast<int>(dims.size()), 0, 0);
            for (size_t k = 0; k < dims.size(); k++)
                krvArrSizesApplyDim(m->arrSize.pSizes, static_cast<int>(k) + 1, dims[k]);
        }
        st->pMembers = krvVarListAppend(st->pMembers, m);
    }

    krvNamespace_t *ns = nullptr;
    krvStruct_t *inner = nullptr;
    krvStruct_t *outer = nullptr;
    std::vector<krvValue_t> cells;
    HandRef r;
};

TEST_F(StructPathTest, TypeNameCarriesTheNamespaces)
{
    const char *sz = host.pfnGetStructTypeName(r.handle());
    ASSERT_NE(sz, nullptr);
    EXPECT_TRUE(strcmp(sz, "::nvme::Outer_t") == 0 || strcmp(sz, "nvme::Outer_t") == 0) << sz;
    EXPECT_EQ(host.pfnGetStructTypeName(nullptr), nullptr);
}

TEST_F(StructPathTest, MemberCells)
{
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), ""), &cells[0]);
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "f", "a"), &cells[0]);
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "F", "z"), &cells[11]);
    // m is [2][3] at offset 1: m[1][0] is cell 1 + 3.
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "fii", "m", 1, 0), &cells[4]);
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "fII", "m", 1, 2), &cells[6]);
    // in is Inner_t[2] at offset 7: in[1].y is 7 + 2 + 1.
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "fif", "in", 1, "y"), &cells[10]);
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "fif", "in", 0, "x"), &cells[7]);
}

TEST_F(StructPathTest, PathsThatDoNotFitGiveNull)
{
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "fi", "m", 1), nullptr);          // one index, two dimensions
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "fiii", "m", 0, 0, 0), nullptr);
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "fii", "m", 2, 0), nullptr);      // index out of range
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "fii", "m", 0, -1), nullptr);
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "f", "nope"), nullptr);
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "f", nullptr), nullptr);
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "i", 0), nullptr);                // the structure is no array
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "ff", "in", "x"), nullptr);       // array not indexed
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "ff", "a", "x"), nullptr);        // a is elementary
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), "x", "a"), nullptr);              // unknown letter
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), nullptr), nullptr);
    EXPECT_EQ(host.pfnGetStructMember(nullptr, "f", "a"), nullptr);
    std::string longPath(65, 'F');
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), longPath.c_str()), nullptr);
}

TEST_F(StructPathTest, ElementaryReferenceHasNoMembers)
{
    r.var.pType = nullptr;
    EXPECT_EQ(host.pfnGetStructMember(r.handle(), ""), nullptr);
    EXPECT_EQ(host.pfnGetStructTypeName(r.handle()), nullptr);
}

}  // namespace
