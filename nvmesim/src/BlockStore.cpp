#include "BlockStore.h"

#include <cerrno>
#include <cstdlib>
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
        else
            std::memset(pOut, 0, nPart);
        pOut += nPart;
        nOffset += nPart;
        n -= nPart;
    }
    return true;
}

bool SparseStore::write(uint64_t nOffset, const void *pSrc, size_t n) {
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

bool SparseStore::zero(uint64_t nOffset, size_t n) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    while (n) {
        const uint64_t nIn = nOffset % kChunk;
        const size_t nPart = std::min<uint64_t>(n, kChunk - nIn);
        if (uint8_t *p = chunk(nOffset / kChunk, false))
            std::memset(p + nIn, 0, nPart);
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

FileStore::~FileStore() { ::close(m_fd); }

bool FileStore::read(uint64_t nOffset, void *pDst, size_t n) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    auto *p = static_cast<uint8_t *>(pDst);
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

bool FileStore::write(uint64_t nOffset, const void *pSrc, size_t n) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    auto *p = static_cast<const uint8_t *>(pSrc);
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

bool FileStore::zero(uint64_t nOffset, size_t n) {
    if (!inStore(m_nCapacity, nOffset, n))
        return false;
    static const uint8_t kZeros[65536] = {};
    while (n) {
        const size_t nPart = std::min(n, sizeof(kZeros));
        if (!write(nOffset, kZeros, nPart))
            return false;
        nOffset += nPart;
        n -= nPart;
    }
    return true;
}

void FileStore::clear() {
    if (ftruncate(m_fd, 0) == 0 && ftruncate(m_fd, static_cast<off_t>(m_nCapacity)) == 0)
        return;
}

uint64_t FileStore::bytesInUse() const {
    struct stat st{};
    if (fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_blocks) * 512;
}

} // namespace nvmesim
