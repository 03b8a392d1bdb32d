#include "HostFixture.h"

#include "PrpBuilder.h"

#include <cstdlib>

namespace nvmehost {

void HostFixture::SetUp()
{
    std::string sCfg = simConfig();
    if (sCfg.empty())
        unsetenv("KXM_NVME_SIM");
    else
        setenv("KXM_NVME_SIM", sCfg.c_str(), 1);
    std::string sErr;
    plat = kxmplat::Platform::open(&sErr);
    ASSERT_TRUE(plat) << sErr;
    auto vFuncs = findNvmeFunctions(*plat);
    if (vFuncs.empty()) {
        ASSERT_STRNE(plat->name(), "sim") << "the simulated bus has no NVMe function";
        GTEST_SKIP() << "no NVMe controller on this platform";
    }
    slot = vFuncs[0].slot;
    ctl = HostController::open(*plat, slot, &sErr);
    ASSERT_TRUE(ctl) << sErr;
}

void HostFixture::TearDown()
{
    ctl.reset();
    if (plat)
        plat->close();
    plat.reset();
}

void HostFixture::bringUp(uint32_t nAdminEntries)
{
    std::string sErr;
    ASSERT_TRUE(ctl->bringUp(nAdminEntries, nAdminEntries, &sErr, 0, nCcCss)) << sErr;
    Completion c = ctl->setQueueCount(8, 8, &nSqGranted, &nCqGranted);
    ASSERT_TRUE(c.ok()) << "Set Features (number of queues) status " << std::hex << c.status();
    ASSERT_GE(nSqGranted, 1u);
    ASSERT_GE(nCqGranted, 1u);
}

void HostFixture::bringUpWithIo(uint32_t nEntries)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    Completion c = ctl->createIoCq(1, nEntries);
    ASSERT_TRUE(c.ok()) << "Create I/O CQ status " << std::hex << c.status();
    c = ctl->createIoSq(1, nEntries, 1);
    ASSERT_TRUE(c.ok()) << "Create I/O SQ status " << std::hex << c.status();
}

bool HostFixture::setUpWithIo(uint32_t nEntries)
{
    HostFixture::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return false;
    bringUpWithIo(nEntries);
    return !HasFatalFailure();
}

NamespaceInfo HostFixture::firstNamespace()
{
    NamespaceInfo n;
    auto v = activeNamespaces(*ctl);
    EXPECT_FALSE(v.empty()) << "no active namespace";
    if (!v.empty()) {
        EXPECT_TRUE(readNamespaceInfo(*ctl, v[0], &n));
    }
    return n;
}

Completion HostFixture::io(uint8_t nOpcode, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks, const DmaMemory &data,
                           size_t nOffset)
{
    nvmewire::Sqe cmd = makeRw(nOpcode, nNsid, nSlba, nBlocks);
    PrpBuilder prp(*ctl);
    NamespaceInfo ns;
    size_t nLen = size_t(nBlocks) * 512;
    if (readNamespaceInfo(*ctl, nNsid, &ns))
        nLen = size_t(nBlocks) * (ns.nBlockSize + (ns.bExtended ? ns.nMetaSize : 0));
    std::string sErr;
    if (!prp.build(cmd, data.bus() + nOffset, nLen, &sErr)) {
        ADD_FAILURE() << sErr;
        Completion c;
        c.bTimedOut = true;
        return c;
    }
    return ctl->execute(*ctl->sq(1), cmd);
}

DmaMemory HostFixture::dataBuffer(size_t nBytes, size_t nAlign)
{
    DmaMemory m;
    std::string sErr;
    EXPECT_TRUE(ctl->allocData(nBytes, nAlign, &m, &sErr)) << sErr;
    return m;
}

void fillPattern(uint8_t *p, size_t n, uint32_t nSeed)
{
    uint32_t x = nSeed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        p[i] = uint8_t(x);
    }
}

} // namespace nvmehost
