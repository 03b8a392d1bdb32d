#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

TEST(Reset, ControllerResetDropsQueuesAndOutstandingWork) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(4096);
    std::memset(b.p, 0x42, 4096);
    ASSERT_EQ(h.rw(true, 1, 7, 8, b), 0);
    h.c->faults().setWithholdCompletions(true);
    h.push(1, SimHost::cmd(NVM_FLUSH, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(h.c->withheldCount(), 1u);
    h.c->faults().setWithholdCompletions(false);
    const uint64_t nResets = h.c->resets();
    ASSERT_TRUE(h.disable());
    EXPECT_EQ(h.c->resets(), nResets + 1);
    EXPECT_EQ(h.c->withheldCount(), 0u);
    // Queues are gone: after re-enabling, the old I/O queue id is free again
    // and the data is still there.
    ASSERT_TRUE(h.bringUp());
    std::memset(b.p, 0, 4096);
    ASSERT_EQ(h.rw(false, 1, 7, 8, b), 0);
    EXPECT_EQ(b.p[100], 0x42);
}

TEST(Reset, FeaturesReturnToDefaultsOnReset) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    Sqe s = SimHost::cmd(ADMIN_SET_FEATURES);
    s.setCdw10(NVME_FEAT_FID_ARBITRATION);
    s.setCdw11(0x0303);
    ASSERT_EQ(h.run(0, s), 0);
    ASSERT_TRUE(h.disable());
    ASSERT_TRUE(h.enable());
    Sqe g = SimHost::cmd(ADMIN_GET_FEATURES);
    g.setCdw10(NVME_FEAT_FID_ARBITRATION);
    Cqe r{};
    ASSERT_EQ(h.run(0, g, &r), 0);
    EXPECT_EQ(r.dw0(), 0u);
}

TEST(Reset, SubsystemResetReachesEveryController) {
    SimHost h(R"({"devices":[{"controllerCount":2,"timings":{"linkDownMs":30}}]})");
    ASSERT_TRUE(h.bringUp());
    nvmesim::Controller *c2 = h.bus->function(1).pCtrl;
    EXPECT_EQ(h.bus->function(1).nFunction, 1u);
    c2->cfgWrite(CFG_COMMAND, CMD_MEMORY | CMD_BUS_MASTER, 2);
    EXPECT_EQ(c2->mmioRead32(REG_VS), 0x00020000u);
    h.c->mmioWrite32(REG_NSSR, NSSR_RESET_VALUE);
    uint32_t v = 0;
    c2->cfgRead(CFG_VENDOR_ID, &v, 4);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    c2->cfgRead(CFG_COMMAND, &v, 2);
    EXPECT_EQ(v & 6, 0u);   // configuration back to its reset values
    c2->cfgWrite(CFG_COMMAND, CMD_MEMORY | CMD_BUS_MASTER, 2);
    EXPECT_EQ(c2->mmioRead32(REG_CSTS) & CSTS_NSSRO, CSTS_NSSRO);
}

TEST(Reset, HotResetAndPowerCycle) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    h.bus->device(0).hotReset();
    uint32_t v = 0;
    h.c->cfgRead(CFG_COMMAND, &v, 2);
    EXPECT_EQ(v & 6, 0u);
    h.c->cfgRead(CFG_BAR0, &v, 4);
    EXPECT_EQ(v & ~0xFu, 0u);   // BAR0 unassigned after a conventional reset
    ASSERT_TRUE(h.bringUp());
    // A power cycle without a shutdown counts as unsafe; after a completed
    // shutdown it does not.
    const uint64_t nUnsafe = h.bus->device(0).unsafeShutdowns();
    h.bus->device(0).powerCycle();
    EXPECT_EQ(h.bus->device(0).unsafeShutdowns(), nUnsafe + 1);
    h.c->cfgRead(CFG_BAR0, &v, 4);
    EXPECT_NE(v & ~0xFu, 0u);   // the firmware assigned BAR0 again
    ASSERT_TRUE(h.enable());
    h.c->mmioWrite32(REG_CC, Cc{h.c->mmioRead32(REG_CC)}.withShn(CC_SHN_NORMAL).raw);
    ASSERT_TRUE(h.waitCsts(CSTS_SHST_MASK, SHST_COMPLETE << CSTS_SHST_SHIFT));
    const uint64_t nCycles = h.bus->device(0).powerCycles();
    h.bus->device(0).powerCycle();
    EXPECT_EQ(h.bus->device(0).unsafeShutdowns(), nUnsafe + 1);
    EXPECT_EQ(h.bus->device(0).powerCycles(), nCycles + 1);
}

TEST(Reset, ResetWhileBusy) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    ASSERT_EQ(h.createCq(1, 1024), 0);
    ASSERT_EQ(h.createSq(1, 1, 1024), 0);
    SimBuffer b = h.alloc(4096);
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 100; ++i) {
            Sqe e = SimHost::cmd(NVM_READ, 1);
            e.setPrp1(b.nBus);
            e.setCdw12(7);
            h.push(1, e);
        }
        h.c->mmioWrite32(REG_CC, 0);   // mid-flight
        ASSERT_TRUE(h.waitCsts(CSTS_RDY, 0));
        ASSERT_TRUE(h.enable());
        ASSERT_EQ(h.createCq(1, 1024), 0);
        ASSERT_EQ(h.createSq(1, 1, 1024), 0);
    }
    EXPECT_EQ(h.rw(false, 1, 0, 8, b), 0);
}
