#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;

namespace {
SglDesc data(uint64_t a, uint32_t n) { return SglDesc::make(SGL_DATA_BLOCK, a, n); }
SglDesc bucket(uint32_t n) { return SglDesc::make(SGL_BIT_BUCKET, 0, n); }
SglDesc segment(uint64_t a, uint32_t n) { return SglDesc::make(SGL_SEGMENT, a, n); }
SglDesc lastSegment(uint64_t a, uint32_t n) { return SglDesc::make(SGL_LAST_SEGMENT, a, n); }

Sqe sglCmd(bool bWrite, uint64_t nSlba, uint32_t nBlocks, const SglDesc &d) {
    Sqe e = SimHost::cmd(bWrite ? NVM_WRITE : NVM_READ, 1);
    e.setPsdt(PSDT_SGL_MPTR_ADDRESS);
    e.setSgl1(d);
    e.setCdw10(static_cast<uint32_t>(nSlba));
    e.setCdw12(nBlocks - 1);
    return e;
}

Sqe prpCmd(bool bWrite, uint64_t nSlba, uint32_t nBlocks, uint64_t nPrp1, uint64_t nPrp2) {
    Sqe e = SimHost::cmd(bWrite ? NVM_WRITE : NVM_READ, 1);
    e.setPrp1(nPrp1);
    e.setPrp2(nPrp2);
    e.setCdw10(static_cast<uint32_t>(nSlba));
    e.setCdw12(nBlocks - 1);
    return e;
}
} // namespace

TEST(DataPointer, PrpOffsetsAndTwoPageTransfers) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(3 * 4096);
    for (int i = 0; i < 3 * 4096; ++i)
        b.p[i] = static_cast<uint8_t>(i * 7);
    // PRP1 at an offset, PRP2 the next page: 2048 + 2048 bytes.
    ASSERT_EQ(h.run(1, prpCmd(true, 0, 8, b.nBus + 2048, b.nBus + 4096)), 0);
    SimBuffer r = h.alloc(4096);
    ASSERT_EQ(h.rw(false, 1, 0, 8, r), 0);
    EXPECT_EQ(std::memcmp(r.p, b.p + 2048, 4096), 0);
    // PRP2 used as data pointer must be page aligned.
    EXPECT_EQ(h.run(1, prpCmd(true, 0, 8, b.nBus + 2048, b.nBus + 4096 + 512)), st(SCT_GENERIC, SC_PRP_INVALID_OFFSET));
    // PRP1 must be dword aligned.
    EXPECT_EQ(h.run(1, prpCmd(true, 0, 1, b.nBus + 2, 0)), st(SCT_GENERIC, SC_PRP_INVALID_OFFSET));
    // Unmapped data: a transfer error, no crash.
    EXPECT_EQ(h.run(1, prpCmd(false, 0, 1, 0x2000, 0)), st(SCT_GENERIC, SC_DATA_XFER_ERROR));
    EXPECT_EQ(h.run(1, prpCmd(false, 0, 16, b.nBus, 0xDEAD000)), st(SCT_GENERIC, SC_DATA_XFER_ERROR));
}

TEST(DataPointer, PrpListsChainAcrossListPages) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    const size_t nBytes = 32 * 4096;
    SimBuffer d = h.alloc(nBytes);
    for (size_t i = 0; i < nBytes; ++i)
        d.p[i] = static_cast<uint8_t>(i ^ (i >> 12));
    // The first list page has room for two entries only: one data page and
    // the pointer to the next list page.
    SimBuffer l1 = h.alloc(4096), l2 = h.alloc(4096);
    auto *e1 = reinterpret_cast<uint64_t *>(l1.p + 4096 - 16);
    e1[0] = d.nBus + 4096;
    e1[1] = l2.nBus;
    auto *e2 = reinterpret_cast<uint64_t *>(l2.p);
    for (int i = 0; i < 30; ++i)
        e2[i] = d.nBus + 4096ull * (i + 2);
    ASSERT_EQ(h.run(1, prpCmd(true, 64, 256, d.nBus, l1.nBus + 4096 - 16)), 0);
    SimBuffer r = h.alloc(nBytes);
    SimBuffer l3 = h.alloc(4096);
    auto *e3 = reinterpret_cast<uint64_t *>(l3.p);
    for (int i = 0; i < 31; ++i)
        e3[i] = r.nBus + 4096ull * (i + 1);
    ASSERT_EQ(h.run(1, prpCmd(false, 64, 256, r.nBus, l3.nBus)), 0);
    EXPECT_EQ(std::memcmp(r.p, d.p, nBytes), 0);
    // A list entry with an offset is refused; so is an unmapped list.
    e3[5] += 8;
    EXPECT_EQ(h.run(1, prpCmd(false, 64, 256, r.nBus, l3.nBus)), st(SCT_GENERIC, SC_PRP_INVALID_OFFSET));
    EXPECT_EQ(h.run(1, prpCmd(false, 64, 256, r.nBus, 0x7000)), st(SCT_GENERIC, SC_DATA_XFER_ERROR));
    EXPECT_EQ(h.run(1, prpCmd(false, 64, 256, r.nBus, l3.nBus + 4)), st(SCT_GENERIC, SC_PRP_INVALID_OFFSET));
    // A list page made of nothing but a chain pointer to itself ends with an error.
    auto *self = reinterpret_cast<uint64_t *>(l1.p + 4096 - 8);
    *self = l1.nBus + 4096 - 8;
    EXPECT_EQ(h.run(1, prpCmd(false, 64, 256, r.nBus, l1.nBus + 4096 - 8)), st(SCT_GENERIC, SC_PRP_INVALID_OFFSET));
}

TEST(DataPointer, SglDataBlockSegmentsAndBitBucket) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer d = h.alloc(4096);
    for (int i = 0; i < 4096; ++i)
        d.p[i] = static_cast<uint8_t>(i * 3 + 1);
    ASSERT_EQ(h.run(1, sglCmd(true, 0, 8, data(d.nBus, 4096))), 0);
    // Read back through a segment of three descriptors pointing to a last
    // segment: 1000 bytes, a 24-byte hole, the rest split in two.
    SimBuffer r1 = h.alloc(4096), r2 = h.alloc(4096), seg = h.alloc(4096);
    auto *s = reinterpret_cast<SglDesc *>(seg.p);
    s[0] = data(r1.nBus, 1000);
    s[1] = bucket(24);
    s[2] = lastSegment(seg.nBus + 256, 32);
    auto *last = reinterpret_cast<SglDesc *>(seg.p + 256);
    last[0] = data(r2.nBus, 2000);
    last[1] = data(r2.nBus + 2048, 1072);
    ASSERT_EQ(h.run(1, sglCmd(false, 0, 8, segment(seg.nBus, 48))), 0);
    EXPECT_EQ(std::memcmp(r1.p, d.p, 1000), 0);
    EXPECT_EQ(std::memcmp(r2.p, d.p + 1024, 2000), 0);
    EXPECT_EQ(std::memcmp(r2.p + 2048, d.p + 3024, 1072), 0);
    // Bit buckets are not allowed for writes.
    EXPECT_EQ(h.run(1, sglCmd(true, 0, 8, segment(seg.nBus, 48))), st(SCT_GENERIC, SC_SGL_INVALID_TYPE));
    // Too little or too much data.
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 8, data(r1.nBus, 4000))), st(SCT_GENERIC, SC_SGL_INVALID_DATA));
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 1, data(r1.nBus, 4096))), st(SCT_GENERIC, SC_SGL_INVALID_DATA));
    // A segment descriptor inside the last segment.
    last[1] = segment(seg.nBus, 16);
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 8, segment(seg.nBus, 48))), st(SCT_GENERIC, SC_SGL_INVALID_LAST));
    // A segment descriptor that is not the last of its segment.
    s[0] = segment(seg.nBus + 512, 16);
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 8, segment(seg.nBus, 48))), st(SCT_GENERIC, SC_SGL_INVALID_LAST));
    // Unknown types and subtypes, bad lengths, unmapped segments.
    SglDesc odd = data(r1.nBus, 4096);
    odd.id = SGL_SUBTYPE_OFFSET;   // data block, offset sub type
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 8, odd)), st(SCT_GENERIC, SC_SGL_INVALID_TYPE));
    odd.id = SGL_KEYED_DATA_BLOCK << 4;   // not on this transport
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 8, odd)), st(SCT_GENERIC, SC_SGL_INVALID_TYPE));
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 8, segment(seg.nBus, 20))), st(SCT_GENERIC, SC_SGL_INVALID_COUNT));
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 8, segment(0x9000, 32))), st(SCT_GENERIC, SC_DATA_XFER_ERROR));
    EXPECT_EQ(h.run(1, sglCmd(false, 0, 8, data(0x9000, 4096))), st(SCT_GENERIC, SC_DATA_XFER_ERROR));
    // A segment that leads back to itself does not hang the controller.
    s[0] = segment(seg.nBus, 16);
    EXPECT_NE(h.run(1, sglCmd(false, 0, 8, segment(seg.nBus, 16))), 0);
}

TEST(DataPointer, SglRefusedForAdminAndWhenUnsupported) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(4096);
    Sqe e = SimHost::cmd(ADMIN_IDENTIFY);
    e.setPsdt(PSDT_SGL_MPTR_ADDRESS);
    e.setSgl1(data(b.nBus, 4096));
    e.setCdw10(1);
    EXPECT_EQ(h.run(0, e), st(SCT_GENERIC, SC_INVALID_FIELD));
    SimHost h2(R"({"devices":[{"controllers":[{"sgl":false}]}]})");
    ASSERT_TRUE(h2.bringUp());
    SimBuffer b2 = h2.alloc(4096);
    EXPECT_EQ(h2.run(1, sglCmd(false, 0, 8, data(b2.nBus, 4096))), st(SCT_GENERIC, SC_INVALID_FIELD));
    SimBuffer id = h2.alloc(4096);
    ASSERT_EQ(h2.identify(CNS_CTRL, 0, id), 0);
    EXPECT_EQ(reinterpret_cast<nvme_id_ctrl *>(id.p)->sgls, 0u);
}

TEST(DataPointer, MetadataThroughAnSglDescriptor) {
    SimHost h(R"({"devices":[{"namespaces":[{"nsid":1,"size":"1M","format":3}]}]})");
    ASSERT_TRUE(h.bringUp());
    SimBuffer d = h.alloc(4096), m = h.alloc(64), md = h.alloc(64);
    std::memset(m.p, 0x3C, 8);
    auto *desc = reinterpret_cast<SglDesc *>(md.p);
    *desc = data(m.nBus, 8);
    Sqe w = sglCmd(true, 0, 1, data(d.nBus, 4096));
    w.setPsdt(PSDT_SGL_MPTR_SGL);   // MPTR holds an SGL descriptor
    w.setMptr(md.nBus);
    ASSERT_EQ(h.run(1, w), 0);
    std::memset(m.p, 0, 8);
    Sqe r = w;
    r.setOpc(NVM_READ);
    ASSERT_EQ(h.run(1, r), 0);
    EXPECT_EQ(m.p[7], 0x3C);
    desc->length = 16;
    EXPECT_EQ(h.run(1, r), st(SCT_GENERIC, SC_SGL_INVALID_METADATA));
}
