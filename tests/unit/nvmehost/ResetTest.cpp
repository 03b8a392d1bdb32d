// Resets: controller reset (CC.EN 1 to 0), function-level reset, NVM
// subsystem reset, and normal and abrupt shutdown. Data written before a
// reset is still there after it.
#include "HostFixture.h"

#include <thread>

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

namespace {

class HostResets : public HostFixture {
protected:
    // A link-down window after a subsystem reset long enough to observe.
    std::string simConfig() const override { return R"({"devices": [{"timings": {"linkDownMs": 500}}]})"; }

    void SetUp() override
    {
        if (!setUpWithIo(16))
            return;
        ns = firstNamespace();
        if (ns.nMetaSize && !ns.bExtended)
            GTEST_SKIP() << "tests write plain data";
        nBlockBytes = ns.nBlockSize + (ns.bExtended ? ns.nMetaSize : 0);
    }

    void writeMarker(uint32_t nSeed)
    {
        DmaMemory buf = dataBuffer(4 * nBlockBytes, ctl->pageSize());
        fillPattern(buf.host(), 4 * nBlockBytes, nSeed);
        Completion c = io(NVM_WRITE, ns.nNsid, 500, 4, buf);
        ASSERT_TRUE(c.ok()) << std::hex << c.status();
        Sqe f = makeRw(NVM_FLUSH, ns.nNsid, 0, 1);
        f.setCdw10(0);
        f.setCdw11(0);
        f.setCdw12(0);
        ASSERT_TRUE(ctl->execute(*ctl->sq(1), f).ok());
    }

    // Brings the controller up again with an I/O pair and checks the
    // marker.
    void expectMarker(uint32_t nSeed)
    {
        ASSERT_NO_FATAL_FAILURE(bringUpWithIo(16));
        DmaMemory buf = dataBuffer(4 * nBlockBytes, ctl->pageSize());
        Completion c = io(NVM_READ, ns.nNsid, 500, 4, buf);
        ASSERT_TRUE(c.ok()) << std::hex << c.status();
        std::vector<uint8_t> expect(4 * nBlockBytes);
        fillPattern(expect.data(), expect.size(), nSeed);
        EXPECT_EQ(std::memcmp(buf.host(), expect.data(), expect.size()), 0) << "data lost in the reset";
    }

    // Configuration registers the host restores after a reset of the
    // function, as a driver does.
    struct SavedConfig {
        uint32_t nBar0 = 0, nBar1 = 0;
    };
    SavedConfig saveConfig()
    {
        return {cfgRead(*plat, slot, CFG_BAR0, 4), cfgRead(*plat, slot, CFG_BAR1, 4)};
    }
    void restoreConfig(const SavedConfig &s)
    {
        cfgWrite(*plat, slot, CFG_BAR0, s.nBar0, 4);
        cfgWrite(*plat, slot, CFG_BAR1, s.nBar1, 4);
        ASSERT_TRUE(pcieInitialise(*plat, slot));
        ctl->refreshCaps();
    }

    NamespaceInfo ns;
    size_t nBlockBytes = 512;
};

TEST_F(HostResets, ControllerResetDropsIoQueuesKeepsData)
{
    ASSERT_NO_FATAL_FAILURE(writeMarker(70));
    uint32_t nAqa = ctl->reg32(REG_AQA);
    ctl->setReg32(REG_CC, ctl->reg32(REG_CC) & ~CC_EN);
    ASSERT_TRUE(ctl->waitReady(false));
    EXPECT_EQ(ctl->reg32(REG_AQA), nAqa) << "admin queue attributes survive a controller reset";
    // The old queue ids are free again after the reset.
    ASSERT_NO_FATAL_FAILURE(expectMarker(70));
}

TEST_F(HostResets, FunctionLevelReset)
{
    if (!functionLevelResetSupported(*plat, slot))
        GTEST_SKIP() << "function-level reset not offered";
    ASSERT_NO_FATAL_FAILURE(writeMarker(71));
    SavedConfig saved = saveConfig();
    ASSERT_TRUE(functionLevelReset(*plat, slot));
    // Registers are back at their defaults: memory space is off again...
    EXPECT_EQ(cfgRead(*plat, slot, CFG_COMMAND, 2) & (CMD_MEMORY | CMD_BUS_MASTER), 0u);
    // ...and so is the Device Control bit that started the reset.
    int nPcie = findCapability(*plat, slot, CAP_ID_PCIE);
    ASSERT_GE(nPcie, 0);
    EXPECT_EQ(cfgRead(*plat, slot, uint32_t(nPcie) + PCIE_DEVCTL, 2) & DEVCTL_FLR, 0u);
    ASSERT_NO_FATAL_FAILURE(restoreConfig(saved));
    EXPECT_EQ(ctl->reg32(REG_CC), 0u);
    EXPECT_EQ(ctl->reg32(REG_CSTS) & CSTS_RDY, 0u);
    EXPECT_EQ(ctl->reg32(REG_AQA), 0u);
    ASSERT_NO_FATAL_FAILURE(expectMarker(71));
}

TEST_F(HostResets, SubsystemResetTakesTheLinkDownForAWhile)
{
    if (!ctl->caps().nssrs())
        GTEST_SKIP() << "NVM subsystem reset not supported";
    ASSERT_NO_FATAL_FAILURE(writeMarker(72));
    // Any value but "NVMe" does nothing.
    ctl->setReg32(REG_NSSR, 0x12345678);
    EXPECT_TRUE(ctl->reg32(REG_CSTS) & CSTS_RDY);

    SavedConfig saved = saveConfig();
    ctl->setReg32(REG_NSSR, NSSR_RESET_VALUE);
    uint32_t nId = 0;
    plat->cfgRead(slot, CFG_VENDOR_ID, &nId, 4);
    EXPECT_EQ(nId, 0xFFFFFFFFu) << "the function still answers during the subsystem reset";
    ASSERT_TRUE(waitFunctionPresent(*plat, slot, 5000)) << "the function never came back";
    ASSERT_NO_FATAL_FAILURE(restoreConfig(saved));
    uint32_t nCsts = ctl->reg32(REG_CSTS);
    EXPECT_EQ(nCsts & CSTS_RDY, 0u);
    EXPECT_TRUE(nCsts & CSTS_NSSRO) << "NSSRO reports the subsystem reset";
    // NSSRO is cleared by writing 1 to it.
    ctl->setReg32(REG_CSTS, CSTS_NSSRO);
    EXPECT_FALSE(ctl->reg32(REG_CSTS) & CSTS_NSSRO);
    ASSERT_NO_FATAL_FAILURE(expectMarker(72));
}

TEST_F(HostResets, NormalShutdownCompletesAndTheControllerComesBack)
{
    ASSERT_NO_FATAL_FAILURE(writeMarker(73));
    std::string sErr;
    ASSERT_TRUE(ctl->shutdown(int(ctl->caps().to()) * 500, &sErr)) << sErr;
    EXPECT_EQ((ctl->reg32(REG_CSTS) >> CSTS_SHST_SHIFT) & 3, 2u);
    // A controller reset after the shutdown readies it again, SHST clear.
    ASSERT_TRUE(ctl->disable(&sErr)) << sErr;
    ASSERT_NO_FATAL_FAILURE(expectMarker(73));
    EXPECT_EQ((ctl->reg32(REG_CSTS) >> CSTS_SHST_SHIFT) & 3, 0u);
}

TEST_F(HostResets, AbruptShutdownCompletesToo)
{
    ASSERT_NO_FATAL_FAILURE(writeMarker(74));
    uint32_t nCc = ctl->reg32(REG_CC);
    ctl->setReg32(REG_CC, (nCc & ~(3u << CC_SHN_SHIFT)) | (2u << CC_SHN_SHIFT));
    auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(ctl->caps().to() * 500);
    while (((ctl->reg32(REG_CSTS) >> CSTS_SHST_SHIFT) & 3) != 2 && std::chrono::steady_clock::now() < tEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ((ctl->reg32(REG_CSTS) >> CSTS_SHST_SHIFT) & 3, 2u);
    std::string sErr;
    ASSERT_TRUE(ctl->disable(&sErr)) << sErr;
    ASSERT_NO_FATAL_FAILURE(expectMarker(74));
}

} // namespace
