#include <cstdio>
#include <unistd.h>

#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

namespace {
void pattern(uint8_t *p, size_t n, uint32_t nSeed) {
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>((i * 131 + nSeed * 7 + (i >> 9)) & 0xFF);
}

// A PRP list for a transfer starting at the beginning of b (page aligned).
uint64_t prpList(SimHost &h, const SimBuffer &b, size_t nBytes) {
    SimBuffer list = h.alloc(4096);
    auto *e = reinterpret_cast<uint64_t *>(list.p);
    const uint64_t nFirst = 4096 - (b.nBus & 4095);
    size_t n = 0;
    for (uint64_t off = nFirst; off < nBytes; off += 4096)
        e[n++] = (b.nBus & ~4095ull) + off + (b.nBus & 4095 ? 0 : 0);
    return n == 1 ? e[0] : list.nBus;
}

Sqe lbaCmd(uint8_t nOp, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks) {
    Sqe e = SimHost::cmd(nOp, nNsid);
    e.setCdw10(static_cast<uint32_t>(nSlba));
    e.setCdw11(static_cast<uint32_t>(nSlba >> 32));
    e.setCdw12(nBlocks - 1);
    return e;
}
} // namespace

TEST(Io, WriteReadAcrossPagesAndFormats) {
    for (uint32_t nFormat : {0u, 2u}) {
        SimHost h(R"({"devices":[{"namespaces":[{"nsid":1,"size":"64M","format":)" + std::to_string(nFormat) + "}]}]}");
        ASSERT_TRUE(h.bringUp());
        const uint32_t nBs = nFormat == 0 ? 512 : 4096;
        for (size_t nBytes : {size_t(4096), size_t(8192), size_t(65536), size_t(131072)}) {
            SimBuffer w = h.alloc(nBytes), r = h.alloc(nBytes);
            pattern(w.p, nBytes, static_cast<uint32_t>(nBytes + nFormat));
            const uint32_t nBlocks = static_cast<uint32_t>(nBytes / nBs);
            ASSERT_EQ(h.rw(true, 1, 100, nBlocks, w, prpList(h, w, nBytes)), 0) << nBytes;
            ASSERT_EQ(h.rw(false, 1, 100, nBlocks, r, prpList(h, r, nBytes)), 0);
            EXPECT_EQ(std::memcmp(w.p, r.p, nBytes), 0) << nBytes << " bytes, format " << nFormat;
        }
        // Unwritten blocks read as zeros.
        SimBuffer z = h.alloc(4096);
        std::memset(z.p, 0xCC, 4096);
        ASSERT_EQ(h.rw(false, 1, 5000, 4096 / nBs, z), 0);
        EXPECT_EQ(z.p[0], 0);
        EXPECT_EQ(z.p[4095], 0);
    }
}

TEST(Io, UnalignedBuffersUseTheInPageOffset) {
    SimHost h(R"({"dmaInPageOffset":512,"devices":[{"namespaces":[{"nsid":1,"size":"16M"}]}]})");
    ASSERT_TRUE(h.bringUp());
    const size_t nBytes = 3 * 4096;
    SimBuffer w = h.alloc(nBytes), r = h.alloc(nBytes);
    EXPECT_EQ(w.nBus & 4095, 512u);
    pattern(w.p, nBytes, 9);
    // PRP1 covers 3584 bytes, then three list entries.
    SimBuffer list = h.alloc(4096);
    auto *e = reinterpret_cast<uint64_t *>(list.p);
    for (int i = 0; i < 3; ++i)
        e[i] = (w.nBus & ~4095ull) + 4096ull * (i + 1);
    ASSERT_EQ(h.rw(true, 1, 0, 24, w, list.nBus), 0);   // the list itself starts 512 bytes into its page
    SimBuffer list2 = h.alloc(4096);
    auto *e2 = reinterpret_cast<uint64_t *>(list2.p);
    for (int i = 0; i < 3; ++i)
        e2[i] = (r.nBus & ~4095ull) + 4096ull * (i + 1);
    ASSERT_EQ(h.rw(false, 1, 0, 24, r, list2.nBus), 0);
    EXPECT_EQ(std::memcmp(w.p, r.p, nBytes), 0);
}

TEST(Io, RangeNamespaceAndSizeChecks) {
    SimHost h(R"({"devices":[{"namespaces":[{"nsid":1,"blocks":1000}]}]})");
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(256 * 1024);
    EXPECT_EQ(h.rw(false, 1, 999, 1, b), 0);
    EXPECT_EQ(h.rw(false, 1, 999, 2, b, b.nBus + 4096), st(SCT_GENERIC, SC_LBA_RANGE));
    EXPECT_EQ(h.rw(false, 1, ~0ull - 1, 4, b), st(SCT_GENERIC, SC_LBA_RANGE));
    EXPECT_EQ(h.rw(false, 0, 0, 1, b), st(SCT_GENERIC, SC_INVALID_NS));
    EXPECT_EQ(h.rw(false, 2, 0, 1, b), st(SCT_GENERIC, SC_INVALID_NS));
    EXPECT_EQ(h.rw(false, 0xFFFFFFFF, 0, 1, b), st(SCT_GENERIC, SC_INVALID_NS));
    // 128 KiB is the largest transfer (MDTS 5 with 4 KiB pages).
    EXPECT_EQ(h.rw(false, 1, 0, 257, b, prpList(h, b, 257 * 512)), st(SCT_GENERIC, SC_INVALID_FIELD));
    Sqe fl = SimHost::cmd(NVM_FLUSH, 1);
    EXPECT_EQ(h.run(1, fl), 0);
    fl.setNsid(0xFFFFFFFF);
    EXPECT_EQ(h.run(1, fl), 0);
    fl.setNsid(3);
    EXPECT_EQ(h.run(1, fl), st(SCT_GENERIC, SC_INVALID_NS));
}

TEST(Io, CompareWriteZeroesAndVerify) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer w = h.alloc(4096);
    pattern(w.p, 4096, 3);
    ASSERT_EQ(h.rw(true, 1, 10, 8, w), 0);
    Sqe c = lbaCmd(NVM_COMPARE, 1, 10, 8);
    c.setPrp1(w.nBus);
    EXPECT_EQ(h.run(1, c), 0);
    w.p[4000] ^= 1;
    EXPECT_EQ(h.run(1, c), st(SCT_MEDIA, SC_COMPARE_FAILED, false));
    Sqe z = lbaCmd(NVM_WRITE_ZEROES, 1, 12, 2);
    EXPECT_EQ(h.run(1, z), 0);
    SimBuffer r = h.alloc(4096);
    ASSERT_EQ(h.rw(false, 1, 10, 8, r), 0);
    w.p[4000] ^= 1;
    EXPECT_EQ(std::memcmp(r.p, w.p, 1024), 0);
    for (int i = 1024; i < 2048; ++i)
        ASSERT_EQ(r.p[i], 0) << i;
    EXPECT_EQ(std::memcmp(r.p + 2048, w.p + 2048, 2048), 0);
    EXPECT_EQ(h.run(1, lbaCmd(NVM_VERIFY, 1, 10, 8)), 0);
    EXPECT_EQ(h.run(1, lbaCmd(NVM_VERIFY, 1, (1ull << 21) - 1, 2)), st(SCT_GENERIC, SC_LBA_RANGE));
    EXPECT_EQ(h.run(1, lbaCmd(NVM_WRITE_ZEROES, 1, (1ull << 21), 1)), st(SCT_GENERIC, SC_LBA_RANGE));
}

TEST(Io, WriteUncorrectableUntilRewritten) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(h.run(1, lbaCmd(NVM_WRITE_UNCOR, 1, 100, 4)), 0);
    EXPECT_EQ(h.rw(false, 1, 98, 4, b), st(SCT_MEDIA, SC_READ_ERROR, false));
    EXPECT_EQ(h.rw(false, 1, 104, 1, b), 0);
    EXPECT_EQ(h.run(1, lbaCmd(NVM_VERIFY, 1, 103, 1)), st(SCT_MEDIA, SC_READ_ERROR, false));
    // Get LBA Status reports the range.
    Sqe ls = SimHost::cmd(ADMIN_GET_LBA_STATUS, 1);
    ls.setPrp1(b.nBus);
    ls.setCdw10(0);
    ls.setCdw12(4096 / 4 - 1);
    ls.setCdw13(0x10u << 24);
    ASSERT_EQ(h.run(0, ls), 0);
    EXPECT_EQ(reinterpret_cast<uint32_t *>(b.p)[0], 1u);
    auto *d = reinterpret_cast<nvme_lba_status_desc *>(b.p + 8);
    EXPECT_EQ(d->dslba, 100u);
    EXPECT_EQ(d->nlb, 4u);
    ls.setCdw13(0x12u << 24);
    EXPECT_EQ(h.run(0, ls), st(SCT_GENERIC, SC_INVALID_FIELD));
    // Rewriting part of it heals that part only.
    ASSERT_EQ(h.rw(true, 1, 101, 2, b), 0);
    EXPECT_EQ(h.rw(false, 1, 101, 2, b), 0);
    EXPECT_EQ(h.rw(false, 1, 100, 1, b), st(SCT_MEDIA, SC_READ_ERROR, false));
    EXPECT_EQ(h.rw(false, 1, 103, 1, b), st(SCT_MEDIA, SC_READ_ERROR, false));
    SimBuffer s = h.alloc(4096);
    Sqe lg = SimHost::cmd(ADMIN_GET_LOG_PAGE, 0xFFFFFFFF);
    lg.setPrp1(s.nBus);
    lg.setCdw10(NVME_LOG_LID_SMART | ((512 / 4 - 1) << 16));
    ASSERT_EQ(h.run(0, lg), 0);
    uint64_t nMedia = 0;
    std::memcpy(&nMedia, reinterpret_cast<nvme_smart_log *>(s.p)->media_errors, 8);
    EXPECT_EQ(nMedia, 4u);
}

TEST(Io, DatasetManagementDeallocates) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer w = h.alloc(8192);
    std::memset(w.p, 0x5A, 8192);
    ASSERT_EQ(h.rw(true, 1, 0, 16, w, w.nBus + 4096), 0);
    SimBuffer rl = h.alloc(4096);
    auto *r = reinterpret_cast<nvme_dsm_range *>(rl.p);
    r[0].slba = 2;
    r[0].nlb = 3;
    r[1].slba = 10;
    r[1].nlb = 1;
    Sqe d = SimHost::cmd(NVM_DSM, 1);
    d.setPrp1(rl.nBus);
    d.setCdw10(1);
    d.setCdw11(1u << 2);
    ASSERT_EQ(h.run(1, d), 0);
    SimBuffer b = h.alloc(8192);
    ASSERT_EQ(h.rw(false, 1, 0, 16, b, b.nBus + 4096), 0);
    for (int blk = 0; blk < 16; ++blk) {
        const bool bGone = (blk >= 2 && blk < 5) || blk == 10;
        EXPECT_EQ(b.p[blk * 512 + 7], bGone ? 0 : 0x5A) << blk;
    }
    r[0].slba = (1ull << 21) - 1;
    r[0].nlb = 2;
    EXPECT_EQ(h.run(1, d), st(SCT_GENERIC, SC_LBA_RANGE));
}

TEST(Io, CopyWithinANamespace) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer w = h.alloc(4096);
    pattern(w.p, 4096, 11);
    ASSERT_EQ(h.rw(true, 1, 0, 8, w), 0);
    SimBuffer rl = h.alloc(4096);
    auto *r = reinterpret_cast<nvme_copy_range *>(rl.p);
    r[0].slba = 4;
    r[0].nlb = 3;   // 4 blocks
    r[1].slba = 0;
    r[1].nlb = 1;   // 2 blocks
    Sqe c = SimHost::cmd(NVM_COPY, 1);
    c.setPrp1(rl.nBus);
    c.setCdw10(2);   // destination overlaps the first source
    c.setCdw12(1);
    ASSERT_EQ(h.run(1, c), 0);
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(h.rw(false, 1, 2, 6, b), 0);
    EXPECT_EQ(std::memcmp(b.p, w.p + 4 * 512, 4 * 512), 0);
    EXPECT_EQ(std::memcmp(b.p + 4 * 512, w.p, 2 * 512), 0);
    c.setCdw12(1 | (1u << 8));   // descriptor format 1
    EXPECT_EQ(h.run(1, c), st(SCT_GENERIC, SC_INVALID_FIELD));
    c.setCdw12(1);
    r[0].nlb = 4096;
    EXPECT_EQ(h.run(1, c), st(SCT_CMD_SPECIFIC, SC_CMD_SIZE_LIMIT_EXCEEDED));
    r[0].nlb = 3;
    c.setCdw10((1u << 21) - 2);
    EXPECT_EQ(h.run(1, c), st(SCT_GENERIC, SC_LBA_RANGE));
}

TEST(Io, SeparateMetadataThroughMptr) {
    SimHost h(R"({"devices":[{"namespaces":[{"nsid":1,"size":"1M","format":1}]}]})");
    ASSERT_TRUE(h.bringUp());
    SimBuffer d = h.alloc(4096), m = h.alloc(64), r = h.alloc(4096), rm = h.alloc(64);
    pattern(d.p, 4096, 1);
    pattern(m.p, 64, 2);
    Sqe w = lbaCmd(NVM_WRITE, 1, 8, 8);
    w.setPrp1(d.nBus);
    w.setMptr(m.nBus);
    ASSERT_EQ(h.run(1, w), 0);
    Sqe rd = lbaCmd(NVM_READ, 1, 8, 8);
    rd.setPrp1(r.nBus);
    rd.setMptr(rm.nBus);
    ASSERT_EQ(h.run(1, rd), 0);
    EXPECT_EQ(std::memcmp(d.p, r.p, 4096), 0);
    EXPECT_EQ(std::memcmp(m.p, rm.p, 64), 0);
    rd.setMptr(0x10);   // unmapped
    EXPECT_EQ(h.run(1, rd), st(SCT_GENERIC, SC_DATA_XFER_ERROR));
}

TEST(Io, ExtendedLbaCarriesMetadataInline) {
    SimHost h(R"({"devices":[{"namespaces":[{"nsid":1,"size":"1M","format":1,"extendedLba":true}]}]})");
    ASSERT_TRUE(h.bringUp());
    const size_t n = 4 * 520;
    SimBuffer d = h.alloc(n), r = h.alloc(n);
    pattern(d.p, n, 5);
    ASSERT_EQ(h.rw(true, 1, 0, 4, d), 0);
    ASSERT_EQ(h.rw(false, 1, 0, 4, r), 0);
    EXPECT_EQ(std::memcmp(d.p, r.p, n), 0);
    SimBuffer one = h.alloc(4096);
    ASSERT_EQ(h.rw(false, 1, 1, 1, one), 0);
    EXPECT_EQ(std::memcmp(one.p, d.p + 520, 520), 0);
}

TEST(Io, PhaseTagWrapsAround) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    ASSERT_EQ(h.createCq(1, 4), 0);
    ASSERT_EQ(h.createSq(1, 1, 4), 0);
    SimBuffer b = h.alloc(4096);
    for (int i = 0; i < 25; ++i) {
        Cqe r{};
        Sqe e = lbaCmd(NVM_READ, 1, i, 1);
        e.setPrp1(b.nBus);
        ASSERT_EQ(h.run(1, e, &r), 0) << i;
        EXPECT_EQ(r.sqid(), 1);
        EXPECT_EQ(r.sqhd(), (i + 1) % 4);
    }
}

TEST(Io, FullCompletionQueueIsNeverOverwritten) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    ASSERT_EQ(h.createCq(1, 4), 0);
    ASSERT_EQ(h.createSq(1, 1, 16), 0);
    SimBuffer b = h.alloc(4096);
    std::vector<uint16_t> cids;
    for (int i = 0; i < 10; ++i) {
        Sqe e = lbaCmd(NVM_READ, 1, i, 1);
        e.setPrp1(b.nBus);
        cids.push_back(h.push(1, e));
    }
    // Only three entries fit (one slot stays empty); nothing more appears
    // until the head doorbell moves.
    Cqe r{};
    std::vector<uint16_t> seen;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(h.reap(1, &r, 2000, false));
        seen.push_back(r.cid());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto *pNext = h.cqRing(1) + h.cqHead(1);
    EXPECT_FALSE(pNext->phase()) << "entry 3 was overwritten while full";
    EXPECT_EQ(h.cqRing(1)[0].cid(), seen[0]);
    h.ring(1, false, h.cqHead(1));
    for (int i = 3; i < 10; ++i) {
        ASSERT_TRUE(h.reap(1, &r)) << i;
        seen.push_back(r.cid());
    }
    EXPECT_EQ(seen, cids);
}

TEST(Io, CqHeadBeyondPostedEntriesIsInvalid) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    const uint16_t nAer = h.push(0, SimHost::cmd(ADMIN_ASYNC_EVENT));
    h.ring(1, false, 5);   // nothing was posted on CQ 1
    Cqe r{};
    ASSERT_TRUE(h.reap(0, &r));
    EXPECT_EQ(r.cid(), nAer);
    EXPECT_EQ((r.dw0() >> 8) & 0xFF, 1u);
    SimBuffer b = h.alloc(4096);
    EXPECT_EQ(h.rw(false, 1, 0, 1, b), 0);   // the queue still works
}

TEST(Io, RoundRobinServesEveryQueue) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    ASSERT_EQ(h.createCq(1, 256), 0);
    ASSERT_EQ(h.createSq(1, 1, 128), 0);
    ASSERT_EQ(h.createSq(2, 1, 128), 0);
    SimBuffer b = h.alloc(4096);
    h.c->cfgWrite(CFG_COMMAND, CMD_MEMORY, 2);   // hold the controller back while both fill
    for (int i = 0; i < 100; ++i) {
        Sqe e = lbaCmd(NVM_READ, 1, 0, 1);
        e.setPrp1(b.nBus);
        h.push(1, e);
        h.push(2, e);
    }
    h.c->cfgWrite(CFG_COMMAND, CMD_MEMORY | CMD_BUS_MASTER, 2);
    int nFromTwoInFirstHalf = 0;
    for (int i = 0; i < 200; ++i) {
        Cqe r{};
        ASSERT_TRUE(h.reap(1, &r));
        if (i < 100 && r.sqid() == 2)
            ++nFromTwoInFirstHalf;
    }
    EXPECT_GT(nFromTwoInFirstHalf, 30);
}

TEST(Io, BackingFileKeepsDataAcrossInstances) {
    char szPath[] = "/tmp/nvmesim-backing-XXXXXX";
    const int fd = mkstemp(szPath);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string cfg = std::string(R"({"devices":[{"namespaces":[{"nsid":1,"size":"4M","backingFile":")") + szPath + "\"}]}]}";
    std::vector<uint8_t> want(4096);
    pattern(want.data(), 4096, 77);
    {
        SimHost h(cfg);
        ASSERT_TRUE(h.bringUp());
        SimBuffer w = h.alloc(4096);
        std::memcpy(w.p, want.data(), 4096);
        ASSERT_EQ(h.rw(true, 1, 123, 8, w), 0);
    }
    {
        SimHost h(cfg);
        ASSERT_TRUE(h.bringUp());
        SimBuffer r = h.alloc(4096);
        ASSERT_EQ(h.rw(false, 1, 123, 8, r), 0);
        EXPECT_EQ(std::memcmp(r.p, want.data(), 4096), 0);
        // A power cycle keeps it too.
        h.bus->device(0).powerCycle();
        ASSERT_TRUE(h.bringUp());
        std::memset(r.p, 0, 4096);
        ASSERT_EQ(h.rw(false, 1, 123, 8, r), 0);
        EXPECT_EQ(std::memcmp(r.p, want.data(), 4096), 0);
    }
    std::remove(szPath);
}
