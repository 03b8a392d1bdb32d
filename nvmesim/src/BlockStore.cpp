#include "BlockStore.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nvmesim {

namespace {
// [nOffset, nOffset + n) lies within a store of nCapacity bytes (no overflow).
bool inStore(uint64_t nCapacity, uint64_t nOffset, size_t n) {
    return nOffset <= nCapacity && n <= nCapacity - nOffset;
}

// The bytes [nOffset, nOffset + n) of a store filled with a pattern.
void patternBytes(uint8_t *p, uint64_t nOffset, size_t n, uint32_t nPattern) {
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>(nPattern >> (8 * ((nOffset + i) % 4)));
}
} // namespace

SparseStore::SparseStore(uint64_t nCapacity)
    : m_nCapacity(nCapacity), m_leaves((nCapacity + kChunk * kLeafChunks - 1) / (kChunk * kLeafChunks)) {
    for (auto &l : m_leaves)
        l.store(nullptr);
}

SparseStore::~SparseStore() { clear(); }

void SparseStore::clear() {
    for (auto &l : m_leaves) {
        Leaf *pLeaf = l.exchange(nullptr);
        if (!pLeaf)
            continue;
        for (auto &c : pLeaf->chunks)
            std::free(c.load());
        delete pLeaf;
    }
    m_nChunks = 0;
    m_nFill = 0;
}

bool SparseStore::fill(uint32_t nPattern) {
    clear();
    m_nFill = nPattern;
    return true;
}

uint8_t *SparseStore::chunk(uint64_t nIndex, bool bCreate) {
    const uint64_t nLeaf = nIndex / kLeafChunks;
    if (nLeaf >= m_leaves.size())
        return nullptr;
    Leaf *pLeaf = m_leaves[nLeaf].load(std::memory_order_acquire);
    if (!pLeaf) {
        if (!bCreate)
            return nullptr;
        auto *pNew = new Leaf;
        for (auto &c : pNew->chunks)
            c.store(nullptr, std::memory_order_relaxed);
        if (m_leaves[nLeaf].compare_exchange_strong(pLeaf, pNew, std::memory_order_acq_rel))
            pLeaf = pNew;
        else
            delete pNew;
    }
    auto &slot = pLeaf->chunks[nIndex % kLeafChunks];
    uint8_t *p = slot.load(std::memory_order_acquire);
    if (p || !bCreate)
        return p;
    auto *pNew = static_cast<uint8_t *>(std::calloc(1, kChunk));
    if (!pNew)
        return nullptr;
    if (m_nFill)
        patternBytes(pNew, 0, kChunk, m_nFill);
    if (slot.compare_exchange_strong(p, pNew, std::memory_order_acq_rel)) {
        m_nChunks.fetch_add(1, std::memory_order_relaxed);
        return pNew;
    }
    std::free(pNew);
    return p;
}

bool SparseStore::read(uint64_t nOffset, void *pDst, size_t n) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    auto *pOut = static_cast<uint8_t *>(pDst);
    while (n) {
        const uint64_t nIn = nOffset % kChunk;
        const size_t nPart = std::min<uint64_t>(n, kChunk - nIn);
        const uint8_t *p = chunk(nOffset / kChunk, false);
        if (p)
            std::memcpy(pOut, p + nIn, nPart);
        else if (m_nFill)
            patternBytes(pOut, nOffset, nPart, m_nFill);
        else
            std::memset(pOut, 0, nPart);
        pOut += nPart;
        nOffset += nPart;
        n -= nPart;
    }
    return true;
}

bool SparseStore::write(uint64_t nOffset, const void *pSrc, size_t n, bool) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    auto *pIn = static_cast<const uint8_t *>(pSrc);
    while (n) {
        const uint64_t nIn = nOffset % kChunk;
        const size_t nPart = std::min<uint64_t>(n, kChunk - nIn);
        uint8_t *p = chunk(nOffset / kChunk, true);
        if (!p)
            return false;
        std::memcpy(p + nIn, pIn, nPart);
        pIn += nPart;
        nOffset += nPart;
        n -= nPart;
    }
    return true;
}

bool SparseStore::zero(uint64_t nOffset, size_t n, bool) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    while (n) {
        const uint64_t nIn = nOffset % kChunk;
        const size_t nPart = std::min<uint64_t>(n, kChunk - nIn);
        // Chunks not in memory read as zeros, unless a pattern fills them.
        uint8_t *p = chunk(nOffset / kChunk, m_nFill != 0);
        if (p)
            std::memset(p + nIn, 0, nPart);
        else if (m_nFill)
            return false;
        nOffset += nPart;
        n -= nPart;
    }
    return true;
}

std::unique_ptr<FileStore> FileStore::open(const std::string &szPath, uint64_t nCapacity, std::string *pErr) {
    const int fd = ::open(szPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *pErr = "cannot open backing file " + szPath + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || (static_cast<uint64_t>(st.st_size) != nCapacity && ftruncate(fd, static_cast<off_t>(nCapacity)) != 0)) {
        *pErr = "cannot size backing file " + szPath + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileStore>(new FileStore(fd, nCapacity));
}

FileStore::~FileStore() {
    {
        std::lock_guard lock(m_cacheMutex);
        flushLocked();
    }
    ::close(m_fd);
}

bool FileStore::fileRead(uint64_t nOffset, uint8_t *p, size_t n) {
    while (n) {
        const ssize_t r = ::pread(m_fd, p, n, static_cast<off_t>(nOffset));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            std::memset(p, 0, n);   // past the end of a shorter file
            return r == 0;
        }
        p += r;
        nOffset += static_cast<uint64_t>(r);
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool FileStore::fileWrite(uint64_t nOffset, const uint8_t *p, size_t n) {
    while (n) {
        const ssize_t r = ::pwrite(m_fd, p, n, static_cast<off_t>(nOffset));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        nOffset += static_cast<uint64_t>(r);
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool FileStore::read(uint64_t nOffset, void *pDst, size_t n) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    auto *p = static_cast<uint8_t *>(pDst);
    if (m_nCached.load(std::memory_order_acquire) == 0)
        return fileRead(nOffset, p, n);
    // The file, then the newer bytes of the cache over it; the lock keeps a
    // write-back from slipping between the two.
    std::lock_guard lock(m_cacheMutex);
    if (!fileRead(nOffset, p, n))
        return false;
    const uint64_t nEnd = nOffset + n;
    for (uint64_t pg = nOffset / kCachePage; pg * kCachePage < nEnd; ++pg) {
        auto it = m_cache.find(pg);
        if (it == m_cache.end())
            continue;
        const uint64_t nFrom = std::max(nOffset, pg * kCachePage);
        const uint64_t nTo = std::min(nEnd, (pg + 1) * kCachePage);
        std::memcpy(p + (nFrom - nOffset), it->second.get() + (nFrom - pg * kCachePage), nTo - nFrom);
    }
    return true;
}

bool FileStore::write(uint64_t nOffset, const void *pSrc, size_t n, bool bDurable) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    auto *p = static_cast<const uint8_t *>(pSrc);
    std::lock_guard lock(m_cacheMutex);
    const uint64_t nEnd = nOffset + n;
    for (uint64_t pg = nOffset / kCachePage; pg * kCachePage < nEnd; ++pg) {
        const uint64_t nFrom = std::max(nOffset, pg * kCachePage);
        const uint64_t nTo = std::min(nEnd, (pg + 1) * kCachePage);
        auto it = m_cache.find(pg);
        if (it == m_cache.end()) {
            if (bDurable)
                continue;
            auto page = std::make_unique<uint8_t[]>(kCachePage);
            const uint64_t nPageLen = std::min(kCachePage, m_nCapacity - pg * kCachePage);
            if (!fileRead(pg * kCachePage, page.get(), nPageLen))
                return false;
            it = m_cache.emplace(pg, std::move(page)).first;
        }
        // A durable write keeps a cached page coherent with the file.
        std::memcpy(it->second.get() + (nFrom - pg * kCachePage), p + (nFrom - nOffset), nTo - nFrom);
    }
    m_nCached.store(m_cache.size(), std::memory_order_release);
    if (bDurable)
        return fileWrite(nOffset, p, n);
    if (m_cache.size() > kCacheMaxPages)
        return flushLocked();
    return true;
}

bool FileStore::zero(uint64_t nOffset, size_t n, bool bDurable) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    static const uint8_t kZeros[65536] = {};
    while (n) {
        const size_t nPart = std::min(n, sizeof(kZeros));
        if (!write(nOffset, kZeros, nPart, bDurable))
            return false;
        nOffset += nPart;
        n -= nPart;
    }
    return true;
}

bool FileStore::flushLocked() {
    bool bOk = true;
    for (auto &[pg, page] : m_cache)
        bOk = fileWrite(pg * kCachePage, page.get(), std::min(kCachePage, m_nCapacity - pg * kCachePage)) && bOk;
    m_cache.clear();
    m_nCached.store(0, std::memory_order_release);
    return bOk;
}

bool FileStore::flush() {
    if (m_nCached.load(std::memory_order_acquire) == 0)
        return true;
    std::lock_guard lock(m_cacheMutex);
    return flushLocked();
}

void FileStore::dropVolatile() {
    std::lock_guard lock(m_cacheMutex);
    m_cache.clear();
    m_nCached.store(0, std::memory_order_release);
}

void FileStore::clear() {
    dropVolatile();
    if (ftruncate(m_fd, 0) == 0 && ftruncate(m_fd, static_cast<off_t>(m_nCapacity)) == 0)
        return;
}

bool FileStore::fill(uint32_t nPattern) {
    if (nPattern == 0) {
        clear();
        return true;
    }
    dropVolatile();
    std::vector<uint8_t> buf(1 << 20);
    patternBytes(buf.data(), 0, buf.size(), nPattern);
    for (uint64_t nOff = 0; nOff < m_nCapacity; nOff += buf.size())
        if (!fileWrite(nOff, buf.data(), std::min<uint64_t>(buf.size(), m_nCapacity - nOff)))
            return false;
    return true;
}

uint64_t FileStore::bytesInUse() const {
    struct stat st{};
    if (fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_blocks) * 512;
}

} // namespace nvmesim
