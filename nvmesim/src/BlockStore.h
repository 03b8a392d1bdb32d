// Byte-addressed media of one namespace: either sparse memory (unwritten
// bytes read as zero; memory grows in 64 KiB chunks with what is written)
// or a backing file that keeps the data across power cycles and processes.
// Concurrent reads and writes of different ranges are safe; clear() needs
// the caller to exclude all other access.
//
// A file store models the device's volatile write cache: a write that is
// not durable (no FUA, cache enabled) stays in memory until flush(), and
// dropVolatile() (power loss) forgets it, so the file holds exactly what
// was flushed, written durably or written back when the cache filled up.
// Memory stores are the media themselves: they write through.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace nvmesim {

class BlockStore {
public:
    virtual ~BlockStore() = default;
    virtual bool read(uint64_t nOffset, void *pDst, size_t n) = 0;
    // bDurable: the data reaches the media before the call returns (FUA,
    // or the volatile write cache is off).
    virtual bool write(uint64_t nOffset, const void *pSrc, size_t n, bool bDurable) = 0;
    virtual bool zero(uint64_t nOffset, size_t n, bool bDurable) = 0;
    // Writes the volatile cache back to the media.
    virtual bool flush() { return true; }
    // Power loss: the volatile cache is gone.
    virtual void dropVolatile() {}
    // Forgets everything (reads give zeros afterwards).
    virtual void clear() = 0;
    // Every byte becomes the 32-bit pattern, repeated little-endian from
    // offset 0; the volatile cache is dropped. Exclusive like clear().
    virtual bool fill(uint32_t nPattern) = 0;
    // Bytes of memory or file actually in use.
    virtual uint64_t bytesInUse() const = 0;
};

class SparseStore final : public BlockStore {
public:
    static constexpr uint64_t kChunk = 64 * 1024;
    static constexpr uint64_t kLeafChunks = 4096;

    explicit SparseStore(uint64_t nCapacity);
    ~SparseStore() override;
    bool read(uint64_t nOffset, void *pDst, size_t n) override;
    bool write(uint64_t nOffset, const void *pSrc, size_t n, bool bDurable) override;
    bool zero(uint64_t nOffset, size_t n, bool bDurable) override;
    void clear() override;
    bool fill(uint32_t nPattern) override;
    uint64_t bytesInUse() const override { return m_nChunks.load() * kChunk; }

private:
    struct Leaf {
        std::atomic<uint8_t *> chunks[kLeafChunks];
    };
    uint8_t *chunk(uint64_t nIndex, bool bCreate);

    uint64_t m_nCapacity;
    std::vector<std::atomic<Leaf *>> m_leaves;
    std::atomic<uint64_t> m_nChunks{0};
    uint32_t m_nFill = 0;   // what chunks not yet in memory hold (set by fill())
};

class FileStore final : public BlockStore {
public:
    static constexpr uint64_t kCachePage = 4096;
    static constexpr size_t kCacheMaxPages = 16384;   // 64 MiB, then written back

    // Opens or creates szPath and sizes it to nCapacity bytes.
    static std::unique_ptr<FileStore> open(const std::string &szPath, uint64_t nCapacity, std::string *pErr);
    // Writes the cache back: the process ending is no power loss.
    ~FileStore() override;
    bool read(uint64_t nOffset, void *pDst, size_t n) override;
    bool write(uint64_t nOffset, const void *pSrc, size_t n, bool bDurable) override;
    bool zero(uint64_t nOffset, size_t n, bool bDurable) override;
    bool flush() override;
    void dropVolatile() override;
    void clear() override;
    bool fill(uint32_t nPattern) override;
    uint64_t bytesInUse() const override;

private:
    FileStore(int fd, uint64_t nCapacity) : m_fd(fd), m_nCapacity(nCapacity) {}
    bool fileRead(uint64_t nOffset, uint8_t *p, size_t n);
    bool fileWrite(uint64_t nOffset, const uint8_t *p, size_t n);
    bool flushLocked();
    int m_fd;
    uint64_t m_nCapacity;
    // Dirty pages of the volatile cache, by page index; the count is read
    // without the lock so reads skip the cache while it is empty.
    std::mutex m_cacheMutex;
    std::unordered_map<uint64_t, std::unique_ptr<uint8_t[]>> m_cache;
    std::atomic<size_t> m_nCached{0};
};

} // namespace nvmesim
