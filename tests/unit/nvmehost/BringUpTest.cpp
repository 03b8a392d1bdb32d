// Controller bring-up: PCIe preparation, CAP, the enable/disable handshake
// and the first admin commands.
#include "HostFixture.h"

#include <algorithm>

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

namespace {

using HostBringUp = HostFixture;

TEST_F(HostBringUp, PcieInitialisationLeavesD0WithMemoryAndBusMaster)
{
    int nPm = findCapability(*plat, slot, CAP_ID_PM);
    ASSERT_GE(nPm, 0);
    EXPECT_EQ(cfgRead(*plat, slot, uint32_t(nPm) + PM_PMCSR, 2) & PMCSR_STATE_MASK, PMCSR_D0) << "power state D0";
    uint32_t nCmd = cfgRead(*plat, slot, CFG_COMMAND, 2);
    EXPECT_TRUE(nCmd & CMD_MEMORY);
    EXPECT_TRUE(nCmd & CMD_BUS_MASTER);
}

TEST_F(HostBringUp, CapabilitiesAreSane)
{
    const Cap &c = ctl->caps();
    EXPECT_GE(c.maxQueueEntries(), 2u);
    EXPECT_GE(c.to(), 1u);
    EXPECT_LE(c.mpsmin(), c.mpsmax());
    EXPECT_TRUE(c.css() & CAP_CSS_NVM) << "NVM command set";
    EXPECT_GE(Vs{ctl->reg32(REG_VS)}.mjr(), 1u);
}

TEST_F(HostBringUp, Version2ControllerReadyModesAndTimeouts)
{
    const Vs vs{ctl->reg32(REG_VS)};
    if (vs.mjr() < 2)
        GTEST_SKIP() << "CAP.CRMS and CRTO come with version 2.0";
    const Cap &c = ctl->caps();
    EXPECT_TRUE(c.crms() & CAP_CRMS_CRWMS) << "ready with media is required";
    const uint32_t nCrto = ctl->reg32(REG_CRTO);
    // With CC.CRIME clear, CAP.TO is the ready-with-media time-out (capped).
    EXPECT_EQ(c.to(), std::min<uint32_t>(0xFF, nCrto & CRTO_CRWMT_MASK));
    if (!(c.crms() & CAP_CRMS_CRIMS)) {
        EXPECT_EQ(nCrto >> CRTO_CRIMT_SHIFT, 0u) << "no ready-independent-of-media time-out without CRIMS";
        EXPECT_EQ(ctl->reg32(REG_CC) & CC_CRIME, 0u);
    }
}

TEST_F(HostBringUp, EnableSetsReadyAndDisableClearsIt)
{
    std::string sErr;
    ASSERT_TRUE(ctl->bringUp(16, 16, &sErr)) << sErr;
    EXPECT_TRUE(ctl->reg32(REG_CSTS) & CSTS_RDY);
    EXPECT_FALSE(ctl->reg32(REG_CSTS) & CSTS_CFS);
    const Cc cc{ctl->reg32(REG_CC)};
    EXPECT_EQ(cc.iosqes(), 6u);
    EXPECT_EQ(cc.iocqes(), 4u);
    EXPECT_EQ(ctl->reg32(REG_AQA), (15u << 16) | 15u);
    EXPECT_EQ(ctl->reg64(REG_ASQ), ctl->adminSq().ring.bus());
    EXPECT_EQ(ctl->reg64(REG_ACQ), ctl->adminCq().ring.bus());

    ASSERT_TRUE(ctl->disable(&sErr)) << sErr;
    EXPECT_FALSE(ctl->reg32(REG_CSTS) & CSTS_RDY);
    // And again: a controller comes back after a disable.
    ASSERT_TRUE(ctl->bringUp(16, 16, &sErr)) << sErr;
    uint8_t aId[4096];
    EXPECT_TRUE(ctl->identify(CNS_CTRL, 0, 0, aId).ok());
}

TEST_F(HostBringUp, AdminCommandsCompleteWithMatchingFields)
{
    ASSERT_NO_FATAL_FAILURE(bringUp(8));
    uint8_t aId[4096];
    for (int i = 0; i < 3; ++i) {
        Sqe cmd{};
        cmd.setOpc(0x06);
        DmaMemory buf = dataBuffer(4096, ctl->pageSize());
        cmd.setPrp1(buf.bus());
        cmd.setCdw10(0x01);
        Completion c = ctl->admin(cmd);
        ASSERT_TRUE(c.ok()) << std::hex << c.status();
        EXPECT_EQ(c.sqid(), 0);
        EXPECT_EQ(c.sqhd(), ctl->adminSq().nTail) << "SQ head reports the consumed entry";
        std::memcpy(aId, buf.host(), sizeof aId);
        EXPECT_EQ(aId[0] | (aId[1] << 8), int(cfgRead(*plat, slot, CFG_VENDOR_ID, 2))) << "VID";
    }
    EXPECT_TRUE(ctl->strays().empty());
}

TEST_F(HostBringUp, UnsupportedAdminOpcodeIsInvalidOpcode)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    Sqe cmd{};
    cmd.setOpc(0xBF);     // not a defined admin opcode
    Completion c = ctl->admin(cmd);
    EXPECT_TRUE(c.is(0, 0x01)) << std::hex << c.status();
}

TEST_F(HostBringUp, NumberOfQueuesIsGrantedOnce)
{
    // A controller may grant more queues than asked for, or fewer; bringUp()
    // checked that at least one of each was granted.
    ASSERT_NO_FATAL_FAILURE(bringUp());
    // After an I/O queue exists the count may not change any more.
    ASSERT_TRUE(ctl->createIoCq(1, 16).ok());
    Completion c = ctl->setQueueCount(4, 4, nullptr, nullptr);
    EXPECT_TRUE(c.is(0, 0x0C)) << "command sequence error expected, status " << std::hex << c.status();
}

TEST_F(HostBringUp, AdminQueueBaseIgnoresReservedLowBits)
{
    std::string sErr;
    ASSERT_TRUE(ctl->disable(&sErr)) << sErr;
    DmaMemory sqm = dataBuffer(2 * ctl->pageSize(), ctl->pageSize());
    ctl->setReg64(REG_ASQ, sqm.bus() + 64);
    ctl->setReg64(REG_ACQ, sqm.bus() + 0x123);
    EXPECT_EQ(ctl->reg64(REG_ASQ), sqm.bus());
    EXPECT_EQ(ctl->reg64(REG_ACQ), sqm.bus());
}

} // namespace
