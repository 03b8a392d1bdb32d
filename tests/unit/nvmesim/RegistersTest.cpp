#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;

TEST(Registers, DefaultCapabilities) {
    SimHost h;
    h.pciEnable();
    const uint64_t cap = h.cap();
    EXPECT_EQ(cap & 0xFFFF, 1023u);            // MQES
    EXPECT_EQ((cap >> 16) & 1, 1u);            // CQR
    EXPECT_EQ((cap >> 24) & 0xFF, 20u);        // TO: 10 s
    EXPECT_EQ((cap >> 32) & 0xF, 0u);          // DSTRD
    EXPECT_EQ((cap >> 36) & 1, 1u);            // NSSRS
    EXPECT_EQ((cap >> 37) & 0xFF, 1u);         // NVM command set
    EXPECT_EQ((cap >> 48) & 0xF, 0u);          // 4 KiB pages
    EXPECT_EQ(h.c->mmioRead32(0x08), 0x00020000u);
    EXPECT_EQ(h.csts(), 0u);
}

TEST(Registers, ConfiguredCapabilities) {
    SimHost h(R"({"devices":[{"controllers":[{"mqes":63,"cqr":false,"dstrd":2,"timeout":4,"nssrs":false,"mpsMax":2,"css":"0x41"}]}]})");
    h.pciEnable();
    const uint64_t cap = h.cap();
    EXPECT_EQ(cap & 0xFFFF, 63u);
    EXPECT_EQ((cap >> 16) & 1, 0u);
    EXPECT_EQ((cap >> 24) & 0xFF, 4u);
    EXPECT_EQ((cap >> 32) & 0xF, 2u);
    EXPECT_EQ((cap >> 36) & 1, 0u);
    EXPECT_EQ((cap >> 52) & 0xF, 2u);
    EXPECT_EQ((cap >> 37) & 0xFF, 0x41u);
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
    EXPECT_EQ(h.c->mmioRead32(0x14) & 1, 1u);
    ASSERT_TRUE(h.disable());
    EXPECT_EQ(h.csts() & 1, 0u);
    ASSERT_TRUE(h.enable());
}

TEST(Registers, BadAdminQueueSettingsGiveFatalStatus) {
    SimHost h;
    h.pciEnable();
    SimBuffer b = h.alloc(8192);
    // ASQ not page aligned.
    h.c->mmioWrite32(0x24, 0x000F000F);
    h.c->mmioWrite32(0x28, static_cast<uint32_t>(b.nBus) + 0x10);   // low bits are reserved and read as 0
    EXPECT_EQ(h.c->mmioRead32(0x28) & 0xFFF, 0u);
    // MPS above MPSMAX.
    h.c->mmioWrite32(0x28, static_cast<uint32_t>(b.nBus));
    h.c->mmioWrite32(0x2C, static_cast<uint32_t>(b.nBus >> 32));
    h.c->mmioWrite32(0x30, static_cast<uint32_t>(b.nBus + 4096));
    h.c->mmioWrite32(0x34, static_cast<uint32_t>((b.nBus + 4096) >> 32));
    h.c->mmioWrite32(0x14, (6u << 16) | (4u << 20) | (9u << 7) | 1);
    EXPECT_TRUE(h.waitCsts(2, 2, 200));
    EXPECT_EQ(h.csts() & 1, 0u);
    // A reset clears the fatal status; zero-sized admin queues fail too.
    h.c->mmioWrite32(0x14, 0);
    EXPECT_TRUE(h.waitCsts(3, 0));
    h.c->mmioWrite32(0x24, 0);
    h.c->mmioWrite32(0x14, (6u << 16) | (4u << 20) | 1);
    EXPECT_TRUE(h.waitCsts(2, 2, 200));
    // A command set the controller does not offer (admin only).
    h.c->mmioWrite32(0x14, 0);
    EXPECT_TRUE(h.waitCsts(3, 0));
    h.c->mmioWrite32(0x24, 0x000F000F);
    h.c->mmioWrite32(0x14, (6u << 16) | (4u << 20) | (7u << 4) | 1);
    EXPECT_TRUE(h.waitCsts(2, 2, 200));
}

TEST(Registers, ShutdownMovesThroughProcessingToComplete) {
    SimHost h(R"({"devices":[{"timings":{"shutdownUs":50000}}]})");
    ASSERT_TRUE(h.enable());
    h.c->mmioWrite32(0x14, h.c->mmioRead32(0x14) | (1u << 14));
    EXPECT_EQ((h.csts() >> 2) & 3, 1u);
    EXPECT_TRUE(h.waitCsts(0xC, 0x8));
    // A reset is needed before the controller is used again.
    ASSERT_TRUE(h.disable());
    EXPECT_EQ((h.csts() >> 2) & 3, 0u);
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
    h.c->mmioWrite32(0x20, 0x4E564D65);
    uint32_t v = 0;
    h.c->cfgRead(0, &v, 4);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_EQ(h.c->mmioRead32(0x1C), 0xFFFFFFFFu);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    h.c->cfgRead(0, &v, 2);
    EXPECT_EQ(v, 0xC1A0u);
    h.pciEnable();
    EXPECT_EQ(h.csts() & 0x11, 0x10u);   // NSSRO set, not ready
    h.c->mmioWrite32(0x1C, 0x10);        // write 1 to clear
    EXPECT_EQ(h.csts() & 0x10, 0u);
    ASSERT_TRUE(h.bringUp());
}

TEST(Registers, OtherNssrValuesDoNothing) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    h.c->mmioWrite32(0x20, 0x4E564D66);
    EXPECT_EQ(h.csts() & 1, 1u);
    EXPECT_EQ(h.c->mmioRead32(0x20), 0u);
}
