// Data pointers: PRP1/PRP2, PRP lists (scattered and chained), offsets
// inside pages, and the statuses for pointers the controller must refuse.
#include "HostFixture.h"
#include "PrpBuilder.h"

#include <nvme/types.h>

using namespace nvmehost;
using namespace nvmewire;

namespace {

class HostDataPointers : public HostFixture {
protected:
    void SetUp() override
    {
        if (!setUpWithIo(16))
            return;
        ns = firstNamespace();
        nPage = ctl->pageSize();
        nvme_id_ctrl id;
        ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
        nMaxBytes = id.mdts ? (size_t(1) << id.mdts) * nPage : size_t(1) << 20;
        nMaxBytes = std::min(nMaxBytes, size_t(1) << 20);
    }

    // Writes nBytes of a pattern through a PRP build, reads them back into
    // one contiguous buffer and compares.
    void roundTrip(size_t nBytes, size_t nOffset, size_t nListOffset, uint32_t nSeed)
    {
        ASSERT_EQ(nBytes % ns.nBlockSize, 0u);
        DmaMemory src = dataBuffer(nBytes + nOffset + nPage, nPage);
        fillPattern(src.host() + nOffset, nBytes, nSeed);
        Sqe w = makeRw(NVM_WRITE, ns.nNsid, 64, uint32_t(nBytes / ns.nBlockSize));
        PrpBuilder prp(*ctl);
        std::string sErr;
        ASSERT_TRUE(prp.build(w, src.bus() + nOffset, nBytes, &sErr, nListOffset)) << sErr;
        Completion c = ctl->execute(*ctl->sq(1), w);
        ASSERT_TRUE(c.ok()) << "write status " << std::hex << c.status() << c.bTimedOut;

        DmaMemory dst = dataBuffer(nBytes, nPage);
        Sqe r = makeRw(NVM_READ, ns.nNsid, 64, uint32_t(nBytes / ns.nBlockSize));
        PrpBuilder prp2(*ctl);
        ASSERT_TRUE(prp2.build(r, dst.bus(), nBytes, &sErr)) << sErr;
        c = ctl->execute(*ctl->sq(1), r);
        ASSERT_TRUE(c.ok()) << "read status " << std::hex << c.status();
        EXPECT_EQ(std::memcmp(dst.host(), src.host() + nOffset, nBytes), 0);
    }

    NamespaceInfo ns;
    size_t nPage = 4096;
    size_t nMaxBytes = 0;
};

TEST_F(HostDataPointers, OnePageTwoPagesAndAList)
{
    ASSERT_NO_FATAL_FAILURE(roundTrip(nPage, 0, 0, 1));
    ASSERT_NO_FATAL_FAILURE(roundTrip(2 * nPage, 0, 0, 2));
    ASSERT_NO_FATAL_FAILURE(roundTrip(std::min(nMaxBytes, 8 * nPage), 0, 0, 3));
    ASSERT_NO_FATAL_FAILURE(roundTrip(nMaxBytes, 0, 0, 4));
}

TEST_F(HostDataPointers, FirstPageWithAnOffset)
{
    // PRP1 inside its page: two pages of data then touch three pages.
    ASSERT_NO_FATAL_FAILURE(roundTrip(ns.nBlockSize, 512, 0, 5));
    ASSERT_NO_FATAL_FAILURE(roundTrip(2 * nPage, 512, 0, 6));
    ASSERT_NO_FATAL_FAILURE(roundTrip(std::min(nMaxBytes - nPage, 6 * nPage), 4, 0, 7));
}

TEST_F(HostDataPointers, ChainedPrpLists)
{
    if (nMaxBytes < 8 * nPage)
        GTEST_SKIP() << "transfers of eight pages exceed MDTS";
    // The first list starts two entries before its page ends, so the
    // second entry chains to the next list page.
    ASSERT_NO_FATAL_FAILURE(roundTrip(8 * nPage, 0, nPage - 16, 8));
    ASSERT_NO_FATAL_FAILURE(roundTrip(8 * nPage - ns.nBlockSize, ns.nBlockSize, nPage - 24, 9));
}

TEST_F(HostDataPointers, ScatteredPagesLandWhereTheListSays)
{
    // Five separate pages named in reverse order by a hand-made list.
    const size_t nPages = 5;
    if (nMaxBytes < nPages * nPage)
        GTEST_SKIP();
    std::vector<DmaMemory> pages;
    for (size_t i = 0; i < nPages; ++i)
        pages.push_back(dataBuffer(nPage, nPage));
    DmaMemory list = dataBuffer(nPage, nPage);
    auto *pList = reinterpret_cast<uint64_t *>(list.host());
    for (size_t i = 1; i < nPages; ++i)
        pList[i - 1] = pages[nPages - i].bus();
    DmaMemory contiguous = dataBuffer(nPages * nPage, nPage);
    fillPattern(contiguous.host(), nPages * nPage, 11);
    Sqe w = makeRw(NVM_WRITE, ns.nNsid, 0, uint32_t(nPages * nPage / ns.nBlockSize));
    PrpBuilder prp(*ctl);
    std::string sErr;
    ASSERT_TRUE(prp.build(w, contiguous.bus(), nPages * nPage, &sErr)) << sErr;
    ASSERT_TRUE(ctl->execute(*ctl->sq(1), w).ok());

    Sqe r = makeRw(NVM_READ, ns.nNsid, 0, uint32_t(nPages * nPage / ns.nBlockSize));
    r.setPrp1(pages[0].bus());
    r.setPrp2(list.bus());
    Completion c = ctl->execute(*ctl->sq(1), r);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(std::memcmp(pages[0].host(), contiguous.host(), nPage), 0);
    for (size_t i = 1; i < nPages; ++i)
        EXPECT_EQ(std::memcmp(pages[nPages - i].host(), contiguous.host() + i * nPage, nPage), 0) << "page " << i;
}

TEST_F(HostDataPointers, PrpEntriesWithAnOffsetAreRefused)
{
    DmaMemory buf = dataBuffer(4 * nPage, nPage);
    // PRP2 as the second data page must start on a page boundary.
    Sqe r = makeRw(NVM_READ, ns.nNsid, 0, uint32_t(2 * nPage / ns.nBlockSize));
    r.setPrp1(buf.bus());
    r.setPrp2(buf.bus() + nPage + 8);
    Completion c = ctl->execute(*ctl->sq(1), r);
    EXPECT_TRUE(c.is(0, 0x13)) << "PRP offset invalid expected, status " << std::hex << c.status();

    // A list entry with an offset.
    if (nMaxBytes >= 3 * nPage) {
        DmaMemory list = dataBuffer(nPage, nPage);
        auto *pList = reinterpret_cast<uint64_t *>(list.host());
        pList[0] = buf.bus() + nPage;
        pList[1] = buf.bus() + 2 * nPage + 0x200;
        Sqe r3 = makeRw(NVM_READ, ns.nNsid, 0, uint32_t(3 * nPage / ns.nBlockSize));
        r3.setPrp1(buf.bus());
        r3.setPrp2(list.bus());
        c = ctl->execute(*ctl->sq(1), r3);
        EXPECT_TRUE(c.is(0, 0x13)) << "PRP offset invalid expected, status " << std::hex << c.status();
    }
    // PRP1 must be dword aligned.
    Sqe r1 = makeRw(NVM_READ, ns.nNsid, 0, 1);
    r1.setPrp1(buf.bus() + 2);
    r1.setPrp2(buf.bus() + nPage);
    c = ctl->execute(*ctl->sq(1), r1);
    EXPECT_TRUE(c.is(0, 0x13)) << "PRP offset invalid expected, status " << std::hex << c.status();
}

TEST_F(HostDataPointers, UnmappedAddressesFailTheCommandOnly)
{
    Sqe r = makeRw(NVM_READ, ns.nNsid, 0, 1);
    r.setPrp1(0x7FF0000000000000ull);      // nothing is mapped up there
    Completion c = ctl->execute(*ctl->sq(1), r);
    ASSERT_FALSE(c.bTimedOut);
    EXPECT_FALSE(c.ok());
    EXPECT_TRUE(c.is(0, 0x04)) << "data transfer error expected, status " << std::hex << c.status();

    Sqe w = makeRw(NVM_WRITE, ns.nNsid, 0, 1);
    w.setPrp1(0);
    c = ctl->execute(*ctl->sq(1), w);
    ASSERT_FALSE(c.bTimedOut);
    EXPECT_FALSE(c.ok());
    // The queue pair still works.
    ASSERT_NO_FATAL_FAILURE(roundTrip(nPage, 0, 0, 12));
}

TEST_F(HostDataPointers, TransferBeyondMdtsIsInvalidField)
{
    nvme_id_ctrl id;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    if (id.mdts == 0)
        GTEST_SKIP() << "no transfer size limit";
    size_t nBytes = (size_t(1) << id.mdts) * nPage + ns.nBlockSize;
    uint32_t nBlocks = uint32_t(nBytes / ns.nBlockSize);
    if (nBlocks > 65536)
        GTEST_SKIP();
    DmaMemory buf = dataBuffer(nBytes, nPage);
    Sqe r = makeRw(NVM_READ, ns.nNsid, 0, nBlocks);
    PrpBuilder prp(*ctl);
    std::string sErr;
    ASSERT_TRUE(prp.build(r, buf.bus(), nBytes, &sErr)) << sErr;
    Completion c = ctl->execute(*ctl->sq(1), r);
    EXPECT_TRUE(c.is(0, 0x02)) << std::hex << c.status();
}

} // namespace
