// Ring behaviour: phase tags across wrap-arounds, full submission and
// completion queues, and doorbell writes the controller must refuse.
#include "HostFixture.h"

#include <set>
#include <thread>

using namespace nvmehost;
using namespace nvmewire;

namespace {

using HostQueueRing = HostFixture;

// Phase bit of a raw CQ slot, read the way the controller publishes it.
bool slotPhase(HostCq &q, uint32_t nSlot)
{
    auto *p = reinterpret_cast<uint16_t *>(q.ring.host() + size_t(nSlot) * 16 + 14);
    return std::atomic_ref<uint16_t>(*p).load(std::memory_order_acquire) & 1;
}

TEST_F(HostQueueRing, PhaseTagFlipsOnEveryWrapOfAnIoQueue)
{
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(4));
    NamespaceInfo ns = firstNamespace();
    HostSq &sq = *ctl->sq(1);
    HostCq &cq = *ctl->cq(1);
    for (int i = 0; i < 4 * 4 + 1; ++i) {
        bool bPhaseBefore = cq.bPhase;
        uint32_t nSlot = cq.nHead;
        Sqe cmd = makeRw(NVM_FLUSH, ns.nNsid, 0, 1);
        cmd.setCdw10(0);
        cmd.setCdw11(0);
        cmd.setCdw12(0);
        Completion c = ctl->execute(sq, cmd);
        ASSERT_TRUE(c.ok()) << "command " << i << " status " << std::hex << c.status() << c.bTimedOut;
        EXPECT_EQ(slotPhase(cq, nSlot), bPhaseBefore) << "command " << i;
        EXPECT_EQ(c.sqhd(), sq.nTail) << "command " << i;
        EXPECT_EQ(c.sqid(), 1);
        Completion extra;
        EXPECT_FALSE(cq.peek(&extra)) << "a stale entry looked new after command " << i;
    }
    EXPECT_TRUE(ctl->strays().empty());
}

TEST_F(HostQueueRing, PhaseTagFlipsOnTheSmallestAdminQueue)
{
    ASSERT_NO_FATAL_FAILURE(bringUp(2));
    uint8_t aId[4096];
    for (int i = 0; i < 7; ++i) {
        Completion c = ctl->identify(CNS_CTRL, 0, 0, aId);
        ASSERT_TRUE(c.ok()) << "command " << i;
        EXPECT_EQ(c.sqhd(), ctl->adminSq().nTail);
    }
}

TEST_F(HostQueueRing, FullSubmissionQueueRunsEveryEntry)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    ASSERT_TRUE(ctl->createIoCq(1, 16).ok());
    ASSERT_TRUE(ctl->createIoSq(1, 8, 1).ok());
    NamespaceInfo ns = firstNamespace();
    HostSq &sq = *ctl->sq(1);
    std::vector<DmaMemory> bufs;
    for (uint16_t i = 0; i < 7; ++i) {
        bufs.push_back(dataBuffer(ns.nBlockSize, ctl->pageSize()));
        Sqe cmd = makeRw(NVM_READ, ns.nNsid, i, 1);
        cmd.setPrp1(bufs.back().bus());
        cmd.setCid(uint16_t(100 + i));
        ASSERT_TRUE(sq.push(cmd));
    }
    Sqe one{};
    EXPECT_FALSE(sq.push(one)) << "seven entries fill a ring of eight";
    ctl->ringSq(sq);
    std::set<uint16_t> cids;
    for (uint16_t i = 0; i < 7; ++i) {
        Completion c = ctl->waitCompletion(*ctl->cq(1), 1, uint16_t(100 + i));
        ASSERT_FALSE(c.bTimedOut) << "CID " << 100 + i;
        EXPECT_TRUE(c.ok());
        cids.insert(c.cid());
    }
    EXPECT_EQ(cids.size(), 7u);
    EXPECT_EQ(sq.nHead, sq.nTail);
}

TEST_F(HostQueueRing, FullCompletionQueueIsNeverOverwritten)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    ASSERT_TRUE(ctl->createIoCq(1, 4).ok());
    ASSERT_TRUE(ctl->createIoSq(1, 16, 1).ok());
    NamespaceInfo ns = firstNamespace();
    HostSq &sq = *ctl->sq(1);
    HostCq &cq = *ctl->cq(1);
    constexpr uint16_t nCmds = 10;
    for (uint16_t i = 0; i < nCmds; ++i) {
        Sqe cmd = makeRw(NVM_FLUSH, ns.nNsid, 0, 1);
        cmd.setCdw10(0);
        cmd.setCdw11(0);
        cmd.setCdw12(0);
        cmd.setCid(uint16_t(200 + i));
        ASSERT_TRUE(sq.push(cmd));
    }
    ctl->ringSq(sq);
    // Wait until the controller posted what fits (three entries), give it
    // a little longer to overrun, then look at the fourth slot: it stays
    // untouched while the host does not move the head.
    auto tFill = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!slotPhase(cq, 2) && std::chrono::steady_clock::now() < tFill)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(slotPhase(cq, 0));
    EXPECT_TRUE(slotPhase(cq, 1));
    EXPECT_TRUE(slotPhase(cq, 2));
    EXPECT_FALSE(slotPhase(cq, 3)) << "a full CQ was written past its head";

    std::set<uint16_t> cids;
    auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    Completion c;
    while (cids.size() < nCmds && std::chrono::steady_clock::now() < tEnd) {
        bool bAny = false;
        while (ctl->reap(cq, &c)) {
            EXPECT_TRUE(c.ok());
            EXPECT_TRUE(cids.insert(c.cid()).second) << "CID " << c.cid() << " completed twice";
            bAny = true;
        }
        if (bAny)
            ctl->ringCq(cq);
        std::this_thread::yield();
    }
    EXPECT_EQ(cids.size(), size_t(nCmds));
    EXPECT_EQ(*cids.begin(), 200);
    EXPECT_EQ(*cids.rbegin(), 200 + nCmds - 1);
}

// Waits for an Asynchronous Event Request's completion.
Completion waitEvent(HostController &ctl, uint16_t nCid, int nMs)
{
    return ctl.waitCompletion(ctl.adminCq(), 0, nCid, nMs);
}

TEST_F(HostQueueRing, InvalidDoorbellWritesRaiseAnErrorEvent)
{
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(8));
    Sqe aer{};
    aer.setOpc(0x0C);
    ASSERT_TRUE(ctl->submit(ctl->adminSq(), aer));
    // A tail beyond the ring: Invalid Doorbell Write Value (info 01h).
    ctl->setReg32(ctl->sqDoorbell(1), 100);
    Completion c = waitEvent(*ctl, aer.cid(), 2000);
    ASSERT_FALSE(c.bTimedOut) << "no asynchronous event";
    EXPECT_TRUE(c.ok());
    EXPECT_EQ(c.dw0() & 7, 0u) << "event type error status";
    EXPECT_EQ((c.dw0() >> 8) & 0xFF, 0x01u) << "invalid doorbell write value";
    // The controller keeps serving the admin queue.
    uint8_t aId[4096];
    EXPECT_TRUE(ctl->identify(CNS_CTRL, 0, 0, aId).ok());
    // Reading the Error Information log unmasks error events again, so that
    // later tests do not depend on how a reset treats a masked event.
    DmaMemory log = dataBuffer(4096, ctl->pageSize());
    Sqe g{};
    g.setOpc(0x02);
    g.setNsid(0xFFFFFFFF);
    g.setPrp1(log.bus());
    g.setCdw10((15u << 16) | 0x01);     // one 64-byte entry, RAE clear
    EXPECT_TRUE(ctl->admin(g).ok());
}

TEST_F(HostQueueRing, DoorbellOfAQueueThatDoesNotExistRaisesAnErrorEvent)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    Sqe aer{};
    aer.setOpc(0x0C);
    ASSERT_TRUE(ctl->submit(ctl->adminSq(), aer));
    ctl->setReg32(ctl->sqDoorbell(5), 1);
    Completion c = waitEvent(*ctl, aer.cid(), 2000);
    ASSERT_FALSE(c.bTimedOut) << "no asynchronous event";
    EXPECT_EQ(c.dw0() & 7, 0u);
    EXPECT_EQ((c.dw0() >> 8) & 0xFF, 0x00u) << "write to invalid doorbell register";
}

} // namespace
