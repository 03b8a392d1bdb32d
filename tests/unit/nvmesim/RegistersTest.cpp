#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

TEST(Registers, DefaultCapabilities) {
    SimHost h;
    h.pciEnable();
    const Cap cap{h.cap()};
    EXPECT_EQ(cap.mqes(), 1023u);
    EXPECT_TRUE(cap.cqr());
    EXPECT_EQ(cap.to(), 20u);                  // 10 s
    EXPECT_EQ(cap.dstrd(), 0u);
    EXPECT_TRUE(cap.nssrs());
    EXPECT_EQ(cap.css(), CAP_CSS_NVM | CAP_CSS_CSI);
    EXPECT_EQ(cap.mpsmin(), 0u);               // 4 KiB pages
    EXPECT_EQ(h.c->mmioRead32(REG_VS), 0x00020000u);
    EXPECT_EQ(h.csts(), 0u);
}

TEST(Registers, ConfiguredCapabilities) {
    SimHost h(R"({"devices":[{"controllers":[{"mqes":63,"cqr":false,"dstrd":2,"timeout":4,"nssrs":false,"mpsMax":2,"css":"0x41"}]}]})");
    h.pciEnable();
    const Cap cap{h.cap()};
    EXPECT_EQ(cap.mqes(), 63u);
    EXPECT_FALSE(cap.cqr());
    EXPECT_EQ(cap.to(), 4u);
    EXPECT_EQ(cap.dstrd(), 2u);
    EXPECT_FALSE(cap.nssrs());
    EXPECT_EQ(cap.mpsmax(), 2u);
    EXPECT_EQ(cap.css(), 0x41u);
    ASSERT_TRUE(h.bringUp(32));   // doorbells 16 bytes apart
    SimBuffer b = h.alloc(4096);
    std::memset(b.p, 0x5A, 512);
    EXPECT_EQ(h.rw(true, 1, 0, 1, b), 0);
}

TEST(Registers, EnableAndDisable) {
    SimHost h;
    h.pciEnable();
    h.ring(0, true, 3);   // ignored while disabled
    ASSERT_TRUE(h.enable());
    SimBuffer b = h.alloc(4096);
    EXPECT_EQ(h.identify(CNS_CTRL, 0, b), 0);   // the first command is entry 0
    EXPECT_EQ(h.cqHead(0), 1u);
    EXPECT_EQ(h.c->mmioRead32(REG_CC) & CC_EN, CC_EN);
    ASSERT_TRUE(h.disable());
    EXPECT_EQ(h.csts() & CSTS_RDY, 0u);
    ASSERT_TRUE(h.enable());
}

TEST(Registers, BadAdminQueueSettingsGiveFatalStatus) {
    SimHost h;
    h.pciEnable();
    SimBuffer b = h.alloc(8192);
    // ASQ not page aligned.
    h.c->mmioWrite32(REG_AQA, Aqa::make(16, 16).raw);
    h.c->mmioWrite32(REG_ASQ, static_cast<uint32_t>(b.nBus) + 0x10);   // low bits are reserved and read as 0
    EXPECT_EQ(h.c->mmioRead32(REG_ASQ) & 0xFFF, 0u);
    // MPS above MPSMAX.
    h.c->mmioWrite32(REG_ASQ, static_cast<uint32_t>(b.nBus));
    h.c->mmioWrite32(REG_ASQ + 4, static_cast<uint32_t>(b.nBus >> 32));
    h.c->mmioWrite32(REG_ACQ, static_cast<uint32_t>(b.nBus + 4096));
    h.c->mmioWrite32(REG_ACQ + 4, static_cast<uint32_t>((b.nBus + 4096) >> 32));
    h.c->mmioWrite32(REG_CC, Cc::make(9).raw);
    EXPECT_TRUE(h.waitCsts(CSTS_CFS, CSTS_CFS, 200));
    EXPECT_EQ(h.csts() & CSTS_RDY, 0u);
    // A reset clears the fatal status; zero-sized admin queues fail too.
    h.c->mmioWrite32(REG_CC, 0);
    EXPECT_TRUE(h.waitCsts(CSTS_RDY | CSTS_CFS, 0));
    h.c->mmioWrite32(REG_AQA, 0);
    h.c->mmioWrite32(REG_CC, Cc::make(0).raw);
    EXPECT_TRUE(h.waitCsts(CSTS_CFS, CSTS_CFS, 200));
    // A command set the controller does not offer (admin only).
    h.c->mmioWrite32(REG_CC, 0);
    EXPECT_TRUE(h.waitCsts(CSTS_RDY | CSTS_CFS, 0));
    h.c->mmioWrite32(REG_AQA, Aqa::make(16, 16).raw);
    h.c->mmioWrite32(REG_CC, Cc::make(0, CC_CSS_ADMIN).raw);
    EXPECT_TRUE(h.waitCsts(CSTS_CFS, CSTS_CFS, 200));
}

TEST(Registers, ShutdownMovesThroughProcessingToComplete) {
    SimHost h(R"({"devices":[{"timings":{"shutdownUs":50000}}]})");
    ASSERT_TRUE(h.enable());
    h.c->mmioWrite32(REG_CC, Cc{h.c->mmioRead32(REG_CC)}.withShn(CC_SHN_NORMAL).raw);
    EXPECT_EQ(Csts{h.csts()}.shst(), SHST_OCCURRING);
    EXPECT_TRUE(h.waitCsts(CSTS_SHST_MASK, SHST_COMPLETE << CSTS_SHST_SHIFT));
    // A reset is needed before the controller is used again.
    ASSERT_TRUE(h.disable());
    EXPECT_EQ(Csts{h.csts()}.shst(), SHST_NORMAL);
}

TEST(Registers, ReadyDelayIsHonoured) {
    SimHost h(R"({"devices":[{"timings":{"readyDelayUs":200000}}]})");
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(h.enable());
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(190));
}

TEST(Registers, NssrResetsAndTakesTheLinkDown) {
    SimHost h(R"({"devices":[{"timings":{"linkDownMs":150}}]})");
    ASSERT_TRUE(h.bringUp());
    h.c->mmioWrite32(REG_NSSR, NSSR_RESET_VALUE);
    uint32_t v = 0;
    h.c->cfgRead(CFG_VENDOR_ID, &v, 4);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_EQ(h.c->mmioRead32(REG_CSTS), 0xFFFFFFFFu);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    h.c->cfgRead(CFG_VENDOR_ID, &v, 2);
    EXPECT_EQ(v, 0xC1A0u);
    h.pciEnable();
    EXPECT_EQ(h.csts() & (CSTS_NSSRO | CSTS_RDY), CSTS_NSSRO);   // NSSRO set, not ready
    h.c->mmioWrite32(REG_CSTS, CSTS_NSSRO);        // write 1 to clear
    EXPECT_EQ(h.csts() & CSTS_NSSRO, 0u);
    ASSERT_TRUE(h.bringUp());
}

TEST(Registers, OtherNssrValuesDoNothing) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    h.c->mmioWrite32(REG_NSSR, NSSR_RESET_VALUE + 1);
    EXPECT_EQ(h.csts() & CSTS_RDY, CSTS_RDY);
    EXPECT_EQ(h.c->mmioRead32(REG_NSSR), 0u);
}
