// The binary operator rules applied to cells directly.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "eval/krvEvalArith.h"

namespace {

krvValue_t I(int64_t n)
{
    krvValue_t v{};
    v.type = KRV_DT_INTEGER;
    v.val.nInt = n;
    return v;
}

krvValue_t F(double d)
{
    krvValue_t v{};
    v.type = KRV_DT_FLOAT;
    v.val.dFloat = d;
    return v;
}

krvValue_t H(uint64_t n)
{
    krvValue_t v{};
    v.type = KRV_DT_HANDLE;
    v.val.uRaw = n;
    return v;
}

struct OpFixture : ::testing::Test {
    krvEnv_t *pEnv = nullptr;
    krvAPTN_t *pAt = nullptr;
    void SetUp() override
    {
        pEnv = krvNewEnv("/tmp/op.krv");
        pEnv->phase = 'R';
        pAt = krvNewAPTN(krvAPTNType_opExpr, 0, 7);
    }
    void TearDown() override
    {
        krvFreeAPTN(pAt);
        krvFreeEnv(pEnv);
        krvSetLastDiagId(0);
    }
    // Applies the operator; returns the status and leaves the value in out.
    int apply(int32_t nOp, krvValue_t a, krvValue_t b)
    {
        krvClearValue(&out);
        return krvEvalBinary(pEnv, pAt, nOp, nOp, &a, &b, &out);
    }
    krvValue_t out{KRV_DT_INTEGER, 0, {0}};
};

TEST_F(OpFixture, IntegerDivisionEdges)
{
    ASSERT_EQ(apply(KRV_OP_DIV, I(INT64_MIN), I(-1)), 1);
    EXPECT_EQ(out.val.nInt, INT64_MIN);
    ASSERT_EQ(apply(KRV_OP_MOD, I(INT64_MIN), I(-1)), 1);
    EXPECT_EQ(out.val.nInt, 0);
    ASSERT_EQ(apply(KRV_OP_DIV, I(-7), I(2)), 1);
    EXPECT_EQ(out.val.nInt, -3);
    ASSERT_EQ(apply(KRV_OP_MOD, I(-7), I(2)), 1);
    EXPECT_EQ(out.val.nInt, -1);
    EXPECT_EQ(apply(KRV_OP_DIV, I(1), I(0)), 0);
    EXPECT_EQ(krvGetLastDiagId(), KRV_RTE_DIVIDE);
    EXPECT_EQ(apply(KRV_OP_MOD, I(1), I(0)), 0);
}

TEST_F(OpFixture, FloatDivisionByZeroOfEitherKind)
{
    EXPECT_EQ(apply(KRV_OP_DIV, F(5.0), I(0)), 0);
    EXPECT_EQ(apply(KRV_OP_DIV, I(5), F(0.0)), 0);
    EXPECT_EQ(apply(KRV_OP_DIV, F(5.0), F(-0.0)), 0);
    ASSERT_EQ(apply(KRV_OP_DIV, I(7), F(2.0)), 1);
    EXPECT_EQ(out.type, KRV_DT_FLOAT);
    EXPECT_DOUBLE_EQ(out.val.dFloat, 3.5);
}

TEST_F(OpFixture, WrapAroundAndShifts)
{
    ASSERT_EQ(apply(KRV_OP_ADD, I(INT64_MAX), I(1)), 1);
    EXPECT_EQ(out.val.nInt, INT64_MIN);
    ASSERT_EQ(apply(KRV_OP_MUL, I(INT64_MAX), I(2)), 1);
    EXPECT_EQ(out.val.nInt, -2);
    ASSERT_EQ(apply(KRV_OP_SHR, I(1), I(64)), 1);
    EXPECT_EQ(out.val.nInt, 1);
    ASSERT_EQ(apply(KRV_OP_SHR, I(-8), I(1)), 1);
    EXPECT_EQ(out.val.nInt, -4);
    ASSERT_EQ(apply(KRV_OP_SHL, I(1), I(63)), 1);
    EXPECT_EQ(out.val.nInt, INT64_MIN);
    ASSERT_EQ(apply(KRV_OP_SHL, I(3), I(-1)), 1);          // count taken modulo 64
    EXPECT_EQ(out.val.nInt, INT64_MIN);
}

TEST_F(OpFixture, HandlesActAsIntegers)
{
    ASSERT_EQ(apply(KRV_OP_ADD, H(0x1000), I(1)), 1);
    EXPECT_EQ(out.type, KRV_DT_INTEGER);
    EXPECT_EQ(out.val.nInt, 0x1001);
    ASSERT_EQ(apply(KRV_OP_EQ, H(0), I(0)), 1);
    EXPECT_EQ(out.val.nInt, 1);
    ASSERT_EQ(apply(KRV_OP_BAND, H(0xff), I(0x0f)), 1);
    EXPECT_EQ(out.val.nInt, 0x0f);
}

TEST_F(OpFixture, NanComparesUnequal)
{
    double nan = std::nan("");
    ASSERT_EQ(apply(KRV_OP_EQ, F(nan), F(nan)), 1);
    EXPECT_EQ(out.val.nInt, 0);
    ASSERT_EQ(apply(KRV_OP_NE, F(nan), I(1)), 1);
    EXPECT_EQ(out.val.nInt, 1);
}

TEST_F(OpFixture, StringsConcatenateAndCompare)
{
    krvValue_t a{}, b{};
    krvSetStr(&a, "ab");
    krvSetStr(&b, "cd");
    ASSERT_EQ(krvEvalBinary(pEnv, pAt, KRV_OP_ADD, KRV_OP_ADD, &a, &b, &out), 1);
    ASSERT_EQ(out.type, KRV_DT_STRING);
    EXPECT_STREQ(out.val.pStr, "abcd");
    // The target as first operand: appended in place or reallocated.
    ASSERT_EQ(krvEvalBinary(pEnv, pAt, KRV_OP_ADD, KRV_OP_ADD, &out, &out, &out), 1);
    EXPECT_STREQ(out.val.pStr, "abcdabcd");
    ASSERT_EQ(krvEvalBinary(pEnv, pAt, KRV_OP_EQ, KRV_OP_EQ, &a, &a, &out), 1);
    EXPECT_EQ(out.type, KRV_DT_INTEGER);
    EXPECT_EQ(out.val.nInt, 1);
    EXPECT_EQ(krvEvalBinary(pEnv, pAt, KRV_OP_LT, KRV_OP_LT, &a, &b, &out), 0);
    EXPECT_EQ(krvGetLastDiagId(), KRV_RTE_OPERATOR);
    krvValue_t one = I(1);
    ASSERT_EQ(krvEvalBinary(pEnv, pAt, KRV_OP_EQ, KRV_OP_EQ, &one, &a, &out), 1);
    EXPECT_EQ(out.val.nInt, 0);
    EXPECT_EQ(krvEvalBinary(pEnv, pAt, KRV_OP_ADD, KRV_OP_ADD, &one, &a, &out), 0);
    krvClearValue(&a);
    krvClearValue(&b);
    krvClearValue(&out);
}

TEST_F(OpFixture, IntegerGroupRefusesFloats)
{
    EXPECT_EQ(apply(KRV_OP_MOD, F(1.0), I(1)), 0);
    EXPECT_EQ(apply(KRV_OP_BOR, I(1), F(1.0)), 0);
    EXPECT_EQ(krvGetLastDiagId(), KRV_RTE_OPERATOR);
}

}  // namespace
