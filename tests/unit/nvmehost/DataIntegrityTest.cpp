// What is written is what is read, in every LBA format the namespace
// offers: data alone, metadata interleaved at the end of each block, and
// metadata in a separate buffer named by MPTR; plus the LBA range and
// namespace checks of reads and writes.
#include "HostFixture.h"
#include "PrpBuilder.h"

#include <nvme/types.h>

using namespace nvmehost;
using namespace nvmewire;

namespace {

class HostDataIntegrity : public HostFixture {
protected:
    void SetUp() override
    {
        if (!setUpWithIo(32))
            return;
        nvme_id_ctrl id;
        ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
        bFormat = id.oacs & (1u << 1);
        nMdtsBytes = id.mdts ? (size_t(1) << id.mdts) * ctl->pageSize() : (size_t(1) << 20);
        ns = firstNamespace();
    }

    // Writes and reads back nBlocks at nSlba; metadata goes through MPTR
    // when the format has separate metadata.
    void roundTrip(uint64_t nSlba, uint32_t nBlocks, uint32_t nSeed)
    {
        const bool bSeparateMeta = ns.nMetaSize && !ns.bExtended;
        const size_t nPerBlock = ns.nBlockSize + (ns.bExtended ? ns.nMetaSize : 0);
        const size_t nData = nPerBlock * nBlocks;
        const size_t nMeta = bSeparateMeta ? size_t(ns.nMetaSize) * nBlocks : 0;
        DmaMemory src = dataBuffer(nData, ctl->pageSize());
        DmaMemory dst = dataBuffer(nData, ctl->pageSize());
        DmaMemory srcMeta, dstMeta;
        fillPattern(src.host(), nData, nSeed);
        if (nMeta) {
            srcMeta = dataBuffer(nMeta, 4);
            dstMeta = dataBuffer(nMeta, 4);
            fillPattern(srcMeta.host(), nMeta, nSeed + 1000);
        }
        for (int bRead = 0; bRead < 2; ++bRead) {
            Sqe cmd = makeRw(bRead ? NVM_READ : NVM_WRITE, ns.nNsid, nSlba, nBlocks);
            PrpBuilder prp(*ctl);
            std::string sErr;
            ASSERT_TRUE(prp.build(cmd, (bRead ? dst : src).bus(), nData, &sErr)) << sErr;
            if (nMeta)
                cmd.setMptr((bRead ? dstMeta : srcMeta).bus());
            Completion c = ctl->execute(*ctl->sq(1), cmd);
            ASSERT_TRUE(c.ok()) << (bRead ? "read" : "write") << " of " << nBlocks << " at " << nSlba << " status "
                                << std::hex << c.status() << c.bTimedOut;
        }
        EXPECT_EQ(std::memcmp(src.host(), dst.host(), nData), 0) << "data at " << nSlba;
        if (nMeta) {
            EXPECT_EQ(std::memcmp(srcMeta.host(), dstMeta.host(), nMeta), 0) << "metadata at " << nSlba;
        }
    }

    void exerciseCurrentFormat()
    {
        const size_t nPerBlock = ns.nBlockSize + (ns.bExtended ? ns.nMetaSize : 0);
        uint32_t nMaxBlocks = uint32_t(std::min<size_t>(nMdtsBytes / nPerBlock, 64));
        ASSERT_GE(nMaxBlocks, 1u);
        ASSERT_NO_FATAL_FAILURE(roundTrip(0, 1, 1));
        ASSERT_NO_FATAL_FAILURE(roundTrip(1, nMaxBlocks, 2));
        ASSERT_NO_FATAL_FAILURE(roundTrip(ns.nSize / 2 + 3, 3, 3));
        ASSERT_NO_FATAL_FAILURE(roundTrip(ns.nSize - 1, 1, 4));
        // Overwrite part of an earlier range; the neighbours keep their data.
        ASSERT_NO_FATAL_FAILURE(roundTrip(2, 2, 5));
        const bool bSeparateMeta = ns.nMetaSize && !ns.bExtended;
        DmaMemory whole = dataBuffer(nPerBlock, ctl->pageSize());
        DmaMemory meta = dataBuffer(std::max<size_t>(ns.nMetaSize, 4), 4);
        std::vector<uint8_t> expect(nMaxBlocks * nPerBlock);
        fillPattern(expect.data(), expect.size(), 2);
        Sqe r = makeRw(NVM_READ, ns.nNsid, 1, 1);
        PrpBuilder prp(*ctl);
        std::string sErr;
        ASSERT_TRUE(prp.build(r, whole.bus(), nPerBlock, &sErr)) << sErr;
        if (bSeparateMeta)
            r.setMptr(meta.bus());
        ASSERT_TRUE(ctl->execute(*ctl->sq(1), r).ok());
        EXPECT_EQ(std::memcmp(whole.host(), expect.data(), nPerBlock), 0) << "block 1 was disturbed";
    }

    bool bFormat = false;
    size_t nMdtsBytes = 0;
    NamespaceInfo ns;
};

TEST_F(HostDataIntegrity, CurrentFormat)
{
    ASSERT_NO_FATAL_FAILURE(exerciseCurrentFormat());
}

TEST_F(HostDataIntegrity, EveryLbaFormat)
{
    if (!bFormat)
        GTEST_SKIP() << "Format NVM not supported";
    // The namespace goes back to the format it had, whatever happens
    // below, so that the tests after this one find it as they expect.
    struct Restore {
        HostController &c;
        uint32_t nNsid, nFormat;
        bool bExtended;
        ~Restore() { formatNamespace(c, nNsid, nFormat, bExtended); }
    } restore{*ctl, ns.nNsid, ns.nFormatIndex, ns.bExtended};
    ASSERT_GE(ns.formats.size(), 1u);
    for (uint32_t f = 0; f < ns.formats.size(); ++f) {
        for (int bExtended = 0; bExtended < (ns.formats[f].nMetaSize ? 2 : 1); ++bExtended) {
            SCOPED_TRACE("format " + std::to_string(f) + (bExtended ? " extended" : ""));
            Completion c = formatNamespace(*ctl, ns.nNsid, f, bExtended);
            if (c.is(0, 0x0B) || c.is(1, 0x0A)) {
                // Invalid format: the namespace cannot take this one.
                continue;
            }
            ASSERT_TRUE(c.ok()) << "format status " << std::hex << c.status() << c.bTimedOut;
            uint32_t nNsid = ns.nNsid;
            ASSERT_TRUE(readNamespaceInfo(*ctl, nNsid, &ns));
            ASSERT_EQ(ns.nFormatIndex, f);
            ASSERT_EQ(ns.bExtended, bool(bExtended));
            ASSERT_EQ(ns.nBlockSize, ns.formats[f].nDataSize);
            ASSERT_NO_FATAL_FAILURE(exerciseCurrentFormat());
        }
    }
}

TEST_F(HostDataIntegrity, FormatLeavesBlocksReadingZeros)
{
    if (!bFormat)
        GTEST_SKIP() << "Format NVM not supported";
    if ((ns.nDlfeat & 7) != 1)
        GTEST_SKIP() << "deallocated blocks are not reported to read zeros";
    ASSERT_NO_FATAL_FAILURE(roundTrip(5, 2, 30));
    ASSERT_TRUE(formatNamespace(*ctl, ns.nNsid, ns.nFormatIndex, ns.bExtended).ok());
    ASSERT_TRUE(readNamespaceInfo(*ctl, ns.nNsid, &ns));
    // With metadata at the end of each block the transfer is longer than
    // the data; the data part of each block reads zeros.
    const size_t nPerBlock = ns.nBlockSize + (ns.bExtended ? ns.nMetaSize : 0);
    DmaMemory buf = dataBuffer(2 * nPerBlock, ctl->pageSize());
    std::memset(buf.host(), 0xEE, 2 * nPerBlock);
    if (ns.nMetaSize && !ns.bExtended)
        GTEST_SKIP();
    ASSERT_TRUE(io(NVM_READ, ns.nNsid, 5, 2, buf).ok());
    for (size_t b = 0; b < 2; ++b)
        for (size_t i = 0; i < ns.nBlockSize; ++i)
            ASSERT_EQ(buf.host()[b * nPerBlock + i], 0) << "block " << b << " byte " << i;
}

TEST_F(HostDataIntegrity, LbaRangeAndNamespaceChecks)
{
    DmaMemory buf = dataBuffer(4 * ns.nBlockSize, ctl->pageSize());
    Completion c = io(NVM_READ, ns.nNsid, ns.nSize, 1, buf);
    EXPECT_TRUE(c.is(0, 0x80)) << "LBA out of range expected, status " << std::hex << c.status();
    c = io(NVM_WRITE, ns.nNsid, ns.nSize - 1, 2, buf);
    EXPECT_TRUE(c.is(0, 0x80)) << "LBA out of range expected, status " << std::hex << c.status();
    c = io(NVM_READ, ns.nNsid, ~0ull - 1, 4, buf);
    EXPECT_TRUE(c.is(0, 0x80)) << "a range that wraps past 2^64 is out of range, status " << std::hex << c.status();

    nvme_id_ctrl id;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    Sqe r = makeRw(NVM_READ, id.nn + 1, 0, 1);
    r.setPrp1(buf.bus());
    c = ctl->execute(*ctl->sq(1), r);
    EXPECT_TRUE(c.is(0, 0x0B)) << "invalid namespace expected, status " << std::hex << c.status();
    r.setNsid(0);
    c = ctl->execute(*ctl->sq(1), r);
    EXPECT_TRUE(c.is(0, 0x0B)) << "invalid namespace expected, status " << std::hex << c.status();
    // An I/O opcode the command set does not define.
    Sqe bad = makeRw(0x7E, ns.nNsid, 0, 1);
    c = ctl->execute(*ctl->sq(1), bad);
    EXPECT_TRUE(c.is(0, 0x01)) << "invalid opcode expected, status " << std::hex << c.status();
}

TEST_F(HostDataIntegrity, CompareAndWriteZeroes)
{
    if (ns.nMetaSize)
        GTEST_SKIP() << "plain data formats only";
    ASSERT_NO_FATAL_FAILURE(roundTrip(40, 4, 40));
    DmaMemory same = dataBuffer(4 * ns.nBlockSize, ctl->pageSize());
    fillPattern(same.host(), 4 * ns.nBlockSize, 40);
    Completion c = io(NVM_COMPARE, ns.nNsid, 40, 4, same);
    EXPECT_TRUE(c.ok()) << std::hex << c.status();
    same.host()[3 * ns.nBlockSize + 7] ^= 1;
    c = io(NVM_COMPARE, ns.nNsid, 40, 4, same);
    EXPECT_TRUE(c.is(2, 0x85)) << "compare failure expected, status " << std::hex << c.status();

    Sqe z = makeRw(NVM_WRITE_ZEROES, ns.nNsid, 41, 2);
    c = ctl->execute(*ctl->sq(1), z);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    DmaMemory rd = dataBuffer(4 * ns.nBlockSize, ctl->pageSize());
    ASSERT_TRUE(io(NVM_READ, ns.nNsid, 40, 4, rd).ok());
    std::vector<uint8_t> expect(4 * ns.nBlockSize);
    fillPattern(expect.data(), expect.size(), 40);
    std::memset(expect.data() + ns.nBlockSize, 0, 2 * ns.nBlockSize);
    EXPECT_EQ(std::memcmp(rd.host(), expect.data(), expect.size()), 0);
}

TEST_F(HostDataIntegrity, WriteUncorrectableUntilRewritten)
{
    if (ns.nMetaSize)
        GTEST_SKIP() << "plain data formats only";
    Sqe u = makeRw(NVM_WRITE_UNCOR, ns.nNsid, 60, 1);
    Completion c = ctl->execute(*ctl->sq(1), u);
    if (c.is(0, 0x01))
        GTEST_SKIP() << "Write Uncorrectable not supported";
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    DmaMemory buf = dataBuffer(ns.nBlockSize, ctl->pageSize());
    c = io(NVM_READ, ns.nNsid, 60, 1, buf);
    EXPECT_TRUE(c.is(2, 0x81)) << "unrecovered read error expected, status " << std::hex << c.status();
    ASSERT_NO_FATAL_FAILURE(roundTrip(60, 1, 61));
}

} // namespace
