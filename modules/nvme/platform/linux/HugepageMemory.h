// DMA memory for functions reached without an IOMMU: buffers carved from
// locked hugepages, whose bus addresses are their physical addresses as
// /proc/self/pagemap reports them (root only). A hugepage is physically
// contiguous, so a buffer never spans two of them: larger requests are
// refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kxmplat::linuxplat {

class HugepageMemory {
public:
    // nHugepageSize 0: the system's default (Hugepagesize in /proc/meminfo).
    explicit HugepageMemory(std::string sPagemap = "/proc/self/pagemap", size_t nHugepageSize = 0);
    ~HugepageMemory();
    HugepageMemory(const HugepageMemory &) = delete;
    HugepageMemory &operator=(const HugepageMemory &) = delete;

    size_t hugepageSize() const { return nHugeSize; }

    // A zeroed buffer of nSize bytes starting on a 4 KiB boundary.
    bool allocate(size_t nSize, void **ppHost, uint64_t *pBus, std::string *pErr);
    // Gives back a buffer from allocate(); false when p is not one.
    bool release(void *p);

private:
    static constexpr size_t CHUNK = 4096;

    struct Hugepage {
        uint8_t *pBase = nullptr;
        uint64_t nPhys = 0;
        std::vector<uint32_t> used;     // per 4 KiB chunk: length of the run starting here, 0 free
        size_t nUsedChunks = 0;
    };

    bool addHugepage(std::string *pErr);
    bool physicalAddress(const void *p, uint64_t *pPhys, std::string *pErr) const;

    std::string sPagemapPath;
    size_t nHugeSize;
    std::mutex mtx;
    std::vector<std::unique_ptr<Hugepage>> pages;
};

// Default hugepage size from a meminfo text ("Hugepagesize:  2048 kB");
// 2 MiB when it says nothing.
size_t hugepageSizeFromMeminfo(const std::string &sMeminfo);

} // namespace kxmplat::linuxplat
