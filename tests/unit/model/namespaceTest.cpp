// The global namespace, lookups by name and by qualification list,
// insertions and their refusals, path texts, freeing a namespace tree.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include "model/krvModel.h"
#include "outputCapture.h"

class NamespaceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(krvInitModel(), 0); }
    void TearDown() override { krvFreeModel(); }
};

TEST_F(NamespaceTest, GlobalNamespaceHoldsDollarVariables)
{
    krvNamespace_t *g = krvGlobalNs();
    EXPECT_STREQ(g->szName, "");
    EXPECT_EQ(g->parent, nullptr);
    for (const char *sz : {"$0", "$5", "$9"}) {
        krvVar_t *v = krvFindVar(g, sz);
        ASSERT_NE(v, nullptr) << sz;
        EXPECT_TRUE(v->isGlobal);
        ASSERT_NE(v->pData, nullptr);
        EXPECT_EQ(v->pData->type, KRV_DT_INTEGER);
        EXPECT_EQ(v->pData->val.nInt, 0);
    }
    EXPECT_EQ(krvFindVar(g, "$10"), nullptr);
    // A second initialisation starts from a clean namespace.
    krvCreateNs(g, "extra");
    ASSERT_EQ(krvInitModel(), 0);
    EXPECT_EQ(krvFindNs(g, "extra"), nullptr);
    EXPECT_NE(krvFindVar(g, "$3"), nullptr);
}

TEST_F(NamespaceTest, FindByQualificationList)
{
    krvNamespace_t *a = krvCreateNs(nullptr, "a");
    ASSERT_NE(a, nullptr);
    krvNamespace_t *b = krvCreateNs(a, "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->parent, a);
    EXPECT_EQ(a->parent, krvGlobalNs());

    krvNameList_t *q = krvNewNameList("a", krvNewNameList("b", nullptr));
    EXPECT_EQ(krvFindNsByQual(q), b);
    krvNameList_t *qg = krvNewNameList("", krvCopyNameList(q));   // "::a::b"
    EXPECT_EQ(krvFindNsByQual(qg), b);
    EXPECT_EQ(krvFindNsByQual(nullptr), krvGlobalNs());
    krvNameList_t *qe = krvNewNameList("", nullptr);                 // "::"
    EXPECT_EQ(krvFindNsByQual(qe), krvGlobalNs());
    krvNameList_t *qm = krvNewNameList("a", krvNewNameList("c", nullptr));
    EXPECT_EQ(krvFindNsByQual(qm), nullptr);
    krvNameList_t *qb = krvNewNameList("b", nullptr);                // b is not at top level
    EXPECT_EQ(krvFindNsByQual(qb), nullptr);
    for (krvNameList_t *p : {q, qg, qe, qm, qb})
        krvFreeNameList(p);
}

TEST_F(NamespaceTest, DuplicateNamesAreRefused)
{
    krvNamespace_t *g = krvGlobalNs();
    ASSERT_NE(krvCreateNs(g, "n"), nullptr);
    EXPECT_EQ(krvCreateNs(g, "n"), nullptr);
    krvNamespace_t *dup = krvNewNamespace("n");
    EXPECT_EQ(krvAddNs(g, dup), -1);
    krvFreeNamespace(dup);

    krvStruct_t *s1 = krvNewStruct("S");
    krvStruct_t *s2 = krvNewStruct("S");
    EXPECT_EQ(krvAddStruct(g, s1), 0);
    EXPECT_EQ(s1->pNamespace, g);
    EXPECT_EQ(krvAddStruct(g, s2), -1);
    krvFreeStruct(s2);
    EXPECT_EQ(krvFindStruct(g, "S"), s1);

    krvFuncInfo_t *f = krvNewUsrFunc("f", 0, 1);
    krvFuncInfo_t *fx = krvNewExtFunc("f");
    EXPECT_EQ(krvAddUsrFunc(g, f), 0);
    EXPECT_EQ(krvAddExtFunc(g, fx), -1);      // user and extension share one table
    krvFreeFunc(fx);
    EXPECT_EQ(f->pNamespace, g);

    // Global integer variables: refused when a constant or variable exists.
    krvValue_t one{};
    krvSetInt(&one, 1);
    krvVar_t *c = krvNewConst("k", &one, 0, 2);
    EXPECT_EQ(krvAddConst(g, c), 0);
    EXPECT_EQ(krvCreateGlobalIntVar("k", g), nullptr);
    EXPECT_EQ(krvCreateGlobalIntVar("$1", g), nullptr);
    krvVar_t *v = krvCreateGlobalIntVar("v", nullptr);   // NULL is the global namespace
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(krvFindVar(g, "v"), v);
    EXPECT_EQ(krvFindConst(g, "k")->pData->val.nInt, 1);
}

TEST_F(NamespaceTest, FindsByKindAndNullNamespaces)
{
    krvNamespace_t *g = krvGlobalNs();
    krvFuncInfo_t *e = krvNewExtFunc("ext");
    ASSERT_EQ(krvAddExtFunc(g, e), 0);
    krvFuncInfo_t *u = krvNewUsrFunc("usr", 0, 3);
    ASSERT_EQ(krvAddUsrFunc(g, u), 0);
    EXPECT_EQ(krvFindFunc(g, "ext"), e);
    EXPECT_EQ(krvFindUsrFunc(g, "ext"), nullptr);
    EXPECT_EQ(krvFindUsrFunc(g, "usr"), u);
    EXPECT_EQ(krvFindFunc(nullptr, "usr"), nullptr);
    EXPECT_EQ(krvFindConst(g, "usr"), nullptr);
    krvNamespace_t *empty = krvCreateNs(g, "empty");
    EXPECT_EQ(krvFindVar(empty, "x"), nullptr);    // no table yet
    EXPECT_EQ(krvFindStruct(empty, "x"), nullptr);
    EXPECT_EQ(krvFindNs(empty, "x"), nullptr);

    krvStruct_t *s = krvNewStruct("S");
    krvAddStruct(empty, s);
    krvFuncInfo_t *m = krvNewUsrFunc("m", 0, 4);
    EXPECT_EQ(krvAddMemberFunc(s, m), 0);
    krvFuncInfo_t *m2 = krvNewUsrFunc("m", 0, 5);
    EXPECT_EQ(krvAddMemberFunc(s, m2), -1);
    krvFreeFunc(m2);
    EXPECT_EQ(krvFindMemberFunc(s, "m"), m);
    EXPECT_EQ(krvFindMemberFunc(s, "n"), nullptr);
}

TEST_F(NamespaceTest, PathTexts)
{
    char *p = krvNsPathText(krvGlobalNs());
    EXPECT_STREQ(p, "::");
    free(p);
    krvNamespace_t *a = krvCreateNs(nullptr, "a");
    krvNamespace_t *b = krvCreateNs(a, "b");
    p = krvNsPathText(a);
    EXPECT_STREQ(p, "::a::");
    free(p);
    p = krvNsPathText(b);
    EXPECT_STREQ(p, "::a::b::");
    free(p);
    p = krvQualifiedName(b, "HMBInfo_t");
    EXPECT_STREQ(p, "::a::b::HMBInfo_t");
    free(p);
}

TEST_F(NamespaceTest, FreeingATreeReleasesEverything)
{
    // Everything below is released by krvFreeModel in TearDown; the
    // sanitizer build reports any leak or double free.
    krvNamespace_t *n = krvCreateNs(nullptr, "n");
    krvNamespace_t *m = krvCreateNs(n, "m");
    krvStruct_t *s = krvNewStruct("S");
    s->szQName = krvQualifiedName(m, "S");
    s->nSize = 2;
    krvVar_t *md1 = krvNewVar("x", 0, 1);
    krvVar_t *md2 = krvNewVar("y", 0, 1);
    md1->isMember = md2->isMember = 1;
    md1->pMemberOf = md2->pMemberOf = s;
    s->pMembers = krvVarListAppend(krvVarListAppend(nullptr, md1), md2);
    krvAddStruct(m, s);

    // A global structure array in another namespace, with string cells.
    krvVar_t *gv = krvNewVar("arr", 0, 2);
    gv->isGlobal = 1;
    gv->pType = s;
    gv->dbd = KRV_DBD_FIXARR;
    gv->arrSize.pSizes = krvArrSizesAlloc(1, 0, 0);
    krvArrSizesApplyDim(gv->arrSize.pSizes, 1, 3);
    gv->pData = krvAllocValues(6);
    for (int i = 0; i < 6; i++)
        krvSetStr(&gv->pData[i], "cell text");
    krvAddVar(n, gv);

    // A variable whose sizes are still expressions, with an initialiser.
    krvVar_t *tba = krvNewVar("t", 0, 3);
    tba->isGlobal = 1;
    tba->dbd = KRV_DBD_ARRAY_TBA;
    tba->arrSize.pSizeExprs = krvNewAPTN(krvAPTNType_intConst, 0, 3);
    tba->pInitExpr = krvNewAPTN(krvAPTNType_strConst, 0, 3);
    tba->pInitExpr->u.szStrConst = strdup("init");
    krvAddVar(m, tba);

    // A member function with object variable, parameters, locals and a body.
    krvFuncInfo_t *mf = krvNewUsrFunc("get", 0, 4);
    mf->obj = krvNewVar(KRV_OBJ_NAME_FOR_MFUNC, 0, 4);
    mf->obj->pType = s;
    mf->obj->stoffset = 1;
    krvVar_t *par = krvNewVar("p", 0, 4);
    par->dbd = KRV_DBD_VSARR_REF;
    par->arrSize.pSizes = krvArrSizesAlloc(1, 1, 1);
    par->nt.nsres = krvNewNameList("m", nullptr);   // unresolved structure parameter
    par->nt.tname = strdup("S");
    mf->pParams = par;
    mf->pLocals = krvNewVar("l", 0, 5);
    mf->pBody = krvNewAPTN(krvAPTNType_returnStmt, 0, 6);
    mf->nAutoVarNum = 3;
    krvAddMemberFunc(s, mf);

    krvFuncInfo_t *ext = krvNewExtFunc("e");
    krvAddExtFunc(n, ext);
    SUCCEED();
}

TEST_F(NamespaceTest, FunctionLine)
{
    krvFuncInfo_t *f = krvNewUsrFunc("f", 0, 0);
    EXPECT_EQ(krvFuncLine(f, 40), 40);
    f->pBody = krvNewAPTN(krvAPTNType_nullStmt, 0, 12);
    EXPECT_EQ(krvFuncLine(f, 40), 12);
    f->pLocals = krvNewVar("l", 0, 11);
    EXPECT_EQ(krvFuncLine(f, 40), 11);
    f->pParams = krvNewVar("p", 0, 10);
    EXPECT_EQ(krvFuncLine(f, 40), 10);
    krvFreeFunc(f);
}

TEST(NamespaceDeath, CellsOnALocalAreAnInternalError)
{
    EXPECT_DEATH({
        useStderrHost();
        krvVar_t *v = krvNewVar("l", 0, 1);
        v->pData = krvAllocValues(1);
        krvFreeVar(v);
    }, "assertion \\(pOneVar->isGlobal\\) fail");
}
