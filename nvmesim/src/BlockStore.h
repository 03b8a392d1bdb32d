// Byte-addressed media of one namespace: either sparse memory (unwritten
// bytes read as zero; memory grows in 64 KiB chunks with what is written)
// or a backing file that keeps the data across power cycles and processes.
// Concurrent reads and writes of different ranges are safe; clear() needs
// the caller to exclude all other access.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nvmesim {

class BlockStore {
public:
    virtual ~BlockStore() = default;
    virtual bool read(uint64_t nOffset, void *pDst, size_t n) = 0;
    virtual bool write(uint64_t nOffset, const void *pSrc, size_t n) = 0;
    virtual bool zero(uint64_t nOffset, size_t n) = 0;
    // Forgets everything (reads give zeros afterwards).
    virtual void clear() = 0;
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
    bool write(uint64_t nOffset, const void *pSrc, size_t n) override;
    bool zero(uint64_t nOffset, size_t n) override;
    void clear() override;
    uint64_t bytesInUse() const override { return m_nChunks.load() * kChunk; }

private:
    struct Leaf {
        std::atomic<uint8_t *> chunks[kLeafChunks];
    };
    uint8_t *chunk(uint64_t nIndex, bool bCreate);

    uint64_t m_nCapacity;
    std::vector<std::atomic<Leaf *>> m_leaves;
    std::atomic<uint64_t> m_nChunks{0};
};

class FileStore final : public BlockStore {
public:
    // Opens or creates szPath and sizes it to nCapacity bytes.
    static std::unique_ptr<FileStore> open(const std::string &szPath, uint64_t nCapacity, std::string *pErr);
    ~FileStore() override;
    bool read(uint64_t nOffset, void *pDst, size_t n) override;
    bool write(uint64_t nOffset, const void *pSrc, size_t n) override;
    bool zero(uint64_t nOffset, size_t n) override;
    void clear() override;
    uint64_t bytesInUse() const override;

private:
    FileStore(int fd, uint64_t nCapacity) : m_fd(fd), m_nCapacity(nCapacity) {}
    int m_fd;
    uint64_t m_nCapacity;
};

} // namespace nvmesim
