#include "IovaRanges.h"

#include <iterator>

namespace kxmplat::linuxplat {

IovaRanges::IovaRanges(uint64_t nBase, uint64_t nSize, uint64_t nGranule) : nGranuleSize(nGranule)
{
    if (nSize)
        freeRanges[nBase] = nSize;
}

uint64_t IovaRanges::allocate(uint64_t nSize)
{
    if (nSize == 0 || nSize > UINT64_MAX - nGranuleSize)
        return 0;
    uint64_t n = (nSize + nGranuleSize - 1) & ~(nGranuleSize - 1);
    for (auto it = freeRanges.begin(); it != freeRanges.end(); ++it) {
        if (it->second < n)
            continue;
        uint64_t nAddr = it->first;
        uint64_t nLeft = it->second - n;
        freeRanges.erase(it);
        if (nLeft)
            freeRanges[nAddr + n] = nLeft;
        usedRanges[nAddr] = n;
        return nAddr;
    }
    return 0;
}

bool IovaRanges::release(uint64_t nAddr)
{
    auto u = usedRanges.find(nAddr);
    if (u == usedRanges.end())
        return false;
    uint64_t nStart = nAddr, nLen = u->second;
    usedRanges.erase(u);
    auto next = freeRanges.lower_bound(nStart);
    if (next != freeRanges.end() && next->first == nStart + nLen) {
        nLen += next->second;
        next = freeRanges.erase(next);
    }
    if (next != freeRanges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == nStart) {
            nStart = prev->first;
            nLen += prev->second;
            freeRanges.erase(prev);
        }
    }
    freeRanges[nStart] = nLen;
    return true;
}

uint64_t IovaRanges::freeBytes() const
{
    uint64_t n = 0;
    for (const auto &r : freeRanges)
        n += r.second;
    return n;
}

} // namespace kxmplat::linuxplat
