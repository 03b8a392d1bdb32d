#include "nvmesim/DmaSpace.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace nvmesim {

namespace {
constexpr uint64_t kBusBase = 0x100000000ull;   // above 4 GiB: 64-bit addressing is exercised
}

DmaSpace::DmaSpace(uint32_t nPageSize, uint32_t nInPageOffset)
    : m_nPageSize(nPageSize), m_nInPageOffset(nInPageOffset), m_nNext(kBusBase) {}

DmaSpace::~DmaSpace() {
    for (auto &kv : m_regions)
        std::free(kv.second.pHost);
}

int DmaSpace::alloc(size_t nSize, void **ppHost, uint64_t *pBusAddr, bool bPageAligned) {
    if (nSize == 0 || nSize > (1ull << 40))
        return -1;
    const uint64_t nOffset = bPageAligned ? 0 : m_nInPageOffset % m_nPageSize;
    const uint64_t nSpan = (nSize + nOffset + m_nPageSize - 1) / m_nPageSize * m_nPageSize;
    auto *pMem = static_cast<uint8_t *>(std::aligned_alloc(m_nPageSize, nSpan));
    if (!pMem)
        return -1;
    std::memset(pMem, 0, nSpan);
    m_nWriters.fetch_add(1);
    std::unique_lock lock(m_mutex);
    m_nWriters.fetch_sub(1);
    const uint64_t nStart = m_nNext;
    m_nNext += nSpan + m_nPageSize;   // guard page
    m_regions.emplace(nStart, Region{nSpan, pMem});
    *ppHost = pMem + nOffset;
    *pBusAddr = nStart + nOffset;
    return 0;
}

int DmaSpace::free(uint64_t nBusAddr) {
    uint8_t *pMem = nullptr;
    {
        m_nWriters.fetch_add(1);
        std::unique_lock lock(m_mutex);
        m_nWriters.fetch_sub(1);
        auto it = m_regions.upper_bound(nBusAddr);
        if (it == m_regions.begin())
            return -1;
        --it;
        if (nBusAddr - it->first >= m_nPageSize)
            return -1;
        pMem = it->second.pHost;
        m_regions.erase(it);
    }
    std::free(pMem);
    return 0;
}

const DmaSpace::Region *DmaSpace::find(uint64_t nBusAddr, uint64_t *pStart) const {
    auto it = m_regions.upper_bound(nBusAddr);
    if (it == m_regions.begin())
        return nullptr;
    --it;
    if (nBusAddr - it->first >= it->second.nSize)
        return nullptr;
    *pStart = it->first;
    return &it->second;
}

uint8_t *DmaSpace::translate(uint64_t nBusAddr, size_t n) const {
    uint64_t nStart = 0;
    const Region *r = find(nBusAddr, &nStart);
    if (!r)
        return nullptr;
    const uint64_t nOff = nBusAddr - nStart;
    if (n > r->nSize - nOff)
        return nullptr;
    return r->pHost + nOff;
}

template <typename Fn>
bool DmaSpace::forEachChunk(uint64_t nBusAddr, size_t n, Fn fn) const {
    size_t nDone = 0;
    while (n) {
        uint64_t nStart = 0;
        const Region *r = find(nBusAddr, &nStart);
        if (!r)
            return false;
        const uint64_t nOff = nBusAddr - nStart;
        const size_t nChunk = std::min<uint64_t>(n, r->nSize - nOff);
        fn(r->pHost + nOff, nDone, nChunk);
        nDone += nChunk;
        nBusAddr += nChunk;
        n -= nChunk;
    }
    return true;
}

bool DmaSpace::read(uint64_t nBusAddr, void *pDst, size_t n) const {
    auto *pOut = static_cast<uint8_t *>(pDst);
    return forEachChunk(nBusAddr, n,
                        [pOut](uint8_t *p, size_t nAt, size_t nChunk) { std::memcpy(pOut + nAt, p, nChunk); });
}

bool DmaSpace::write(uint64_t nBusAddr, const void *pSrc, size_t n) {
    auto *pIn = static_cast<const uint8_t *>(pSrc);
    return forEachChunk(nBusAddr, n,
                        [pIn](uint8_t *p, size_t nAt, size_t nChunk) { std::memcpy(p, pIn + nAt, nChunk); });
}

bool DmaSpace::fill(uint64_t nBusAddr, uint8_t nByte, size_t n) {
    return forEachChunk(nBusAddr, n, [nByte](uint8_t *p, size_t, size_t nChunk) { std::memset(p, nByte, nChunk); });
}

void DmaSpace::lockShared() const {
    while (m_nWriters.load(std::memory_order_acquire) > 0)
        std::this_thread::yield();
    m_mutex.lock_shared();
}

size_t DmaSpace::bufferCount() const {
    std::shared_lock lock(m_mutex);
    return m_regions.size();
}

} // namespace nvmesim
