// The test module's handlers called through the descriptors it registered:
// the slots seen from the module's side of the table.
#include <cstring>

#include "exthost/krvModule.h"
#include "exthostTestSupport.h"

namespace {

class ModuleHandlersTest : public ExtHostTest {
protected:
    void SetUp() override
    {
        ExtHostTest::SetUp();
        env = krvNewEnv("/tmp/handlers/main.krv");
        ASSERT_NE(env, nullptr);
        const char *szScript = nullptr;
        ASSERT_EQ(krvLoadModule(env, testModulePath("kxt_full").c_str(), &szScript), 1);
        ns = krvFindNs(krvGlobalNs(), "kxt");
        ASSERT_NE(ns, nullptr);
    }
    void TearDown() override
    {
        krvFreeModel();          // descriptors first: they point into the library
        ASSERT_EQ(krvInitModel(), 0);
        krvFreeModules(env);
        krvFreeEnv(env);
        ExtHostTest::TearDown();
    }
    // Calls kxt::name with the given arguments; returns the status.
    int32_t call(const char *name, uint32_t nArgs, krvValue_t *pArgs)
    {
        krvFuncInfo_t *f = krvFindFunc(ns, name);
        EXPECT_NE(f, nullptr) << name;
        if (f == nullptr)
            return -999;
        msg[0] = '\0';
        if (f->isCtx)
            return reinterpret_cast<krvExtCtxHandler_t>(f->pHandler)(ctx, nArgs, pArgs, &result, msg);
        return reinterpret_cast<krvExtHandler_t>(f->pHandler)(nArgs, pArgs, &result, msg);
    }
    krvEnv_t *env = nullptr;
    krvNamespace_t *ns = nullptr;
    krvValue_t result{};
    char msg[KRV_EXT_MSG_SIZE] = {};
    void *ctx = nullptr;
    krvValue_t args[KRV_EXT_MAX_ARGS] = {};

public:
    ~ModuleHandlersTest() override
    {
        krvClearValue(&result);
        for (krvValue_t &a : args)
            krvClearValue(&a);
    }
};

TEST_F(ModuleHandlersTest, IntegerArgumentsAndResult)
{
    krvSetInt(&args[0], 40);
    krvSetInt(&args[1], 2);
    EXPECT_EQ(call("add", 2, args), 0);
    EXPECT_EQ(result.type, KRV_DT_INTEGER);
    EXPECT_EQ(result.val.nInt, 42);
    krvFuncInfo_t *sub = krvFindFunc(krvFindNs(ns, "sub"), "add");
    ASSERT_NE(sub, nullptr);
}

TEST_F(ModuleHandlersTest, StringArgumentsAndStringResult)
{
    krvSetStr(&args[0], "ab");
    krvSetStr(&args[1], "cd");
    EXPECT_EQ(call("concat", 2, args), 0);
    EXPECT_EQ(result.type, KRV_DT_STRING);
    EXPECT_STREQ(result.val.pStr, "abcd");
    // Integers where texts are expected: a clean failure with a message.
    krvSetInt(&args[0], 1);
    krvSetInt(&args[1], 2);
    krvSetInt(&result, 0);
    args[0].val.pStr = nullptr;
    EXPECT_EQ(call("concat", 2, args), 2);
    EXPECT_STREQ(msg, "string arguments expected");
}

TEST_F(ModuleHandlersTest, FloatingArgument)
{
    krvSetFloat(&args[0], 5.0);
    EXPECT_EQ(call("half", 1, args), 0);
    EXPECT_EQ(result.type, KRV_DT_FLOAT);
    EXPECT_DOUBLE_EQ(result.val.dFloat, 2.5);
}

TEST_F(ModuleHandlersTest, ByReferenceArgumentReceivesTheValue)
{
    krvValue_t target{};
    krvSetInt(&target, 1);
    krvSetInt(&args[0], static_cast<int64_t>(reinterpret_cast<intptr_t>(&target)));
    krvSetStr(&args[1], "stored");
    EXPECT_EQ(call("setref", 2, args), 0);
    EXPECT_EQ(target.type, KRV_DT_STRING);
    EXPECT_STREQ(target.val.pStr, "stored");
    krvClearValue(&target);
}

TEST_F(ModuleHandlersTest, ArrayArgumentThroughAWindow)
{
    HandRef w;
    makeWindow(w, {3, 4}, {1, 1}, {2, 2});   // cells 5, 6, 9, 10
    krvSetInt(&args[0], static_cast<int64_t>(reinterpret_cast<intptr_t>(w.handle())));
    EXPECT_EQ(call("sum", 1, args), 0);
    EXPECT_EQ(result.val.nInt, 5 + 6 + 9 + 10);
    HandRef a;
    makeArray(a, {5});
    krvSetInt(&args[0], static_cast<int64_t>(reinterpret_cast<intptr_t>(a.handle())));
    EXPECT_EQ(call("sum", 1, args), 0);
    EXPECT_EQ(result.val.nInt, 0 + 1 + 2 + 3 + 4);
}

TEST_F(ModuleHandlersTest, StructureArgumentMember)
{
    krvStruct_t *s = krvNewStruct("Pair_t");
    krvVar_t *a = krvNewVar("a", 0, 1);
    krvVar_t *b = krvNewVar("b", 0, 1);
    a->isMember = b->isMember = 1;
    a->pMemberOf = b->pMemberOf = s;
    b->nMbrOffset = 1;
    s->pMembers = krvVarListAppend(krvVarListAppend(nullptr, a), b);
    s->nSize = 2;
    krvValue_t cells[2] = {};
    krvSetInt(&cells[0], 10);
    krvSetStr(&cells[1], "bee");
    HandRef r;
    r.var.pType = s;
    r.var.pData = cells;
    krvSetInt(&args[0], static_cast<int64_t>(reinterpret_cast<intptr_t>(r.handle())));
    EXPECT_EQ(call("member", 1, args), 0);
    EXPECT_STREQ(result.val.pStr, "bee");
    krvClearValue(&cells[1]);
    krvFreeStruct(s);
}

TEST_F(ModuleHandlersTest, FailureStatusAndMessage)
{
    krvSetInt(&args[0], 5);
    EXPECT_EQ(call("fail", 1, args), 5);
    EXPECT_STREQ(msg, "bad");
    EXPECT_EQ(result.val.nInt, -1);
}

TEST_F(ModuleHandlersTest, NoArgumentsAndContext)
{
    EXPECT_EQ(call("noargs", 0, nullptr), 0);
    EXPECT_EQ(result.val.nInt, 1);
    int task = 0;
    ctx = &task;
    EXPECT_EQ(call("hasctx", 0, nullptr), 0);
    EXPECT_EQ(result.val.nInt, 1);
}

TEST_F(ModuleHandlersTest, TypeNamesOfArguments)
{
    krvSetFloat(&args[0], 1.0);
    EXPECT_EQ(call("typeof", 1, args), 0);
    EXPECT_STREQ(result.val.pStr, "floating number");
    krvSetHandle(&args[0], &args);
    EXPECT_EQ(call("typeof", 1, args), 0);
    EXPECT_STREQ(result.val.pStr, "handle");
}

TEST_F(ModuleHandlersTest, CallbacksAreInactiveUntilTheEvaluatorProvidesThem)
{
    krvFuncInfo_t *f = krvNewUsrFunc("cb", 0, 1);
    f->pParams = krvVarListAppend(krvVarListAppend(nullptr, krvNewVar("n", 0, 1)), krvNewVar("v", 0, 1));
    krvNamespace_t *dev = krvCreateNs(krvGlobalNs(), "dev");
    ASSERT_EQ(krvAddUsrFunc(dev, f), 0);
    EXPECT_EQ(host.pfnGetUsrFuncParamNum("dev::cb"), 2);
    EXPECT_EQ(host.pfnGetUsrFuncParamNum("::dev::cb"), 2);
    EXPECT_EQ(host.pfnGetUsrFuncParamNum("dev:cb"), -1);
    EXPECT_EQ(host.pfnGetUsrFuncParamNum("dev:: cb"), -1);
    EXPECT_EQ(host.pfnGetUsrFuncParamNum("cb"), -1);
    EXPECT_EQ(host.pfnGetUsrFuncParamNum(""), -1);
    EXPECT_EQ(host.pfnGetUsrFuncParamNum(nullptr), -1);
    EXPECT_EQ(host.pfnGetUsrFuncParamNum("kxt::add"), -1);   // an extension function does not count
    EXPECT_EQ(host.pfnNewCallback("dev::cb"), nullptr);
    krvValue_t res{};
    EXPECT_EQ(host.pfnRunCallback(nullptr, 0, nullptr, &res), 0);
    EXPECT_EQ(host.pfnFreeCallback(nullptr), 0);
}

TEST_F(ModuleHandlersTest, InstalledCallbackOperationsAreUsed)
{
    static int nRuns = 0;
    static int token = 0;
    krvCallbackOps_t ops{
        [](const char *) -> void * { return &token; },
        [](void *, int32_t n, krvValue_t *, krvValue_t *pResult) -> int {
            nRuns++;
            krvSetInt(pResult, n);
            return 1;
        },
        [](void *) -> int { return 1; }};
    krvSetCallbackOps(&ops);
    void *cb = host.pfnNewCallback("any");
    EXPECT_EQ(cb, &token);
    krvValue_t res{};
    EXPECT_EQ(host.pfnRunCallback(cb, 8, args, &res), 1);
    EXPECT_EQ(res.val.nInt, 8);
    EXPECT_EQ(host.pfnFreeCallback(cb), 1);
    EXPECT_EQ(nRuns, 1);
    krvSetCallbackOps(nullptr);
    EXPECT_EQ(host.pfnNewCallback("any"), nullptr);
}

}  // namespace
