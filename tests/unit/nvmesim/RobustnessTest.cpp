// Garbage commands must complete with some status, never crash or hang the
// controller, and never touch memory outside what they point to.
#include <random>

#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;

namespace {
Sqe randomCommand(std::mt19937_64 &rng, const SimBuffer &scratch, bool bAdmin) {
    Sqe e{};
    auto pick = [&](std::initializer_list<uint64_t> v) { return *(v.begin() + rng() % v.size()); };
    do {
        e.setOpc(static_cast<uint8_t>(rng() % 4 ? rng() % 0x20 : rng()));
        // Commands that never complete or take the queues away are left out.
    } while (bAdmin && (e.opc() == ADMIN_DELETE_SQ || e.opc() == ADMIN_CREATE_SQ || e.opc() == ADMIN_DELETE_CQ ||
                        e.opc() == ADMIN_CREATE_CQ || e.opc() == ADMIN_ASYNC_EVENT));
    // Fused and PSDT bits now and then.
    const uint32_t nFlags = rng() % 3 ? 0 : static_cast<uint32_t>(rng());
    e.setFuse(nFlags & 3);
    e.setPsdt((nFlags >> 6) & 3);
    e.setNsid(static_cast<uint32_t>(pick({0, 1, 2, 0xFFFFFFFF, rng()})));
    auto addr = [&]() -> uint64_t {
        switch (rng() % 4) {
        case 0: return scratch.nBus + (rng() % scratch.nSize);
        case 1: return scratch.nBus + 4096 * (rng() % (scratch.nSize / 4096));
        case 2: return rng();
        default: return 0;
        }
    };
    e.setMptr(addr());
    e.setPrp1(addr());
    e.setPrp2(addr());
    uint32_t *dw = &e.dw[10];
    for (int i = 0; i < 6; ++i)
        dw[i] = static_cast<uint32_t>(rng() % 3 ? rng() % 64 : rng());
    if (bAdmin && e.opc() == ADMIN_SET_FEATURES && (dw[0] & 0xFF) == NVME_FEAT_FID_KATO)
        dw[0] = 0x01;   // keep-alive timer off limits
    return e;
}
} // namespace

TEST(Robustness, GarbageCommandsAlwaysComplete) {
    SimHost h(R"({"devices":[{"namespaces":[{"nsid":1,"size":"16M"}],"timings":{"selfTestShortMs":1,"selfTestExtendedMs":1}}]})");
    ASSERT_TRUE(h.enable(64, 64));
    ASSERT_EQ(h.createCq(1, 64), 0);
    ASSERT_EQ(h.createSq(1, 1, 64), 0);
    SimBuffer scratch = h.alloc(64 * 4096, true);
    std::mt19937_64 rng(20261208);
    for (int i = 0; i < 3000; ++i) {
        // The scratch area holds random PRP lists and SGL descriptors too.
        if (i % 50 == 0)
            for (size_t k = 0; k < scratch.nSize / 8; ++k)
                reinterpret_cast<uint64_t *>(scratch.p)[k] = rng() % 2 ? rng() : scratch.nBus + (rng() % scratch.nSize & ~7ull);
        const bool bAdmin = i % 4 == 0;
        Cqe r{};
        ASSERT_NE(h.run(bAdmin ? 0 : 1, randomCommand(rng, scratch, bAdmin), &r, 5000), 0xFFFF) << "command " << i;
        ASSERT_EQ(h.csts() & CSTS_CFS, 0u) << "fatal status after command " << i;
    }
    SimBuffer b = h.alloc(4096);
    EXPECT_EQ(h.identify(CNS_CTRL, 0, b), 0);
}

// Without a transfer limit a host may ask for gigabytes of a log page or of
// LBA status. The controller walks the data pointer and fails on the first
// unmapped page instead of building a buffer of that size; what exists is
// sent, the rest of a host buffer reads as zeros.
TEST(Robustness, HugeAdminReadsWithoutTransferLimit) {
    SimHost h(R"({"devices":[{"controllers":[{"mdts":0}],"namespaces":[{"nsid":1,"size":"16M"}]}]})");
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(3 * 4096, true);
    auto fillList = [&] {
        std::memset(b.p, 0xAB, b.nSize);
        // PRP2 points at a list whose entries all lead to the last page and
        // whose chain entry leads to an unmapped address.
        auto *pList = reinterpret_cast<uint64_t *>(b.p + 4096);
        for (int i = 0; i < 511; ++i)
            pList[i] = b.nBus + 8192;
        pList[511] = 0x20000;
    };
    Sqe lg = SimHost::cmd(ADMIN_GET_LOG_PAGE, 0xFFFFFFFF);
    lg.setPrp1(b.nBus);
    lg.setPrp2(b.nBus + 4096);
    lg.setCdw10(NVME_LOG_LID_FW_SLOT | 0xFFFF0000u);
    lg.setCdw11(0xFFFF);   // 16 GiB
    fillList();
    EXPECT_EQ(h.run(0, lg), st(SCT_GENERIC, SC_DATA_XFER_ERROR));
    Sqe ls = SimHost::cmd(ADMIN_GET_LBA_STATUS, 1);
    ls.setPrp1(b.nBus);
    ls.setPrp2(b.nBus + 4096);
    ls.setCdw12(0xFFFFFFFF);
    ls.setCdw13(0x10u << 24);
    fillList();
    EXPECT_EQ(h.run(0, ls), st(SCT_GENERIC, SC_DATA_XFER_ERROR));
    // Two pages where the log has 512 bytes: the rest is zeros.
    lg.setCdw10(NVME_LOG_LID_FW_SLOT | ((8192 / 4 - 1) << 16));
    lg.setCdw11(0);
    lg.setPrp2(b.nBus + 8192);
    fillList();
    ASSERT_EQ(h.run(0, lg), 0);
    EXPECT_EQ(b.p[0] & 7, 1);
    EXPECT_EQ(b.p[4095], 0);
    EXPECT_EQ(b.p[8192], 0);
    EXPECT_EQ(b.p[12287], 0);
    // LBA status: header, no descriptors, zeros after.
    ls.setCdw12(8192 / 4 - 1);
    ls.setPrp2(b.nBus + 8192);
    fillList();
    ASSERT_EQ(h.run(0, ls), 0);
    EXPECT_EQ(reinterpret_cast<uint32_t *>(b.p)[0], 0u);
    EXPECT_EQ(b.p[4], 1);   // the whole range examined
    EXPECT_EQ(b.p[8], 0);
    EXPECT_EQ(b.p[12287], 0);
    EXPECT_EQ(h.csts() & CSTS_CFS, 0u);
}
