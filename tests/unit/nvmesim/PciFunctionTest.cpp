#include "PciAccess.h"
#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

namespace {
uint32_t rd(nvmesim::Controller *c, uint32_t off, int w) {
    uint32_t v = 0;
    EXPECT_EQ(c->cfgRead(off, &v, w), 0);
    return v;
}
int findCap(SimHost &h, uint8_t id) { return findCapability(*h.plat, h.slot, id); }
} // namespace

TEST(PciFunction, HeaderIdentifiesAnNvmeController) {
    SimHost h;
    EXPECT_EQ(rd(h.c, CFG_VENDOR_ID, 2), 0xC1A0u);
    EXPECT_EQ(rd(h.c, CFG_CLASS_REV, 4) >> 8, 0x010802u);
    EXPECT_EQ(rd(h.c, CFG_HEADER_TYPE, 1) & 0x7F, 0u);          // header type 0
    EXPECT_EQ(rd(h.c, CFG_BAR0, 4) & 0x7, 0x4u);          // 64-bit memory BAR
    EXPECT_NE(rd(h.c, CFG_STATUS, 2) & 0x10, 0u);           // capability list
    // Read-only fields ignore writes.
    h.c->cfgWrite(CFG_VENDOR_ID, 0x12345678, 4);
    h.c->cfgWrite(CFG_CLASS_REV, 0, 4);
    EXPECT_EQ(rd(h.c, CFG_VENDOR_ID, 2), 0xC1A0u);
    EXPECT_EQ(rd(h.c, CFG_CLASS_REV, 4) >> 8, 0x010802u);
    // Misaligned and out-of-range accesses are refused.
    uint32_t v;
    EXPECT_NE(h.c->cfgRead(1, &v, 2), 0);
    EXPECT_NE(h.c->cfgRead(CFG_SIZE, &v, 1), 0);
    EXPECT_NE(h.c->cfgRead(CFG_VENDOR_ID, &v, 3), 0);
    EXPECT_NE(h.c->cfgWrite(2, 0, 4), 0);
}

TEST(PciFunction, CapabilityListHasPmMsixAndPcie) {
    SimHost h;
    const int pm = findCap(h, CAP_ID_PM), msix = findCap(h, CAP_ID_MSIX), pcie = findCap(h, CAP_ID_PCIE);
    ASSERT_GT(pm, 0);
    ASSERT_GT(msix, 0);
    ASSERT_GT(pcie, 0);
    EXPECT_EQ(rd(h.c, pm + PM_PMCSR, 2) & 0x8, 0x8u);                 // No_Soft_Reset
    EXPECT_NE(rd(h.c, pcie + PCIE_DEVCAP, 4) & DEVCAP_FLR, 0u);          // FLR capable
    EXPECT_EQ((rd(h.c, msix + MSIX_CTRL, 2) & 0x7FF) + 1, 65u);        // table size
    EXPECT_EQ(rd(h.c, EXT_CAP_BASE, 4), 0u);                          // no extended capabilities
}

TEST(PciFunction, BarSizingAndDecoding) {
    SimHost h;
    h.c->cfgWrite(CFG_BAR0, 0xFFFFFFFF, 4);
    const uint32_t nMask = rd(h.c, CFG_BAR0, 4) & ~0xFu;
    const uint32_t nSize = ~nMask + 1;
    EXPECT_GE(nSize, 16384u);
    EXPECT_EQ(nSize & (nSize - 1), 0u);
    // Memory decoding off: all ones, writes dropped.
    EXPECT_EQ(h.c->mmioRead32(REG_VS), 0xFFFFFFFFu);
    h.c->mmioWrite32(REG_AQA, Aqa::make(16, 16).raw);
    h.pciEnable();
    EXPECT_EQ(h.c->mmioRead32(REG_VS), 0x00020000u);
    EXPECT_EQ(h.c->mmioRead32(REG_AQA), 0u);
    // D3hot gates BAR0 as well; D0 brings it back without a reset.
    const int pm = findCap(h, CAP_ID_PM);
    h.c->mmioWrite32(REG_AQA, Aqa::make(4, 4).raw);
    h.c->cfgWrite(pm + PM_PMCSR, PMCSR_D3HOT, 2);
    EXPECT_EQ(h.c->mmioRead32(REG_AQA), 0xFFFFFFFFu);
    h.c->cfgWrite(pm + PM_PMCSR, 0x0001, 2);   // D1 is not supported: stays D3hot
    EXPECT_EQ(rd(h.c, pm + PM_PMCSR, 2) & 3, 3u);
    h.c->cfgWrite(pm + PM_PMCSR, 0x0008, 2);
    EXPECT_EQ(h.c->mmioRead32(REG_AQA), Aqa::make(4, 4).raw);
}

TEST(PciFunction, BusMasterGatesDma) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    SimBuffer b = h.alloc(4096);
    h.c->cfgWrite(CFG_COMMAND, CMD_MEMORY, 2);   // memory on, bus master off
    Sqe e = SimHost::cmd(ADMIN_IDENTIFY);
    e.setPrp1(b.nBus);
    e.setCdw10(1);
    const uint16_t nCid = h.push(0, e);
    Cqe r{};
    EXPECT_FALSE(h.reap(0, &r, 100));
    h.c->cfgWrite(CFG_COMMAND, CMD_MEMORY | CMD_BUS_MASTER, 2);
    ASSERT_TRUE(h.reap(0, &r));
    EXPECT_EQ(r.cid(), nCid);
    EXPECT_EQ(r.status(), 0);
}

TEST(PciFunction, FunctionLevelResetRestoresDefaults) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    const int pcie = findCap(h, CAP_ID_PCIE);
    h.c->cfgWrite(CFG_INT_LINE, 0x0B, 1);
    h.c->cfgWrite(pcie + PCIE_DEVCTL, rd(h.c, pcie + PCIE_DEVCTL, 2) | DEVCTL_FLR, 2);
    EXPECT_EQ(rd(h.c, pcie + PCIE_DEVCTL, 2) & DEVCTL_FLR, 0u);   // reads as 0
    EXPECT_EQ(rd(h.c, CFG_COMMAND, 2) & 0x6, 0u);              // decoding off again
    EXPECT_EQ(rd(h.c, CFG_INT_LINE, 1), 0u);
    h.pciEnable();
    EXPECT_EQ(h.csts() & CSTS_RDY, 0u);
    EXPECT_EQ(h.c->mmioRead32(REG_CC), 0u);
    EXPECT_EQ(h.c->mmioRead32(REG_AQA), 0u);
    EXPECT_EQ(rd(h.c, CFG_VENDOR_ID, 2), 0xC1A0u);
    // The controller comes up again from scratch.
    ASSERT_TRUE(h.bringUp());
}

TEST(PciFunction, MsixTableLivesInBar0) {
    SimHost h;
    h.pciEnable();
    uint32_t nTable = 0;
    const int msix = findCap(h, CAP_ID_MSIX);
    ASSERT_GT(msix, 0);
    h.c->cfgRead(msix + MSIX_TABLE, &nTable, 4);
    EXPECT_EQ(nTable & 7, 0u);   // BIR 0
    nTable &= ~7u;
    EXPECT_GE(nTable, REG_DOORBELL_BASE + 2 * 65 * 4);   // after the doorbells
    EXPECT_EQ(h.c->mmioRead32(nTable + 12), 1u);   // vector 0 masked
    h.c->mmioWrite32(nTable, 0xFEE00000);
    h.c->mmioWrite32(nTable + 8, 0x4021);
    h.c->mmioWrite32(nTable + 12, 0);
    EXPECT_EQ(h.c->mmioRead32(nTable), 0xFEE00000u);
    EXPECT_EQ(h.c->mmioRead32(nTable + 8), 0x4021u);
    EXPECT_EQ(h.c->mmioRead32(nTable + 12), 0u);
    // The function mask and enable bits are writable, the table size is not.
    h.c->cfgWrite(msix + MSIX_CTRL, 0xC7FF, 2);
    uint32_t v = 0;
    h.c->cfgRead(msix + MSIX_CTRL, &v, 2);
    EXPECT_EQ(v, 0xC000u | 64u);
}
