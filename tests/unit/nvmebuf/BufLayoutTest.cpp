// Layouts of PRP, SGL and HMB buffers in DMA memory, checked the way a
// controller reads them: only through bus addresses.
#include "BufFixture.h"

#include <cstring>

using namespace kxmnvme;
using bufTest::SimDma;

namespace {

struct Segment {
    uint64_t nBus;
    uint64_t nLen;
};

// Walks the data pointer of a command as the NVMe standard has a controller
// do it: PRP1 with its offset, then PRP2 as a data page when the rest fits
// in one page, else as a PRP list whose last slot on each list page chains
// to the next list page while more than one entry remains. Every data entry
// after PRP1 must be page-aligned. Also reports the slot that follows the
// last data entry (the module ends its lists with a 0 there).
std::vector<Segment> walkPrp(SimDma &sim, uint64_t nPrp1, uint64_t nPrp2, uint64_t n, uint64_t P,
                             uint64_t *pAfterLast = nullptr)
{
    std::vector<Segment> segs;
    const uint64_t nFirst = std::min(n, P - nPrp1 % P);
    segs.push_back({nPrp1, nFirst});
    uint64_t nLeft = n - nFirst;
    if (nLeft == 0)
        return segs;
    if (nLeft <= P) {
        EXPECT_EQ(nPrp2 % P, 0u);
        segs.push_back({nPrp2, nLeft});
        return segs;
    }
    EXPECT_EQ(nPrp2 % 8, 0u);
    uint64_t nSlot = nPrp2;
    while (nLeft > 0) {
        const uint64_t v = sim.read64(nSlot);
        if (nSlot % P == P - 8 && nLeft > P) {
            EXPECT_EQ(v % P, 0u) << "list page pointer";
            nSlot = v;
            continue;
        }
        EXPECT_EQ(v % P, 0u) << "data entry";
        const uint64_t nLen = std::min(nLeft, P);
        segs.push_back({v, nLen});
        nLeft -= nLen;
        nSlot += 8;
    }
    if (pAfterLast)
        *pAfterLast = sim.read64(nSlot);
    return segs;
}

// Checks a PRP buffer against its bus address range and the size fields.
void checkPrp(SimDma &sim, const NvmeBuf *b, uint32_t n, uint32_t P)
{
    SCOPED_TRACE(testing::Message() << "size " << n << " page " << P << " bus " << std::hex << b->nPRP1Entry);
    const uint64_t B = b->data.nBusAddr;
    const uint64_t d = P - B % P;
    EXPECT_EQ(b->nPRP1Entry, B);
    EXPECT_EQ(b->nSize_PRP1, std::min<uint64_t>(n, d));
    EXPECT_EQ(b->nSize_PRP12, std::min<uint64_t>(n, d + P));
    EXPECT_EQ(b->nTtlSize, n);
    EXPECT_EQ(b->pVBufAddr, b->data.pHost);
    ASSERT_TRUE(sim.mapped(B, n));

    const uint64_t nPages = (B % P + n + P - 1) / P;   // pages the data touches
    const bool bList = nPages > 2;
    EXPECT_EQ(b->PRP2List.nPointer != 0, bList);
    EXPECT_EQ(b->PRP2List.block.pHost != nullptr, bList);
    if (nPages == 1)
        EXPECT_EQ(b->nPRP2Entry, 0u);
    else
        EXPECT_EQ(b->nPRP2Entry, B + d);

    uint64_t nAfter = 1;
    const auto segs = walkPrp(sim, b->nPRP1Entry, bList ? b->PRP2List.nPointer : b->nPRP2Entry, n, P, &nAfter);
    uint64_t nAt = B;
    for (const Segment &s : segs) {
        EXPECT_EQ(s.nBus, nAt);
        nAt += s.nLen;
    }
    EXPECT_EQ(nAt, B + n);
    EXPECT_EQ(segs.size(), nPages);
    if (bList) {
        EXPECT_EQ(nAfter, 0u) << "the list ends with a 0 entry";
        EXPECT_EQ(sim.read64(b->PRP2List.nPointer), B + d) << "first list entry";
        EXPECT_EQ(b->PRP2List.nPointer, b->PRP2List.block.nBusAddr + b->PRP2List.nOffset);
        if (nPages > 3)
            EXPECT_EQ(b->PRP2List.nPointer % P, 0u) << "multi-page lists start on a page";
        else
            EXPECT_LE((b->PRP2List.nPointer % P) + 24, P) << "three entries in one page";
    }
}

} // namespace

TEST(NvmeBufLayout, PrpEntriesAndListsForEveryShape)
{
    for (uint32_t nIn : {0u, 8u, 0x100u, 0xF00u, 0xFF0u}) {
        for (uint32_t P : {4096u, 8192u}) {
            SimDma sim(nIn);
            const size_t nBase = sim.blocks();
            const uint32_t E = P / 8;
            const uint32_t r = nIn % P;
            std::vector<uint64_t> sizes = {1, 512, P - 1, P, P + 1, 2 * P - 256, 2 * P, 2 * P + 1, 3 * P, 12 * 1024,
                                           // data entries exactly fill the first list page
                                           // (the simulator aligns blocks to 4 KiB, so with
                                           // 8 KiB pages the data may start in either half)
                                           uint64_t(E + 1) * P - r, uint64_t(E + 1) * P - r - 4096,
                                           // one more: the last slot chains to a second page
                                           uint64_t(E + 1) * P - r + 1,
                                           // several chained list pages
                                           3ull * E * P + 100};
            int nExactFills = 0;
            for (uint64_t n : sizes) {
                NvmeBuf *b = nullptr;
                ASSERT_EQ(nvmeBufAllocOn(sim.target(P), NVME_BUF_PRP, static_cast<uint32_t>(n), &b), EC_NONE);
                ASSERT_NE(b, nullptr);
                EXPECT_TRUE(sim.registry.is(b, NVME_KIND_BUF));
                EXPECT_EQ(b->nBufType, 0u);
                EXPECT_EQ(b->bVAContinuous, 1);
                checkPrp(sim, b, static_cast<uint32_t>(n), P);
                const uint64_t nPages = (b->data.nBusAddr % P + n + P - 1) / P;
                if (nPages - 1 == E) {
                    nExactFills++;
                    // The list page's last slot holds the last data entry.
                    uint64_t nSlotBus = 0, v = 0;
                    ASSERT_TRUE(nvmeBufPrpListEntry(b, E - 1, &nSlotBus, &v));
                    EXPECT_EQ(v, b->data.nBusAddr + (P - b->data.nBusAddr % P) + uint64_t(E - 1) * P);
                }
                EXPECT_EQ(nvmeBufFreeOn(sim.registry, b), EC_NONE);
                EXPECT_FALSE(sim.registry.is(b, NVME_KIND_BUF));
            }
            EXPECT_EQ(sim.blocks(), nBase) << "every DMA block went back";
            EXPECT_GE(nExactFills, 1) << "a list page exactly filled was exercised";
            EXPECT_EQ(sim.registry.runCount(), 0u);
        }
    }
}

TEST(NvmeBufLayout, PrpOneAndTwoPageFieldsAtKnownAddresses)
{
    // 512 bytes at ...F00 with a 4 KiB page: the data crosses into the next page.
    SimDma sim(0xF00);
    NvmeBuf *b = nullptr;
    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_PRP, 512, &b), EC_NONE);
    EXPECT_EQ(b->data.nBusAddr % 4096, 0xF00u);
    EXPECT_EQ(b->nSize_PRP1, 0x100u);
    EXPECT_EQ(b->nPRP2Entry, b->data.nBusAddr + 0x100);
    nvmeBufFreeOn(sim.registry, b);

    // Aligned: no second entry; 12 KiB: PRP2 is the second page and the list
    // holds the second and third pages, then 0.
    SimDma aligned(0);
    ASSERT_EQ(nvmeBufAllocOn(aligned.target(4096), NVME_BUF_PRP, 512, &b), EC_NONE);
    EXPECT_EQ(b->nPRP2Entry, 0u);
    EXPECT_EQ(b->nSize_PRP1, 512u);
    nvmeBufFreeOn(aligned.registry, b);
    ASSERT_EQ(nvmeBufAllocOn(aligned.target(4096), NVME_BUF_PRP, 12 * 1024, &b), EC_NONE);
    const uint64_t B = b->data.nBusAddr;
    EXPECT_EQ(b->nPRP2Entry, B + 4096);
    EXPECT_EQ(aligned.read64(b->PRP2List.nPointer), B + 4096);
    EXPECT_EQ(aligned.read64(b->PRP2List.nPointer + 8), B + 8192);
    EXPECT_EQ(aligned.read64(b->PRP2List.nPointer + 16), 0u);
    EXPECT_EQ(b->PRP2List.nEntries, 3u);
    nvmeBufFreeOn(aligned.registry, b);
}

TEST(NvmeBufLayout, SglDescriptorAndRefusals)
{
    SimDma sim(0x40);
    const size_t nBase = sim.blocks();
    NvmeBuf *b = nullptr;
    ASSERT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_SGL, 10000, &b), EC_NONE);
    EXPECT_EQ(b->nBufType, 2u);
    EXPECT_EQ(b->bVAContinuous, 1);
    uint8_t raw[16];
    std::memcpy(raw, &b->sgl, 16);
    uint64_t nAddr = 0;
    for (int i = 7; i >= 0; i--)
        nAddr = (nAddr << 8) | raw[i];
    EXPECT_EQ(nAddr, b->data.nBusAddr);
    EXPECT_EQ(raw[8] | raw[9] << 8 | raw[10] << 16 | raw[11] << 24, 10000);
    EXPECT_EQ(raw[12] | raw[13] | raw[14], 0);
    EXPECT_EQ(raw[15], 0x00) << "Data Block descriptor, subtype 0";
    EXPECT_TRUE(sim.mapped(nAddr, 10000));
    EXPECT_EQ(nvmeBufData(b), b->data.pHost);
    EXPECT_EQ(nvmeBufFreeOn(sim.registry, b), EC_NONE);

    // Refusals leave nothing behind.
    EXPECT_EQ(nvmeBufAllocOn(sim.target(4096), 3, 4096, &b), EC_BUF_TYPE);
    EXPECT_EQ(nvmeBufAllocOn(sim.target(4096), -1, 4096, &b), EC_BUF_TYPE);
    EXPECT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_PRP, 0, &b), EC_DMA_SIZE);
    EXPECT_EQ(nvmeBufAllocOn(sim.target(0), NVME_BUF_PRP, 4096, &b), EC_NOT_INITED);
    EXPECT_EQ(nvmeBufAllocOn(sim.target(4096), NVME_BUF_HMB, 4096 + 512, &b), EC_HMB_SIZE);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(sim.blocks(), nBase);
    EXPECT_EQ(sim.registry.runCount(), 0u);
}

namespace {

// The simulated platform with a cap on the size of one DMA block, as on a
// machine whose contiguous memory is fragmented.
class CappedPlatform : public kxmplat::Platform {
public:
    CappedPlatform(kxmplat::Platform &real, size_t nCap) : m_real(real), m_nCap(nCap) {}
    const char *name() const override { return "capped"; }
    int enumerate(std::vector<kxmplat::PciFunctionInfo> &out, size_t n) override { return m_real.enumerate(out, n); }
    int cfgRead(const kxmplat::PciSlot &s, uint32_t o, uint32_t *v, int w) override { return m_real.cfgRead(s, o, v, w); }
    int cfgWrite(const kxmplat::PciSlot &s, uint32_t o, uint32_t v, int w) override { return m_real.cfgWrite(s, o, v, w); }
    int openDevice(const kxmplat::PciSlot &s, kxmplat::Device **pp) override { return m_real.openDevice(s, pp); }
    void closeDevice(kxmplat::Device *p) override { m_real.closeDevice(p); }
    uint32_t mmioRead32(kxmplat::Device *p, uint32_t o) override { return m_real.mmioRead32(p, o); }
    void mmioWrite32(kxmplat::Device *p, uint32_t o, uint32_t v) override { m_real.mmioWrite32(p, o, v); }
    int dmaAlloc(kxmplat::Device *p, size_t n, kxmplat::DmaBuffer *b) override
    {
        attempts.push_back(n);
        return n > m_nCap ? -1 : m_real.dmaAlloc(p, n, b);
    }
    int dmaAllocPageAligned(kxmplat::Device *p, size_t n, kxmplat::DmaBuffer *b) override
    {
        attempts.push_back(n);
        return n > m_nCap ? -1 : m_real.dmaAllocPageAligned(p, n, b);
    }
    void dmaFree(kxmplat::Device *p, kxmplat::DmaBuffer *b) override { m_real.dmaFree(p, b); }
    int sriovTotalVFs(kxmplat::Device *p) override { return m_real.sriovTotalVFs(p); }
    int sriovEnable(kxmplat::Device *p, int n, std::vector<kxmplat::Device *> &v) override
    {
        return m_real.sriovEnable(p, n, v);
    }
    int hotReset(kxmplat::Device *p) override { return m_real.hotReset(p); }
    int slotPower(kxmplat::Device *p, bool bOn) override { return m_real.slotPower(p, bOn); }
    int close() override { return 1; }

    std::vector<size_t> attempts;

private:
    kxmplat::Platform &m_real;
    size_t m_nCap;
};

} // namespace

TEST(NvmeBufLayout, HmbChunksHalveAndDescribeThemselves)
{
    SimDma sim(0x80);   // HMB blocks are page-aligned whatever the shift
    const size_t nBase = sim.blocks();
    const uint32_t P = 4096;
    const uint32_t MiB = 1024 * 1024;

    // Plenty of memory: 2 MiB chunks and a 1.5 MiB tail.
    NvmeBuf *b = nullptr;
    ASSERT_EQ(nvmeBufAllocOn(sim.target(P), NVME_BUF_HMB, 5 * MiB + MiB / 2, &b), EC_NONE);
    EXPECT_EQ(b->nBufType, 1u);
    EXPECT_EQ(b->bVAContinuous, 0);
    EXPECT_EQ(b->DescriptorListEntryCount, 3u);
    EXPECT_EQ(b->nTtlSize_inPages, (5 * MiB + MiB / 2) / P);
    EXPECT_EQ(b->DescriptorListPhyAddr % P, 0u);
    EXPECT_EQ(b->DescriptorListPhyAddr, b->descList.nBusAddr);
    EXPECT_EQ(b->descList.nSize, P) << "three entries round up to one page";
    const uint64_t aPages[3] = {512, 512, 384};
    for (uint32_t i = 0; i < 3; i++) {
        const uint64_t nAddr = sim.read64(b->DescriptorListPhyAddr + 16 * i);
        const uint64_t nSizeWord = sim.read64(b->DescriptorListPhyAddr + 16 * i + 8);
        EXPECT_EQ(nAddr % P, 0u);
        EXPECT_EQ(nSizeWord, aPages[i]) << "size in pages, reserved bytes 0";
        EXPECT_TRUE(sim.mapped(nAddr, aPages[i] * P));
    }
    EXPECT_EQ(nvmeBufData(b), nullptr);
    EXPECT_EQ(nvmeBufFreeOn(sim.registry, b), EC_NONE);
    EXPECT_EQ(sim.blocks(), nBase);

    // Blocks above 512 KiB fail: each 2 MiB chunk halves twice, but only two
    // entries exist for 4 MiB, so the allocation fails and gives back all.
    CappedPlatform capped(*sim.plat, 512 * 1024);
    EXPECT_EQ(nvmeBufAllocOn(sim.target(P, &capped), NVME_BUF_HMB, 4 * MiB, &b), EC_DMA_ALLOC);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(sim.blocks(), nBase);
    EXPECT_EQ(sim.registry.runCount(), 0u);
    const std::vector<size_t> want = {P, 2 * MiB, MiB, MiB / 2, 2 * MiB, MiB, MiB / 2};
    EXPECT_EQ(capped.attempts, want);

    // A 3-page chunk halves to one whole page, not to 1.5 pages; the one
    // entry of the list then cannot cover the rest.
    CappedPlatform tiny(*sim.plat, 2 * P);
    ASSERT_EQ(nvmeBufAllocOn(sim.target(P, &tiny), NVME_BUF_HMB, 3 * P, &b), EC_DMA_ALLOC);
    const std::vector<size_t> wantTiny = {P, 3 * P, P};
    EXPECT_EQ(tiny.attempts, wantTiny) << "halving keeps whole pages";
    EXPECT_EQ(sim.blocks(), nBase);

    // Nothing lockable at all: the list itself fails.
    CappedPlatform none(*sim.plat, 0);
    EXPECT_EQ(nvmeBufAllocOn(sim.target(P, &none), NVME_BUF_HMB, P, &b), EC_DMA_ALLOC);
    EXPECT_EQ(nvmeBufAllocOn(sim.target(P, &none), NVME_BUF_PRP, 100, &b), EC_DMA_ALLOC);
    EXPECT_EQ(nvmeBufAllocOn(sim.target(P, &none), NVME_BUF_SGL, 100, &b), EC_NO_MEM);
    EXPECT_EQ(sim.blocks(), nBase);
    EXPECT_EQ(sim.registry.runCount(), 0u);
}
