// The consistency checker: silent on a sound model, one line per broken
// invariant otherwise.
#include <gtest/gtest.h>

#include <cstdlib>

#include "checker/krvCheck.h"
#include "layout/krvLayout.h"
#include "modelBuild.h"

namespace {

class Checker : public ::testing::Test, public ModelFixtureBase {
protected:
    // A sound model: structure T { a; b[2]; } with member function get(),
    // global T t, function f(p, q[]) with local l.
    void build()
    {
        krvNamespace_t *g = krvGlobalNs();
        t = addStruct(g, "T");
        addMember(t, "a");
        addMember(t, "b", nullptr, 2);
        mf = krvNewUsrFunc("get", 0, 4);
        mf->pNamespace = g;
        mf->obj = krvNewVar(KRV_OBJ_NAME_FOR_MFUNC, 0, 4);
        mf->obj->stoffset = 1;
        mf->obj->pType = t;
        mf->nAutoVarNum = 1;
        krvAddMemberFunc(t, mf);
        gv = addGlobal(g, "gt", t);
        f = addFunc(g, "f");
        addParam(f, "p");
        addParam(f, "q", KRV_DBD_VSARR_REF, 1);
        addLocal(f, "l");
        addStmt(f, stmt(krvAPTNType_nullStmt));
        ASSERT_EQ(krvSolveStructSizeOffset(g, env()), 0);
        ASSERT_EQ(krvAllocGlobalVars(env(), g), 1);
    }
    bool reported(const char *szSid, const char *szDesc)
    {
        std::string s = out();
        return s.find(std::string("sid=") + szSid + ": assertion \"") != std::string::npos &&
               s.find(std::string(" (") + szDesc + ")\" fail\n") != std::string::npos;
    }
    krvStruct_t *t = nullptr;
    krvFuncInfo_t *mf = nullptr;
    krvFuncInfo_t *f = nullptr;
    krvVar_t *gv = nullptr;
};

TEST_F(Checker, SoundModelIsSilent)
{
    build();
    EXPECT_EQ(krvCheckObjectModel(), 0);
    EXPECT_EQ(out(), "");
}

TEST_F(Checker, WrongOffsetAndSize)
{
    build();
    t->pMembers->link->nMbrOffset = 2;
    t->nSize = 7;
    EXPECT_EQ(krvCheckObjectModel(), 2);
    EXPECT_TRUE(reported("T", "offset value should be equal to accumulated size")) << out();
    EXPECT_TRUE(reported("T", "size recalculated should be identical what was set")) << out();
    EXPECT_NE(out().find("\"krvCheck\" line "), std::string::npos);
    EXPECT_NE(out().find("number of errors : 2\n"), std::string::npos) << out();
    t->nSize = 3;      // the global's cells are freed by this size
}

TEST_F(Checker, EmptyStructureMustHaveSizeOne)
{
    krvStruct_t *e = addStruct(krvGlobalNs(), "E");
    e->nSize = 0;
    EXPECT_EQ(krvCheckObjectModel(), 1);
    EXPECT_TRUE(reported("E", "size of a structure without member data should be 1")) << out();
}

TEST_F(Checker, GlobalVariableWithoutStorageOrFlexible)
{
    build();
    krvVar_t *v = addGlobal(krvGlobalNs(), "nocells");
    v->dbd = KRV_DBD_VSARR;
    v->arrSize.pSizes = krvArrSizesAlloc(1, 0, 1);
    EXPECT_GE(krvCheckObjectModel(), 3);
    EXPECT_TRUE(reported("ns->vars", "a global variable always has data body")) << out();
    EXPECT_TRUE(reported("ns->vars", "a global variable is never a vary-size one")) << out();
    EXPECT_TRUE(reported("ns->vars", "a variable in a namespace never be a vary-size array")) << out();
}

TEST_F(Checker, ConstantWithArraySizesAndUnfreedTypeName)
{
    build();
    krvValue_t v{};
    v.type = KRV_DT_INTEGER;
    krvVar_t *c = krvNewConst("C1", &v, 0, 1);
    c->arrSize.pSizes = krvArrSizesAlloc(1, 0, 0);
    krvAddConst(krvGlobalNs(), c);
    gv->nt.tname = strdup("T");       // as if resolution had left it
    EXPECT_GE(krvCheckObjectModel(), 2);
    EXPECT_TRUE(reported("ns->consts", "a constant Id should not have array size")) << out();
    EXPECT_TRUE(reported("ns->vars", "nt.tname should be freed after solve phase")) << out();
    free(gv->nt.tname);
    gv->nt.tname = nullptr;
}

TEST_F(Checker, FrameSlotsAndObjects)
{
    build();
    f->pLocals->stoffset = 7;
    f->nAutoVarNum = 5;
    mf->obj->stoffset = 2;
    EXPECT_EQ(krvCheckObjectModel(), 3);
    EXPECT_TRUE(reported("f->local", "stoffset value should be expected")) << out();
    EXPECT_TRUE(reported("f", "number of auto variables in a function should be expected")) << out();
    EXPECT_TRUE(reported("get", "value of stack top offset of an object variable is 1")) << out();
}

TEST_F(Checker, LocalArraySizesAndReferences)
{
    build();
    krvVar_t *l = f->pLocals;
    l->dbd = KRV_DBD_FIXARR_REF;
    l->arrSize.pSizes = krvArrSizesAlloc(2, 0, 0);
    l->arrSize.pSizes[1] = 5;           // 5 % 1 != 0 is fine; make [1] % [2] fail
    l->arrSize.pSizes[2] = 2;
    EXPECT_EQ(krvCheckObjectModel(), 2);
    EXPECT_TRUE(reported("f->local", "a local variable data never refers to other")) << out();
    EXPECT_TRUE(reported("f->local", "pSizes[i] %% pSizes[i}1] should be 0")) << out();
}

TEST_F(Checker, ChildNamespaceParentAndMemberFunctionWithoutObject)
{
    build();
    krvNamespace_t *n = krvCreateNs(krvGlobalNs(), "n");
    krvNamespace_t *other = krvNewNamespace("other");
    n->parent = other;
    krvVar_t *pObj = mf->obj;
    mf->obj = nullptr;
    EXPECT_EQ(krvCheckObjectModel(), 2);
    EXPECT_TRUE(reported("ns->nss", "parent of namespace X's child namespace is X")) << out();
    EXPECT_TRUE(reported("get", "a member function should have an object")) << out();
    mf->obj = pObj;
    n->parent = krvGlobalNs();
    krvFreeNamespace(other);
}

TEST_F(Checker, StatementKindsThatCannotRun)
{
    build();
    addStmt(f, krvNewAPTN(krvAPTNType_call, 0, 9));
    EXPECT_EQ(krvCheckObjectModel(), 1);
    EXPECT_NE(out().find("not processed on type \nto process on type 10\n"), std::string::npos) << out();
}

}  // namespace
