// The host's own PRP and SGL layouts, checked entry by entry before any
// controller sees them.
#include "HostFixture.h"
#include "PrpBuilder.h"

using namespace nvmehost;

namespace {

using HostPrpLayout = HostFixture;

TEST_F(HostPrpLayout, DirectPointersAndSingleList)
{
    const size_t nPage = ctl->pageSize();
    DmaMemory buf = dataBuffer(8 * nPage, nPage);
    PrpBuilder prp(*ctl);
    SqEntry cmd;
    ASSERT_TRUE(prp.build(cmd, buf.bus() + 8, nPage - 8, nullptr));
    EXPECT_EQ(cmd.prp1(), buf.bus() + 8);
    EXPECT_EQ(cmd.prp2(), 0u);
    EXPECT_TRUE(prp.lists().empty());

    ASSERT_TRUE(prp.build(cmd, buf.bus() + 8, nPage, nullptr));
    EXPECT_EQ(cmd.prp2(), buf.bus() + nPage) << "the second page directly";

    ASSERT_TRUE(prp.build(cmd, buf.bus() + 512, 3 * nPage, nullptr));
    ASSERT_EQ(prp.lists().size(), 1u);
    EXPECT_EQ(cmd.prp2(), prp.lists()[0].bus());
    auto *pList = reinterpret_cast<uint64_t *>(prp.lists()[0].host());
    EXPECT_EQ(pList[0], buf.bus() + nPage);
    EXPECT_EQ(pList[1], buf.bus() + 2 * nPage);
    EXPECT_EQ(pList[2], buf.bus() + 3 * nPage);
    EXPECT_EQ(pList[3], 0u);
}

TEST_F(HostPrpLayout, ChainPointerTakesTheLastSlotOfAFullListPage)
{
    const size_t nPage = ctl->pageSize();
    DmaMemory buf = dataBuffer(8 * nPage, nPage);
    PrpBuilder prp(*ctl);
    SqEntry cmd;
    // Two slots in the first list page: one entry and the chain pointer.
    ASSERT_TRUE(prp.build(cmd, buf.bus(), 5 * nPage, nullptr, nPage - 16));
    ASSERT_EQ(prp.lists().size(), 2u);
    EXPECT_EQ(cmd.prp2(), prp.lists()[0].bus() + nPage - 16);
    auto *pFirst = reinterpret_cast<uint64_t *>(prp.lists()[0].host() + nPage - 16);
    EXPECT_EQ(pFirst[0], buf.bus() + nPage);
    EXPECT_EQ(pFirst[1], prp.lists()[1].bus()) << "chain to the next list page";
    auto *pSecond = reinterpret_cast<uint64_t *>(prp.lists()[1].host());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pSecond[i], buf.bus() + uint64_t(i + 2) * nPage);

    // Exactly two entries left for two slots: no chain needed.
    ASSERT_TRUE(prp.build(cmd, buf.bus(), 3 * nPage, nullptr, nPage - 16));
    ASSERT_EQ(prp.lists().size(), 1u);
    auto *p = reinterpret_cast<uint64_t *>(prp.lists()[0].host() + nPage - 16);
    EXPECT_EQ(p[0], buf.bus() + nPage);
    EXPECT_EQ(p[1], buf.bus() + 2 * nPage);

    std::string sErr;
    EXPECT_FALSE(prp.build(cmd, buf.bus(), 5 * nPage, &sErr, nPage - 8));
    EXPECT_FALSE(sErr.empty());
}

TEST_F(HostPrpLayout, SglSegmentsEndWithALastSegment)
{
    DmaMemory buf = dataBuffer(4096);
    std::vector<SglDescriptor> v;
    for (int i = 0; i < 5; ++i)
        v.push_back(SglDescriptor::make(SGL_DATA_BLOCK, buf.bus() + 512 * i, 512));
    SglBuilder sgl(*ctl);
    SqEntry cmd;
    ASSERT_TRUE(sgl.build(cmd, v, 3, nullptr));
    // 5 data descriptors, 3 per segment: [d d seg] [d d d] as segment,
    // last segment.
    ASSERT_EQ(sgl.segments().size(), 2u);
    SglDescriptor first;
    std::memcpy(static_cast<void *>(&first), &cmd.dw[6], 16);
    EXPECT_EQ(first.nId >> 4, SGL_SEGMENT);
    EXPECT_EQ(first.nAddr, sgl.segments()[0].bus());
    EXPECT_EQ(first.nLength, 48u);
    auto *pSeg0 = reinterpret_cast<SglDescriptor *>(sgl.segments()[0].host());
    EXPECT_EQ(pSeg0[0].nAddr, buf.bus());
    EXPECT_EQ(pSeg0[2].nId >> 4, SGL_LAST_SEGMENT);
    EXPECT_EQ(pSeg0[2].nLength, 48u);
    auto *pSeg1 = reinterpret_cast<SglDescriptor *>(sgl.segments()[1].host());
    EXPECT_EQ(pSeg1[2].nAddr, buf.bus() + 2048);
    EXPECT_EQ((cmd.dw[0] >> 14) & 3, 1u) << "PSDT says SGL";

    // One descriptor goes straight into the command.
    ASSERT_TRUE(sgl.build(cmd, {v[0]}, 3, nullptr));
    EXPECT_TRUE(sgl.segments().empty());
    std::memcpy(static_cast<void *>(&first), &cmd.dw[6], 16);
    EXPECT_EQ(first.nId >> 4, SGL_DATA_BLOCK);
}

} // namespace
