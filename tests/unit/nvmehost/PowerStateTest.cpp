// Power states: the descriptors Identify reports, Set/Get Features Power
// Management (state and workload hint), a non-operational state that the
// next I/O command leaves for the last operational state while admin
// commands leave it alone, and PS0 again after a controller reset.
#include "HostFixture.h"
#include "nvmewire/Identify.h"

#include <nvme/types.h>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

class HostPowerStates : public HostFixture {
protected:
    void SetUp() override
    {
        if (!setUpWithIo(16))
            return;
        ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
        for (uint32_t i = 1; i <= npss(id) && !nNonOp; ++i)
            if (nonOperational(id, i))
                nNonOp = i;
        for (uint32_t i = 1; i <= npss(id) && !nOp; ++i)
            if (!nonOperational(id, i))
                nOp = i;
        if (!nNonOp || !nOp)
            GTEST_SKIP() << "needs an operational and a non-operational state besides PS0 (NPSS " << int(npss(id)) << ")";
        ns = firstNamespace();
        if (ns.nMetaSize)
            GTEST_SKIP() << "plain data formats only";
    }

    Completion features(bool bSet, uint32_t nValue)
    {
        Sqe cmd{};
        cmd.setOpc(bSet ? 0x09 : 0x0A);
        cmd.setCdw10(NVME_FEAT_FID_POWER_MGMT);
        cmd.setCdw11(nValue);
        return ctl->admin(cmd);
    }
    uint32_t current()
    {
        Completion c = features(false, 0);
        EXPECT_TRUE(c.ok()) << std::hex << c.status();
        return c.dw0() & 0xFF;
    }

    nvme_id_ctrl id{};
    uint32_t nOp = 0, nNonOp = 0;   // first operational and non-operational state after PS0
    NamespaceInfo ns;
};

TEST_F(HostPowerStates, NonOperationalStateEndsWithTheNextIo)
{
    EXPECT_FALSE(nonOperational(id, 0)) << "PS0 is operational";
    if (onSim(*plat)) {
        // The simulator's default table: PS0-PS2 operational, PS3 and PS4 not.
        ASSERT_EQ(npss(id), 4);
        for (uint32_t i = 0; i <= 4; ++i) {
            EXPECT_EQ(nonOperational(id, i), i >= 3) << "PS" << i;
            EXPECT_EQ(id.psd[i].rrt, i) << "PS" << i;
            EXPECT_EQ(id.psd[i].rwl, i) << "PS" << i;
        }
        EXPECT_GT(id.psd[0].mp, id.psd[3].mp);
        EXPECT_GT(id.psd[4].exlat, id.psd[0].exlat);
    }
    EXPECT_EQ(current(), 0u);
    // Beyond NPSS, and a reserved workload hint.
    EXPECT_TRUE(features(true, powerMgmtValue(npss(id) + 1, 0)).is(0, 0x02));
    EXPECT_TRUE(features(true, powerMgmtValue(uint8_t(nOp), 7)).is(0, 0x02));
    EXPECT_EQ(current(), 0u) << "a refused Set Features changes nothing";

    // An operational state with a workload hint.
    ASSERT_TRUE(features(true, powerMgmtValue(uint8_t(nOp), 2)).ok());
    EXPECT_EQ(current(), powerMgmtValue(uint8_t(nOp), 2));

    // A non-operational state: admin commands keep it...
    ASSERT_TRUE(features(true, powerMgmtValue(uint8_t(nNonOp), 2)).ok());
    EXPECT_EQ(current(), powerMgmtValue(uint8_t(nNonOp), 2));
    nvme_id_ctrl again;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &again).ok());
    EXPECT_EQ(current() & 0x1F, nNonOp);
    // ...an I/O command is processed and brings back the last operational one.
    DmaMemory buf = dataBuffer(ns.nBlockSize, ctl->pageSize());
    Completion c = io(NVM_READ, ns.nNsid, 0, 1, buf);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(current(), powerMgmtValue(uint8_t(nOp), 2));

    // A controller reset starts again from PS0.
    ASSERT_TRUE(features(true, powerMgmtValue(uint8_t(nNonOp), 0)).ok());
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(16));
    EXPECT_EQ(current(), 0u);
}

} // namespace
