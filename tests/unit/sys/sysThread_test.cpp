#include "sysThread.h"
#include "sysTime.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

// Restores the bounded wait after a test that shortened it.
class WaitLimit {
public:
    explicit WaitLimit(int64_t nMs) : m_nOld(sysCondSetWaitLimitMs(nMs)) {}
    ~WaitLimit() { sysCondSetWaitLimitMs(m_nOld); }

private:
    int64_t m_nOld;
};

int64_t elapsedMs(sysTimeVal_t t0)
{
    return sysTimeElapsedUs(t0, sysTimeNow()) / 1000;
}

struct Shared {
    sysMutex_t *pMutex;
    sysCond_t *pCond;
    std::atomic<int> nStage{0};
    bool bFlag = false;
};

} // namespace

TEST(SysTask, CreateAndJoinPassData)
{
    struct Work {
        int nIn;
        int nOut;
        std::thread::id id;
    } w{20, 0, {}};
    sysTask_t *t = sysTaskCreate(
        [](void *p) -> void * {
            Work *pw = static_cast<Work *>(p);
            pw->nOut = pw->nIn * 2 + 2;
            pw->id = std::this_thread::get_id();
            return nullptr;
        },
        &w);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(0, sysTaskJoin(t));
    EXPECT_EQ(42, w.nOut);   // visible after the join
    EXPECT_NE(std::this_thread::get_id(), w.id);
}

TEST(SysTask, ManyThreads)
{
    std::atomic<int> nCount{0};
    sysTask_t *tasks[16];
    for (auto &t : tasks)
        t = sysTaskCreate(
            [](void *p) -> void * {
                static_cast<std::atomic<int> *>(p)->fetch_add(1);
                return nullptr;
            },
            &nCount);
    for (auto *t : tasks)
        sysTaskJoin(t);
    EXPECT_EQ(16, nCount.load());
}

TEST(SysTaskDeath, JoinNullFailsTheAssertion)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({ fflush(stdout); dup2(2, 1); sysTaskJoin(nullptr); }, ::testing::ExitedWithCode(1),
                "^\"sysTask_posix.cpp\" line [0-9]+: assertion \\(pTask != nullptr\\) fail\n$");
}

TEST(SysTaskDeath, JoinItselfIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            fflush(stdout);
            fflush(stdout);
            dup2(2, 1);
            static std::atomic<sysTask_t *> self{nullptr};
            sysTask_t *t = sysTaskCreate(
                [](void *) -> void * {
                    sysTask_t *p;
                    while (!(p = self.load()))
                        std::this_thread::yield();
                    sysTaskJoin(p);
                    return nullptr;
                },
                nullptr);
            self.store(t);
            sysSleepMs(10000);
        },
        ::testing::ExitedWithCode(1), "sysTaskJoin : ");
}

TEST(SysMutex, RecursiveForTheOwner)
{
    sysMutex_t *m = sysMutexCreate();
    sysMutexLock(m);
    sysMutexLock(m);   // would deadlock if not recursive
    std::atomic<bool> bGot{false};
    struct Arg {
        sysMutex_t *m;
        std::atomic<bool> *pGot;
    } a{m, &bGot};
    sysTask_t *t = sysTaskCreate(
        [](void *p) -> void * {
            Arg *pa = static_cast<Arg *>(p);
            sysMutexLock(pa->m);
            pa->pGot->store(true);
            sysMutexUnlock(pa->m);
            return nullptr;
        },
        &a);
    sysMutexUnlock(m);
    sysSleepMs(50);
    EXPECT_FALSE(bGot.load());   // still held once
    sysMutexUnlock(m);
    sysTaskJoin(t);
    EXPECT_TRUE(bGot.load());
    sysMutexDelete(m);
}

TEST(SysMutex, UnlockByANonOwnerDoesNothing)
{
    sysMutex_t *m = sysMutexCreate();
    EXPECT_EQ(0, sysMutexIsOwner(m));
    sysMutexUnlock(m);   // not held: ignored
    sysMutexLock(m);
    EXPECT_EQ(1, sysMutexIsOwner(m));
    std::atomic<int> nOwnerSeen{-1};
    struct Arg {
        sysMutex_t *m;
        std::atomic<int> *pSeen;
    } a{m, &nOwnerSeen};
    sysTask_t *t = sysTaskCreate(
        [](void *p) -> void * {
            Arg *pa = static_cast<Arg *>(p);
            pa->pSeen->store(sysMutexIsOwner(pa->m));
            sysMutexUnlock(pa->m);   // held by another thread: ignored
            return nullptr;
        },
        &a);
    sysTaskJoin(t);
    EXPECT_EQ(0, nOwnerSeen.load());
    EXPECT_EQ(1, sysMutexIsOwner(m));   // still ours
    sysMutexUnlock(m);
    EXPECT_EQ(0, sysMutexIsOwner(m));
    sysMutexDelete(m);
}

TEST(SysCond, WaitEndsAtTheBoundWithoutBroadcast)
{
    WaitLimit limit(100);
    sysMutex_t *m = sysMutexCreate();
    sysCond_t *c = sysCondCreate();
    sysMutexLock(m);
    sysTimeVal_t t0 = sysTimeNow();
    sysCondWait(c, m);
    int64_t nMs = elapsedMs(t0);
    sysMutexUnlock(m);
    EXPECT_GE(nMs, 90);
    EXPECT_LT(nMs, 5000);
    sysCondDelete(c);
    sysMutexDelete(m);
}

TEST(SysCond, DefaultBoundIsOneHundredSeconds)
{
    int64_t nOld = sysCondSetWaitLimitMs(5);
    EXPECT_EQ(100000, nOld);
    EXPECT_EQ(5, sysCondSetWaitLimitMs(nOld));
}

TEST(SysCond, WaitReleasesTheMutexAndBroadcastWakes)
{
    WaitLimit limit(60000);
    Shared s;
    s.pMutex = sysMutexCreate();
    s.pCond = sysCondCreate();
    sysTask_t *t = sysTaskCreate(
        [](void *p) -> void * {
            Shared *ps = static_cast<Shared *>(p);
            sysMutexLock(ps->pMutex);
            ps->nStage = 1;
            while (!ps->bFlag)
                sysCondWait(ps->pCond, ps->pMutex);
            ps->nStage = 2;
            sysMutexUnlock(ps->pMutex);
            return nullptr;
        },
        &s);
    while (s.nStage.load() != 1)
        sysSleepMs(1);
    sysTimeVal_t t0 = sysTimeNow();
    sysMutexLock(s.pMutex);   // only possible while the waiter waits
    s.bFlag = true;
    sysCondBroadcast(s.pCond);
    sysMutexUnlock(s.pMutex);
    sysTaskJoin(t);
    EXPECT_EQ(2, s.nStage.load());
    EXPECT_LT(elapsedMs(t0), 10000);   // woken, not timed out
    sysCondDelete(s.pCond);
    sysMutexDelete(s.pMutex);
}

TEST(SysCond, WaitReleasesEveryLevelOfARecursiveHold)
{
    WaitLimit limit(60000);
    Shared s;
    s.pMutex = sysMutexCreate();
    s.pCond = sysCondCreate();
    sysTask_t *t = sysTaskCreate(
        [](void *p) -> void * {
            Shared *ps = static_cast<Shared *>(p);
            sysMutexLock(ps->pMutex);
            sysMutexLock(ps->pMutex);
            ps->nStage = 1;
            while (!ps->bFlag)
                sysCondWait(ps->pCond, ps->pMutex);
            // Held twice again: one unlock leaves it held.
            sysMutexUnlock(ps->pMutex);
            ps->nStage = sysMutexIsOwner(ps->pMutex) ? 2 : 3;
            sysMutexUnlock(ps->pMutex);
            return nullptr;
        },
        &s);
    while (s.nStage.load() != 1)
        sysSleepMs(1);
    sysTimeVal_t t0 = sysTimeNow();
    sysMutexLock(s.pMutex);
    s.bFlag = true;
    sysCondBroadcast(s.pCond);
    sysMutexUnlock(s.pMutex);
    sysTaskJoin(t);
    EXPECT_EQ(2, s.nStage.load());
    EXPECT_LT(elapsedMs(t0), 10000);
    sysCondDelete(s.pCond);
    sysMutexDelete(s.pMutex);
}
