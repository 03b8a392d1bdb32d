// Controller state the host reads back: live SMART counters, the error
// information log, features that hold what was set, and Abort.
#include "HostFixture.h"
#include "PrpBuilder.h"

#include <nvme/types.h>

using namespace nvmehost;
using namespace nvmewire;

namespace {

class HostAdminState : public HostFixture {
protected:
    void SetUp() override
    {
        if (!setUpWithIo(64))
            return;
        ns = firstNamespace();
        if (ns.nMetaSize)
            GTEST_SKIP() << "plain data formats only";
    }

    Completion getLogPage(uint8_t nLid, uint32_t nNsid, void *pOut, uint32_t nBytes)
    {
        DmaMemory buf = dataBuffer(nBytes, ctl->pageSize());
        Sqe cmd{};
        cmd.setOpc(0x02);
        cmd.setNsid(nNsid);
        uint32_t nNumd = nBytes / 4 - 1;
        cmd.setCdw10(nLid | ((nNumd & 0xFFFF) << 16));
        cmd.setCdw11(nNumd >> 16);
        PrpBuilder prp(*ctl);
        prp.build(cmd, buf.bus(), nBytes, nullptr);
        Completion c = ctl->admin(cmd);
        std::memcpy(pOut, buf.host(), nBytes);
        return c;
    }

    Completion features(bool bSet, uint8_t nFid, uint32_t nValue)
    {
        Sqe cmd{};
        cmd.setOpc(bSet ? 0x09 : 0x0A);
        cmd.setCdw10(nFid);
        cmd.setCdw11(nValue);
        return ctl->admin(cmd);
    }

    static uint64_t low64(const uint8_t *p)
    {
        uint64_t n;
        std::memcpy(&n, p, sizeof n);
        return n;
    }

    NamespaceInfo ns;
};

TEST_F(HostAdminState, SmartCountersFollowTheIo)
{
    nvme_smart_log before, after;
    ASSERT_TRUE(getLogPage(0x02, 0xFFFFFFFFu, &before, sizeof before).ok());
    // 200 reads and 30 writes of 64 KiB: 25,600 and 3,840 units of 512
    // bytes; data units count thousands of those, rounded up.
    const uint32_t nBlocks = 65536 / ns.nBlockSize;
    DmaMemory buf = dataBuffer(65536, ctl->pageSize());
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(io(NVM_WRITE, ns.nNsid, uint64_t(i) * nBlocks, nBlocks, buf).ok());
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(io(NVM_READ, ns.nNsid, 0, nBlocks, buf).ok());
    ASSERT_TRUE(getLogPage(0x02, 0xFFFFFFFFu, &after, sizeof after).ok());
    EXPECT_EQ(low64(after.host_reads) - low64(before.host_reads), 200u);
    EXPECT_EQ(low64(after.host_writes) - low64(before.host_writes), 30u);
    uint64_t nRead = low64(after.data_units_read) - low64(before.data_units_read);
    uint64_t nWritten = low64(after.data_units_written) - low64(before.data_units_written);
    EXPECT_GE(nRead, 25u);
    EXPECT_LE(nRead, 26u);
    EXPECT_GE(nWritten, 3u);
    EXPECT_LE(nWritten, 4u);
    uint16_t nTemp = uint16_t(after.temperature[0] | (after.temperature[1] << 8));
    EXPECT_GT(nTemp, 273u) << "composite temperature in kelvin";
}

TEST_F(HostAdminState, FailedCommandLandsInTheErrorLog)
{
    nvme_error_log_page before[4] = {}, after[4] = {};
    ASSERT_TRUE(getLogPage(0x01, 0, before, sizeof before).ok());
    DmaMemory buf = dataBuffer(ns.nBlockSize, ctl->pageSize());
    Sqe r = makeRw(NVM_READ, ns.nNsid, ns.nSize, 1);
    r.setPrp1(buf.bus());
    Completion c = ctl->execute(*ctl->sq(1), r);
    ASSERT_TRUE(c.is(0, 0x80)) << std::hex << c.status();
    // Extended status for the command is in the log when the More bit says
    // so; without it a controller need keep no entry.
    if (!(c.status() & 0x2000)) {
        ASSERT_STRNE(plat->name(), "sim") << "the simulator announces its log entries with the More bit";
        GTEST_SKIP() << "the completion has no More bit: no log entry is promised";
    }
    ASSERT_TRUE(getLogPage(0x01, 0, after, sizeof after).ok());
    EXPECT_GT(after[0].error_count, before[0].error_count);
    EXPECT_EQ(after[0].sqid, 1);
    EXPECT_EQ(after[0].cmdid, c.cid());
    EXPECT_EQ(after[0].status_field >> 1, c.status());
    EXPECT_EQ(after[0].nsid, ns.nNsid);
}

TEST_F(HostAdminState, FeaturesHoldWhatWasSet)
{
    // Temperature threshold (04h): over-temperature threshold of sensor 0.
    Completion c = features(false, 0x04, 0);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    uint32_t nOld = c.dw0() & 0xFFFF;
    ASSERT_TRUE(features(true, 0x04, 350).ok());
    c = features(false, 0x04, 0);
    EXPECT_EQ(c.dw0() & 0xFFFF, 350u);
    ASSERT_TRUE(features(true, 0x04, nOld).ok());

    // Volatile write cache (06h), where there is one.
    nvme_id_ctrl id;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    if (id.vwc & 1) {
        ASSERT_TRUE(features(true, 0x06, 0).ok());
        EXPECT_EQ(features(false, 0x06, 0).dw0() & 1, 0u);
        ASSERT_TRUE(features(true, 0x06, 1).ok());
        EXPECT_EQ(features(false, 0x06, 0).dw0() & 1, 1u);
    }
    // Number of queues reports what was granted at bring-up.
    c = features(false, 0x07, 0);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ((c.dw0() & 0xFFFF) + 1, nSqGranted);
    EXPECT_EQ((c.dw0() >> 16) + 1, nCqGranted);
    // An identifier no controller defines.
    c = features(false, 0x7F, 0);
    EXPECT_TRUE(c.is(0, 0x02)) << std::hex << c.status();
}

TEST_F(HostAdminState, AbortOfACommandThatIsNotOutstanding)
{
    Sqe abort{};
    abort.setOpc(0x08);
    abort.setCdw10((uint32_t(0x1234) << 16) | 1);     // CID 1234h on SQ 1
    Completion c = ctl->admin(abort);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(c.dw0() & 1, 1u) << "nothing was aborted";
}

} // namespace
