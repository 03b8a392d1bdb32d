// Creating and deleting I/O queues, with every status the controller owes
// for a request it cannot honour.
#include "HostFixture.h"

using namespace nvmehost;
using namespace nvmewire;

namespace {

constexpr uint8_t SCT_SPECIFIC = 1;
constexpr uint8_t SC_CQ_INVALID = 0x00;
constexpr uint8_t SC_INVALID_QID = 0x01;
constexpr uint8_t SC_INVALID_QSIZE = 0x02;
constexpr uint8_t SC_INVALID_DELETION = 0x0C;

class HostQueueCreation : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        if (!IsSkipped() && !HasFatalFailure())
            bringUp();
    }
};

#define EXPECT_STATUS(c, sct, sc) \
    EXPECT_TRUE((c).is((sct), (sc))) << "status " << std::hex << (c).status() << (c).bTimedOut

TEST_F(HostQueueCreation, PairsCreateAndDeleteInOrder)
{
    for (uint16_t q = 1; q <= nCqGranted && q <= nSqGranted && q <= 4; ++q) {
        ASSERT_TRUE(ctl->createIoCq(q, 32).ok());
        ASSERT_TRUE(ctl->createIoSq(q, 32, q).ok());
    }
    // SQ 2 may share CQ 1.
    if (nSqGranted >= 5) {
        EXPECT_TRUE(ctl->createIoSq(5, 16, 1).ok());
    }
    for (uint16_t q = 1; q <= nCqGranted && q <= nSqGranted && q <= 4; ++q) {
        EXPECT_TRUE(ctl->deleteIoSq(q).ok());
        if (q == 1 && nSqGranted >= 5) {
            EXPECT_TRUE(ctl->deleteIoSq(5).ok());
        }
        EXPECT_TRUE(ctl->deleteIoCq(q).ok());
    }
    // The ids are free again.
    EXPECT_TRUE(ctl->createIoCq(1, 8).ok());
    EXPECT_TRUE(ctl->createIoSq(1, 8, 1).ok());
}

TEST_F(HostQueueCreation, InvalidQueueIdentifier)
{
    Completion c = ctl->createIoCq(0, 16);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID);
    c = ctl->createIoCq(uint16_t(nCqGranted + 1), 16);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID);
    ASSERT_TRUE(ctl->createIoCq(1, 16).ok());
    c = ctl->createIoCq(1, 16);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID) << " (CQ id in use)";

    c = ctl->createIoSq(0, 16, 1);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID);
    c = ctl->createIoSq(uint16_t(nSqGranted + 1), 16, 1);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID);
    ASSERT_TRUE(ctl->createIoSq(1, 16, 1).ok());
    c = ctl->createIoSq(1, 16, 1);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID) << " (SQ id in use)";
}

TEST_F(HostQueueCreation, InvalidQueueSize)
{
    uint32_t nMax = ctl->caps().maxQueueEntries();
    Completion c = ctl->createIoCq(1, 1);     // QSIZE 0
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QSIZE);
    if (nMax < 65536) {
        c = ctl->createIoCq(1, nMax + 1);
        EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QSIZE);
    }
    ASSERT_TRUE(ctl->createIoCq(1, nMax).ok()) << "the largest size CAP.MQES allows";
    c = ctl->createIoSq(1, 1, 1);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QSIZE);
    if (nMax < 65536) {
        c = ctl->createIoSq(1, nMax + 1, 1);
        EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QSIZE);
    }
    EXPECT_TRUE(ctl->createIoSq(1, 2, 1).ok()) << "the smallest queue has two entries";
}

TEST_F(HostQueueCreation, CompletionQueueInvalid)
{
    Completion c = ctl->createIoSq(1, 16, 1);     // CQ 1 does not exist
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_CQ_INVALID);
    c = ctl->createIoSq(1, 16, 0);                // the admin CQ
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_CQ_INVALID);
    ASSERT_TRUE(ctl->createIoCq(2, 16).ok());
    EXPECT_TRUE(ctl->createIoSq(1, 16, 2).ok());
}

TEST_F(HostQueueCreation, InvalidDeletion)
{
    Completion c = ctl->deleteIoSq(0);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID) << " (admin SQ)";
    c = ctl->deleteIoCq(0);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID) << " (admin CQ)";
    c = ctl->deleteIoSq(3);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID) << " (no such SQ)";
    c = ctl->deleteIoCq(3);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID) << " (no such CQ)";

    ASSERT_TRUE(ctl->createIoCq(1, 16).ok());
    ASSERT_TRUE(ctl->createIoSq(1, 16, 1).ok());
    c = ctl->deleteIoCq(1);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_DELETION) << " (SQ still attached)";
    EXPECT_TRUE(ctl->deleteIoSq(1).ok());
    EXPECT_TRUE(ctl->deleteIoCq(1).ok());
    // Deleted means gone: a second deletion is refused.
    c = ctl->deleteIoSq(1);
    EXPECT_STATUS(c, SCT_SPECIFIC, SC_INVALID_QID);
}

TEST_F(HostQueueCreation, NonContiguousQueueWhenContiguousRequired)
{
    if (!ctl->caps().cqr())
        GTEST_SKIP() << "controller accepts non-contiguous queues";
    Completion c = ctl->createIoCq(1, 16, false);
    EXPECT_STATUS(c, 0, 0x02);
    ASSERT_TRUE(ctl->createIoCq(1, 16).ok());
    c = ctl->createIoSq(1, 16, 1, false);
    EXPECT_STATUS(c, 0, 0x02);
}

TEST_F(HostQueueCreation, QueueBaseWithAnOffsetIsRefused)
{
    DmaMemory ring = dataBuffer(2 * ctl->pageSize(), ctl->pageSize());
    Sqe cmd{};
    cmd.setOpc(0x05);
    cmd.setPrp1(ring.bus() + 0x40);
    cmd.setCdw10((15u << 16) | 1);
    cmd.setCdw11(1);
    Completion c = ctl->admin(cmd);
    // Refused as a PRP offset or as an invalid field, never run at an
    // offset.
    EXPECT_TRUE(c.is(0, 0x13) || c.is(0, 0x02)) << "status " << std::hex << c.status();
}

TEST_F(HostQueueCreation, DoorbellOfADeletedSqIsIgnored)
{
    ASSERT_TRUE(ctl->createIoCq(1, 16).ok());
    ASSERT_TRUE(ctl->createIoSq(1, 16, 1).ok());
    ASSERT_TRUE(ctl->deleteIoSq(1).ok());
    // A doorbell write for the deleted SQ must not produce completions.
    ctl->setReg32(ctl->sqDoorbell(1), 1);
    uint8_t aId[4096];
    EXPECT_TRUE(ctl->identify(CNS_CTRL, 0, 0, aId).ok()) << "admin queue still serves";
    Completion c;
    EXPECT_FALSE(ctl->cq(1)->peek(&c));
}

} // namespace
