#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;

TEST(Faults, InjectedStatusForTheNthCommand) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(4096);
    h.c->faults().injectStatus(false, NVM_READ, 3, 0x0281);
    EXPECT_EQ(h.rw(false, 1, 0, 1, b), 0);
    EXPECT_EQ(h.rw(true, 1, 0, 1, b), 0);   // other opcodes do not count
    EXPECT_EQ(h.rw(false, 1, 0, 1, b), 0);
    EXPECT_EQ(h.rw(false, 1, 0, 1, b), 0x0281);
    EXPECT_EQ(h.rw(false, 1, 0, 1, b), 0);   // once only
    h.c->faults().injectStatus(true, ADMIN_IDENTIFY, 1, st(SCT_GENERIC, SC_INTERNAL));
    EXPECT_EQ(h.identify(CNS_CTRL, 0, b), st(SCT_GENERIC, SC_INTERNAL));
}

TEST(Faults, LatencyDelaysCompletions) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(4096);
    h.c->faults().setLatency(20000, 20000);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(h.rw(false, 1, 0, 1, b), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(19));
    h.c->faults().setLatency(100, 3000);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(h.rw(false, 1, i, 1, b), 0);
    h.c->faults().setLatency(0, 0);
}

TEST(Faults, WithheldCompletionsCanBeAbortedOrReleased) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(4096);
    h.c->faults().setWithholdCompletions(true);
    Sqe e = SimHost::cmd(NVM_READ, 1);
    e.setPrp1(b.nBus);
    const uint16_t nCid = h.push(1, e);
    const uint16_t nCid2 = h.push(1, e);
    Cqe r{};
    EXPECT_FALSE(h.reap(1, &r, 100));
    h.c->faults().setWithholdCompletions(false);
    // Abort the first; its completion comes with Command Abort Requested.
    Sqe ab = SimHost::cmd(ADMIN_ABORT);
    ab.setCdw10((static_cast<uint32_t>(nCid) << 16) | 1);
    Cqe ar{};
    ASSERT_EQ(h.run(0, ab, &ar), 0);
    EXPECT_EQ(ar.dw0() & 1, 0u);
    ASSERT_TRUE(h.reap(1, &r));
    EXPECT_EQ(r.cid(), nCid);
    EXPECT_EQ(r.status(), st(SCT_GENERIC, SC_ABORT_REQ, false));
    h.c->faults().releaseWithheld();
    ASSERT_TRUE(h.reap(1, &r));
    EXPECT_EQ(r.cid(), nCid2);
    EXPECT_EQ(r.status(), 0);
}

TEST(Faults, DeletingAQueueAbortsItsWithheldCommands) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    h.c->faults().setWithholdCompletions(true);
    const uint16_t nCid = h.push(1, SimHost::cmd(NVM_FLUSH, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    h.c->faults().setWithholdCompletions(false);
    Sqe d = SimHost::cmd(ADMIN_DELETE_SQ);
    d.setCdw10(1);
    ASSERT_EQ(h.run(0, d), 0);
    Cqe r{};
    ASSERT_TRUE(h.reap(1, &r));
    EXPECT_EQ(r.cid(), nCid);
    EXPECT_EQ(r.status(), st(SCT_GENERIC, SC_ABORT_QUEUE, false));
}

TEST(Faults, BogusCid) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    h.c->faults().injectBogusCid(false, NVM_FLUSH, 1);
    const uint16_t nCid = h.push(1, SimHost::cmd(NVM_FLUSH, 1));
    Cqe r{};
    ASSERT_TRUE(h.reap(1, &r));
    EXPECT_NE(r.cid(), nCid);
}

TEST(Faults, NeverReadyAndStuckShutdown) {
    SimHost h(R"({"devices":[{"controllers":[{"faults":{"neverReady":true,"shutdownNeverCompletes":true}}]}]})");
    EXPECT_FALSE([&] {
        h.pciEnable();
        SimBuffer a = h.alloc(4096, true);
        h.c->mmioWrite32(REG_AQA, Aqa::make(16, 16).raw);
        h.c->mmioWrite32(REG_ASQ, static_cast<uint32_t>(a.nBus));
        h.c->mmioWrite32(REG_ASQ + 4, static_cast<uint32_t>(a.nBus >> 32));
        h.c->mmioWrite32(REG_ACQ, static_cast<uint32_t>(a.nBus + 2048));
        h.c->mmioWrite32(REG_ACQ + 4, static_cast<uint32_t>(a.nBus >> 32));
        h.c->mmioWrite32(REG_CC, Cc::make(0).raw);
        return h.waitCsts(CSTS_RDY, CSTS_RDY, 100);
    }());
    h.c->mmioWrite32(REG_CC, 0);
    h.c->faults().setNeverReady(false);
    ASSERT_TRUE(h.enable());
    h.c->mmioWrite32(REG_CC, Cc{h.c->mmioRead32(REG_CC)}.withShn(CC_SHN_ABRUPT).raw);
    EXPECT_FALSE(h.waitCsts(CSTS_SHST_MASK, SHST_COMPLETE << CSTS_SHST_SHIFT, 100));
    EXPECT_EQ(Csts{h.csts()}.shst(), SHST_OCCURRING);
}

TEST(Faults, KeepAliveExpiryStopsTheController) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    Sqe s = SimHost::cmd(ADMIN_SET_FEATURES);
    s.setCdw10(NVME_FEAT_FID_KATO);
    s.setCdw11(100);
    ASSERT_EQ(h.run(0, s), 0);
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        ASSERT_EQ(h.run(0, SimHost::cmd(ADMIN_KEEP_ALIVE)), 0);
    }
    EXPECT_EQ(h.csts() & CSTS_CFS, 0u);
    EXPECT_TRUE(h.waitCsts(CSTS_CFS, CSTS_CFS, 500));
    // A stopped controller takes no more commands.
    EXPECT_EQ(h.run(0, SimHost::cmd(ADMIN_KEEP_ALIVE), nullptr, 100), 0xFFFF);
}
