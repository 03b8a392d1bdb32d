// Allocation, layout and release of the DMA data buffers.
#include "nvmeBuf.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kxmnvme {

namespace {

uint64_t ceilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// The DMA blocks of one allocation in progress: whatever is still held when
// the allocation fails goes back to the platform.
class BlockSet {
public:
    BlockSet(kxmplat::Platform *pPlat, kxmplat::Device *pDev) : m_pPlat(pPlat), m_pDev(pDev) {}

    bool lock(size_t nSize, kxmplat::DmaBuffer *pBuf, bool bPageAligned = false)
    {
        *pBuf = kxmplat::DmaBuffer();
        const int rc = bPageAligned ? m_pPlat->dmaAllocPageAligned(m_pDev, nSize, pBuf)
                                    : m_pPlat->dmaAlloc(m_pDev, nSize, pBuf);
        if (rc != 0 || !pBuf->pHost) {
            *pBuf = kxmplat::DmaBuffer();
            return false;
        }
        return true;
    }
    void unlock(kxmplat::DmaBuffer *pBuf)
    {
        if (pBuf->pHost)
            m_pPlat->dmaFree(m_pDev, pBuf);
        *pBuf = kxmplat::DmaBuffer();
    }

private:
    kxmplat::Platform *m_pPlat;
    kxmplat::Device *m_pDev;
};

void putLE64(uint8_t *p, uint64_t v)
{
    for (int i = 0; i < 8; i++)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t getLE64(const uint8_t *p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; i--)
        v = (v << 8) | p[i];
    return v;
}

void releaseAll(NvmeBuf *b)
{
    BlockSet blocks(b->pPlat, b->pDev);
    blocks.unlock(&b->data);
    blocks.unlock(&b->PRP2List.block);
    if (b->pChunks) {
        for (uint32_t i = 0; i < b->nChunkSlots; i++)
            blocks.unlock(&b->pChunks[i]);
        delete[] b->pChunks;
        b->pChunks = nullptr;
    }
    blocks.unlock(&b->descList);
}

// The PRP list block: nPages list pages that start on a page boundary.
// Returns false when no block could be locked.
bool lockListPages(BlockSet &blocks, NvmeBuf *b, uint32_t nPages)
{
    const uint32_t P = b->nPageSize;
    kxmplat::DmaBuffer &blk = b->PRP2List.block;
    if (!blocks.lock(static_cast<size_t>(nPages) * P, &blk))
        return false;
    if (blk.nBusAddr % P == 0) {
        b->PRP2List.nOffset = 0;
        return true;
    }
    blocks.unlock(&blk);
    if (!blocks.lock(static_cast<size_t>(nPages + 1) * P, &blk))
        return false;
    b->PRP2List.nOffset = static_cast<uint32_t>((P - blk.nBusAddr % P) % P);
    return true;
}

int allocPrp(NvmeBuf *b, uint32_t n)
{
    const uint64_t P = b->nPageSize;
    const uint64_t E = P / 8;   // entries per list page
    BlockSet blocks(b->pPlat, b->pDev);

    if (!blocks.lock(n, &b->data))
        return EC_DMA_ALLOC;
    b->pVBufAddr = b->data.pHost;
    const uint64_t B = b->data.nBusAddr;
    const uint64_t r = B % P;
    const uint64_t d = P - r;   // bytes up to the next page boundary (P when aligned)
    b->nPRP1Entry = B;

    if (n <= P) {
        if (r == 0) {
            b->nSize_PRP1 = n;
            b->nPRP2Entry = 0;
        } else {
            b->nSize_PRP1 = static_cast<uint32_t>(std::min<uint64_t>(d, n));
            b->nPRP2Entry = d >= n ? 0 : B + d;
        }
        b->nSize_PRP12 = n;
        return EC_NONE;
    }

    b->nSize_PRP1 = static_cast<uint32_t>(d);
    b->nPRP2Entry = B + d;

    if (n <= 2 * P) {
        b->nSize_PRP12 = static_cast<uint32_t>(std::min<uint64_t>(n, P + d));
        if (r == 0 || P + d >= n)
            return EC_NONE;
        // Three pages: a list of two entries and the terminating 0.
        kxmplat::DmaBuffer &blk = b->PRP2List.block;
        if (!blocks.lock(P, &blk))
            return EC_DMA_ALLOC;
        const uint64_t nIn = blk.nBusAddr % P;
        if (nIn == 0) {
            b->PRP2List.nOffset = 0;
        } else if (nIn >= 24) {
            b->PRP2List.nOffset = static_cast<uint32_t>(P - nIn);
        } else {
            blocks.unlock(&blk);
            if (!blocks.lock(2 * P, &blk))
                return EC_DMA_ALLOC;
            b->PRP2List.nOffset = static_cast<uint32_t>((P - blk.nBusAddr % P) % P);
        }
        uint8_t *pList = static_cast<uint8_t *>(blk.pHost) + b->PRP2List.nOffset;
        putLE64(pList, B + d);
        putLE64(pList + 8, B + d + P);
        putLE64(pList + 16, 0);
        b->PRP2List.nEntries = 3;
        b->PRP2List.nPointer = blk.nBusAddr + b->PRP2List.nOffset;
        return EC_NONE;
    }

    // More than two pages: a list of list pages chained through their last
    // slots.
    b->nSize_PRP12 = static_cast<uint32_t>(d + P);
    const uint64_t k = ceilDiv(n, P) + (r ? 2 : 1);
    const uint64_t m = ceilDiv(k, E - 1);
    if (!lockListPages(blocks, b, static_cast<uint32_t>(m)))
        return EC_DMA_ALLOC;
    kxmplat::DmaBuffer &blk = b->PRP2List.block;
    uint8_t *pList = static_cast<uint8_t *>(blk.pHost) + b->PRP2List.nOffset;
    const uint64_t nListBus = blk.nBusAddr + b->PRP2List.nOffset;
    const uint64_t nSlots = m * E;

    uint64_t nCovered = d;
    uint64_t nAddr = B + d;
    uint64_t j = 0;
    while (nCovered < n && j < nSlots) {
        // The last slot of a list page points at the next list page, unless
        // the entry for it is the last data entry of the transfer.
        const bool bLastEntry = nCovered + P >= n;
        if (j % E == E - 1 && !bLastEntry) {
            putLE64(pList + 8 * j, nListBus + P * ((j + 1) / E));
        } else {
            putLE64(pList + 8 * j, nAddr);
            nAddr += P;
            nCovered += P;
        }
        j++;
    }
    if (j < nSlots) {
        putLE64(pList + 8 * j, 0);
        j++;
    }
    b->PRP2List.nEntries = static_cast<uint32_t>(j);
    b->PRP2List.nPointer = nListBus;
    return EC_NONE;
}

int allocSgl(NvmeBuf *b, uint32_t n)
{
    BlockSet blocks(b->pPlat, b->pDev);
    if (!blocks.lock(n, &b->data))
        return EC_NO_MEM;
    b->bVAContinuous = 1;
    b->pVBufAddr = b->data.pHost;
    b->sgl = NvmeSglDesc();
    b->sgl.nAddress = b->data.nBusAddr;
    b->sgl.nLength = n;
    b->sgl.nIdentifier = static_cast<uint8_t>(NVME_SGL_DATA_BLOCK << 4);
    return EC_NONE;
}

int allocHmb(NvmeBuf *b, uint32_t n)
{
    const uint64_t P = b->nPageSize;
    BlockSet blocks(b->pPlat, b->pDev);

    // The controller wants page-aligned chunks and a page-aligned list.
    const uint64_t nEntries = ceilDiv(n, NVME_HMB_CHUNK_MAX);
    const uint64_t nListBytes = ceilDiv(nEntries * sizeof(NvmeHmbDescEntry), P) * P;
    if (!blocks.lock(nListBytes, &b->descList, true))
        return EC_DMA_ALLOC;
    std::memset(b->descList.pHost, 0, nListBytes);
    b->pChunks = new (std::nothrow) kxmplat::DmaBuffer[nEntries];
    if (!b->pChunks)
        return EC_NO_MEM;
    b->nChunkSlots = static_cast<uint32_t>(nEntries);

    auto *pList = static_cast<uint8_t *>(b->descList.pHost);
    uint64_t nAllocated = 0;
    uint32_t nEntry = 0;
    while (nAllocated < n && nEntry < nEntries) {
        uint64_t nChunk = std::min<uint64_t>(n - nAllocated, NVME_HMB_CHUNK_MAX);
        bool bLocked = false;
        while (nChunk >= P) {
            if (blocks.lock(nChunk, &b->pChunks[nEntry], true)) {
                bLocked = true;
                break;
            }
            // Halve, staying a whole number of pages.
            nChunk = nChunk / 2 / P * P;
        }
        if (!bLocked)
            break;
        uint8_t *pEntry = pList + nEntry * sizeof(NvmeHmbDescEntry);
        putLE64(pEntry, b->pChunks[nEntry].nBusAddr);
        const uint32_t nPages = static_cast<uint32_t>(nChunk / P);
        for (int i = 0; i < 4; i++)
            pEntry[8 + i] = static_cast<uint8_t>(nPages >> (8 * i));
        nAllocated += nChunk;
        nEntry++;
    }
    if (nAllocated != n)
        return EC_DMA_ALLOC;
    b->DescriptorListEntryCount = nEntry;
    b->DescriptorListPhyAddr = b->descList.nBusAddr;
    b->nTtlSize_inPages = static_cast<uint32_t>(n / P);
    return EC_NONE;
}

} // namespace

int nvmeBufAllocOn(const NvmeBufTarget &target, int64_t nType, uint32_t nSize, NvmeBuf **ppOut)
{
    if (ppOut)
        *ppOut = nullptr;
    if (!ppOut || !target.pPlat || !target.pRegistry)
        return EC_FAIL;
    if (nType != NVME_BUF_PRP && nType != NVME_BUF_HMB && nType != NVME_BUF_SGL)
        return EC_BUF_TYPE;
    if (nSize == 0)
        return EC_DMA_SIZE;
    const uint32_t P = target.nPageSize;
    if (P == 0)
        return EC_NOT_INITED;
    // A memory page is a power of two of at least 16 bytes (PRP entries
    // come 8 to a page and chain through the last one).
    if (P < 16 || (P & (P - 1)) != 0)
        return EC_NOT_INITED;
    if (nType == NVME_BUF_HMB && nSize % P != 0)
        return EC_HMB_SIZE;

    auto *b = new (std::nothrow) NvmeBuf;
    if (!b)
        return EC_NO_MEM;
    b->nBufType = static_cast<uint32_t>(nType);
    b->nTtlSize = nSize;
    b->nPageSize = P;
    b->pPlat = target.pPlat;
    b->pDev = target.pDev;

    int rc = EC_NONE;
    switch (nType) {
    case NVME_BUF_PRP:
        b->bVAContinuous = 1;
        rc = allocPrp(b, nSize);
        break;
    case NVME_BUF_SGL:
        rc = allocSgl(b, nSize);
        break;
    default:
        rc = allocHmb(b, nSize);
        break;
    }
    if (rc != EC_NONE) {
        releaseAll(b);
        delete b;
        return rc;
    }
    target.pRegistry->add(&b->hdr, NVME_KIND_BUF);
    *ppOut = b;
    return EC_NONE;
}

int nvmeBufFreeOn(HandleRegistry &registry, NvmeBuf *pBuf)
{
    if (!pBuf)
        return EC_BUF_TYPE;
    switch (pBuf->nBufType) {
    case NVME_BUF_PRP:
    case NVME_BUF_SGL:
    case NVME_BUF_HMB:
        break;
    default:
        return EC_BUF_TYPE;
    }
    registry.remove(&pBuf->hdr);
    releaseAll(pBuf);
    pBuf->hdr = NvmeHandleHdr();
    delete pBuf;
    return EC_NONE;
}

uint8_t *nvmeBufData(const NvmeBuf *pBuf)
{
    if (!pBuf || pBuf->nBufType == NVME_BUF_HMB || !pBuf->bVAContinuous)
        return nullptr;
    return static_cast<uint8_t *>(pBuf->pVBufAddr);
}

bool nvmeBufPrpListEntry(const NvmeBuf *pBuf, uint32_t j, uint64_t *pBusAddr, uint64_t *pValue)
{
    if (!pBuf || pBuf->nBufType != NVME_BUF_PRP || !pBuf->PRP2List.block.pHost)
        return false;
    const kxmplat::DmaBuffer &blk = pBuf->PRP2List.block;
    const uint64_t nAt = pBuf->PRP2List.nOffset + 8ull * j;
    if (nAt + 8 > blk.nSize)
        return false;
    if (pBusAddr)
        *pBusAddr = blk.nBusAddr + nAt;
    if (pValue)
        *pValue = getLE64(static_cast<const uint8_t *>(blk.pHost) + nAt);
    return true;
}

bool nvmeBufHmbEntry(const NvmeBuf *pBuf, uint32_t i, NvmeHmbDescEntry *pOut)
{
    if (!pBuf || pBuf->nBufType != NVME_BUF_HMB || i >= pBuf->DescriptorListEntryCount || !pBuf->descList.pHost)
        return false;
    const uint8_t *p = static_cast<const uint8_t *>(pBuf->descList.pHost) + i * sizeof(NvmeHmbDescEntry);
    pOut->nBufAddr = getLE64(p);
    pOut->nSize = static_cast<uint32_t>(p[8]) | static_cast<uint32_t>(p[9]) << 8 |
                  static_cast<uint32_t>(p[10]) << 16 | static_cast<uint32_t>(p[11]) << 24;
    pOut->nRsvd = 0;
    return true;
}

} // namespace kxmnvme
