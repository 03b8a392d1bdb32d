// Structure sizes and offsets, and the storage of namespace variables.
#include <gtest/gtest.h>

#include "checker/krvCheck.h"
#include "layout/krvLayout.h"
#include "modelBuild.h"

namespace {

class Layout : public ::testing::Test, public ModelFixtureBase {};

// P { x; y[3]; }  Q { a; P p[2]; b; }  declared in the order given.
void buildPQ(bool bQFirst, krvStruct_t **ppP, krvStruct_t **ppQ)
{
    krvNamespace_t *g = krvGlobalNs();
    krvStruct_t *q = bQFirst ? addStruct(g, "Q") : nullptr;
    krvStruct_t *p = addStruct(g, "P");
    if (!q)
        q = addStruct(g, "Q");
    addMember(p, "x");
    addMember(p, "y", nullptr, 3);
    addMember(q, "a");
    addMember(q, "p", p, 2);
    addMember(q, "b");
    *ppP = p;
    *ppQ = q;
}

void expectPQ(krvStruct_t *p, krvStruct_t *q)
{
    EXPECT_EQ(p->nSize, 4);
    EXPECT_EQ(p->pMembers->nMbrOffset, 0);
    EXPECT_EQ(p->pMembers->link->nMbrOffset, 1);
    EXPECT_EQ(q->nSize, 10);
    EXPECT_EQ(q->pMembers->nMbrOffset, 0);
    EXPECT_EQ(q->pMembers->link->nMbrOffset, 1);
    EXPECT_EQ(q->pMembers->link->link->nMbrOffset, 9);
}

TEST_F(Layout, NestedArraysOfStructuresEitherOrder)
{
    for (bool bQFirst : {true, false}) {
        krvFreeModel();
        krvInitModel();
        krvStruct_t *p, *q;
        buildPQ(bQFirst, &p, &q);
        EXPECT_EQ(krvSolveStructSizeOffset(krvGlobalNs(), env()), 0);
        expectPQ(p, q);
        EXPECT_EQ(krvCheckNamespaceTree(krvGlobalNs()), 0) << out();
    }
    EXPECT_EQ(out(), "");
}

TEST_F(Layout, StructuresInChildNamespacesAndDeepNesting)
{
    krvNamespace_t *n = krvCreateNs(krvGlobalNs(), "n");
    krvNamespace_t *m = krvCreateNs(n, "m");
    // m::C { n::B b[2][3]; }  n::B { ::A a; z; }  A { w[5]; }
    krvStruct_t *c = addStruct(m, "C");
    krvStruct_t *b = addStruct(n, "B");
    krvStruct_t *a = addStruct(krvGlobalNs(), "A");
    addMember(c, "b", b, 2, 3);
    addMember(b, "a", a);
    addMember(b, "z");
    addMember(a, "w", nullptr, 5);
    EXPECT_EQ(krvSolveStructSizeOffset(krvGlobalNs(), env()), 0);
    EXPECT_EQ(a->nSize, 5);
    EXPECT_EQ(b->nSize, 6);
    EXPECT_EQ(b->pMembers->link->nMbrOffset, 5);
    EXPECT_EQ(c->nSize, 36);
}

TEST_F(Layout, EmptyStructureHasSizeOne)
{
    krvStruct_t *e = addStruct(krvGlobalNs(), "E");
    krvStruct_t *h = addStruct(krvGlobalNs(), "H");
    addMember(h, "four", e, 4);
    addMember(h, "one", e);
    EXPECT_EQ(krvSolveStructSizeOffset(krvGlobalNs(), env()), 0);
    EXPECT_EQ(e->nSize, 1);
    EXPECT_EQ(h->nSize, 5);
    EXPECT_EQ(h->pMembers->link->nMbrOffset, 4);
    krvVar_t *v = addGlobal(krvGlobalNs(), "ev", e, 4);
    ASSERT_EQ(krvAllocGlobalVars(env(), krvGlobalNs()), 1);
    EXPECT_EQ(krvVarCellCount(v), 4);
    EXPECT_EQ(krvCheckNamespaceTree(krvGlobalNs()), 0) << out();
}

TEST_F(Layout, StructureContainingItselfDirectlyIsRefused)
{
    krvStruct_t *s = addStruct(krvGlobalNs(), "S");
    addMember(s, "x");
    addMember(s, "self", s);
    EXPECT_EQ(krvSolveStructSizeOffset(krvGlobalNs(), env()), 1);
    EXPECT_LT(s->nSize, 0);
    EXPECT_EQ(out(), "Error S143: t.krv line 3: structure S contains itself through member self\n");
    EXPECT_EQ(krvGetLastDiagId(), 143);
    EXPECT_EQ(env()->finfo->nErrors, 1);
}

TEST_F(Layout, StructureContainingItselfThroughOthersIsRefused)
{
    // A { B b; }  B { C c[2]; }  C { A a; }  and D { A a; } which only uses the loop.
    krvStruct_t *a = addStruct(krvGlobalNs(), "A");
    krvStruct_t *b = addStruct(krvGlobalNs(), "B");
    krvStruct_t *c = addStruct(krvGlobalNs(), "C");
    krvStruct_t *d = addStruct(krvGlobalNs(), "D");
    addMember(a, "b", b);
    addMember(b, "c", c, 2);
    addMember(c, "a", a);
    addMember(d, "a", a);
    EXPECT_EQ(krvSolveStructSizeOffset(krvGlobalNs(), env()), 4);
    for (krvStruct_t *s : {a, b, c, d})
        EXPECT_LT(s->nSize, 0) << s->szName;
    // One report for the loop, whichever structure the walk met first.
    EXPECT_NE(out().find("contains itself through member"), std::string::npos) << out();
    EXPECT_EQ(out().find("contains itself", out().find("contains itself") + 1), std::string::npos) << out();
    // Running the pass again does not loop either.
    EXPECT_EQ(krvSolveStructSizeOffset(krvGlobalNs(), env()), 0);
}

TEST_F(Layout, SizeOverflowIsRefused)
{
    krvStruct_t *big = addStruct(krvGlobalNs(), "Big");
    krvStruct_t *huge = addStruct(krvGlobalNs(), "Huge");
    addMember(big, "v", nullptr, 65536);
    addMember(huge, "b", big, 65536);
    EXPECT_EQ(krvSolveStructSizeOffset(krvGlobalNs(), env()), 1);
    EXPECT_EQ(big->nSize, 65536);
    EXPECT_LT(huge->nSize, 0);
    EXPECT_NE(out().find("S144"), std::string::npos) << out();
}

TEST_F(Layout, GlobalStorageAndConstantInitialisers)
{
    krvNamespace_t *n = krvCreateNs(krvGlobalNs(), "n");
    krvVar_t *five = addGlobal(n, "five");
    five->pInitExpr = binop(KRV_OP_ADD, intc(2), intc(3));
    krvVar_t *zero = addGlobal(krvGlobalNs(), "zero");
    krvVar_t *arr = addGlobal(krvGlobalNs(), "arr", nullptr, 3);
    krvVar_t *dollar = krvFindVar(krvGlobalNs(), "$3");
    krvValue_t *pDollarCells = dollar->pData;
    ASSERT_EQ(krvAllocGlobalVars(env(), krvGlobalNs()), 1) << out();
    EXPECT_EQ(five->pData[0].type, KRV_DT_INTEGER);
    EXPECT_EQ(five->pData[0].val.nInt, 5);
    EXPECT_EQ(five->pInitExpr, nullptr);
    EXPECT_EQ(zero->pData[0].val.nInt, 0);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(arr->pData[i].type, KRV_DT_INTEGER);
        EXPECT_EQ(arr->pData[i].val.nInt, 0);
    }
    EXPECT_EQ(dollar->pData, pDollarCells);   // cells a variable already owns are kept
    EXPECT_EQ(krvCheckNamespaceTree(krvGlobalNs()), 0) << out();
}

}  // namespace
