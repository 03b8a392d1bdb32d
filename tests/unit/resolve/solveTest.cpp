// Resolution on hand-built trees: node rewrites and the reports that need
// no parser to provoke.
#include <gtest/gtest.h>

#include "builtin/krvBuiltinTable.h"
#include "modelBuild.h"
#include "resolve/krvSolve.h"

namespace {

class Solve : public ::testing::Test, public ModelFixtureBase {};

TEST_F(Solve, CallsBecomeBuiltinExtensionOrUserCalls)
{
    krvNamespace_t *g = krvGlobalNs();
    krvNamespace_t *n = krvCreateNs(g, "n");
    krvFuncInfo_t *ext = krvNewExtFunc("xf");
    ext->minArgNum = 1;
    ext->maxArgNum = 1;
    krvAddExtFunc(n, ext);
    krvFuncInfo_t *nprint = addFunc(n, "print");   // shadows the built-in inside n
    addParam(nprint, "v");
    krvFuncInfo_t *mainF = addFunc(g, "main");
    krvAPTN_t *c1 = call("print", intc(1));
    krvAPTN_t *c2 = call("xf", intc(2));
    c2->u.call.pCallee->u.varRef.pNsRes = krvNewNameList("n", nullptr);
    addStmt(mainF, exprStmt(c1));
    addStmt(mainF, exprStmt(c2));
    krvFuncInfo_t *inner = addFunc(n, "g");
    krvAPTN_t *c3 = call("print", intc(3));
    addStmt(inner, exprStmt(c3));
    krvSolveGroup(env());
    EXPECT_EQ(out(), "");
    EXPECT_EQ(c1->nKind, krvAPTNType_builtinCall);
    EXPECT_EQ(c1->u.builtinCall.nFuncId, KRV_BUI_PRINT);
    EXPECT_EQ(c2->nKind, krvAPTNType_extCall);
    EXPECT_EQ(c2->u.extCall.pFunc, ext);
    EXPECT_EQ(c2->u.extCall.nArgNum, 1);
    EXPECT_EQ(c3->nKind, krvAPTNType_usrCall);
    EXPECT_EQ(c3->u.usrCall.pFuncPtr, nprint);
    EXPECT_EQ(env()->pMainFunc, mainF);
}

TEST_F(Solve, BuiltinArgumentCounts)
{
    krvFuncInfo_t *f = addFunc(krvGlobalNs(), "main");
    addStmt(f, exprStmt(call("sleep", chain(intc(1, 4), intc(2, 4)), 4), 4));
    addStmt(f, exprStmt(call("print", nullptr, 5), 5));
    krvSolveGroup(env());
    EXPECT_EQ(out(),
              "Error S256: t.krv line 4: sleep: the 2-nd arg.: redundant\n"
              "Error S254: t.krv line 4: Too many arguments to function sleep\n"
              "Error S254: t.krv line 5: Too few arguments to function print\n");
    EXPECT_EQ(krvGetLastDiagId(), 254);
    EXPECT_EQ(env()->finfo->nErrors, 1);     // the count reports leave the error count alone
}

TEST_F(Solve, TagsGotosAndBreaks)
{
    krvFuncInfo_t *f = addFunc(krvGlobalNs(), "f");
    addStmt(f, gotoStmt("later", 2));
    addStmt(f, gotoStmt("nowhere", 3));
    addStmt(f, tagged(stmt(krvAPTNType_nullStmt, 4), "later"));
    addStmt(f, tagged(stmt(krvAPTNType_nullStmt, 5), "later"));
    addStmt(f, stmt(krvAPTNType_breakStmt, 6));
    krvFuncInfo_t *h = addFunc(krvGlobalNs(), "h");
    addStmt(h, tagged(stmt(krvAPTNType_nullStmt, 8), "later"));   // same tag, other function: fine
    krvSolveGroup(env());
    std::string s = out();
    EXPECT_NE(s.find("Error S213: t.krv line 5: Redeclare tag later before or at the indicated line\n"),
              std::string::npos) << s;
    EXPECT_NE(s.find("Error S206: t.krv line 6: abuse break statement\n"), std::string::npos) << s;
    EXPECT_NE(s.find("Error S214: t.krv line 3: go to an undeclared tag nowhere\n"), std::string::npos) << s;
    EXPECT_EQ(s.find("line 8"), std::string::npos) << s;
    EXPECT_EQ(s.find("undeclared tag later"), std::string::npos) << s;
}

TEST_F(Solve, MainSignatureRules)
{
    krvFuncInfo_t *f = addFunc(krvGlobalNs(), "main");
    addParam(f, "argc", KRV_DBD_ELEMENT_REF);
    addParam(f, "argv", KRV_DBD_VSARR, 2);
    krvSolveGroup(env());
    EXPECT_EQ(out(),
              "Error P259: t.krv line 5: Illegal parameter. The 1st parameter of main function should not be "
              "call-by-reference\n"
              "Error P259: t.krv line 5: Illegal parameter. The 2nd parameter of main function should be a "
              "1-dimension flexible-size array\n");
}

TEST_F(Solve, MainParameterCount)
{
    krvFuncInfo_t *f = addFunc(krvGlobalNs(), "main");
    addParam(f, "argc");
    krvSolveGroup(env());
    EXPECT_EQ(out(), "Error P258: t.krv line 5: Illegal number of parameters. Number of parameters should be 0 or 2. "
                     "API should be main() or main(argc, argv[])\n");
}

TEST_F(Solve, VariableLookupOrderAndConstants)
{
    krvNamespace_t *g = krvGlobalNs();
    krvNamespace_t *n = krvCreateNs(g, "n");
    krvValue_t v{};
    v.type = KRV_DT_INTEGER;
    v.val.nInt = 7;
    krvVar_t *c = krvNewConst("k", &v, 0, 1);
    krvAddConst(g, c);
    krvVar_t *gk = addGlobal(n, "k");            // n::k hides the global constant inside n
    krvFuncInfo_t *f = addFunc(n, "f");
    krvVar_t *p = addParam(f, "x");
    addLocal(f, "x");                            // the parameter wins
    krvAPTN_t *r1 = ref("x");
    krvAPTN_t *r2 = ref("k");
    krvAPTN_t *r3 = ref("k");
    r3->u.varRef.pNsRes = krvNewNameList("", nullptr);
    addStmt(f, exprStmt(binop(KRV_OP_ADD, r1, binop(KRV_OP_ADD, r2, r3))));
    krvAPTN_t *r4 = ref("k");
    krvAPTN_t *assign = binop(KRV_OP_ASSIGN, r4, intc(1, 9));
    r4->nLine = 9;
    krvFuncInfo_t *h = addFunc(g, "h");
    addStmt(h, exprStmt(assign, 9));
    krvSolveGroup(env());
    EXPECT_EQ(r1->u.varRef.pVarPtr, p);
    EXPECT_EQ(r2->nKind, krvAPTNType_varRef);
    EXPECT_EQ(r2->u.varRef.pVarPtr, gk);
    EXPECT_EQ(r3->nKind, krvAPTNType_cidRef);
    EXPECT_EQ(r3->u.varRef.pCid, c);
    EXPECT_EQ(out(), "Error S203: t.krv line 9: constant Id k cannot be assigned a value by = operator\n");
}


TEST_F(Solve, MemberDataInMemberFunctionsGoesThroughTheObject)
{
    krvStruct_t *t = addStruct(krvGlobalNs(), "T");
    krvVar_t *md = addMember(t, "a", nullptr, 3);
    krvFuncInfo_t *mf = krvNewUsrFunc("get", 0, 4);
    mf->pNamespace = krvGlobalNs();
    mf->obj = krvNewVar(KRV_OBJ_NAME_FOR_MFUNC, 0, 4);
    mf->obj->stoffset = 1;
    mf->obj->pType = t;
    mf->nAutoVarNum = 1;
    krvAddMemberFunc(t, mf);
    krvAPTN_t *r = ref("a", intc(2));
    addStmt(mf, exprStmt(r));
    krvAPTN_t *c = call("get", nullptr);           // a call on the implicit object
    addStmt(mf, exprStmt(c));
    krvSolveGroup(env());
    EXPECT_EQ(out(), "");
    EXPECT_STREQ(r->u.varRef.szName, KRV_OBJ_NAME_FOR_MFUNC);
    EXPECT_EQ(r->u.varRef.pVarPtr, mf->obj);
    EXPECT_EQ(r->u.varRef.pIndexes, nullptr);
    ASSERT_NE(r->u.varRef.pMember, nullptr);
    EXPECT_STREQ(r->u.varRef.pMember->u.varRef.szName, "a");
    EXPECT_EQ(r->u.varRef.pMember->u.varRef.pVarPtr, md);
    EXPECT_NE(r->u.varRef.pMember->u.varRef.pIndexes, nullptr);
    EXPECT_EQ(c->nKind, krvAPTNType_usrCall);
    EXPECT_EQ(c->u.usrCall.pFuncPtr, mf);
    ASSERT_NE(c->u.usrCall.objRef, nullptr);
    EXPECT_EQ(c->u.usrCall.objRef->u.varRef.pVarPtr, mf->obj);
}

TEST_F(Solve, FunctionNamesAsBuiltinArgumentsBecomeFunctionReferences)
{
    krvNamespace_t *n = krvCreateNs(krvGlobalNs(), "n");
    krvFuncInfo_t *job = addFunc(n, "job");
    addParam(job, "v");
    krvFuncInfo_t *f = addFunc(n, "f");
    krvAPTN_t *arg = ref("job");
    krvAPTN_t *c = call("task_create", chain(arg, intc(1)));
    addStmt(f, exprStmt(c));
    krvSolveGroup(env());
    EXPECT_EQ(out(), "");
    EXPECT_EQ(c->nKind, krvAPTNType_builtinCall);
    EXPECT_EQ(c->u.builtinCall.pArgs, arg);          // the argument node stays in place
    EXPECT_EQ(arg->nKind, krvAPTNType_funcRef);
    EXPECT_EQ(arg->u.funcRef.pFuncPtr, job);
    ASSERT_NE(arg->u.funcRef.pRef, nullptr);
    EXPECT_STREQ(arg->u.funcRef.pRef->u.varRef.szName, "job");
    EXPECT_EQ(arg->next->nKind, krvAPTNType_intConst);
}

TEST_F(Solve, SwitchLabelsFromConstantsAndDroppedVariables)
{
    krvValue_t v{};
    v.type = KRV_DT_INTEGER;
    v.val.nInt = 9;
    krvAddConst(krvGlobalNs(), krvNewConst("NINE", &v, 0, 1));
    addGlobal(krvGlobalNs(), "var9");
    krvFuncInfo_t *f = addFunc(krvGlobalNs(), "f");
    krvAPTN_t *sw = krvNewAPTN(krvAPTNType_switchStmt, 0, 3);
    sw->u.switchStmt.pExpr = intc(1);
    krvCaseGroup_t *g1 = krvNewCaseGroup();
    krvCaseLabel_t *l1 = krvNewCaseLabel(0, 4);
    l1->pRef = ref("NINE");
    krvCaseLabel_t *l2 = krvNewCaseLabel(0, 5);
    l2->pRef = ref("var9");
    krvCaseLabel_t *l3 = krvNewCaseLabel(0, 6);
    l3->pValue = krvAllocValues(1);
    krvSetInt(l3->pValue, 9);
    l1->next = l2;
    l2->next = l3;
    g1->pLabels = l1;
    g1->exeBodyHead = g1->exeBodyTail = stmt(krvAPTNType_breakStmt, 7);
    sw->u.switchStmt.pGroups = g1;
    addStmt(f, sw);
    krvSolveGroup(env());
    EXPECT_EQ(out(), "Error S207: t.krv line 6: case duplicate in switch statement\n");
    EXPECT_EQ(env()->finfo->nErrors, 0);
    ASSERT_EQ(g1->pLabels, l1);
    EXPECT_EQ(l1->pRef, nullptr);
    EXPECT_EQ(l1->pValue->val.nInt, 9);
    EXPECT_EQ(l1->next, l3);                          // the variable label is gone
    EXPECT_EQ(sysHashFind(sw->u.switchStmt.pCaseTable, l3->pValue), l1);
}

}  // namespace
