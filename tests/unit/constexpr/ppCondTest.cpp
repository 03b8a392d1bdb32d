// #if conditions: lexer, the grammar's binding levels and its errors.
#include "constTestEnv.h"

#include "constexpr/krvConstExpr.h"
#include "constexpr/krvPPCond.h"

TEST_F(ConstExprTest, ConditionBindingLevels)
{
    EXPECT_EQ(cond("1 || 0 && 0"), "int 0");          // one level: (1 || 0) && 0
    EXPECT_EQ(cond("0 && 0 || 1"), "int 1");
    EXPECT_EQ(cond("1 << 2 <= 3"), "int 2");          // 1 << (2 <= 3)
    EXPECT_EQ(cond("3 < 2 <= 1"), "int 0");           // 3 < (2 <= 1)
    EXPECT_EQ(cond("1 < 2 << 3"), "int 8");           // one level: (1 < 2) << 3
    EXPECT_EQ(cond("1 == 2 < 3"), "int 1");           // 1 == (2 < 3)
    EXPECT_EQ(cond("1 | 2 ^ 3"), "int 1");            // 1 | (2 ^ 3)
    EXPECT_EQ(cond("2 ^ 3 & 1"), "int 3");            // 2 ^ (3 & 1)
    EXPECT_EQ(cond("3 & 2 == 2"), "int 1");           // 3 & (2 == 2)
    EXPECT_EQ(cond("2 * 3 == 6"), "int 1");
    EXPECT_EQ(cond("1 + 2 * 3"), "int 7");
    EXPECT_EQ(cond("(1 + 2) * 3"), "int 9");
    EXPECT_EQ(cond("10 - 3 - 2"), "int 5");
    EXPECT_EQ(cond("100 / 10 / 5"), "int 2");
    EXPECT_EQ(cond("7 % 4 * 2"), "int 6");
    EXPECT_EQ(cond("-2 * 3"), "int -6");
    EXPECT_EQ(cond("!0 + 1"), "int 2");
    EXPECT_EQ(cond("- - 3"), "int 3");
    EXPECT_EQ(cond("~0"), "int -1");
    EXPECT_EQ(cond("0 || 1 ? 7 : 8"), "int 7");
    EXPECT_EQ(cond("1 ? 0 : 1 || 1"), "int 0");       // 1 ? 0 : (1 || 1)
    EXPECT_EQ(output(), "");
}

TEST_F(ConstExprTest, ConditionalIsLeftAssociative)
{
    // (1 ? 2 : 0) ? 3 : 4 gives 3; grouping to the right would give 2.
    EXPECT_EQ(cond("1 ? 2 : 0 ? 3 : 4"), "int 3");
    EXPECT_EQ(cond("0 ? 2 : 0 ? 3 : 4"), "int 4");
    EXPECT_EQ(cond("1 ? 1 ? 5 : 6 : 7"), "int 5");

    krvAPTN_t *pTree = nullptr;
    ASSERT_EQ(krvPPParseCondAt("a ? b : c ? d : e", "main.krv", 1, 9, &pTree), 0);
    Tree t(pTree);
    ASSERT_EQ(pTree->nKind, krvAPTNType_opExpr);
    EXPECT_EQ(pTree->u.opExpr.nOp, KRV_OP_COND);
    krvAPTN_t *pInner = pTree->u.opExpr.opd1;
    ASSERT_EQ(pInner->nKind, krvAPTNType_opExpr);
    EXPECT_EQ(pInner->u.opExpr.nOp, KRV_OP_COND);
    EXPECT_STREQ(pInner->u.opExpr.opd2->next->u.varRef.szName, "c");
    EXPECT_STREQ(pTree->u.opExpr.opd2->u.varRef.szName, "d");
    EXPECT_STREQ(pTree->u.opExpr.opd2->next->u.varRef.szName, "e");
    EXPECT_EQ(pTree->nFileIdx, 1);
    EXPECT_EQ(pTree->nLine, 9);
}

TEST_F(ConstExprTest, ConditionTreeNodes)
{
    krvAPTN_t *pTree = nullptr;
    ASSERT_EQ(krvPPParseCondAt("+::n::m::X", "main.krv", 0, 2, &pTree), 0);
    Tree t(pTree);
    // Unary '+' makes no node; the name is a constant reference with its
    // qualification, a leading "::" as an empty first name.
    ASSERT_EQ(pTree->nKind, krvAPTNType_cidRef);
    EXPECT_STREQ(pTree->u.varRef.szName, "X");
    const krvNameList_t *q = pTree->u.varRef.pNsRes;
    ASSERT_NE(q, nullptr);
    EXPECT_STREQ(q->szName, "");
    ASSERT_NE(q->next, nullptr);
    EXPECT_STREQ(q->next->szName, "n");
    ASSERT_NE(q->next->next, nullptr);
    EXPECT_STREQ(q->next->next->szName, "m");
    EXPECT_EQ(q->next->next->next, nullptr);

    krvAPTN_t *pNeg = nullptr;
    ASSERT_EQ(krvPPParseCond("-1", &pNeg), 0);
    Tree n(pNeg);
    ASSERT_EQ(pNeg->nKind, krvAPTNType_opExpr);
    EXPECT_EQ(pNeg->u.opExpr.nOp, KRV_OP_NEG);
    EXPECT_EQ(pNeg->u.opExpr.opd2, nullptr);
}

TEST_F(ConstExprTest, ConditionLiterals)
{
    EXPECT_EQ(cond("0x1F"), "int 31");
    EXPECT_EQ(cond("0XaB"), "int 171");
    EXPECT_EQ(cond("0xFFFFFFFFFFFFFFFF"), "int -1");
    EXPECT_EQ(cond("'A'"), "int 65");
    EXPECT_EQ(cond("'\\n"), "int 92");               // no escapes: the backslash itself
    EXPECT_EQ(cond("\"a\\tb\\\"c\\q\""), "str a\tb\"c\\q");
    EXPECT_EQ(cond("\"ab\" + \"cd\" == \"abcd\""), "int 1");
    EXPECT_EQ(cond(" \t\r\n 5 \n"), "int 5");
    EXPECT_EQ(output(), "");

    std::string longName(600, 'k');
    krvAPTN_t *pTree = nullptr;
    ASSERT_EQ(krvPPParseCond(longName.c_str(), &pTree), 0);
    Tree t(pTree);
    EXPECT_EQ(std::string(pTree->u.varRef.szName), std::string(511, 'k'));
}

TEST_F(ConstExprTest, ConditionLexicalErrors)
{
    EXPECT_EQ(cond("1 + 2a"), "syntax");
    EXPECT_EQ(output(), "Error P201: main.krv line 7: illegal character \"a\" after a number\n");
    krvSetLastDiagId(0);
    EXPECT_EQ(cond("0x1G"), "syntax");
    EXPECT_EQ(output(), "Error P201: main.krv line 7: illegal character \"G\" after a number\n");
    krvSetLastDiagId(0);
    EXPECT_EQ(cond("\"abc"), "syntax");
    EXPECT_EQ(output(), "Error P104: main.krv line 7: incomplete string \"abc\n");
    krvSetLastDiagId(0);
    EXPECT_EQ(cond("\"0123456789012345678901234567890123456789"), "syntax");
    EXPECT_EQ(output(), "Error P104: main.krv line 7: incomplete string \"012345...456789\n");
}

TEST_F(ConstExprTest, ConditionSyntaxErrors)
{
    const char *szMsg = "Error \"main.krv\": (preprocessor) syntax error at or near line 7\n";
    for (const char *sz : {"", "1 +", "(1", "= 1", "1 ? 2", "x::", "1 2", "::"}) {
        EXPECT_EQ(cond(sz), "syntax") << sz;
        EXPECT_EQ(output(), szMsg) << sz;
        EXPECT_EQ(krvGetLastDiagId(), 0);     // the caller reports the id
    }
    // A single '=' or an unknown character ends the token stream: what
    // comes before it is the whole condition.
    EXPECT_EQ(cond("1 = 0"), "int 1");
    EXPECT_EQ(cond("0 $ 1"), "int 0");
    EXPECT_EQ(cond("2 == 2 = 0"), "int 1");
    EXPECT_EQ(output(), "");
    // Once a diagnostic has been reported, the syntax error stays silent.
    krvSetLastDiagId(150);
    EXPECT_EQ(cond("1 +"), "syntax");
    EXPECT_EQ(output(), "");
}

TEST_F(ConstExprTest, ConditionNestingAndStackLimit)
{
    // Deeper than the first parser stack (200): the stack grows.
    std::string deep = std::string(3000, '(') + "1" + std::string(3000, ')');
    EXPECT_EQ(cond(deep.c_str()), "int 1");
    // Beyond 10000 entries: "memory exhausted", no crash.
    std::string tooDeep = std::string(12000, '(') + "1" + std::string(12000, ')');
    krvAPTN_t *pTree = nullptr;
    EXPECT_EQ(krvPPParseCondAt(tooDeep.c_str(), "inc.krv", 1, 4, &pTree), 1);
    EXPECT_EQ(pTree, nullptr);
    EXPECT_EQ(output(), "Error \"inc.krv\": (preprocessor) memory exhausted at or near line 4\n");
}

TEST_F(ConstExprTest, NilConditionText)
{
    krvPPLexer_t lex{};
    krvInitPPLexer(&lex, "1");
    krvInitPPLexer(&lex, nullptr);     // reported and ignored
    EXPECT_STREQ(lex.pText, "1");
    std::string out = output();
    EXPECT_EQ(out.rfind("Debug: \"krvPPLexer.cpp\" line ", 0), 0u) << out;
    EXPECT_NE(out.find(" function krvInitPPLexer() get nil argument!\n"), std::string::npos) << out;

    krvAPTN_t *pTree = nullptr;
    EXPECT_EQ(krvPPParseCond(nullptr, &pTree), 1);
    EXPECT_EQ(pTree, nullptr);
}

TEST_F(ConstExprTest, ConditionDeepTreeRefusedWhileBuilt)
{
    // Left-associative chains keep the parser stack flat but make the tree
    // as deep as they are long: the deepest accepted tree has 4000 levels,
    // one more is refused at once (long before a recursive walk could
    // exhaust the native stack), and a 300,000-term chain is refused too.
    std::string ok = "1";
    for (int i = 1; i < KRV_CONST_EXPR_DEPTH_MAX; i++)
        ok += "+1";
    krvAPTN_t *pTree = nullptr;
    ASSERT_EQ(krvPPParseCondAt(ok.c_str(), "main.krv", 0, 7, &pTree), 0);
    krvFreeAPTN(pTree);
    EXPECT_EQ(output(), "");
    for (int nTerms : {KRV_CONST_EXPR_DEPTH_MAX + 2, 300000}) {
        std::string text = "1";
        for (int i = 1; i < nTerms; i++)
            text += i % 2 ? "+1" : "-x";
        pTree = nullptr;
        EXPECT_EQ(krvPPParseCondAt(text.c_str(), "inc.krv", 1, 4, &pTree), 1) << nTerms;
        EXPECT_EQ(pTree, nullptr);
        EXPECT_EQ(output(), "Error \"inc.krv\": (preprocessor) condition nested too deeply (more than 4000 levels) "
                            "at or near line 4\n");
    }
    // Unary operators nest the same way.
    std::string neg = std::string(5000, '-') + "1";
    EXPECT_EQ(cond(neg.c_str()), "syntax");
    EXPECT_NE(output().find("condition nested too deeply"), std::string::npos);
}
