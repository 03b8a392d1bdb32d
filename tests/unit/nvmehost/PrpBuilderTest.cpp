// The host's own PRP and SGL layouts, checked entry by entry before any
// controller sees them.
#include "HostFixture.h"
#include "PrpBuilder.h"

using namespace nvmehost;
using namespace nvmewire;

namespace {

using HostPrpLayout = HostFixture;

TEST_F(HostPrpLayout, DirectPointersAndSingleList)
{
    const size_t nPage = ctl->pageSize();
    DmaMemory buf = dataBuffer(8 * nPage, nPage);
    PrpBuilder prp(*ctl);
    Sqe cmd{};
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
    Sqe cmd{};
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
    std::vector<SglDesc> v;
    for (int i = 0; i < 5; ++i)
        v.push_back(SglDesc::make(SGL_DATA_BLOCK, buf.bus() + 512 * i, 512));
    SglBuilder sgl(*ctl);
    Sqe cmd{};
    ASSERT_TRUE(sgl.build(cmd, v, 3, nullptr));
    // 5 data descriptors, 3 per segment: [d d seg] [d d d] as segment,
    // last segment.
    ASSERT_EQ(sgl.segments().size(), 2u);
    SglDesc first = cmd.sgl1();
    EXPECT_EQ(first.type(), SGL_SEGMENT);
    EXPECT_EQ(first.addr, sgl.segments()[0].bus());
    EXPECT_EQ(first.length, 48u);
    auto *pSeg0 = reinterpret_cast<SglDesc *>(sgl.segments()[0].host());
    EXPECT_EQ(pSeg0[0].addr, buf.bus());
    EXPECT_EQ(pSeg0[2].type(), SGL_LAST_SEGMENT);
    EXPECT_EQ(pSeg0[2].length, 48u);
    auto *pSeg1 = reinterpret_cast<SglDesc *>(sgl.segments()[1].host());
    EXPECT_EQ(pSeg1[2].addr, buf.bus() + 2048);
    EXPECT_EQ(cmd.psdt(), PSDT_SGL_MPTR_ADDRESS) << "PSDT says SGL";

    // One descriptor goes straight into the command.
    ASSERT_TRUE(sgl.build(cmd, {v[0]}, 3, nullptr));
    EXPECT_TRUE(sgl.segments().empty());
    first = cmd.sgl1();
    EXPECT_EQ(first.type(), SGL_DATA_BLOCK);
}

} // namespace
