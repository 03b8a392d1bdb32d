// The same host paths against simulated devices set up through
// KXM_NVME_SIM: other queue limits, doorbell strides, page sizes, DMA
// buffers that start inside a page, two controllers sharing a namespace,
// and controllers that misbehave. On other platforms the configuration is
// ignored and the checks that depend on it skip themselves.
#include "HostFixture.h"
#include "PrpBuilder.h"

#include <nvme/types.h>

#include <chrono>
#include <thread>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

// ---------------------------------------------------------------- geometry

class HostGeometry : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{
            "lbaFormats": [{"dataSize": "4K"}, {"dataSize": 512}],
            "controllers": [{"mqes": 63, "dstrd": 2, "queuePairs": 4, "mdts": 3}],
            "namespaces": [{"nsid": 1, "size": "64M", "format": 0}]}]})";
    }
    void SetUp() override
    {
        HostFixture::SetUp();
        if (!IsSkipped() && !HasFatalFailure() && !onSim(*plat))
            GTEST_SKIP() << "needs the configured simulated device";
    }
};

TEST_F(HostGeometry, CapReflectsTheConfiguration)
{
    EXPECT_EQ(ctl->caps().maxQueueEntries(), 64u);
    EXPECT_EQ(ctl->caps().doorbellStrideBytes(), 16u);
    EXPECT_EQ(ctl->sqDoorbell(3), 0x1000u + 6 * 16);
    EXPECT_EQ(ctl->cqDoorbell(3), 0x1000u + 7 * 16);
}

TEST_F(HostGeometry, QueuesUseTheWideDoorbellStride)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    EXPECT_EQ(nSqGranted, 4u);
    EXPECT_EQ(nCqGranted, 4u);
    Completion c = ctl->createIoCq(5, 16);
    EXPECT_TRUE(c.is(1, 0x01)) << "beyond the granted queues, status " << std::hex << c.status();
    c = ctl->createIoCq(4, 65);
    EXPECT_TRUE(c.is(1, 0x02)) << "beyond MQES, status " << std::hex << c.status();
    ASSERT_TRUE(ctl->createIoCq(4, 64).ok());
    ASSERT_TRUE(ctl->createIoSq(4, 64, 4).ok());

    NamespaceInfo ns = firstNamespace();
    ASSERT_EQ(ns.nBlockSize, 4096u);
    DmaMemory w = dataBuffer(3 * 4096, ctl->pageSize());
    DmaMemory r = dataBuffer(3 * 4096, ctl->pageSize());
    fillPattern(w.host(), 3 * 4096, 90);
    // More commands than the queue holds, so both rings wrap.
    for (int i = 0; i < 150; ++i) {
        Sqe cmd = makeRw(i % 2 ? NVM_READ : NVM_WRITE, ns.nNsid, uint64_t(i / 2) * 3, 3);
        PrpBuilder prp(*ctl);
        ASSERT_TRUE(prp.build(cmd, (i % 2 ? r : w).bus(), 3 * 4096, nullptr));
        Completion done = ctl->execute(*ctl->sq(4), cmd);
        ASSERT_TRUE(done.ok()) << "command " << i << " status " << std::hex << done.status();
        if (i % 2) {
            ASSERT_EQ(std::memcmp(w.host(), r.host(), 3 * 4096), 0) << "command " << i;
        }
    }
}

TEST_F(HostGeometry, MdtsLimitsTransfers)
{
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(16));
    nvme_id_ctrl id;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    EXPECT_EQ(id.mdts, 3);
    NamespaceInfo ns = firstNamespace();
    DmaMemory buf = dataBuffer(9 * 4096, ctl->pageSize());
    EXPECT_TRUE(io(NVM_READ, ns.nNsid, 0, 8, buf).ok());
    Completion c = io(NVM_READ, ns.nNsid, 0, 9, buf);
    EXPECT_TRUE(c.is(0, 0x02)) << std::hex << c.status();
}

// ------------------------------------------------- large pages, offset DMA

class HostLargePages : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"dmaInPageOffset": 256, "devices": [{
            "controllers": [{"mpsMin": 1, "mpsMax": 2}],
            "namespaces": [{"nsid": 1, "size": "32M"}]}]})";
    }
    void SetUp() override
    {
        HostFixture::SetUp();
        if (!IsSkipped() && !HasFatalFailure() && !onSim(*plat))
            GTEST_SKIP() << "needs the configured simulated device";
    }
};

TEST_F(HostLargePages, BuffersStartInsideTheirPage)
{
    kxmplat::DmaBuffer b;
    ASSERT_EQ(plat->dmaAlloc(ctl->device(), 4096, &b), 0);
    EXPECT_EQ(b.nBusAddr % 4096, 256u);
    plat->dmaFree(ctl->device(), &b);
    // The host's own regions are aligned as asked all the same.
    DmaMemory m = dataBuffer(100, 8192);
    EXPECT_EQ(m.bus() % 8192, 0u);
}

TEST_F(HostLargePages, EightKibPagesAndUnalignedBuffers)
{
    ASSERT_EQ(ctl->pageSize(), 8192u);
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(32));
    EXPECT_EQ((ctl->reg32(REG_CC) >> 7) & 0xF, 1u) << "CC.MPS follows the page size";
    NamespaceInfo ns = firstNamespace();
    // Buffers straight from the platform start 256 bytes into a page, so
    // every transfer takes the unaligned PRP path, lists included.
    for (uint32_t nBlocks : {1u, 16u, 17u, 40u, 64u}) {
        const size_t nBytes = size_t(nBlocks) * ns.nBlockSize;
        DmaMemory src = dataBuffer(nBytes);
        DmaMemory dst = dataBuffer(nBytes);
        ASSERT_NE(src.bus() % ctl->pageSize(), 0u);
        fillPattern(src.host(), nBytes, 200 + nBlocks);
        ASSERT_TRUE(io(NVM_WRITE, ns.nNsid, 1000, nBlocks, src).ok()) << nBlocks << " blocks";
        ASSERT_TRUE(io(NVM_READ, ns.nNsid, 1000, nBlocks, dst).ok()) << nBlocks << " blocks";
        EXPECT_EQ(std::memcmp(src.host(), dst.host(), nBytes), 0) << nBlocks << " blocks";
    }
}

// ------------------------------------------------- two controllers, shared

class HostTwoControllers : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{
            "controllers": [{}, {}],
            "namespaces": [{"nsid": 1, "size": "16M"},
                           {"nsid": 2, "size": "16M", "attach": [1]}]}]})";
    }
};

TEST_F(HostTwoControllers, SharedNamespaceAndPrivateAttachment)
{
    if (!onSim(*plat))
        GTEST_SKIP() << "needs the configured simulated device";
    auto funcs = findNvmeFunctions(*plat);
    ASSERT_EQ(funcs.size(), 2u);
    std::string sErr;
    auto second = HostController::open(*plat, funcs[1].slot, &sErr);
    ASSERT_TRUE(second) << sErr;

    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(16));
    ASSERT_TRUE(second->bringUp(16, 16, &sErr)) << sErr;
    ASSERT_TRUE(second->setQueueCount(1, 1, nullptr, nullptr).ok());
    ASSERT_TRUE(second->createIoCq(1, 16).ok());
    ASSERT_TRUE(second->createIoSq(1, 16, 1).ok());

    EXPECT_EQ(activeNamespaces(*ctl), std::vector<uint32_t>({1}));
    EXPECT_EQ(activeNamespaces(*second), std::vector<uint32_t>({1, 2}));
    nvme_id_ctrl a, b;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &a).ok());
    ASSERT_TRUE(second->identify(CNS_CTRL, 0, 0, &b).ok());
    EXPECT_NE(a.cntlid, b.cntlid);

    // What one controller writes, the other reads.
    DmaMemory w = dataBuffer(2048);
    fillPattern(w.host(), 2048, 300);
    ASSERT_TRUE(io(NVM_WRITE, 1, 77, 4, w).ok());
    DmaMemory r;
    ASSERT_TRUE(second->allocData(2048, 0, &r, &sErr)) << sErr;
    Sqe cmd = makeRw(NVM_READ, 1, 77, 4);
    PrpBuilder prp(*second);
    ASSERT_TRUE(prp.build(cmd, r.bus(), 2048, &sErr)) << sErr;
    ASSERT_TRUE(second->execute(*second->sq(1), cmd).ok());
    EXPECT_EQ(std::memcmp(w.host(), r.host(), 2048), 0);

    // Namespace 2 is not attached to the first controller.
    Completion c = io(NVM_READ, 2, 0, 1, w);
    EXPECT_FALSE(c.ok());
    EXPECT_FALSE(c.bTimedOut);
    r.release();
    second.reset();
}

// ---------------------------------------------------------- misbehaviour

class HostNeverReady : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{"controllers": [{"timeout": 1, "faults": {"neverReady": true}}]}]})";
    }
};

TEST_F(HostNeverReady, BringUpGivesUpAfterCapTimeout)
{
    if (!onSim(*plat))
        GTEST_SKIP() << "needs the configured simulated device";
    auto t0 = std::chrono::steady_clock::now();
    std::string sErr;
    EXPECT_FALSE(ctl->bringUp(8, 8, &sErr));
    auto dMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_NE(sErr.find("did not set"), std::string::npos) << sErr;
    EXPECT_GE(dMs, 450);
    EXPECT_LT(dMs, 3000);
}

class HostFaults : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{"controllers": [{"timeout": 2, "faults": {
            "shutdownNeverCompletes": true,
            "injectStatus": [{"queue": "io", "opcode": 2, "nth": 2, "status": "0x0281"},
                             {"queue": "admin", "opcode": 6, "nth": 3, "status": "0x4002"}],
            "bogusCid": [{"queue": "io", "opcode": 1, "nth": 1}]}}]}]})";
    }
    void SetUp() override
    {
        HostFixture::SetUp();
        if (!IsSkipped() && !HasFatalFailure() && !onSim(*plat))
            GTEST_SKIP() << "needs the configured simulated device";
    }
};

TEST_F(HostFaults, InjectedStatusesReachTheHostUnchanged)
{
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(16));      // no Identify yet
    NamespaceInfo ns = firstNamespace();             // Identify #1 and #2
    uint8_t aId[4096];
    Completion c = ctl->identify(CNS_CTRL, 0, 0, aId);   // #3
    EXPECT_TRUE(c.is(0, 0x02)) << std::hex << c.status();
    EXPECT_TRUE(c.dnr());
    EXPECT_TRUE(ctl->identify(CNS_CTRL, 0, 0, aId).ok()) << "a rule fires once";

    DmaMemory buf = dataBuffer(ns.nBlockSize);
    EXPECT_TRUE(io(NVM_READ, ns.nNsid, 0, 1, buf).ok());
    c = io(NVM_READ, ns.nNsid, 0, 1, buf);
    EXPECT_TRUE(c.is(2, 0x81)) << std::hex << c.status();
    EXPECT_TRUE(io(NVM_READ, ns.nNsid, 0, 1, buf).ok());
}

TEST_F(HostFaults, CompletionWithAForeignCidIsNotTakenForTheCommand)
{
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(16));
    NamespaceInfo ns = firstNamespace();
    DmaMemory buf = dataBuffer(ns.nBlockSize);
    Sqe w = makeRw(NVM_WRITE, ns.nNsid, 0, 1);
    w.setPrp1(buf.bus());
    Completion c = ctl->execute(*ctl->sq(1), w, 1500);
    EXPECT_TRUE(c.bTimedOut) << "the command's own completion never comes";
    ASSERT_EQ(ctl->strays().size(), 1u);
    EXPECT_NE(ctl->strays()[0].cid(), c.cid());
    EXPECT_EQ(ctl->strays()[0].sqid(), 1);
    // The queue goes on working.
    EXPECT_TRUE(io(NVM_WRITE, ns.nNsid, 0, 1, buf).ok());
}

TEST_F(HostFaults, ShutdownThatNeverCompletesIsReportedNotAwaitedForever)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    std::string sErr;
    EXPECT_FALSE(ctl->shutdown(300, &sErr));
    EXPECT_NE(sErr.find("SHST=1"), std::string::npos) << sErr;
    // A controller reset still works afterwards.
    EXPECT_TRUE(ctl->bringUp(8, 8, &sErr)) << sErr;
}

class HostSlowCommands : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{"controllers": [{"faults": {"latencyUs": 200000}}]}]})";
    }
};

TEST_F(HostSlowCommands, ResetDropsOutstandingCommands)
{
    if (!onSim(*plat))
        GTEST_SKIP() << "needs the configured simulated device";
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(16));
    NamespaceInfo ns = firstNamespace();
    DmaMemory buf = dataBuffer(ns.nBlockSize);
    // Queue reads that take 200 ms each, then reset the controller at once.
    HostSq &sq = *ctl->sq(1);
    for (int i = 0; i < 4; ++i) {
        Sqe r = makeRw(NVM_READ, ns.nNsid, 0, 1);
        r.setPrp1(buf.bus());
        ASSERT_TRUE(ctl->submit(sq, r));
    }
    HostCq &cq = *ctl->cq(1);
    std::string sErr;
    uint32_t nCc = ctl->reg32(REG_CC);
    ctl->setReg32(REG_CC, nCc & ~CC_EN);
    ASSERT_TRUE(ctl->waitReady(false));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    Completion c;
    int nLate = 0;
    while (cq.pop(&c))
        ++nLate;
    EXPECT_EQ(nLate, 0) << "completions posted after the controller was reset";
    ASSERT_TRUE(ctl->bringUp(8, 8, &sErr)) << sErr;
    uint8_t aId[4096];
    EXPECT_TRUE(ctl->identify(CNS_CTRL, 0, 0, aId).ok());
}

} // namespace
