// Garbage commands must complete with some status, never crash or hang the
// controller, and never touch memory outside what they point to.
#include <random>

#include "TestHost.h"

using namespace simtest;

namespace {
Sqe randomCommand(std::mt19937_64 &rng, const Buf &scratch, bool bAdmin) {
    Sqe e{};
    auto pick = [&](std::initializer_list<uint64_t> v) { return *(v.begin() + rng() % v.size()); };
    do {
        e.nOpcode = static_cast<uint8_t>(rng() % 4 ? rng() % 0x20 : rng());
        // Commands that never complete or take the queues away are left out.
    } while (bAdmin && (e.nOpcode == 0x00 || e.nOpcode == 0x01 || e.nOpcode == 0x04 || e.nOpcode == 0x05 ||
                        e.nOpcode == 0x0C));
    e.nFlags = static_cast<uint8_t>(rng() % 3 ? 0 : (rng() & 0xC3));
    e.nNsid = static_cast<uint32_t>(pick({0, 1, 2, 0xFFFFFFFF, rng()}));
    auto addr = [&]() -> uint64_t {
        switch (rng() % 4) {
        case 0: return scratch.nBus + (rng() % scratch.nSize);
        case 1: return scratch.nBus + 4096 * (rng() % (scratch.nSize / 4096));
        case 2: return rng();
        default: return 0;
        }
    };
    e.nMptr = addr();
    e.nPrp1 = addr();
    e.nPrp2 = addr();
    uint32_t *dw = &e.nCdw10;
    for (int i = 0; i < 6; ++i)
        dw[i] = static_cast<uint32_t>(rng() % 3 ? rng() % 64 : rng());
    if (bAdmin && e.nOpcode == 0x09 && (dw[0] & 0xFF) == 0x0F)
        dw[0] = 0x01;   // keep-alive timer off limits
    return e;
}
} // namespace

TEST(Robustness, GarbageCommandsAlwaysComplete) {
    TestHost h(R"({"devices":[{"namespaces":[{"nsid":1,"size":"16M"}],"timings":{"selfTestShortMs":1,"selfTestExtendedMs":1}}]})");
    ASSERT_TRUE(h.enable(64, 64));
    ASSERT_EQ(h.createCq(1, 64), 0);
    ASSERT_EQ(h.createSq(1, 1, 64), 0);
    Buf scratch = h.alloc(64 * 4096, true);
    std::mt19937_64 rng(20261208);
    for (int i = 0; i < 3000; ++i) {
        // The scratch area holds random PRP lists and SGL descriptors too.
        if (i % 50 == 0)
            for (size_t k = 0; k < scratch.nSize / 8; ++k)
                reinterpret_cast<uint64_t *>(scratch.p)[k] = rng() % 2 ? rng() : scratch.nBus + (rng() % scratch.nSize & ~7ull);
        const bool bAdmin = i % 4 == 0;
        Cqe r{};
        ASSERT_NE(h.run(bAdmin ? 0 : 1, randomCommand(rng, scratch, bAdmin), &r, 5000), 0xFFFF) << "command " << i;
        ASSERT_EQ(h.csts() & 2, 0u) << "fatal status after command " << i;
    }
    Buf b = h.alloc(4096);
    EXPECT_EQ(h.identify(NVME_IDENTIFY_CNS_CTRL, 0, b), 0);
}
