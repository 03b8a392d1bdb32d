// Bus addresses the backend hands out for DMA buffers mapped into an IOMMU:
// a first-fit allocator over one window, page granular, with coalescing on
// release.
#pragma once
#include <cstdint>
#include <map>

namespace kxmplat::linuxplat {

class IovaRanges {
public:
    // The window [nBase, nBase + nSize); both multiples of nGranule (a
    // power of two).
    IovaRanges(uint64_t nBase, uint64_t nSize, uint64_t nGranule);

    // An address for nSize bytes (rounded up to the granule); 0 when the
    // window has no room. nSize 0 is refused.
    uint64_t allocate(uint64_t nSize);
    // Gives back what allocate() returned; false for anything else.
    bool release(uint64_t nAddr);

    uint64_t freeBytes() const;

private:
    uint64_t nGranuleSize;
    std::map<uint64_t, uint64_t> freeRanges;    // start -> length
    std::map<uint64_t, uint64_t> usedRanges;    // start -> length
};

} // namespace kxmplat::linuxplat
