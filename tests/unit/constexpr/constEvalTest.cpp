// The constant expression evaluator: node kinds, constant look-up and the
// operator table with its messages.
#include "constTestEnv.h"

#include "constexpr/krvConstExpr.h"

#include <cmath>
#include <limits>

namespace {

const int64_t kMin = std::numeric_limits<int64_t>::min();
const int64_t kMax = std::numeric_limits<int64_t>::max();

}  // namespace

TEST_F(ConstExprTest, LiteralsAndNestedOperators)
{
    Tree t(nOp(KRV_OP_ADD, nFloat(1.5), nOp(KRV_OP_MUL, nInt(2), nInt(3))));
    EXPECT_EQ(eval(t.p), "float 7.5");
    Tree s(nStr("text"));
    EXPECT_EQ(eval(s.p), "str text");
    EXPECT_EQ(output(), "");
}

TEST_F(ConstExprTest, ConstantLookUp)
{
    krvNamespace_t *pN = krvCreateNs(nullptr, "n");
    krvNamespace_t *pM = krvCreateNs(pN, "m");
    ASSERT_NE(pM, nullptr);
    addInt(nullptr, "X", 1);
    addInt(pN, "X", 2);
    addStr(pN, "S", "abc");
    addInt(pM, "Z", 9);

    EXPECT_EQ(cond("X"), "int 1");
    EXPECT_EQ(cond("X", pN), "int 2");
    EXPECT_EQ(cond("X", pM), "int 2");      // nearest enclosing namespace
    EXPECT_EQ(cond("::X", pM), "int 1");
    EXPECT_EQ(cond("::n::X"), "int 2");
    EXPECT_EQ(cond("n::m::Z"), "int 9");
    EXPECT_EQ(cond("Z"), "fail");            // not visible from the global namespace
    EXPECT_EQ(cond("S + S", pM), "str abcabc");
    EXPECT_EQ(output(), "Error P100: main.krv line 7: unknown constant identifier \"Z\"\n");

    EXPECT_EQ(cond("Y"), "fail");
    EXPECT_EQ(output(), "Error P100: main.krv line 7: unknown constant identifier \"Y\"\n");
    EXPECT_EQ(krvGetLastDiagId(), 100);
    EXPECT_EQ(cond("n::Y"), "fail");
    EXPECT_EQ(output(), "Error P100: main.krv line 7: unknown constant identifier \"Y\"\n");
    EXPECT_EQ(cond("a::b::X"), "fail");
    EXPECT_EQ(output(), "Error P400: main.krv line 7: unknown namespace \"a::b::\"\n");
    EXPECT_EQ(cond("::q::X"), "fail");
    EXPECT_EQ(output(), "Error P400: main.krv line 7: unknown namespace \"::q::\"\n");

    // Index and member parts of a reference are not looked at.
    Tree r(nRef("X"));
    r.p->u.varRef.pIndexes = nRef("nowhere");
    EXPECT_EQ(eval(r.p), "int 1");
    EXPECT_EQ(output(), "");
}

TEST_F(ConstExprTest, StringConstantIsCopied)
{
    addStr(nullptr, "S", "abc");
    Tree t(nRef("S"));
    EXPECT_EQ(eval(t.p), "str abc");
    EXPECT_EQ(eval(t.p), "str abc");   // the constant's own text is untouched
}

TEST_F(ConstExprTest, IntegerArithmeticWraps)
{
    Tree add(nOp(KRV_OP_ADD, nInt(kMax), nInt(1)));
    EXPECT_EQ(eval(add.p), "int " + std::to_string(kMin));
    Tree mul(nOp(KRV_OP_MUL, nInt(kMax), nInt(2)));
    EXPECT_EQ(eval(mul.p), "int -2");
    Tree neg(nOp(KRV_OP_NEG, nInt(kMin)));
    EXPECT_EQ(eval(neg.p), "int " + std::to_string(kMin));
    Tree sub(nOp(KRV_OP_SUB, nInt(kMin), nInt(1)));
    EXPECT_EQ(eval(sub.p), "int " + std::to_string(kMax));
}

TEST_F(ConstExprTest, MostNegativeDividedByMinusOneWraps)
{
    Tree div(nOp(KRV_OP_DIV, nInt(kMin), nInt(-1)));
    EXPECT_EQ(eval(div.p), "int " + std::to_string(kMin));
    Tree mod(nOp(KRV_OP_MOD, nInt(kMin), nInt(-1)));
    EXPECT_EQ(eval(mod.p), "int 0");
    Tree div2(nOp(KRV_OP_DIV, nInt(-7), nInt(2)));
    EXPECT_EQ(eval(div2.p), "int -3");
    Tree mod2(nOp(KRV_OP_MOD, nInt(-7), nInt(2)));
    EXPECT_EQ(eval(mod2.p), "int -1");
    EXPECT_EQ(output(), "");
}

TEST_F(ConstExprTest, DivideByZero)
{
    const char *szMsg = "Error P203: main.krv line 3: Divide by 0.\n";
    Tree a(nOp(KRV_OP_DIV, nInt(7), nInt(0)));
    EXPECT_EQ(eval(a.p), "fail");
    EXPECT_EQ(output(), szMsg);
    Tree b(nOp(KRV_OP_DIV, nFloat(1.5), nFloat(0.0)));
    EXPECT_EQ(eval(b.p), "fail");
    EXPECT_EQ(output(), szMsg);
    Tree c(nOp(KRV_OP_DIV, nFloat(1.5), nInt(0)));
    EXPECT_EQ(eval(c.p), "fail");
    EXPECT_EQ(output(), szMsg);
    Tree d(nOp(KRV_OP_MOD, nInt(7), nInt(0)));
    EXPECT_EQ(eval(d.p), "fail");
    EXPECT_EQ(output(), szMsg);
    EXPECT_EQ(krvGetLastDiagId(), 203);
}

TEST_F(ConstExprTest, MixedNumbersUseDoubles)
{
    Tree a(nOp(KRV_OP_DIV, nInt(7), nInt(2)));
    EXPECT_EQ(eval(a.p), "int 3");
    Tree b(nOp(KRV_OP_DIV, nInt(7), nFloat(2)));
    EXPECT_EQ(eval(b.p), "float 3.5");
    Tree c(nOp(KRV_OP_SUB, nFloat(0.5), nInt(2)));
    EXPECT_EQ(eval(c.p), "float -1.5");
    Tree d(nOp(KRV_OP_GT, nFloat(2.5), nInt(2)));
    EXPECT_EQ(eval(d.p), "int 1");
    Tree e(nOp(KRV_OP_EQ, nInt(2), nFloat(2.0)));
    EXPECT_EQ(eval(e.p), "int 1");
    Tree f(nOp(KRV_OP_LE, nInt(3), nInt(3)));
    EXPECT_EQ(eval(f.p), "int 1");
}

TEST_F(ConstExprTest, TypeErrorsOfArithmetic)
{
    Tree a(nOp(KRV_OP_MOD, nFloat(1.5), nInt(2)));
    EXPECT_EQ(eval(a.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Not allow operator '%' operating on a floating number and a integer.\n");
    Tree b(nOp(KRV_OP_SUB, nStr("a"), nStr("b")));
    EXPECT_EQ(eval(b.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Not allow operator '-' operating on two strings.\n");
    Tree c(nOp(KRV_OP_SHL, nFloat(1), nFloat(2)));
    EXPECT_EQ(eval(c.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Not allow operator '<<' operating on two floating numbers.\n");
    Tree d(nOp(KRV_OP_LT, nInt(1), nStr("b")));
    EXPECT_EQ(eval(d.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Not allow operator '<' operating on a integer and a string.\n");
}

TEST_F(ConstExprTest, PlusOnStrings)
{
    Tree a(nOp(KRV_OP_ADD, nStr("ab"), nStr("cd")));
    EXPECT_EQ(eval(a.p), "str abcd");
    Tree b(nOp(KRV_OP_ADD, nStr("x"), nInt(1)));
    EXPECT_EQ(eval(b.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Now allow operator '+' operating on a string and a integer.\n");
    Tree c(nOp(KRV_OP_ADD, nFloat(1), nStr("x")));
    EXPECT_EQ(eval(c.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Now allow operator '+' operating on a floating number and a string.\n");
}

TEST_F(ConstExprTest, EqualityOfStrings)
{
    Tree a(nOp(KRV_OP_EQ, nStr("ab"), nStr("ab")));
    EXPECT_EQ(eval(a.p), "int 1");
    Tree b(nOp(KRV_OP_NE, nStr("ab"), nStr("ac")));
    EXPECT_EQ(eval(b.p), "int 1");
    Tree c(nOp(KRV_OP_EQ, nStr("1"), nInt(1)));   // never equal, no error
    EXPECT_EQ(eval(c.p), "int 0");
    Tree d(nOp(KRV_OP_NE, nInt(1), nStr("1")));
    EXPECT_EQ(eval(d.p), "int 1");
    EXPECT_EQ(output(), "");
}

TEST_F(ConstExprTest, UnaryOperators)
{
    Tree a(nOp(KRV_OP_NEG, nFloat(2.5)));
    EXPECT_EQ(eval(a.p), "float -2.5");
    Tree b(nOp(KRV_OP_POS, nFloat(2.5)));
    EXPECT_EQ(eval(b.p), "float 2.5");
    Tree c(nOp(KRV_OP_NOT, nFloat(0.0)));
    EXPECT_EQ(eval(c.p), "int 1");
    Tree d(nOp(KRV_OP_NOT, nFloat(std::nan(""))));
    EXPECT_EQ(eval(d.p), "int 0");
    Tree e(nOp(KRV_OP_NOT, nStr("")));
    EXPECT_EQ(eval(e.p), "int 0");
    Tree f(nOp(KRV_OP_BNOT, nInt(0)));
    EXPECT_EQ(eval(f.p), "int -1");
    EXPECT_EQ(output(), "");

    Tree g(nOp(KRV_OP_NEG, nStr("ab")));
    EXPECT_EQ(eval(g.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Unary operator '-' is not allowed to operate on a string (\"ab\")!\n");
    Tree h(nOp(KRV_OP_POS, nStr("ab")));
    EXPECT_EQ(eval(h.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Unary operator '+' is not allowed to operate on a string (\"ab\")!\n");
    Tree i(nOp(KRV_OP_BNOT, nFloat(1)));
    EXPECT_EQ(eval(i.p), "fail");
    EXPECT_EQ(output(),
              "Error P203: main.krv line 3: Allow operator '~' operating on an integer only; however it operates on a floating number\n");
}

TEST_F(ConstExprTest, HandlesAreIntegerLikeButNotIntegers)
{
    krvValue_t v{};
    krvSetHandle(&v, (void *)0x10);
    ASSERT_EQ(krvAddConst(nullptr, krvNewConst("H", &v, 0, 1)), 0);

    Tree a(nOp(KRV_OP_ADD, nRef("H"), nInt(1)));
    EXPECT_EQ(eval(a.p), "int 17");
    Tree b(nOp(KRV_OP_NEG, nRef("H")));
    EXPECT_EQ(eval(b.p), "int -16");
    Tree c(nRef("H"));
    EXPECT_EQ(eval(c.p), "handle 0x10");
    Tree d(nOp(KRV_OP_LAND, nRef("H"), nInt(1)));
    EXPECT_EQ(eval(d.p), "int 1");
    EXPECT_EQ(output(), "");

    Tree e(nOp(KRV_OP_BAND, nRef("H"), nInt(1)));
    EXPECT_EQ(eval(e.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Not allow operator '&' operating on a handle and a integer.\n");
    Tree f(nOp(KRV_OP_BNOT, nRef("H")));
    EXPECT_EQ(eval(f.p), "fail");
    EXPECT_EQ(output(),
              "Error P203: main.krv line 3: Allow operator '~' operating on an integer only; however it operates on a handle\n");
}

TEST_F(ConstExprTest, ShiftsAndBitOperators)
{
    Tree a(nOp(KRV_OP_SHL, nInt(1), nInt(65)));   // count modulo 64
    EXPECT_EQ(eval(a.p), "int 2");
    Tree b(nOp(KRV_OP_SHR, nInt(-8), nInt(1)));   // arithmetic
    EXPECT_EQ(eval(b.p), "int -4");
    Tree c(nOp(KRV_OP_SHL, nInt(1), nInt(-1)));
    EXPECT_EQ(eval(c.p), "int " + std::to_string(kMin));
    Tree d(nOp(KRV_OP_BXOR, nInt(6), nInt(3)));
    EXPECT_EQ(eval(d.p), "int 5");
    Tree e(nOp(KRV_OP_BOR, nInt(4), nInt(1)));
    EXPECT_EQ(eval(e.p), "int 5");
}

TEST_F(ConstExprTest, LogicalOperatorsEvaluateBothSides)
{
    Tree a(nOp(KRV_OP_LAND, nStr(""), nFloat(0.5)));
    EXPECT_EQ(eval(a.p), "int 1");
    Tree b(nOp(KRV_OP_LOR, nFloat(0.0), nInt(0)));
    EXPECT_EQ(eval(b.p), "int 0");
    // No short cut: the error on the right is reported.
    Tree c(nOp(KRV_OP_LOR, nInt(1), nOp(KRV_OP_DIV, nInt(1), nInt(0))));
    EXPECT_EQ(eval(c.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Divide by 0.\n");
    Tree d(nOp(KRV_OP_LAND, nInt(0), nRef("missing")));
    EXPECT_EQ(eval(d.p), "fail");
    EXPECT_EQ(output(), "Error P100: main.krv line 3: unknown constant identifier \"missing\"\n");
}

TEST_F(ConstExprTest, ConditionalOperator)
{
    Tree a(nCond(nStr(""), nInt(1), nInt(2)));           // a string counts as 1
    EXPECT_EQ(eval(a.p), "int 1");
    Tree b(nCond(nFloat(-0.0), nInt(1), nInt(2)));       // payload not zero
    EXPECT_EQ(eval(b.p), "int 1");
    Tree c(nCond(nFloat(0.0), nInt(1), nStr("x")));
    EXPECT_EQ(eval(c.p), "str x");
    Tree d(nCond(nInt(1), nInt(2), nOp(KRV_OP_DIV, nInt(1), nInt(0))));   // all operands evaluated
    EXPECT_EQ(eval(d.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Divide by 0.\n");
}

TEST_F(ConstExprTest, NonConstantForms)
{
    Tree a(nOp(KRV_OP_ASSIGN, nRef("x"), nInt(1)));
    EXPECT_EQ(eval(a.p), "fail");
    EXPECT_EQ(output(), "Error P202: main.krv line 3: Not allow '=' operation in a initialization expression of a constant.\n");
    Tree b(nOp(KRV_OP_POST_INC, nRef("x")));
    EXPECT_EQ(eval(b.p), "fail");
    EXPECT_EQ(output(), "Error P202: main.krv line 3: Not allow '++' operation in a initialization expression of a constant.\n");
    Tree b2(nOp(KRV_OP_SHL_ASSIGN, nRef("x"), nInt(1)));
    EXPECT_EQ(eval(b2.p), "fail");
    EXPECT_EQ(output(), "Error P202: main.krv line 3: Not allow '<<=' operation in a initialization expression of a constant.\n");

    Tree c(krvNewAPTN(krvAPTNType_call, 1, 12));
    c.p->u.call.pCallee = nRef("f");
    c.p->u.call.pArgs = nInt(1);
    EXPECT_EQ(eval(c.p), "fail");
    EXPECT_EQ(output(), "Error P103: inc.krv line 12: A function call is not allowed in a constant expression.\n");

    Tree d(krvNewAPTN(krvAPTNType_exprList, 0, 4));
    d.p->u.exprList.pFirst = nInt(1);
    d.p->u.exprList.pFirst->next = nInt(2);
    EXPECT_EQ(eval(d.p), "fail");
    EXPECT_EQ(output(), "Error P204: main.krv line 4: illegal array size expression;\n        expression list is not allowed\n");
    // A parenthesised list arrives wrapped in unary '+'.
    Tree e(nOp(KRV_OP_POS, krvNewAPTN(krvAPTNType_exprList, 0, 4)));
    e.p->u.opExpr.opd1->u.exprList.pFirst = nInt(1);
    EXPECT_EQ(eval(e.p), "fail");
    EXPECT_EQ(output(), "Error P204: main.krv line 4: illegal array size expression;\n        expression list is not allowed\n");
}

TEST_F(ConstExprTest, UnknownKindsAndOperators)
{
    Tree a(krvNewAPTN(krvAPTNType_nullStmt, 0, 1));
    EXPECT_EQ(eval(a.p), "fail");
    std::string out = output();
    EXPECT_EQ(out.rfind("Debug: \"krvConstEval.cpp\" line ", 0), 0u) << out;
    EXPECT_NE(out.find(" in krvConstEvalNode(): TODO for expr type 16\n"), std::string::npos) << out;

    Tree b(nOp(50, nInt(1), nInt(2)));
    EXPECT_EQ(eval(b.p), "fail");
    out = output();
    EXPECT_EQ(out.rfind("Debug: \"krvConstOps.cpp\" line ", 0), 0u) << out;
    EXPECT_NE(out.find(": TODO on 50 operation\n"), std::string::npos) << out;
    EXPECT_EQ(krvGetLastDiagId(), 0);   // debug messages are no diagnostics
}

TEST_F(ConstExprTest, DeepTreesAreRejectedNotOverflowed)
{
    krvAPTN_t *p = nInt(5);
    for (int i = 0; i < 10000; i++)
        p = nOp(KRV_OP_ADD, p, nInt(1));
    Tree deep(p);
    EXPECT_EQ(eval(deep.p), "fail");
    EXPECT_EQ(output(), "Error P203: main.krv line 3: Constant expression nested too deeply (more than 4000 levels).\n");

    krvAPTN_t *q = nInt(5);
    for (int i = 0; i < 3000; i++)
        q = nOp(KRV_OP_NEG, q);
    Tree ok(q);
    EXPECT_EQ(eval(ok.p), "int 5");
}
