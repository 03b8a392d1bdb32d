// The simulated bus-address space. The host side allocates buffers here
// and gets a host pointer plus a bus address; the controller reaches host
// memory only through bus addresses, so a wrong address in a queue entry,
// PRP or SGL is caught as an unmapped access instead of touching random
// host memory.
//
// Bus addresses are never reused: every buffer gets a fresh range followed
// by an unmapped guard page, so stale addresses and overruns stay
// detectable. Buffer memory is zero-filled.
//
// Thread safety: all functions may be called concurrently. The controller
// side holds a shared lock (lockShared()) while it copies, so a buffer is
// never released under a running transfer.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <shared_mutex>

namespace nvmesim {

class DmaSpace {
public:
    // nInPageOffset (0 .. nPageSize-1, a multiple of 4) shifts every
    // buffer inside its first page so that unaligned data pointers are
    // exercised.
    explicit DmaSpace(uint32_t nPageSize = 4096, uint32_t nInPageOffset = 0);
    ~DmaSpace();
    DmaSpace(const DmaSpace &) = delete;
    DmaSpace &operator=(const DmaSpace &) = delete;

    // Returns 0 and fills *ppHost and *pBusAddr, or -1 (size 0 or no memory).
    // bPageAligned ignores the in-page offset (queue rings need page
    // alignment).
    int alloc(size_t nSize, void **ppHost, uint64_t *pBusAddr, bool bPageAligned = false);
    // Releases the buffer that starts at nBusAddr; -1 if there is none.
    int free(uint64_t nBusAddr);

    void setInPageOffset(uint32_t n) { m_nInPageOffset = n; }
    uint32_t inPageOffset() const { return m_nInPageOffset; }
    uint32_t pageSize() const { return m_nPageSize; }

    // Controller-side access; the caller holds lockShared(). Return false
    // when any byte of the range is unmapped.
    bool read(uint64_t nBusAddr, void *pDst, size_t n) const;
    bool write(uint64_t nBusAddr, const void *pSrc, size_t n);
    bool fill(uint64_t nBusAddr, uint8_t nByte, size_t n);
    // Host pointer for a range that lies within one buffer, or null.
    uint8_t *translate(uint64_t nBusAddr, size_t n) const;

    // Shared access for the controller side; a waiting alloc() or free()
    // goes first, so busy controllers cannot starve the host.
    void lockShared() const;
    void unlockShared() const { m_mutex.unlock_shared(); }

    size_t bufferCount() const;

private:
    struct Region {
        uint64_t nSize;
        uint8_t *pHost;
    };
    const Region *find(uint64_t nBusAddr, uint64_t *pStart) const;
    // Calls fn(pHost, nDone, nChunk) for each piece of [nBusAddr, +n) that
    // lies in one buffer; false when part of the range is in none.
    template <typename Fn>
    bool forEachChunk(uint64_t nBusAddr, size_t n, Fn fn) const;

    uint32_t m_nPageSize;
    uint32_t m_nInPageOffset;
    uint64_t m_nNext;
    std::map<uint64_t, Region> m_regions;   // by start bus address
    mutable std::shared_mutex m_mutex;
    std::atomic<int> m_nWriters{0};
};

} // namespace nvmesim
