// Trees built by the grammar: expressions, references, calls, statements.
#include "frontendTestEnv.h"

#include "frontend/krvParseCtx.h"

// Body of the user function `name` in the global namespace.
static krvAPTN_t *bodyOf(const char *szName)
{
    krvFuncInfo_t *pF = krvFindUsrFunc(krvGlobalNs(), szName);
    return pF ? pF->pBody : nullptr;
}

// Expression of the n-th statement (an expression statement) of f.
static krvAPTN_t *exprOf(int n)
{
    krvAPTN_t *p = bodyOf("f");
    while (p && n-- > 0)
        p = p->next;
    if (!p || p->nKind != krvAPTNType_exprStmt)
        return nullptr;
    return p->u.exprStmt.pExpr;
}

TEST_F(FrontendTest, ParenthesisedListIsUnaryPlusOverAList)
{
    ASSERT_NE(parse("f() { var x; x = (1, 2); x = (3); }\n"), nullptr);
    krvAPTN_t *e = exprOf(0);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->nKind, krvAPTNType_opExpr);
    EXPECT_EQ(e->u.opExpr.nOp, KRV_OP_ASSIGN);
    krvAPTN_t *v = e->u.opExpr.opd2;
    ASSERT_EQ(v->nKind, krvAPTNType_opExpr);
    EXPECT_EQ(v->u.opExpr.nOp, KRV_OP_POS);
    ASSERT_EQ(v->u.opExpr.opd1->nKind, krvAPTNType_exprList);
    krvAPTN_t *first = v->u.opExpr.opd1->u.exprList.pFirst;
    EXPECT_EQ(first->u.nIntConst, 1);
    EXPECT_EQ(first->next->u.nIntConst, 2);
    EXPECT_EQ(first->next->next, nullptr);
    // A single parenthesised expression is just that expression.
    EXPECT_EQ(exprOf(1)->u.opExpr.opd2->nKind, krvAPTNType_intConst);
}

TEST_F(FrontendTest, CallArgumentsAreChained)
{
    ASSERT_NE(parse("f() { g(1, 2); g(); }\n"), nullptr);
    krvAPTN_t *c = exprOf(0);
    ASSERT_EQ(c->nKind, krvAPTNType_call);
    EXPECT_STREQ(c->u.call.pCallee->u.varRef.szName, "g");
    krvAPTN_t *a = c->u.call.pArgs;
    ASSERT_EQ(a->nKind, krvAPTNType_intConst);
    EXPECT_EQ(a->next->u.nIntConst, 2);
    EXPECT_EQ(exprOf(1)->u.call.pArgs, nullptr);
}

TEST_F(FrontendTest, MemberChainAndQualification)
{
    ASSERT_NE(parse("f() { a[1].b.c(); n::m::g(1); ::h(); $3 = ::$4; }\n"), nullptr);
    krvAPTN_t *c = exprOf(0);
    ASSERT_EQ(c->nKind, krvAPTNType_call);
    krvAPTN_t *r = c->u.call.pCallee;
    EXPECT_STREQ(r->u.varRef.szName, "a");
    ASSERT_NE(r->u.varRef.pIndexes, nullptr);
    EXPECT_EQ(r->u.varRef.pIndexes->u.nIntConst, 1);
    ASSERT_NE(r->u.varRef.pMember, nullptr);
    EXPECT_STREQ(r->u.varRef.pMember->u.varRef.szName, "b");
    EXPECT_STREQ(r->u.varRef.pMember->u.varRef.pMember->u.varRef.szName, "c");

    krvAPTN_t *q = exprOf(1)->u.call.pCallee;
    EXPECT_STREQ(q->u.varRef.szName, "g");
    ASSERT_NE(q->u.varRef.pNsRes, nullptr);
    EXPECT_STREQ(q->u.varRef.pNsRes->szName, "n");
    EXPECT_STREQ(q->u.varRef.pNsRes->next->szName, "m");
    EXPECT_EQ(q->u.varRef.pNsRes->next->next, nullptr);

    krvAPTN_t *g = exprOf(2)->u.call.pCallee;
    ASSERT_NE(g->u.varRef.pNsRes, nullptr);
    EXPECT_STREQ(g->u.varRef.pNsRes->szName, "");

    krvAPTN_t *asg = exprOf(3);
    EXPECT_STREQ(asg->u.opExpr.opd1->u.varRef.szName, "$3");
    EXPECT_STREQ(asg->u.opExpr.opd2->u.varRef.szName, "$4");
    EXPECT_STREQ(asg->u.opExpr.opd2->u.varRef.pNsRes->szName, "");
}

TEST_F(FrontendTest, OperatorCodesAndBinding)
{
    ASSERT_NE(parse("f() { x = a || b && c | d ^ e & g == h < i << j + k * l; y = -!~+p; z = q ? r : s ? t : u;"
                    " w += v; ++a; a--; a[1..2]; }\n"),
              nullptr);
    krvAPTN_t *e = exprOf(0)->u.opExpr.opd2;
    int want[] = {KRV_OP_LOR, KRV_OP_LAND, KRV_OP_BOR, KRV_OP_BXOR, KRV_OP_BAND, KRV_OP_EQ,
                  KRV_OP_LT,  KRV_OP_SHL,  KRV_OP_ADD, KRV_OP_MUL};
    for (int op : want) {
        ASSERT_EQ(e->nKind, krvAPTNType_opExpr);
        EXPECT_EQ(e->u.opExpr.nOp, op);
        e = e->u.opExpr.opd2;   // each tighter level is the right operand
    }
    krvAPTN_t *u = exprOf(1)->u.opExpr.opd2;
    int unary[] = {KRV_OP_NEG, KRV_OP_NOT, KRV_OP_BNOT, KRV_OP_POS};
    for (int op : unary) {
        EXPECT_EQ(u->u.opExpr.nOp, op);
        u = u->u.opExpr.opd1;
    }
    EXPECT_EQ(u->nKind, krvAPTNType_varRef);
    // "? :" is right-associative: q ? r : (s ? t : u); the third operand
    // follows the second.
    krvAPTN_t *c = exprOf(2)->u.opExpr.opd2;
    EXPECT_EQ(c->u.opExpr.nOp, KRV_OP_COND);
    EXPECT_STREQ(c->u.opExpr.opd2->u.varRef.szName, "r");
    krvAPTN_t *third = c->u.opExpr.opd2->next;
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->u.opExpr.nOp, KRV_OP_COND);
    EXPECT_EQ(exprOf(3)->u.opExpr.nOp, KRV_OP_ADD_ASSIGN);
    EXPECT_EQ(exprOf(4)->u.opExpr.nOp, KRV_OP_PRE_INC);
    EXPECT_EQ(exprOf(5)->u.opExpr.nOp, KRV_OP_POST_DEC);
    EXPECT_EQ(exprOf(6)->u.varRef.pIndexes->nKind, krvAPTNType_subRange);
}

TEST_F(FrontendTest, StatementKinds)
{
    ASSERT_NE(parse("f() {\n"
                    "  tag a: tag b: tag a: ;\n"
                    "  if (1) ; else ;\n"
                    "  while (1) break;\n"
                    "  do continue; while (1);\n"
                    "  for (; ; ) ;\n"
                    "  for (i = 0; i < 2; i++) { }\n"
                    "  return;\n"
                    "  goto a;\n"
                    "  eval(1, 2);\n"
                    "  exit();\n"
                    "}\n"),
              nullptr);
    krvAPTN_t *s = bodyOf("f");
    int want[] = {krvAPTNType_nullStmt, krvAPTNType_ifStmt,     krvAPTNType_whileStmt, krvAPTNType_doStmt,
                  krvAPTNType_forStmt,  krvAPTNType_forStmt,    krvAPTNType_returnStmt, krvAPTNType_gotoStmt,
                  krvAPTNType_evalStmt, krvAPTNType_exitStmt};
    krvAPTN_t *p = s;
    for (int k : want) {
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->nKind, k);
        p = p->next;
    }
    EXPECT_EQ(p, nullptr);
    // Tags: written twice, listed once.
    ASSERT_NE(s->pTags, nullptr);
    EXPECT_STREQ(s->pTags->szName, "a");
    EXPECT_STREQ(s->pTags->next->szName, "b");
    EXPECT_EQ(s->pTags->next->next, nullptr);
    krvAPTN_t *for1 = s->next->next->next->next;
    EXPECT_EQ(for1->u.forStmt.pInit->nKind, krvAPTNType_nullStmt);
    EXPECT_EQ(for1->u.forStmt.pCond, nullptr);
    EXPECT_EQ(for1->u.forStmt.pStep, nullptr);
    krvAPTN_t *for2 = for1->next;
    EXPECT_EQ(for2->u.forStmt.pInit->nKind, krvAPTNType_opExpr);
    EXPECT_EQ(for2->u.forStmt.pCond->u.opExpr.nOp, KRV_OP_LT);
    EXPECT_EQ(for2->u.forStmt.pStep->u.opExpr.nOp, KRV_OP_POST_INC);
    EXPECT_EQ(for2->u.forStmt.pBody->nKind, krvAPTNType_compoundStmt);
    krvAPTN_t *ret = for2->next;
    EXPECT_EQ(ret->u.exprStmt.pExpr, nullptr);
    EXPECT_STREQ(ret->next->u.gotoStmt.szTagName, "a");
    EXPECT_EQ(ret->next->next->u.exprStmt.pExpr->nKind, krvAPTNType_exprList);
}

TEST_F(FrontendTest, SwitchGroupsFallThrough)
{
    ASSERT_NE(parse("const K = 3;\n"
                    "f(x) { switch (x) { case 1: case K: x = 1; x = 2; default: case \"s\": x = 3; case 2.5: ; } }\n"),
              nullptr);
    krvAPTN_t *sw = bodyOf("f");
    ASSERT_EQ(sw->nKind, krvAPTNType_switchStmt);
    EXPECT_NE(sw->u.switchStmt.pCaseTable, nullptr);
    EXPECT_EQ(sw->u.switchStmt.pDefault, nullptr);
    krvCaseGroup_t *g1 = sw->u.switchStmt.pGroups;
    ASSERT_NE(g1, nullptr);
    krvCaseLabel_t *l1 = g1->pLabels;
    EXPECT_EQ(l1->pValue->type, KRV_DT_INTEGER);
    EXPECT_EQ(l1->pValue->val.nInt, 1);
    EXPECT_EQ(l1->pGroup, g1);
    krvCaseLabel_t *l2 = l1->next;
    ASSERT_NE(l2->pRef, nullptr);
    EXPECT_STREQ(l2->pRef->u.varRef.szName, "K");
    ASSERT_NE(l2->pValue, nullptr);
    krvCaseGroup_t *g2 = g1->next;
    ASSERT_NE(g2, nullptr);
    EXPECT_TRUE(g2->pLabels->isDefault);
    EXPECT_EQ(g2->pLabels->next->pValue->type, KRV_DT_STRING);
    EXPECT_STREQ(g2->pLabels->next->pValue->val.pStr, "s");
    krvCaseGroup_t *g3 = g2->next;
    EXPECT_EQ(g3->pLabels->pValue->type, KRV_DT_FLOAT);
    EXPECT_EQ(g3->next, nullptr);
    // Fall-through: the last statement of a group leads to the next group.
    EXPECT_EQ(g1->exeBodyTail, g1->exeBodyHead->next);
    EXPECT_EQ(g1->exeBodyTail->next, g2->exeBodyHead);
    EXPECT_EQ(g2->exeBodyTail->next, g3->exeBodyHead);
    EXPECT_EQ(g3->exeBodyTail->next, nullptr);
}

TEST_F(FrontendTest, SyntaxErrorsDiscardTheGroup)
{
    const char *bad[] = {
        "main() { var x; const c = 1; }",  "f() { switch (1) { case -1: ; } }", "f() { switch (1) { case 1: } }",
        "f() { $1[2] = 3; }",              "f() { s = \"a\" \"b\"; }",          "f() { a + b = 1; }",
        "f() { 1 = 2; }",                  "x;",                                "",
        "f() { { var y; } }",              "struct s { f() { } var a; };",      "f() { a.$1 = 1; }",
    };
    for (const char *t : bad) {
        krvSetLastDiagId(0);
        EXPECT_EQ(parse(t), nullptr) << t;
        std::string out = output();
        EXPECT_NE(out.find("syntax error at or near line"), std::string::npos) << t << ": " << out;
    }
}

TEST_F(FrontendTest, ExpressionDepthIsBounded)
{
    // A long left-associative chain needs no parser stack but makes a deep
    // tree: past the limit the parse ends and the group is discarded.
    std::string text = "main() { var a; a = 1";
    for (int i = 0; i < KRV_P_EXPR_DEPTH_MAX + 10; i++)
        text += "+1";
    text += "; }\n";
    EXPECT_EQ(parse(text.c_str()), nullptr);
    EXPECT_EQ(output(), "Error P303: t.krv line 2: expression is nested deeper than 4000 levels\n");
    // Just within the limit the script is accepted.
    text = "main() { var a; a = 1";
    for (int i = 0; i < KRV_P_EXPR_DEPTH_MAX - 10; i++)
        text += "+1";
    text += "; }\n";
    krvSetLastDiagId(0);
    EXPECT_NE(parse(text.c_str()), nullptr);
    EXPECT_EQ(output(), "");
    // Member chains count too.
    text = "main() { var a; a = b";
    for (int i = 0; i < KRV_P_EXPR_DEPTH_MAX + 10; i++)
        text += ".m";
    text += "; }\n";
    EXPECT_EQ(parse(text.c_str()), nullptr);
}
