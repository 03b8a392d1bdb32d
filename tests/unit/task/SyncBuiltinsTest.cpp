// The mutex and condition built-ins driven directly with call nodes: the
// results, the messages for values that are not live handles, and the
// bounded wait of cond_wait, which returns with the mutex held again.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "builtin/krvBuiltinTable.h"
#include "sysThread.h"
#include "task/krvTask.h"
#include "task/krvTaskBuiltins.h"
#include "task/krvTaskInt.h"

namespace {

class SyncBuiltins : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(krvTaskInit());
        pEnv = krvNewEnv("sync.krv");
        ASSERT_NE(pEnv, nullptr);
        pEnv->phase = 'R';
        ASSERT_EQ(krvEvalStateInit(pEnv), 0);
        result.type = KRV_DT_INTEGER;
        result.val.nInt = 0;
        nSavedLimit = sysCondSetWaitLimitMs(50);
    }
    void TearDown() override
    {
        sysCondSetWaitLimitMs(nSavedLimit);
        krvSyncFreeAll();     // the blocks a test left, as at the end of a run
        for (krvAPTN_t *p : calls)
            krvFreeAPTN(p);
        krvEvalStateFree(pEnv);
        krvFreeEnv(pEnv);
        krvSetLastDiagId(0);
    }
    // A built-in call node with integer literal arguments.
    krvAPTN_t *callOf(std::initializer_list<int64_t> args)
    {
        krvAPTN_t *pCall = krvNewAPTN(krvAPTNType_builtinCall, 0, 7);
        for (int64_t v : args) {
            krvAPTN_t *p = krvNewAPTN(krvAPTNType_intConst, 0, 7);
            p->u.nIntConst = v;
            pCall->u.builtinCall.pArgs = krvAPTNAppend(pCall->u.builtinCall.pArgs, p);
        }
        calls.push_back(pCall);
        krvEvalPrepareTree(pCall);
        return pCall;
    }
    // Runs a built-in; its result, with the status and output beside.
    int64_t run(krvBuiHandler_t pfn, std::initializer_list<int64_t> args, int *pOk = nullptr,
                std::string *pOut = nullptr)
    {
        uint32_t fl = 0;
        testing::internal::CaptureStdout();
        int ok = pfn(pEnv, nullptr, callOf(args), &result, &fl);
        std::string out = testing::internal::GetCapturedStdout();
        if (pOk)
            *pOk = ok;
        if (pOut)
            *pOut = out;
        return result.val.nInt;
    }

    krvEnv_t *pEnv = nullptr;
    krvValue_t result;
    std::vector<krvAPTN_t *> calls;
    int64_t nSavedLimit = 0;
};

TEST_F(SyncBuiltins, TableHoldsTheHandlers)
{
    EXPECT_EQ(krvBuiGetHandler(KRV_BUI_TASK_CREATE), krvBuiFunc_task_create);
    EXPECT_EQ(krvBuiGetHandler(KRV_BUI_COND_BROADCAST), krvBuiFunc_cond_broadcast);
    EXPECT_EQ(krvBuiGetHandler(KRV_BUI_MUTEX_DELETE), krvBuiFunc_mutex_delete);
}

TEST_F(SyncBuiltins, MutexLifecycle)
{
    int64_t m = run(krvBuiFunc_mutex_create, {});
    ASSERT_NE(m, 0);
    EXPECT_EQ(m % 4, 0);
    EXPECT_EQ(run(krvBuiFunc_mutex_lock, {m}), 1);
    EXPECT_EQ(run(krvBuiFunc_mutex_lock, {m}), 1);     // again by its holder
    EXPECT_EQ(run(krvBuiFunc_mutex_unlock, {m}), 1);
    EXPECT_EQ(run(krvBuiFunc_mutex_unlock, {m}), 1);
    EXPECT_EQ(run(krvBuiFunc_mutex_delete, {m}), 1);
    int ok = 0;
    std::string out;
    EXPECT_EQ(run(krvBuiFunc_mutex_lock, {m}, &ok, &out), 0);
    EXPECT_EQ(ok, 1);                                   // the script goes on
    EXPECT_NE(out.find("Illegal mutex handle 0x"), std::string::npos) << out;
    EXPECT_NE(out.find("is specified to mutex_lock()."), std::string::npos) << out;
    EXPECT_EQ(krvGetLastDiagId(), 256);
}

TEST_F(SyncBuiltins, MessagesForValuesThatAreNotHandles)
{
    std::string out;
    EXPECT_EQ(run(krvBuiFunc_mutex_unlock, {5}, nullptr, &out), 0);
    EXPECT_EQ(out, "Error R256: sync.krv line 7: Illegal mutex handle 0x5 is specified to mutex_unlock().\n\n");
    EXPECT_EQ(run(krvBuiFunc_mutex_delete, {0}, nullptr, &out), 0);
    EXPECT_EQ(out, "Error R256: sync.krv line 7: Illegal mutex handle (nil) is specified to mutex_delete().\n\n");
    int64_t c = run(krvBuiFunc_cond_create, {});
    EXPECT_EQ(run(krvBuiFunc_cond_wait, {c, 24}, nullptr, &out), 0);
    EXPECT_EQ(out, "Error R256: sync.krv line 7: Illegal mutex handle 0x18 is specified to the 2nd arg. of "
                   "cond_wait().\n\n");
    EXPECT_EQ(run(krvBuiFunc_cond_wait, {40, 24}, nullptr, &out), 0);
    EXPECT_EQ(out, "Error R256: sync.krv line 7: Illegal condition variable handle 0x28 is specified to the 1st "
                   "arg. of cond_wait().\n\n");
    EXPECT_EQ(run(krvBuiFunc_cond_broadcast, {c + 8}, nullptr, &out), 0);
    EXPECT_NE(out.find("to the 1st arg. of cond_broadcast()."), std::string::npos) << out;
    EXPECT_EQ(run(krvBuiFunc_cond_broadcast, {c}), 1);
}

TEST_F(SyncBuiltins, BoundedWaitReturnsWithTheMutexHeld)
{
    int64_t m = run(krvBuiFunc_mutex_create, {});
    int64_t c = run(krvBuiFunc_cond_create, {});
    ASSERT_EQ(run(krvBuiFunc_mutex_lock, {m}), 1);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(run(krvBuiFunc_cond_wait, {c, m}), 1);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 40);
    krvSyncBlock_t *pBlock = krvSyncGet(static_cast<uint64_t>(m), KRV_HANDLE_KIND_MUTEX);
    ASSERT_NE(pBlock, nullptr);
    EXPECT_EQ(sysMutexIsOwner(static_cast<sysMutex_t *>(pBlock->pObj)), 1);
    krvSyncPut(pBlock);
    EXPECT_EQ(run(krvBuiFunc_mutex_unlock, {m}), 1);
    EXPECT_EQ(run(krvBuiFunc_mutex_delete, {m}), 1);
}

TEST_F(SyncBuiltins, JoinRefusesNumbersOfZeroOrLess)
{
    std::string out;
    int ok = 0;
    EXPECT_EQ(run(krvBuiFunc_task_join, {-4}, &ok, &out), 0);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(out, "Error R351: sync.krv line 7: illegal task handle 0\n\n");
    EXPECT_EQ(run(krvBuiFunc_task_join, {123456}, &ok, &out), 0);
    EXPECT_EQ(out, "");
}

} // namespace
