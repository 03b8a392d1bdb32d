// Several host threads on one controller, and several controllers sharing
// namespaces while namespaces change under them.
#include <algorithm>
#include <thread>

#include "PciAccess.h"
#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

namespace {
// Runs nCount write/read/compare rounds on its own queue pair.
void hammer(SimHost &h, uint16_t nQid, uint64_t nBase, int nCount, std::atomic<int> *pBad, const SimBuffer &w, const SimBuffer &r) {
    for (int i = 0; i < nCount; ++i) {
        for (size_t k = 0; k < 4096; ++k)
            w.p[k] = static_cast<uint8_t>(k + i + nQid);
        if (h.rw(true, 1, nBase + (i % 64) * 8, 8, w, 0, nQid) != 0 ||
            h.rw(false, 1, nBase + (i % 64) * 8, 8, r, 0, nQid) != 0 || std::memcmp(w.p, r.p, 4096) != 0)
            pBad->fetch_add(1);
    }
}
} // namespace

TEST(Concurrency, HostThreadsOnSeparateQueuesOfOneController) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    constexpr int kThreads = 4;
    SimBuffer w[kThreads], r[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(h.createCq(static_cast<uint16_t>(t + 1), 32), 0);
        ASSERT_EQ(h.createSq(static_cast<uint16_t>(t + 1), static_cast<uint16_t>(t + 1), 32), 0);
        w[t] = h.alloc(4096);
        r[t] = h.alloc(4096);
    }
    // Each thread keeps its own command ids apart from the others.
    std::atomic<int> nBad{0};
    std::vector<std::thread> threads;
    SimHost *pHost = &h;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([=, &nBad] { hammer(*pHost, static_cast<uint16_t>(t + 1), 10000ull * t, 300, &nBad, w[t], r[t]); });
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(nBad.load(), 0);
}

TEST(Concurrency, ControllersShareANamespaceThatChanges) {
    SimHost a(R"({"devices":[{"controllerCount":2,"namespaces":[{"nsid":1,"size":"16M"},{"nsid":2,"size":"16M"}]}]})");
    ASSERT_TRUE(a.bringUp());
    // A second host on the other controller of the same device.
    nvmesim::Controller *c2 = a.bus->function(1).pCtrl;
    SimHost b(a, c2);
    ASSERT_TRUE(b.bringUp());
    std::atomic<bool> bStop{false};
    std::atomic<int> nOdd{0};
    std::thread io([&] {
        SimBuffer buf = b.alloc(4096);
        for (int i = 0; !bStop.load(); ++i) {
            const uint16_t s = b.rw(i % 2 == 0, 2, (i % 100) * 8, 1, buf);   // one block fits whatever the format
            if (s != 0 && s != st(SCT_GENERIC, SC_INVALID_NS))
                nOdd.fetch_add(1);
        }
    });
    // Meanwhile controller 1 detaches, formats and deletes namespace 2.
    SimBuffer lb = a.alloc(4096);
    auto *ids = reinterpret_cast<uint16_t *>(lb.p);
    ids[0] = 1;
    ids[1] = 2;
    for (int round = 0; round < 20; ++round) {
        Sqe att = SimHost::cmd(ADMIN_NS_ATTACH, 2);
        att.setPrp1(lb.nBus);
        att.setCdw10(1);
        ASSERT_EQ(a.run(0, att), 0);
        att.setCdw10(0);
        ASSERT_EQ(a.run(0, att), 0);
        Sqe f = SimHost::cmd(ADMIN_FORMAT_NVM, 0xFFFFFFFF);
        f.setCdw10(round % 2 ? 2 : 0);
        ASSERT_EQ(a.run(0, f), 0);
    }
    Sqe del = SimHost::cmd(ADMIN_NS_MGMT, 2);
    del.setCdw10(1);
    ASSERT_EQ(a.run(0, del), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    bStop = true;
    io.join();
    EXPECT_EQ(nOdd.load(), 0);
    SimBuffer x = b.alloc(4096);
    EXPECT_EQ(b.rw(false, 2, 0, 1, x), st(SCT_GENERIC, SC_INVALID_NS));
    EXPECT_EQ(b.rw(false, 1, 0, 1, x), 0);
}

// One host thread resets the function while another programs and reads the
// MSI-X table in BAR0: every value read is either the programmed one or the
// reset one, and the reset leaves the vector masked.
TEST(Concurrency, FunctionResetWhileAnotherThreadUsesTheMsixTable) {
    SimHost h;
    h.pciEnable();
    auto findCap = [&](uint8_t nId) { return uint32_t(std::max(findCapability(*h.plat, h.slot, nId), 0)); };
    const uint32_t nPcie = findCap(CAP_ID_PCIE), nMsix = findCap(CAP_ID_MSIX);
    ASSERT_NE(nPcie, 0u);
    ASSERT_NE(nMsix, 0u);
    uint32_t nTable = 0;
    h.c->cfgRead(nMsix + MSIX_TABLE, &nTable, 4);
    nTable &= ~7u;
    std::atomic<bool> bStop{false};
    std::atomic<int> nOdd{0};
    std::thread user([&] {
        while (!bStop.load()) {
            h.c->mmioWrite32(nTable + 8, 0x4021);
            const uint32_t v = h.c->mmioRead32(nTable + 8);
            if (v != 0x4021 && v != 0 && v != 0xFFFFFFFFu)
                nOdd.fetch_add(1);
        }
    });
    for (int i = 0; i < 200; ++i) {
        uint32_t nDevCtl = 0;
        h.c->cfgRead(nPcie + PCIE_DEVCTL, &nDevCtl, 2);
        h.c->cfgWrite(nPcie + PCIE_DEVCTL, nDevCtl | DEVCTL_FLR, 2);   // initiate function level reset
        h.pciEnable();
    }
    bStop = true;
    user.join();
    EXPECT_EQ(nOdd.load(), 0);
    uint32_t nDevCtl = 0;
    h.c->cfgRead(nPcie + PCIE_DEVCTL, &nDevCtl, 2);
    h.c->cfgWrite(nPcie + PCIE_DEVCTL, nDevCtl | DEVCTL_FLR, 2);
    h.pciEnable();
    EXPECT_EQ(h.c->mmioRead32(nTable + 8), 0u);
    EXPECT_EQ(h.c->mmioRead32(nTable + 12), 1u);   // masked again
}
