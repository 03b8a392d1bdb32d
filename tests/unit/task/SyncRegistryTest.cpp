// The registry of mutex and condition blocks: only live blocks of the
// right kind pass, whatever else a script passes as a handle; a block
// deleted while in use stays usable until its last user leaves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "sysThread.h"
#include "task/krvTaskInt.h"

namespace {

uint64_t valueOf(const void *p)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
}

krvSyncBlock_t *newMutexBlock()
{
    return krvSyncNew(KRV_HANDLE_KIND_MUTEX, sysMutexCreate());
}

TEST(SyncRegistry, ForgedValuesAreRefused)
{
    EXPECT_EQ(krvSyncGet(0, KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncGet(5, KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncGet(0x1000, KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncGet(~uint64_t(0) & ~uint64_t(3), KRV_HANDLE_KIND_COND), nullptr);
    // A block that looks right but was never handed out.
    auto *pFake = static_cast<krvSyncBlock_t *>(calloc(1, sizeof(krvSyncBlock_t)));
    pFake->hdr.pSelf = pFake;
    pFake->hdr.nSig = KRV_HANDLE_SIG;
    pFake->hdr.nKind = KRV_HANDLE_KIND_MUTEX;
    EXPECT_EQ(krvSyncGet(valueOf(pFake), KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncDelete(valueOf(pFake), KRV_HANDLE_KIND_MUTEX), 0);
    free(pFake);
}

TEST(SyncRegistry, KindsAreKeptApart)
{
    krvSyncBlock_t *pMutex = newMutexBlock();
    krvSyncBlock_t *pCond = krvSyncNew(KRV_HANDLE_KIND_COND, sysCondCreate());
    ASSERT_NE(pMutex, nullptr);
    ASSERT_NE(pCond, nullptr);
    EXPECT_EQ(pMutex->hdr.pSelf, pMutex);
    EXPECT_EQ(pMutex->hdr.nSig, KRV_HANDLE_SIG);
    EXPECT_EQ(krvSyncGet(valueOf(pMutex), KRV_HANDLE_KIND_COND), nullptr);
    EXPECT_EQ(krvSyncGet(valueOf(pCond), KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncDelete(valueOf(pCond), KRV_HANDLE_KIND_MUTEX), 0);
    krvSyncBlock_t *p = krvSyncGet(valueOf(pMutex), KRV_HANDLE_KIND_MUTEX);
    EXPECT_EQ(p, pMutex);
    krvSyncPut(p);
    // Unaligned values next to a live block do not reach it.
    EXPECT_EQ(krvSyncGet(valueOf(pMutex) + 1, KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncGet(valueOf(pMutex) + 8, KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncDelete(valueOf(pMutex), KRV_HANDLE_KIND_MUTEX), 1);
    EXPECT_EQ(krvSyncDelete(valueOf(pCond), KRV_HANDLE_KIND_COND), 1);
}

TEST(SyncRegistry, DeletedHandleIsRefused)
{
    krvSyncBlock_t *pMutex = newMutexBlock();
    uint64_t v = valueOf(pMutex);
    EXPECT_EQ(krvSyncDelete(v, KRV_HANDLE_KIND_MUTEX), 1);
    EXPECT_EQ(krvSyncGet(v, KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncDelete(v, KRV_HANDLE_KIND_MUTEX), 0);
}

TEST(SyncRegistry, DeleteWhileInUseWaitsForTheLastUser)
{
    // A condition block: deleted for new users at once, whole for the use
    // under way, freed when that use ends.
    krvSyncBlock_t *pCond = krvSyncNew(KRV_HANDLE_KIND_COND, sysCondCreate());
    uint64_t vc = valueOf(pCond);
    krvSyncBlock_t *pCondUse = krvSyncGet(vc, KRV_HANDLE_KIND_COND);
    ASSERT_EQ(pCondUse, pCond);
    EXPECT_EQ(krvSyncDelete(vc, KRV_HANDLE_KIND_COND), 1);
    EXPECT_EQ(krvSyncGet(vc, KRV_HANDLE_KIND_COND), nullptr);
    EXPECT_EQ(pCondUse->hdr.nSig, KRV_HANDLE_SIG);
    krvSyncPut(pCondUse);  // frees the block (the sanitizer build checks)

    // A mutex that is waited for (a use under way) or held is not deleted:
    // its holder can still unlock it and its waiters still get it.
    krvSyncBlock_t *pMutex = newMutexBlock();
    uint64_t v = valueOf(pMutex);
    krvSyncBlock_t *pUse = krvSyncGet(v, KRV_HANDLE_KIND_MUTEX);
    ASSERT_EQ(pUse, pMutex);
    EXPECT_EQ(krvSyncDelete(v, KRV_HANDLE_KIND_MUTEX), -1);
    sysMutexLock(static_cast<sysMutex_t *>(pUse->pObj));
    krvSyncPut(pUse);
    EXPECT_EQ(krvSyncDelete(v, KRV_HANDLE_KIND_MUTEX), -1);     // held
    ASSERT_EQ(krvSyncGet(v, KRV_HANDLE_KIND_MUTEX), pMutex);
    sysMutexUnlock(static_cast<sysMutex_t *>(pMutex->pObj));
    krvSyncPut(pMutex);
    EXPECT_EQ(krvSyncDelete(v, KRV_HANDLE_KIND_MUTEX), 1);      // idle: deleted
    EXPECT_EQ(krvSyncGet(v, KRV_HANDLE_KIND_MUTEX), nullptr);
}

TEST(SyncRegistry, ConcurrentUseAndDelete)
{
    for (int round = 0; round < 50; round++) {
        krvSyncBlock_t *pMutex = newMutexBlock();
        uint64_t v = valueOf(pMutex);
        std::thread user([v] {
            for (int i = 0; i < 200; i++) {
                if (krvSyncBlock_t *p = krvSyncGet(v, KRV_HANDLE_KIND_MUTEX)) {
                    sysMutexLock(static_cast<sysMutex_t *>(p->pObj));
                    sysMutexUnlock(static_cast<sysMutex_t *>(p->pObj));
                    krvSyncPut(p);
                }
            }
        });
        std::this_thread::yield();
        // Refused while the user holds or waits for it; deleted once idle.
        int rc;
        while ((rc = krvSyncDelete(v, KRV_HANDLE_KIND_MUTEX)) == -1)
            std::this_thread::yield();
        EXPECT_EQ(rc, 1);
        user.join();
    }
}

TEST(SyncRegistry, FreeAllReleasesWhatScriptsLeft)
{
    krvSyncBlock_t *pMutex = newMutexBlock();
    krvSyncBlock_t *pCond = krvSyncNew(KRV_HANDLE_KIND_COND, sysCondCreate());
    uint64_t vm = valueOf(pMutex), vc = valueOf(pCond);
    krvSyncFreeAll();
    EXPECT_EQ(krvSyncGet(vm, KRV_HANDLE_KIND_MUTEX), nullptr);
    EXPECT_EQ(krvSyncGet(vc, KRV_HANDLE_KIND_COND), nullptr);
}

} // namespace
