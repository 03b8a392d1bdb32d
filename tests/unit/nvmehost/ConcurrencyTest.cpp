// Several threads on one device at once: each drives its own queue pair
// while another keeps reading configuration space and registers and
// taking and giving back DMA buffers. Every platform operation must be
// safe to call concurrently on one handle.
#include "HostFixture.h"
#include "PrpBuilder.h"

#include <atomic>
#include <thread>

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

namespace {

using HostConcurrency = HostFixture;

// Writes and reads back blocks on one queue pair; returns a failure text
// or an empty string. Uses only queue-level calls and register writes.
std::string driveQueuePair(HostController &ctl, uint16_t nQid, const NamespaceInfo &ns, uint64_t nFirstLba,
                           int nRounds)
{
    HostSq &sq = *ctl.sq(nQid);
    HostCq &cq = *ctl.cq(nQid);
    const size_t nBytes = 8 * size_t(ns.nBlockSize);
    DmaMemory w, r;
    std::string sErr;
    if (!ctl.allocData(nBytes, ctl.pageSize(), &w, &sErr) || !ctl.allocData(nBytes, ctl.pageSize(), &r, &sErr))
        return sErr;
    auto run = [&](Sqe cmd) -> bool {
        if (!ctl.submit(sq, cmd))
            return false;
        auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        Completion c;
        while (std::chrono::steady_clock::now() < tEnd) {
            if (cq.pop(&c)) {
                sq.nHead = c.sqhd();
                ctl.ringCq(cq);
                return c.ok() && c.cid() == cmd.cid() && c.sqid() == nQid;
            }
            std::this_thread::yield();
        }
        return false;
    };
    for (int i = 0; i < nRounds; ++i) {
        uint64_t nLba = nFirstLba + uint64_t(i % 16) * 8;
        fillPattern(w.host(), nBytes, uint32_t(nQid * 1000 + i));
        Sqe wc = makeRw(NVM_WRITE, ns.nNsid, nLba, 8);
        Sqe rc = makeRw(NVM_READ, ns.nNsid, nLba, 8);
        PrpBuilder pw(ctl), pr(ctl);
        if (!pw.build(wc, w.bus(), nBytes, &sErr) || !pr.build(rc, r.bus(), nBytes, &sErr))
            return sErr;
        if (!run(wc))
            return "write " + std::to_string(i) + " on queue " + std::to_string(nQid) + " failed";
        if (!run(rc))
            return "read " + std::to_string(i) + " on queue " + std::to_string(nQid) + " failed";
        if (std::memcmp(w.host(), r.host(), nBytes) != 0)
            return "data mismatch in round " + std::to_string(i) + " on queue " + std::to_string(nQid);
    }
    return "";
}

TEST_F(HostConcurrency, QueuePairsOnThreadsWithConfigAndDmaTraffic)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    const uint16_t nPairs = uint16_t(std::min<uint32_t>({4, nSqGranted, nCqGranted}));
    for (uint16_t q = 1; q <= nPairs; ++q) {
        ASSERT_TRUE(ctl->createIoCq(q, 8).ok());
        ASSERT_TRUE(ctl->createIoSq(q, 8, q).ok());
    }
    NamespaceInfo ns = firstNamespace();
    if (ns.nMetaSize)
        GTEST_SKIP() << "plain data formats only";

    std::atomic<bool> bStop{false};
    std::atomic<int> nSideErrors{0};
    std::thread side([&] {
        const uint32_t nVendor = cfgRead(*plat, slot, CFG_VENDOR_ID, 4);
        while (!bStop.load()) {
            if (cfgRead(*plat, slot, CFG_VENDOR_ID, 4) != nVendor)
                ++nSideErrors;
            if (!(ctl->reg32(REG_CSTS) & CSTS_RDY))
                ++nSideErrors;
            kxmplat::DmaBuffer b;
            if (plat->dmaAlloc(ctl->device(), 8192, &b) != 0)
                ++nSideErrors;
            else
                plat->dmaFree(ctl->device(), &b);
            std::this_thread::yield();
        }
    });
    std::vector<std::string> results(nPairs);
    std::vector<std::thread> workers;
    for (uint16_t q = 1; q <= nPairs; ++q)
        workers.emplace_back([&, q] { results[q - 1] = driveQueuePair(*ctl, q, ns, uint64_t(q) * 4096, 200); });
    for (auto &t : workers)
        t.join();
    bStop = true;
    side.join();
    for (uint16_t q = 1; q <= nPairs; ++q)
        EXPECT_EQ(results[q - 1], "") << "queue " << q;
    EXPECT_EQ(nSideErrors.load(), 0);
}

} // namespace
