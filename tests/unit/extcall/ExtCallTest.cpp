// Calls into module functions, driven directly with hand-made call nodes
// and descriptors: what the handler receives, what the host does with its
// status and message, and the guards against descriptors no module can
// register through the host table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exthost/krvExtCall.h"
#include "exthost/krvExtCallArgs.h"
#include "model/krvModel.h"

namespace {

struct Seen {
    int nCalls = 0;
    uint32_t nArgs = 0;
    bool bNullVector = false;
    void *pCtx = nullptr;
    int64_t aInts[8] = {};
    int32_t aTypes[8] = {};
    std::string text;
    int32_t nStatus = 0;
    const char *szMsg = "";
};
Seen g_seen;

int32_t record(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    g_seen.nCalls++;
    g_seen.nArgs = nArgs;
    g_seen.bNullVector = pArgs == nullptr;
    for (uint32_t i = 0; pArgs && i < nArgs && i < 8; i++) {
        g_seen.aTypes[i] = pArgs[i].type;
        if (pArgs[i].type == KRV_DT_STRING)
            g_seen.text = pArgs[i].val.pStr;
        else
            g_seen.aInts[i] = pArgs[i].val.nInt;
    }
    strcpy(szMsg, g_seen.szMsg);
    krvSetStr(pResult, "result text");
    return g_seen.nStatus;
}

int32_t recordCtx(void *pCtx, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
{
    g_seen.pCtx = pCtx;
    return record(nArgs, pArgs, pResult, szMsg);
}

class ExtCall : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen = Seen();
        pEnv = krvNewEnv("calls.krv");
        ASSERT_NE(pEnv, nullptr);
        pEnv->phase = 'R';
        ASSERT_EQ(krvEvalStateInit(pEnv), 0);
        pFunc = krvNewExtFunc("probe");
        ASSERT_NE(pFunc, nullptr);
        pFunc->pHandler = reinterpret_cast<void *>(record);
        pFunc->maxArgNum = 8;
        pCall = krvNewAPTN(krvAPTNType_extCall, 0, 12);
        pCall->u.extCall.pFunc = pFunc;
        result.type = KRV_DT_INTEGER;
        result.val.nInt = 99;
        krvSetLastDiagId(0);
    }
    void TearDown() override
    {
        krvClearValue(&result);
        krvFreeAPTN(pCall);
        krvFreeFunc(pFunc);
        krvEvalStateFree(pEnv);
        krvFreeEnv(pEnv);
        krvSetLastDiagId(0);
    }
    void addInt(int64_t n)
    {
        krvAPTN_t *p = krvNewAPTN(krvAPTNType_intConst, 0, 12);
        p->u.nIntConst = n;
        pCall->u.extCall.pArgs = krvAPTNAppend(pCall->u.extCall.pArgs, p);
    }
    void addStr(const char *sz)
    {
        krvAPTN_t *p = krvNewAPTN(krvAPTNType_strConst, 0, 12);
        p->u.szStrConst = strdup(sz);
        pCall->u.extCall.pArgs = krvAPTNAppend(pCall->u.extCall.pArgs, p);
    }
    int call()
    {
        uint32_t fl = 0;
        krvEvalPrepareTree(pCall);
        return krvEvalCallExtFunc(pEnv, nullptr, pCall, &result, &fl);
    }

    krvEnv_t *pEnv = nullptr;
    krvFuncInfo_t *pFunc = nullptr;
    krvAPTN_t *pCall = nullptr;
    krvValue_t result;
};

TEST_F(ExtCall, NoArgumentsReachTheHandlerAsANullVector)
{
    EXPECT_EQ(call(), 1);
    EXPECT_EQ(g_seen.nCalls, 1);
    EXPECT_EQ(g_seen.nArgs, 0u);
    EXPECT_TRUE(g_seen.bNullVector);
    ASSERT_EQ(result.type, KRV_DT_STRING);
    EXPECT_STREQ(result.val.pStr, "result text");
}

TEST_F(ExtCall, ValuesArriveInOrderAndStringsAreCopies)
{
    addInt(7);
    addStr("abc");
    addInt(-2);
    EXPECT_EQ(call(), 1);
    EXPECT_EQ(g_seen.nArgs, 3u);
    EXPECT_FALSE(g_seen.bNullVector);
    EXPECT_EQ(g_seen.aTypes[0], KRV_DT_INTEGER);
    EXPECT_EQ(g_seen.aInts[0], 7);
    EXPECT_EQ(g_seen.aTypes[1], KRV_DT_STRING);
    EXPECT_EQ(g_seen.text, "abc");
    EXPECT_EQ(g_seen.aInts[2], -2);
    // The literal in the tree is untouched by the call's cleanup.
    EXPECT_STREQ(pCall->u.extCall.pArgs->next->u.szStrConst, "abc");
}

TEST_F(ExtCall, ContextHandlerGetsTheCallingEnvironment)
{
    pFunc->isCtx = 1;
    pFunc->pHandler = reinterpret_cast<void *>(recordCtx);
    addInt(1);
    EXPECT_EQ(call(), 1);
    EXPECT_EQ(g_seen.pCtx, pEnv);
    EXPECT_EQ(g_seen.aInts[0], 1);
}

TEST_F(ExtCall, FailingStatusIsError253WithTheMessage)
{
    g_seen.nStatus = 5;
    g_seen.szMsg = "bad";
    testing::internal::CaptureStdout();
    EXPECT_EQ(call(), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(krvGetLastDiagId(), 253);
    EXPECT_EQ(out, "Error R253: calls.krv line 12: Fail to execute extension function \"probe\"!\n"
                   "  Error code: 5\n"
                   "  Error message: bad\n");
}

TEST_F(ExtCall, ReportedStatusFailsSilently)
{
    g_seen.nStatus = KRV_EXT_STATUS_REPORTED;
    g_seen.szMsg = "hidden";
    testing::internal::CaptureStdout();
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(krvGetLastDiagId(), 0);
}

TEST_F(ExtCall, MoreArgumentsThanTheVectorHoldsAreRefused)
{
    for (int i = 0; i < 9; i++)
        addInt(i);
    testing::internal::CaptureStdout();
    EXPECT_EQ(call(), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_seen.nCalls, 0);
    EXPECT_NE(out.find("at most 8 arguments"), std::string::npos) << out;
}

TEST_F(ExtCall, AnArgumentOfTwoKindsIsRefused)
{
    pFunc->refMask = 0x2;
    pFunc->arrMask = 0x2;
    addInt(1);
    addInt(2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(call(), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_seen.nCalls, 0);
    EXPECT_NE(out.find("more than one kind"), std::string::npos) << out;
    ASSERT_EQ(result.type, KRV_DT_INTEGER);
    EXPECT_EQ(result.val.nInt, 0);
}

TEST(ExtArgKind, KindsFromTheMasks)
{
    krvFuncInfo_t f{};
    f.refMask = 0x1;
    f.arrMask = 0x4;
    f.structMask = 0x8;
    EXPECT_EQ(krvExtArgKind(&f, 0), KRV_EXT_ARG_REF);
    EXPECT_EQ(krvExtArgKind(&f, 1), KRV_EXT_ARG_VALUE);
    EXPECT_EQ(krvExtArgKind(&f, 2), KRV_EXT_ARG_ARRAY);
    EXPECT_EQ(krvExtArgKind(&f, 3), KRV_EXT_ARG_STRUCT);
    EXPECT_EQ(krvExtArgKind(&f, 40), KRV_EXT_ARG_VALUE);
}

TEST(Callbacks, NullAndUnknownNames)
{
    EXPECT_EQ(krvCallbackNew(nullptr), nullptr);
    EXPECT_EQ(krvCallbackNew(""), nullptr);
    EXPECT_EQ(krvCallbackNew("no::such"), nullptr);
    krvValue_t r;
    r.type = KRV_DT_INTEGER;
    r.val.nInt = 3;
    EXPECT_EQ(krvCallbackRun(nullptr, 1, &r, &r), 0);
    EXPECT_EQ(r.val.nInt, 3);
    EXPECT_EQ(krvCallbackFree(nullptr), 0);
}

} // namespace
