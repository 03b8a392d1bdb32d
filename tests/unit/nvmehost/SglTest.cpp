// SGL data pointers: a single data block, segment chains, bit buckets, and
// descriptors the controller must refuse.
#include "HostFixture.h"
#include "PrpBuilder.h"

#include <nvme/types.h>

using namespace nvmehost;
using namespace nvmewire;

namespace {

class HostSgl : public HostFixture {
protected:
    void SetUp() override
    {
        if (!setUpWithIo(16))
            return;
        nvme_id_ctrl id;
        ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
        nSgls = id.sgls;
        if ((nSgls & 3) == 0)
            GTEST_SKIP() << "controller does not support SGLs";
        ns = firstNamespace();
    }

    Completion run(uint8_t nOpcode, uint64_t nSlba, uint32_t nBlocks, const std::vector<SglDesc> &v,
                   size_t nPerSegment = 4)
    {
        Sqe cmd = makeRw(nOpcode, ns.nNsid, nSlba, nBlocks);
        SglBuilder sgl(*ctl);
        std::string sErr;
        if (!sgl.build(cmd, v, nPerSegment, &sErr)) {
            ADD_FAILURE() << sErr;
            Completion c;
            c.bTimedOut = true;
            return c;
        }
        return ctl->execute(*ctl->sq(1), cmd);
    }

    uint32_t nSgls = 0;
    NamespaceInfo ns;
};

TEST_F(HostSgl, SingleDataBlockRoundTrip)
{
    const uint32_t nBytes = 4 * ns.nBlockSize;
    DmaMemory src = dataBuffer(nBytes);
    DmaMemory dst = dataBuffer(nBytes);
    fillPattern(src.host(), nBytes, 21);
    Completion c = run(NVM_WRITE, 10, 4, {SglDesc::make(SGL_DATA_BLOCK, src.bus(), nBytes)});
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    c = run(NVM_READ, 10, 4, {SglDesc::make(SGL_DATA_BLOCK, dst.bus(), nBytes)});
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(std::memcmp(src.host(), dst.host(), nBytes), 0);
}

TEST_F(HostSgl, SegmentChainsScatterAndGather)
{
    // Eight blocks written from one buffer, read back into pieces of
    // uneven (dword multiple) sizes spread over three segments.
    const uint32_t nBlocks = 8, nBytes = nBlocks * ns.nBlockSize;
    DmaMemory src = dataBuffer(nBytes);
    fillPattern(src.host(), nBytes, 22);
    ASSERT_TRUE(run(NVM_WRITE, 100, nBlocks, {SglDesc::make(SGL_DATA_BLOCK, src.bus(), nBytes)}).ok());

    const std::vector<uint32_t> sizes = {100, 412, ns.nBlockSize, 1024, 4, nBytes - 100 - 412 - ns.nBlockSize - 1024 - 4};
    std::vector<DmaMemory> parts;
    std::vector<SglDesc> v;
    for (uint32_t n : sizes) {
        parts.push_back(dataBuffer(n + 16));
        v.push_back(SglDesc::make(SGL_DATA_BLOCK, parts.back().bus(), n));
    }
    Completion c = run(NVM_READ, 100, nBlocks, v, 3);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    size_t nAt = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(std::memcmp(parts[i].host(), src.host() + nAt, sizes[i]), 0) << "piece " << i;
        EXPECT_EQ(parts[i].host()[sizes[i]], 0) << "piece " << i << " overran its descriptor";
        nAt += sizes[i];
    }

    // And the other way round: gather from pieces, compare contiguously.
    for (size_t i = 0; i < parts.size(); ++i)
        fillPattern(parts[i].host(), sizes[i], 100 + uint32_t(i));
    ASSERT_TRUE(run(NVM_WRITE, 200, nBlocks, v, 2).ok());
    DmaMemory dst = dataBuffer(nBytes);
    ASSERT_TRUE(run(NVM_READ, 200, nBlocks, {SglDesc::make(SGL_DATA_BLOCK, dst.bus(), nBytes)}).ok());
    nAt = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(std::memcmp(dst.host() + nAt, parts[i].host(), sizes[i]), 0) << "piece " << i;
        nAt += sizes[i];
    }
}

TEST_F(HostSgl, BitBucketDiscardsReadData)
{
    if (!(nSgls & (1u << 16)))
        GTEST_SKIP() << "no bit bucket descriptors";
    const uint32_t nBs = ns.nBlockSize;
    DmaMemory src = dataBuffer(3 * nBs);
    fillPattern(src.host(), 3 * nBs, 23);
    ASSERT_TRUE(run(NVM_WRITE, 300, 3, {SglDesc::make(SGL_DATA_BLOCK, src.bus(), 3 * nBs)}).ok());
    DmaMemory dst = dataBuffer(2 * nBs);
    Completion c = run(NVM_READ, 300, 3,
                       {SglDesc::make(SGL_DATA_BLOCK, dst.bus(), nBs),
                        SglDesc::make(SGL_BIT_BUCKET, 0, nBs),
                        SglDesc::make(SGL_DATA_BLOCK, dst.bus() + nBs, nBs)});
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(std::memcmp(dst.host(), src.host(), nBs), 0);
    EXPECT_EQ(std::memcmp(dst.host() + nBs, src.host() + 2 * nBs, nBs), 0);
}

TEST_F(HostSgl, RefusedDescriptors)
{
    const uint32_t nBs = ns.nBlockSize;
    DmaMemory buf = dataBuffer(4 * nBs);
    // Reserved descriptor type.
    Completion c = run(NVM_READ, 0, 1, {SglDesc::make(0x7, buf.bus(), nBs)});
    EXPECT_TRUE(c.is(0, 0x11)) << "SGL descriptor type invalid expected, status " << std::hex << c.status();
    // Descriptors shorter than the transfer.
    c = run(NVM_READ, 0, 2, {SglDesc::make(SGL_DATA_BLOCK, buf.bus(), nBs)});
    EXPECT_TRUE(c.is(0, 0x0F)) << "data SGL length invalid expected, status " << std::hex << c.status();
    // A segment that points nowhere.
    Sqe cmd = makeRw(NVM_READ, ns.nNsid, 0, 1);
    cmd.setPsdt(1);
    SglDesc seg = SglDesc::make(SGL_LAST_SEGMENT, 0x7FF0000000000000ull, 32);
    cmd.setSgl1(seg);
    c = ctl->execute(*ctl->sq(1), cmd);
    ASSERT_FALSE(c.bTimedOut);
    EXPECT_FALSE(c.ok());
    // A last segment must hold no further segment descriptor.
    DmaMemory segMem = dataBuffer(64);
    auto *pD = reinterpret_cast<SglDesc *>(segMem.host());
    pD[0] = SglDesc::make(SGL_DATA_BLOCK, buf.bus(), nBs / 2);
    pD[1] = SglDesc::make(SGL_SEGMENT, buf.bus() + 2 * nBs, 32);
    SglDesc last = SglDesc::make(SGL_LAST_SEGMENT, segMem.bus(), 32);
    cmd.setSgl1(last);
    c = ctl->execute(*ctl->sq(1), cmd);
    EXPECT_TRUE(c.is(0, 0x0D)) << "invalid SGL last segment expected, status " << std::hex << c.status();
    // The queue still serves.
    EXPECT_TRUE(run(NVM_READ, 0, 1, {SglDesc::make(SGL_DATA_BLOCK, buf.bus(), nBs)}).ok());
}

} // namespace
