// Slot power through the platform layer: what a file-backed namespace
// keeps across a power loss, what the functions answer while off, when the
// link returns, and the unsafe-shutdown count of the SMART log.
#include "PciAccess.h"
#include "SimHost.h"

#include <unistd.h>

using namespace nvmehost;
using namespace nvmewire;

namespace {

struct Smart {
    uint64_t nUnsafe = 0;
    uint64_t nPowerCycles = 0;
};

Smart smart(SimHost &h) {
    SimBuffer b = h.alloc(512);
    Sqe e = SimHost::cmd(ADMIN_GET_LOG_PAGE, NVME_NSID_ALL);
    e.setPrp1(b.nBus);
    e.setCdw10(NVME_LOG_LID_SMART | (127u << 16));
    EXPECT_EQ(h.run(0, e), 0);
    const auto *p = reinterpret_cast<const nvme_smart_log *>(b.p);
    Smart s;
    std::memcpy(&s.nUnsafe, p->unsafe_shutdowns, 8);
    std::memcpy(&s.nPowerCycles, p->power_cycles, 8);
    return s;
}

// Eight 512-byte blocks at nSlba filled with nByte; FUA on request.
uint16_t write8(SimHost &h, uint64_t nSlba, uint8_t nByte, bool bFua = false) {
    SimBuffer b = h.alloc(4096);
    std::memset(b.p, nByte, 4096);
    Sqe e = SimHost::cmd(NVM_WRITE, 1);
    e.setPrp1(b.nBus);
    e.setCdw10(static_cast<uint32_t>(nSlba));
    e.setCdw12(7 | (bFua ? CDW12_FUA : 0));
    return h.run(1, e);
}

// The byte all eight blocks hold, or -1 when they differ.
int read8(SimHost &h, uint64_t nSlba) {
    SimBuffer b = h.alloc(4096);
    if (h.rw(false, 1, nSlba, 8, b) != 0)
        return -2;
    for (size_t i = 1; i < 4096; ++i)
        if (b.p[i] != b.p[0])
            return -1;
    return b.p[0];
}

uint16_t setVwc(SimHost &h, bool bOn) {
    Sqe e = SimHost::cmd(ADMIN_SET_FEATURES);
    e.setCdw10(NVME_FEAT_FID_VOLATILE_WC);
    e.setCdw11(bOn ? 1 : 0);
    return h.run(0, e);
}

// Slot power off and on through the platform; after power on, waits for the
// vendor id to answer again and brings the controller up.
void powerCycle(SimHost &h, bool bExpectLinkDelay) {
    ASSERT_EQ(h.plat->slotPower(h.ctl->device(), false), 1);
    ASSERT_EQ(h.plat->slotPower(h.ctl->device(), true), 1);
    uint32_t v = 0;
    if (bExpectLinkDelay) {
        v = cfgRead(*h.plat, h.slot, pci::CFG_VENDOR_ID, 2);
        EXPECT_EQ(v, 0xFFFFu);   // link still training
    }
    for (int i = 0; i < 200 && v != h.c->vendorId(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        v = cfgRead(*h.plat, h.slot, pci::CFG_VENDOR_ID, 2);
    }
    ASSERT_EQ(v, h.c->vendorId());
    ASSERT_TRUE(h.bringUp());
}

} // namespace

TEST(Power, SlotPowerLosesTheVolatileCacheAndCountsOnlyUnsafeShutdowns) {
    char szPath[] = "/tmp/nvmesim-power-XXXXXX";
    const int fd = mkstemp(szPath);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        SimHost h(std::string(R"({"devices":[{"namespaces":[{"nsid":1,"size":"4M","backingFile":")") + szPath +
                  R"("}], "timings":{"linkUpMs":30}}]})");
        ASSERT_TRUE(h.bringUp());
        const Smart s0 = smart(h);

        ASSERT_EQ(write8(h, 0, 0xA1), 0);            // flushed below
        Sqe fl = SimHost::cmd(NVM_FLUSH, 1);
        ASSERT_EQ(h.run(1, fl), 0);
        ASSERT_EQ(write8(h, 8, 0xB1, true), 0);      // FUA
        ASSERT_EQ(write8(h, 16, 0xC1), 0);           // cache only
        ASSERT_EQ(setVwc(h, false), 0);              // writes the cache back
        ASSERT_EQ(write8(h, 24, 0xD1), 0);           // cache off: straight to the media
        ASSERT_EQ(setVwc(h, true), 0);
        ASSERT_EQ(write8(h, 0, 0xA2), 0);            // over flushed data, in the cache only
        ASSERT_EQ(write8(h, 16, 0xC2), 0);           // cache only, over data written back
        ASSERT_EQ(write8(h, 32, 0xE1), 0);           // cache only
        EXPECT_EQ(read8(h, 0), 0xA2);                // reads see the cache
        EXPECT_EQ(read8(h, 16), 0xC2);

        // A command in flight when the power goes is lost.
        h.c->faults().setWithholdCompletions(true);
        SimBuffer rb = h.alloc(4096);
        Sqe rd = SimHost::cmd(NVM_READ, 1);
        rd.setPrp1(rb.nBus);
        rd.setCdw12(7);
        h.push(1, rd);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(h.c->withheldCount(), 1u);
        h.c->faults().setWithholdCompletions(false);

        // Off: configuration and BAR0 read all ones, writes go nowhere.
        ASSERT_EQ(h.plat->slotPower(h.ctl->device(), false), 1);
        EXPECT_EQ(h.c->withheldCount(), 0u);
        uint32_t v = 0;
        v = cfgRead(*h.plat, h.slot, pci::CFG_VENDOR_ID, 4);
        EXPECT_EQ(v, 0xFFFFFFFFu);
        v = cfgRead(*h.plat, h.slot, pci::CFG_COMMAND, 2);
        EXPECT_EQ(v, 0xFFFFu);
        EXPECT_EQ(h.ctl->reg32(REG_CAP), 0xFFFFFFFFu);
        EXPECT_EQ(h.ctl->reg32(REG_CSTS), 0xFFFFFFFFu);
        h.ctl->setReg32(REG_CC, CC_EN);
        EXPECT_EQ(h.plat->slotPower(h.ctl->device(), false), 1);   // off twice is still off
        // On: nothing answers until the link is up, then the power-on state.
        ASSERT_EQ(h.plat->slotPower(h.ctl->device(), true), 1);
        v = cfgRead(*h.plat, h.slot, pci::CFG_VENDOR_ID, 2);
        EXPECT_EQ(v, 0xFFFFu);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        v = cfgRead(*h.plat, h.slot, pci::CFG_VENDOR_ID, 2);
        EXPECT_EQ(v, h.c->vendorId());
        v = cfgRead(*h.plat, h.slot, pci::CFG_BAR0, 4);
        EXPECT_NE(v & pci::BAR_ADDR_MASK, 0u);       // the firmware assigned BAR0
        v = cfgRead(*h.plat, h.slot, pci::CFG_COMMAND, 2);
        EXPECT_EQ(v & (pci::CMD_MEMORY | pci::CMD_BUS_MASTER), 0u);
        ASSERT_TRUE(h.bringUp());
        EXPECT_EQ(Cc{h.ctl->reg32(REG_CC)}.shn(), 0u);
        EXPECT_EQ(h.c->withheldCount(), 0u);

        EXPECT_EQ(read8(h, 0), 0xA1);    // flushed
        EXPECT_EQ(read8(h, 8), 0xB1);    // FUA
        EXPECT_EQ(read8(h, 16), 0xC1);   // written back when the cache went off
        EXPECT_EQ(read8(h, 24), 0xD1);   // written with the cache off
        EXPECT_EQ(read8(h, 32), 0x00);   // never left the cache
        const Smart s1 = smart(h);
        EXPECT_EQ(s1.nUnsafe, s0.nUnsafe + 1);
        EXPECT_EQ(s1.nPowerCycles, s0.nPowerCycles + 1);

        // A completed shutdown writes the cache back and makes the power
        // loss a safe one.
        ASSERT_EQ(write8(h, 40, 0xF1), 0);
        std::string sErr;
        ASSERT_TRUE(h.ctl->shutdown(2000, &sErr)) << sErr;
        ASSERT_NO_FATAL_FAILURE(powerCycle(h, true));
        EXPECT_EQ(read8(h, 40), 0xF1);
        const Smart s2 = smart(h);
        EXPECT_EQ(s2.nUnsafe, s1.nUnsafe);
        EXPECT_EQ(s2.nPowerCycles, s1.nPowerCycles + 1);

        // Shut down, enabled again, written: the next power loss is unsafe.
        ASSERT_TRUE(h.ctl->shutdown(2000, &sErr)) << sErr;
        ASSERT_TRUE(h.bringUp());
        ASSERT_EQ(write8(h, 48, 0x11), 0);
        ASSERT_NO_FATAL_FAILURE(powerCycle(h, false));
        EXPECT_EQ(read8(h, 48), 0x00);
        EXPECT_EQ(smart(h).nUnsafe, s2.nUnsafe + 1);
    }
    std::remove(szPath);
}
