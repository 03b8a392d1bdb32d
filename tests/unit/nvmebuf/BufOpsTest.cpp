// Element operations, fills, checksum, compare, hex dump and description.
#include "BufFixture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "nvmeBufDump.h"
#include "nvmeBufOps.h"

using namespace kxmnvme;
using bufTest::SimDma;

namespace {

std::string dumpOf(const NvmeBuf *b, uint32_t nOff, uint32_t nLen, int *pRc = nullptr)
{
    std::string s;
    int rc;
    {
        NvmeTextOut out([&s](const char *sz, size_t) { s += sz; });
        rc = nvmeBufHexDump(b, nOff, nLen, out);
    }
    if (pRc)
        *pRc = rc;
    return s;
}

} // namespace

TEST(NvmeBufOps, NumbersRangesAndFills)
{
    SimDma sim(0x10);
    for (int64_t nType : {int64_t(NVME_BUF_PRP), int64_t(NVME_BUF_SGL)}) {
        NvmeBuf *b = nullptr;
        ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), nType, 64, &b), EC_NONE);
        uint8_t *p = nvmeBufData(b);
        ASSERT_NE(p, nullptr);

        // Byte order.
        ASSERT_EQ(nvmeBufWriteNum(b, 0, 4, 0, 0x11223344), EC_NONE);
        EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
        ASSERT_EQ(nvmeBufWriteNum(b, 8, 8, 1, 0x0102030405060708ull), EC_NONE);
        EXPECT_EQ(p[8], 0x08);
        EXPECT_EQ(p[15], 0x01);
        uint64_t v = 0;
        EXPECT_EQ(nvmeBufReadNum(b, 8, 6, 1, &v), EC_NONE);
        EXPECT_EQ(v, 0x030405060708ull);
        EXPECT_EQ(nvmeBufReadNum(b, 8, 6, 0, &v), EC_NONE);
        EXPECT_EQ(v, 0x080706050403ull);
        EXPECT_EQ(nvmeBufReadNum(b, 0, 2, 7, &v), EC_NONE);   // any non-zero flag: little-endian
        EXPECT_EQ(v, 0x2211u);
        EXPECT_EQ(nvmeBufWriteNum(b, 20, 2, 0, 0xFFFFABCD), EC_NONE);
        EXPECT_EQ(p[20], 0xAB);
        EXPECT_EQ(p[21], 0xCD);
        EXPECT_EQ(p[22], 0x00) << "only the low bytes are written";

        // Ranges: the last fitting offset, one past it, and offsets whose sum
        // with the length wraps in 32 bits.
        EXPECT_EQ(nvmeBufReadNum(b, 62, 2, 0, &v), EC_NONE);
        EXPECT_EQ(nvmeBufReadNum(b, 63, 2, 0, &v), EC_DMA_RANGE);
        EXPECT_EQ(v, 0u);
        EXPECT_EQ(nvmeBufReadNum(b, 63, 1, 0, &v), EC_NONE);
        EXPECT_EQ(nvmeBufReadNum(b, 64, 1, 0, &v), EC_DMA_RANGE);
        for (uint32_t nOff : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFF9u, 0x80000000u}) {
            EXPECT_EQ(nvmeBufReadNum(b, nOff, 8, 1, &v), EC_DMA_RANGE);
            EXPECT_EQ(nvmeBufWriteNum(b, nOff, 8, 1, 1), EC_DMA_RANGE);
            EXPECT_EQ(nvmeBufFill8(b, nOff, 2, 0xEE), EC_DMA_RANGE);
            EXPECT_EQ(nvmeBufCopyIn(b, nOff, "ab", 2), EC_DMA_RANGE);
            EXPECT_EQ(nvmeBufChecksum64(b, nOff, 8, &v), EC_DMA_RANGE);
        }
        EXPECT_EQ(nvmeBufFill8(b, 1, 0xFFFFFFFFu, 0xEE), EC_DMA_RANGE);
        EXPECT_EQ(nvmeBufFill8(b, 64, 0, 0xEE), EC_NONE) << "an empty range at the end";

        // 32-bit pattern from an unaligned offset, ending mid-pattern.
        std::memset(p, 0, 64);
        ASSERT_EQ(nvmeBufFill32(b, 1, 5, 0x11223344, 1), EC_NONE);
        EXPECT_EQ(std::vector<uint8_t>(p, p + 7), (std::vector<uint8_t>{0, 0x44, 0x33, 0x22, 0x11, 0x44, 0}));
        ASSERT_EQ(nvmeBufFill32(b, 10, 6, 0xA1B2C3D4, 0), EC_NONE);
        EXPECT_EQ(std::vector<uint8_t>(p + 10, p + 16), (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xD4, 0xA1, 0xB2}));

        // Random fill: an odd leading byte, pairs, a last single byte.
        srand(7);
        const int r1 = rand(), r2 = rand(), r3 = rand();
        srand(7);
        ASSERT_EQ(nvmeBufFillRand(b, 1, 4), EC_NONE);
        ASSERT_EQ(reinterpret_cast<uintptr_t>(p + 1) & 1, 1u);
        EXPECT_EQ(p[1], uint8_t(r1));
        EXPECT_EQ(p[2], uint8_t(r2));
        EXPECT_EQ(p[3], uint8_t(r2 >> 8));
        EXPECT_EQ(p[4], uint8_t(r3));

        // Copies.
        char out[6] = {};
        ASSERT_EQ(nvmeBufCopyIn(b, 59, "hello", 5), EC_NONE);
        ASSERT_EQ(nvmeBufCopyOut(b, 59, out, 5), EC_NONE);
        EXPECT_STREQ(out, "hello");
        EXPECT_EQ(nvmeBufCopyOut(b, 60, out, 5), EC_DMA_RANGE);

        EXPECT_EQ(nvmeBufFreeOn(sim.registry, b), EC_NONE);
    }
}

TEST(NvmeBufOps, ChecksumIsBoundedAndCompareChecksLengths)
{
    SimDma sim(0);
    NvmeBuf *a = nullptr, *b = nullptr, *h = nullptr;
    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_PRP, 13, &a), EC_NONE);
    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_SGL, 20, &b), EC_NONE);
    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_HMB, 4096, &h), EC_NONE);
    uint8_t *p = nvmeBufData(a);
    for (int i = 0; i < 13; i++)
        p[i] = static_cast<uint8_t>(i + 1);
    // The DMA block is larger than the buffer: bytes behind the end must not
    // count.
    std::memset(p + 13, 0xFF, 3);

    uint64_t s = 1;
    EXPECT_EQ(nvmeBufChecksum64(a, 0, 0, &s), EC_NONE);
    EXPECT_EQ(s, 0u);
    ASSERT_EQ(nvmeBufChecksum64(a, 0, 13, &s), EC_NONE);
    EXPECT_EQ(s, 0x0807060504030201ull ^ 0x0D0C0B0A09ull);
    ASSERT_EQ(nvmeBufChecksum64(a, 0, 3, &s), EC_NONE);
    EXPECT_EQ(s, 0x0807060504030201ull) << "a short range reads its whole word";
    ASSERT_EQ(nvmeBufChecksum64(a, 10, 3, &s), EC_NONE);
    EXPECT_EQ(s, 0x0D0C0Bull);
    EXPECT_EQ(nvmeBufChecksum64(a, 10, 4, &s), EC_DMA_RANGE);

    int nDiffer = -1;
    std::memcpy(nvmeBufData(b), p, 13);
    EXPECT_EQ(nvmeBufCompare(a, b, 13, &nDiffer), EC_NONE);
    EXPECT_EQ(nDiffer, 0);
    nvmeBufData(b)[12] ^= 1;
    EXPECT_EQ(nvmeBufCompare(a, b, 13, &nDiffer), EC_NONE);
    EXPECT_EQ(nDiffer, 1);
    EXPECT_EQ(nvmeBufCompare(a, b, 12, &nDiffer), EC_NONE);
    EXPECT_EQ(nDiffer, 0);
    EXPECT_EQ(nvmeBufCompare(a, b, 14, &nDiffer), EC_DMA_RANGE) << "beyond the shorter buffer";
    EXPECT_EQ(nvmeBufCompare(b, a, 0xFFFFFFFFu, &nDiffer), EC_DMA_RANGE);

    // HMB buffers have no contiguous data: operations do nothing.
    EXPECT_EQ(nvmeBufWriteNum(h, 0, 4, 0, 1), EC_NONE);
    EXPECT_EQ(nvmeBufReadNum(h, 0, 4, 0, &s), EC_NONE);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(nvmeBufFill8(h, 0, 4096, 1), EC_NONE);
    EXPECT_EQ(dumpOf(h, 0, 16), "");

    nvmeBufFreeOn(sim.registry, a);
    nvmeBufFreeOn(sim.registry, b);
    nvmeBufFreeOn(sim.registry, h);
}

TEST(NvmeBufOps, HexDumpFoldsRepeatsAndMarksTheRange)
{
    SimDma sim(0x20);
    NvmeBuf *b = nullptr;
    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_PRP, 4096, &b), EC_NONE);

    const std::string sZero = " 0000000: 00 00 00 00  00 00 00 00   00 00 00 00  00 00 00 00    ................\n";
    EXPECT_EQ(dumpOf(b, 0, 4096), sZero + " 0000010: 00 00 00 00  00 00 00 00   00 00 00 00  00 00 00 00    "
                                          "................\n"
                                          " 0000020: 00 00 00 00  repeats ...\n");

    // A different last line ends the run; the dump resumes there.
    std::memcpy(nvmeBufData(b) + 4080, "ABCDEFGHIJKLMNO\x7f", 16);
    const std::string s = dumpOf(b, 0, 4096);
    EXPECT_NE(s.find(" 0000020: 00 00 00 00  repeats ...\n"
                     " 0000FF0: 41 42 43 44  45 46 47 48   49 4A 4B 4C  4D 4E 4F 7F    ABCDEFGHIJKLMNO.\n"),
              std::string::npos)
        << s;
    EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 4);

    // A range inside lines: positions outside print blanks; short ranges
    // never fold.
    EXPECT_EQ(dumpOf(b, 4083, 3), " 0000FF0:" + std::string(9, ' ') + " 44 " + " 45 46" + std::string(6 + 2 + 12 + 1 + 12, ' ') +
                                      "    " + "   DEF" + std::string(10, ' ') + "\n");
    const std::string sShort = dumpOf(b, 0, 288);
    EXPECT_EQ(std::count(sShort.begin(), sShort.end(), '\n'), 18);

    int rc = 0;
    EXPECT_EQ(dumpOf(b, 4096, 1, &rc), "");
    EXPECT_EQ(rc, EC_DMA_RANGE);
    dumpOf(b, 0xFFFFFFF0u, 0x20, &rc);
    EXPECT_EQ(rc, EC_DMA_RANGE);
    nvmeBufFreeOn(sim.registry, b);
}

TEST(NvmeBufOps, Descriptions)
{
    SimDma sim(0);
    NvmeBuf *b = nullptr;
    auto describe = [](const NvmeBuf *p) {
        std::string s;
        {
            NvmeTextOut out([&s](const char *sz, size_t) { s += sz; });
            nvmeBufDescribe(p, out);
        }
        return s;
    };
    char sz[1024];

    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_PRP, 3 * 4096, &b), EC_NONE);
    std::string s = describe(b);
    const uint64_t L = b->PRP2List.nPointer, B = b->data.nBusAddr;
    EXPECT_EQ(s.rfind("\tPRP buffer\n\tnTtlSize    = 3000h\n\tnSize_PRP1  = 1000h\n\tnSize_PRP12 = 2000h\n\n", 0), 0u)
        << s;
    snprintf(sz, sizeof sz, "\tnPRP1Entry = %016llXh <--\n", static_cast<unsigned long long>(B));
    EXPECT_NE(s.find(sz), std::string::npos);
    snprintf(sz, sizeof sz,
             "\tPRP2List.nOffset   = 0h\n\tPRP2List.nPointer  = %016llXh <--\n"
             "\t\t[%llX] %016llX  (entry 0)\n\t\t[%llX] %016llX  (entry 1)\n\t\t[%llX] 0000000000000000  (entry 2)\n",
             static_cast<unsigned long long>(L), static_cast<unsigned long long>(L),
             static_cast<unsigned long long>(B + 4096), static_cast<unsigned long long>(L + 8),
             static_cast<unsigned long long>(B + 8192), static_cast<unsigned long long>(L + 16));
    EXPECT_NE(s.find(sz), std::string::npos) << s;
    EXPECT_EQ(s.substr(s.size() - strlen(sz)), sz) << "the list ends the description";
    nvmeBufFreeOn(sim.registry, b);

    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_SGL, 100, &b), EC_NONE);
    s = describe(b);
    snprintf(sz, sizeof sz,
             "\tcba.nSize      = 64h\n\n\t-------- SGL1 entry begin --------\n\t\t%016llX        Address\n"
             "\t\t0 0 000000 00000064     SGLDataBlockDescriptor SType R Length\n"
             "\t-------- SGL1 entry end --------\n",
             static_cast<unsigned long long>(b->data.nBusAddr));
    EXPECT_NE(s.find(sz), std::string::npos) << s;
    EXPECT_EQ(s.rfind("\tSGL buffer\n\tnBufType       = 2\n\tbVAContinuous  = 1\n\tnTtlSize       = 100\n", 0), 0u);
    nvmeBufFreeOn(sim.registry, b);

    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_HMB, 0x201000, &b), EC_NONE);
    s = describe(b);
    NvmeHmbDescEntry e0, e1;
    ASSERT_TRUE(nvmeBufHmbEntry(b, 0, &e0));
    ASSERT_TRUE(nvmeBufHmbEntry(b, 1, &e1));
    snprintf(sz, sizeof sz,
             "\tHMB buffer\n\tnBufType                 = 1\n\tnTtlSize_inBytes         = 201000h\n"
             "\tnTtlSize_inPages         = 201h\n\tDescriptorListEntryCount = 2\n"
             "\tDescriptorListPhyAddr    = %llXh\n\tEntries:\n"
             "\t  [000].BufAddr = %llXh\n\t  [000].nSize   = 200h (pages)\n"
             "\t  [001].BufAddr = %llXh\n\t  [001].nSize   = 1h (pages)\n",
             static_cast<unsigned long long>(b->DescriptorListPhyAddr), static_cast<unsigned long long>(e0.nBufAddr),
             static_cast<unsigned long long>(e1.nBufAddr));
    EXPECT_EQ(s, sz);
    nvmeBufFreeOn(sim.registry, b);
}

TEST(NvmeBufOps, CopyFromAddressRefusesUnreadableSources)
{
    SimDma sim(0);
    NvmeBuf *b = nullptr;
    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_PRP, 8192, &b), EC_NONE);
    uint8_t *p = nvmeBufData(b);
    std::memset(p, 0x5A, 8192);

    // A readable page followed by one that cannot be read.
    const long nPage = sysconf(_SC_PAGESIZE);
    auto *pMap = static_cast<uint8_t *>(mmap(nullptr, 2 * nPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pMap, MAP_FAILED);
    std::memset(pMap, 0x11, 2 * nPage);
    ASSERT_EQ(mprotect(pMap + nPage, nPage, PROT_NONE), 0);
    const auto addr = [](const void *q) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(q)); };

    EXPECT_EQ(nvmeBufCopyFromAddress(b, 4, addr(pMap + nPage - 16), 16), EC_NONE);
    EXPECT_EQ(p[3], 0x5A);
    EXPECT_EQ(p[4], 0x11);
    EXPECT_EQ(p[19], 0x11);
    EXPECT_EQ(p[20], 0x5A);

    for (uint64_t nAddr : {uint64_t{0}, uint64_t{16}, addr(pMap + nPage - 8), addr(pMap + nPage), ~uint64_t{0} - 4,
                           uint64_t{0xFFFFFFFFFFFFF000ull}}) {
        EXPECT_EQ(nvmeBufCopyFromAddress(b, 100, nAddr, 16), EC_ARGS) << std::hex << nAddr;
        EXPECT_EQ(p[100], 0x5A) << "a refused copy leaves the buffer as it was";
        EXPECT_EQ(p[107], 0x5A);
    }
    EXPECT_EQ(nvmeBufCopyFromAddress(b, 8190, addr(pMap), 4), EC_DMA_RANGE);
    EXPECT_EQ(nvmeBufCopyFromAddress(b, 0xFFFFFFFFu, addr(pMap), 2), EC_DMA_RANGE);
    EXPECT_EQ(nvmeBufCopyFromAddress(b, 0, 16, 0), EC_NONE) << "nothing to read";
    munmap(pMap, 2 * nPage);
    nvmeBufFreeOn(sim.registry, b);
}
