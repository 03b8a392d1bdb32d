#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;

namespace {
uint32_t rd(nvmesim::Controller *c, uint32_t off, int w) {
    uint32_t v = 0;
    EXPECT_EQ(c->cfgRead(off, &v, w), 0);
    return v;
}
int findCap(nvmesim::Controller *c, uint8_t id) {
    uint32_t p = rd(c, 0x34, 1);
    for (int i = 0; p && i < 48; ++i) {
        const uint32_t h = rd(c, p, 2);
        if ((h & 0xFF) == id)
            return static_cast<int>(p);
        p = h >> 8;
    }
    return -1;
}
} // namespace

TEST(PciFunction, HeaderIdentifiesAnNvmeController) {
    SimHost h;
    EXPECT_EQ(rd(h.c, 0, 2), 0xC1A0u);
    EXPECT_EQ(rd(h.c, 8, 4) >> 8, 0x010802u);
    EXPECT_EQ(rd(h.c, 0x0E, 1) & 0x7F, 0u);          // header type 0
    EXPECT_EQ(rd(h.c, 0x10, 4) & 0x7, 0x4u);          // 64-bit memory BAR
    EXPECT_NE(rd(h.c, 0x06, 2) & 0x10, 0u);           // capability list
    // Read-only fields ignore writes.
    h.c->cfgWrite(0, 0x12345678, 4);
    h.c->cfgWrite(8, 0, 4);
    EXPECT_EQ(rd(h.c, 0, 2), 0xC1A0u);
    EXPECT_EQ(rd(h.c, 8, 4) >> 8, 0x010802u);
    // Misaligned and out-of-range accesses are refused.
    uint32_t v;
    EXPECT_NE(h.c->cfgRead(1, &v, 2), 0);
    EXPECT_NE(h.c->cfgRead(4096, &v, 1), 0);
    EXPECT_NE(h.c->cfgRead(0, &v, 3), 0);
    EXPECT_NE(h.c->cfgWrite(2, 0, 4), 0);
}

TEST(PciFunction, CapabilityListHasPmMsixAndPcie) {
    SimHost h;
    const int pm = findCap(h.c, 0x01), msix = findCap(h.c, 0x11), pcie = findCap(h.c, 0x10);
    ASSERT_GT(pm, 0);
    ASSERT_GT(msix, 0);
    ASSERT_GT(pcie, 0);
    EXPECT_EQ(rd(h.c, pm + 4, 2) & 0x8, 0x8u);                 // No_Soft_Reset
    EXPECT_NE(rd(h.c, pcie + 4, 4) & (1u << 28), 0u);          // FLR capable
    EXPECT_EQ((rd(h.c, msix + 2, 2) & 0x7FF) + 1, 65u);        // table size
    EXPECT_EQ(rd(h.c, 0x100, 4), 0u);                          // no extended capabilities
}

TEST(PciFunction, BarSizingAndDecoding) {
    SimHost h;
    h.c->cfgWrite(0x10, 0xFFFFFFFF, 4);
    const uint32_t nMask = rd(h.c, 0x10, 4) & ~0xFu;
    const uint32_t nSize = ~nMask + 1;
    EXPECT_GE(nSize, 16384u);
    EXPECT_EQ(nSize & (nSize - 1), 0u);
    // Memory decoding off: all ones, writes dropped.
    EXPECT_EQ(h.c->mmioRead32(0x08), 0xFFFFFFFFu);
    h.c->mmioWrite32(0x24, 0x000F000F);
    h.pciEnable();
    EXPECT_EQ(h.c->mmioRead32(0x08), 0x00020000u);
    EXPECT_EQ(h.c->mmioRead32(0x24), 0u);
    // D3hot gates BAR0 as well; D0 brings it back without a reset.
    const int pm = findCap(h.c, 0x01);
    h.c->mmioWrite32(0x24, 0x00030003);
    h.c->cfgWrite(pm + 4, 0x0003, 2);
    EXPECT_EQ(h.c->mmioRead32(0x24), 0xFFFFFFFFu);
    h.c->cfgWrite(pm + 4, 0x0001, 2);   // D1 is not supported: stays D3hot
    EXPECT_EQ(rd(h.c, pm + 4, 2) & 3, 3u);
    h.c->cfgWrite(pm + 4, 0x0008, 2);
    EXPECT_EQ(h.c->mmioRead32(0x24), 0x00030003u);
}

TEST(PciFunction, BusMasterGatesDma) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    SimBuffer b = h.alloc(4096);
    h.c->cfgWrite(4, 0x0002, 2);   // memory on, bus master off
    Sqe e = SimHost::cmd(ADMIN_IDENTIFY);
    e.setPrp1(b.nBus);
    e.setCdw10(1);
    const uint16_t nCid = h.push(0, e);
    Cqe r{};
    EXPECT_FALSE(h.reap(0, &r, 100));
    h.c->cfgWrite(4, 0x0006, 2);
    ASSERT_TRUE(h.reap(0, &r));
    EXPECT_EQ(r.cid(), nCid);
    EXPECT_EQ(r.status(), 0);
}

TEST(PciFunction, FunctionLevelResetRestoresDefaults) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    const int pcie = findCap(h.c, 0x10);
    h.c->cfgWrite(0x3C, 0x0B, 1);
    h.c->cfgWrite(pcie + 8, rd(h.c, pcie + 8, 2) | 0x8000, 2);
    EXPECT_EQ(rd(h.c, pcie + 8, 2) & 0x8000, 0u);   // reads as 0
    EXPECT_EQ(rd(h.c, 4, 2) & 0x6, 0u);              // decoding off again
    EXPECT_EQ(rd(h.c, 0x3C, 1), 0u);
    h.pciEnable();
    EXPECT_EQ(h.csts() & 1, 0u);
    EXPECT_EQ(h.c->mmioRead32(0x14), 0u);
    EXPECT_EQ(h.c->mmioRead32(0x24), 0u);
    EXPECT_EQ(rd(h.c, 0, 2), 0xC1A0u);
    // The controller comes up again from scratch.
    ASSERT_TRUE(h.bringUp());
}

TEST(PciFunction, MsixTableLivesInBar0) {
    SimHost h;
    h.pciEnable();
    uint32_t nTable = 0;
    const int msix = findCap(h.c, 0x11);
    ASSERT_GT(msix, 0);
    h.c->cfgRead(msix + 4, &nTable, 4);
    EXPECT_EQ(nTable & 7, 0u);   // BIR 0
    nTable &= ~7u;
    EXPECT_GE(nTable, 0x1000u + 2 * 65 * 4);   // after the doorbells
    EXPECT_EQ(h.c->mmioRead32(nTable + 12), 1u);   // vector 0 masked
    h.c->mmioWrite32(nTable, 0xFEE00000);
    h.c->mmioWrite32(nTable + 8, 0x4021);
    h.c->mmioWrite32(nTable + 12, 0);
    EXPECT_EQ(h.c->mmioRead32(nTable), 0xFEE00000u);
    EXPECT_EQ(h.c->mmioRead32(nTable + 8), 0x4021u);
    EXPECT_EQ(h.c->mmioRead32(nTable + 12), 0u);
    // The function mask and enable bits are writable, the table size is not.
    h.c->cfgWrite(msix + 2, 0xC7FF, 2);
    uint32_t v = 0;
    h.c->cfgRead(msix + 2, &v, 2);
    EXPECT_EQ(v, 0xC000u | 64u);
}
