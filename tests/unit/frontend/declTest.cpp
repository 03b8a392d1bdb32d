// Declaration rules: constants, variables, array sizes, parameters,
// functions, structures and namespaces entered in the object model.
#include "frontendTestEnv.h"

TEST_F(FrontendTest, ArraySizesAreProducts)
{
    ASSERT_NE(parse("const N = 3; var a[N][N + 1]; var b[2][3][4]; var s = 5;\n"), nullptr);
    krvVar_t *a = krvFindVar(krvGlobalNs(), "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->dbd, KRV_DBD_FIXARR);
    EXPECT_TRUE(a->isGlobal);
    ASSERT_NE(a->arrSize.pSizes, nullptr);
    EXPECT_EQ(a->arrSize.pSizes[0], 2);
    EXPECT_EQ(a->arrSize.pSizes[1], 12);
    EXPECT_EQ(a->arrSize.pSizes[2], 4);
    EXPECT_EQ(a->arrSize.pSizes[3], 1);
    krvVar_t *b = krvFindVar(krvGlobalNs(), "b");
    int32_t want[] = {3, 24, 12, 4, 1};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(b->arrSize.pSizes[i], want[i]);
    krvVar_t *s = krvFindVar(krvGlobalNs(), "s");
    EXPECT_EQ(s->dbd, KRV_DBD_ELEMENT);
    ASSERT_NE(s->pInitExpr, nullptr);   // held for later phases
    EXPECT_EQ(s->pData, nullptr);
    EXPECT_EQ(output(), "");
}

TEST_F(FrontendTest, ConstantValuesAreEvaluatedAtOnce)
{
    ASSERT_NE(parse("const A = 2 * 3, S = \"x\" + \"y\", F = 1.5;\nnamespace n { const B = A + 1; }\n"), nullptr);
    krvVar_t *a = krvFindConst(krvGlobalNs(), "A");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->pData, nullptr);
    EXPECT_EQ(a->pData->type, KRV_DT_INTEGER);
    EXPECT_EQ(a->pData->val.nInt, 6);
    EXPECT_STREQ(krvFindConst(krvGlobalNs(), "S")->pData->val.pStr, "xy");
    EXPECT_DOUBLE_EQ(krvFindConst(krvGlobalNs(), "F")->pData->val.dFloat, 1.5);
    krvNamespace_t *n = krvFindNs(krvGlobalNs(), "n");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(krvFindConst(n, "B")->pData->val.nInt, 7);
}

TEST_F(FrontendTest, FailedConstantIsEnteredAsZero)
{
    krvEnv_t *pEnv = parse("const A = 7 / 0;\nconst B;\n");
    ASSERT_NE(pEnv, nullptr);
    EXPECT_EQ(krvFindConst(krvGlobalNs(), "A")->pData->val.nInt, 0);
    EXPECT_EQ(krvFindConst(krvGlobalNs(), "B")->pData->val.nInt, 0);
    EXPECT_EQ(krvGetLastDiagId(), 102);
}

TEST_F(FrontendTest, ParameterDescriptors)
{
    ASSERT_NE(parse("g(a[], b[2], &c, d, &e[][], &f[3], struct ::n::T &t, struct U u[]) { }\n"), nullptr);
    krvFuncInfo_t *g = krvFindUsrFunc(krvGlobalNs(), "g");
    ASSERT_NE(g, nullptr);
    uint8_t want[] = {KRV_DBD_VSARR, KRV_DBD_FIXARR,    KRV_DBD_ELEMENT_REF, KRV_DBD_ELEMENT,
                      KRV_DBD_VSARR_REF, KRV_DBD_FIXARR_REF, KRV_DBD_ELEMENT_REF, KRV_DBD_VSARR};
    int i = 0;
    for (krvVar_t *p = g->pParams; p; p = p->link, i++) {
        EXPECT_EQ(p->dbd, want[i]) << p->szName;
        EXPECT_EQ(p->stoffset, i + 1);
        EXPECT_FALSE(p->isGlobal);
    }
    EXPECT_EQ(i, 8);
    EXPECT_EQ(g->nAutoVarNum, 8);
    krvVar_t *a = g->pParams;
    EXPECT_EQ(a->arrSize.pSizes[0], 1);
    EXPECT_EQ(a->arrSize.pSizes[1], 0);   // flexible: bound by a call
    EXPECT_EQ(a->arrSize.pSizes[2], 1);
    krvVar_t *t = a->link->link->link->link->link->link;
    EXPECT_STREQ(t->nt.tname, "T");
    ASSERT_NE(t->nt.nsres, nullptr);
    EXPECT_STREQ(t->nt.nsres->szName, "");
    EXPECT_STREQ(t->nt.nsres->next->szName, "n");
    EXPECT_EQ(output(), "");
}

TEST_F(FrontendTest, ParameterArrayErrors)
{
    krvEnv_t *pEnv = parse("g(a[][2]) { }\nh(b[1..2]) { }\n");
    ASSERT_NE(pEnv, nullptr);
    EXPECT_EQ(output(), "Error P204: t.krv line 1: Parameter \"a\" array is neither fixed-size nor vary-size.\n"
                        "Error P208: t.krv line 2: illegal array size is specified; shall be a constant\n");
}

TEST_F(FrontendTest, FrameSlotsAndFunctionLine)
{
    ASSERT_NE(parse("\nf(a, b)\n{\n  var x, y[2];\n  x = 1;\n}\ne() { }\n"), nullptr);
    krvFuncInfo_t *f = krvFindUsrFunc(krvGlobalNs(), "f");
    EXPECT_EQ(f->nAutoVarNum, 4);
    EXPECT_EQ(f->pLocals->stoffset, 3);
    EXPECT_EQ(f->pLocals->link->stoffset, 4);
    EXPECT_EQ(f->pLocals->link->dbd, KRV_DBD_FIXARR);
    EXPECT_EQ(f->nLine, 2);   // line of its first parameter
    EXPECT_EQ(f->pNamespace, krvGlobalNs());
    krvFuncInfo_t *e = krvFindUsrFunc(krvGlobalNs(), "e");
    EXPECT_EQ(e->nLine, 7);   // no parameter, local or statement: where it ends
}

TEST_F(FrontendTest, MainIsTheGlobalOneOnly)
{
    krvEnv_t *pEnv = parse("namespace n { main() { } }\nstruct S { main() { } };\nmain(argc, argv[]) { }\n");
    ASSERT_NE(pEnv, nullptr);
    ASSERT_NE(pEnv->pMainFunc, nullptr);
    EXPECT_EQ(pEnv->pMainFunc, krvFindUsrFunc(krvGlobalNs(), "main"));
    EXPECT_EQ(output(), "");
}

TEST_F(FrontendTest, StructureWithMemberFunctions)
{
    ASSERT_NE(parse("namespace n {\n struct S { var a; var b[2]; struct T t;\n"
                    "   get(i) { var r; return obj.b[i]; }\n   set(v) { obj.a = v; }\n };\n}\n"),
              nullptr);
    krvNamespace_t *n = krvFindNs(krvGlobalNs(), "n");
    krvStruct_t *s = krvFindStruct(n, "S");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->szQName, "::n::S");
    EXPECT_EQ(s->pNamespace, n);
    EXPECT_EQ(s->nSize, KRV_STRUCT_SIZE_TBD);
    int k = 0;
    for (krvVar_t *m = s->pMembers; m; m = m->link, k++) {
        EXPECT_TRUE(m->isMember);
        EXPECT_FALSE(m->isGlobal);
        EXPECT_EQ(m->pMemberOf, s);
    }
    EXPECT_EQ(k, 3);
    EXPECT_STREQ(s->pMembers->link->link->nt.tname, "T");
    krvFuncInfo_t *get = krvFindMemberFunc(s, "get");
    ASSERT_NE(get, nullptr);
    ASSERT_NE(get->obj, nullptr);
    EXPECT_STREQ(get->obj->szName, KRV_OBJ_NAME_FOR_MFUNC);
    EXPECT_EQ(get->obj->stoffset, 1);
    EXPECT_EQ(get->obj->pType, s);
    EXPECT_EQ(get->pParams->stoffset, 2);
    EXPECT_EQ(get->pLocals->stoffset, 3);
    EXPECT_EQ(get->nAutoVarNum, 3);
    EXPECT_EQ(get->pNamespace, n);
    // Member functions are not functions of the namespace.
    EXPECT_EQ(krvFindFunc(n, "get"), nullptr);
    EXPECT_NE(krvFindStruct(krvGlobalNs(), "S"), s);
}

TEST_F(FrontendTest, NamespaceBlocksContinue)
{
    ASSERT_NE(parse("namespace a { const X = 1; }\nnamespace a { namespace b { var y; } }\nnamespace a { f() { } }\n"),
              nullptr);
    krvNamespace_t *a = krvFindNs(krvGlobalNs(), "a");
    ASSERT_NE(a, nullptr);
    EXPECT_NE(krvFindConst(a, "X"), nullptr);
    EXPECT_NE(krvFindVar(krvFindNs(a, "b"), "y"), nullptr);
    EXPECT_NE(krvFindUsrFunc(a, "f"), nullptr);
    EXPECT_EQ(m_pEnv->finfo->pCurNs, krvGlobalNs());
    EXPECT_EQ(m_pEnv->finfo->nNsDepth, 0);
}

TEST_F(FrontendTest, NamespaceNestingPastTheStackIsRefused)
{
    std::string text;
    for (int i = 0; i < 40; i++)
        text += "namespace n" + std::to_string(i) + " {\n";
    text += "const C = 1;\n";
    for (int i = 0; i < 40; i++)
        text += "}\n";
    text += "main() { }\n";
    krvEnv_t *pEnv = parse(text.c_str());
    ASSERT_NE(pEnv, nullptr);
    EXPECT_EQ(output(), "Error P303: t.krv line 33: namespace \"n32\" is nested deeper than 32 namespace blocks\n");
    EXPECT_EQ(pEnv->finfo->pCurNs, krvGlobalNs());
    EXPECT_NE(pEnv->pMainFunc, nullptr);
}

TEST_F(FrontendTest, LocalConstantsAreCheckedNotEntered)
{
    krvEnv_t *pEnv = parse("f() { const L = 1, M; var v; }\n");
    ASSERT_NE(pEnv, nullptr);
    EXPECT_EQ(krvFindConst(krvGlobalNs(), "L"), nullptr);
    EXPECT_EQ(output(), "Error P102: t.krv line 1: A constant value should be assigned to constant \"M\".\n");
    krvFuncInfo_t *f = krvFindUsrFunc(krvGlobalNs(), "f");
    EXPECT_EQ(f->nAutoVarNum, 1);
}
