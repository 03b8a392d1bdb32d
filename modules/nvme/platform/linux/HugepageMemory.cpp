#include "HugepageMemory.h"

#include "SysfsPci.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kxmplat::linuxplat {

size_t hugepageSizeFromMeminfo(const std::string &sMeminfo)
{
    size_t nPos = sMeminfo.find("Hugepagesize:");
    if (nPos == std::string::npos)
        return size_t(2) << 20;
    unsigned long long nKb = std::strtoull(sMeminfo.c_str() + nPos + 13, nullptr, 10);
    if (nKb == 0 || (nKb & (nKb - 1)) != 0)
        return size_t(2) << 20;
    return size_t(nKb) * 1024;
}

HugepageMemory::HugepageMemory(std::string sPagemap, size_t nHugepageSize)
    : sPagemapPath(std::move(sPagemap)), nHugeSize(nHugepageSize)
{
    if (nHugeSize == 0)
        nHugeSize = hugepageSizeFromMeminfo(readSmallFile("/proc/meminfo").value_or(""));
}

HugepageMemory::~HugepageMemory()
{
    for (auto &p : pages)
        ::munmap(p->pBase, nHugeSize);
}

bool HugepageMemory::physicalAddress(const void *p, uint64_t *pPhys, std::string *pErr) const
{
    int fd = ::open(sPagemapPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (pErr)
            *pErr = "cannot open " + sPagemapPath + ": " + std::strerror(errno);
        return false;
    }
    long nPage = ::sysconf(_SC_PAGESIZE);
    uint64_t nVirt = reinterpret_cast<uint64_t>(p);
    uint64_t nEntry = 0;
    ssize_t r = ::pread(fd, &nEntry, sizeof nEntry, off_t(nVirt / uint64_t(nPage) * 8));
    ::close(fd);
    // Bit 63: present; bits 54:0: page frame number (0 without CAP_SYS_ADMIN).
    uint64_t nPfn = nEntry & ((1ull << 55) - 1);
    if (r != sizeof nEntry || !(nEntry >> 63) || nPfn == 0) {
        if (pErr)
            *pErr = "no physical address for DMA memory in " + sPagemapPath + " (the no-IOMMU route needs root)";
        return false;
    }
    *pPhys = nPfn * uint64_t(nPage) + nVirt % uint64_t(nPage);
    return true;
}

bool HugepageMemory::addHugepage(std::string *pErr)
{
    void *p = ::mmap(nullptr, nHugeSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_HUGETLB | MAP_LOCKED | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) {
        if (pErr)
            *pErr = std::string("cannot get a locked hugepage for DMA memory (") + std::strerror(errno) +
                    "); reserve some with 'echo 64 > /proc/sys/vm/nr_hugepages'";
        return false;
    }
    // MAP_POPULATE does not fail when the pool runs dry; touching does, so
    // make sure the page is really there before trusting it.
    auto h = std::make_unique<Hugepage>();
    h->pBase = static_cast<uint8_t *>(p);
    if (::mlock(p, nHugeSize) != 0 || !physicalAddress(p, &h->nPhys, pErr)) {
        if (pErr && pErr->empty())
            *pErr = std::string("cannot lock a hugepage: ") + std::strerror(errno);
        ::munmap(p, nHugeSize);
        return false;
    }
    h->used.assign(nHugeSize / CHUNK, 0);
    pages.push_back(std::move(h));
    return true;
}

bool HugepageMemory::allocate(size_t nSize, void **ppHost, uint64_t *pBus, std::string *pErr)
{
    if (nSize == 0) {
        if (pErr)
            *pErr = "DMA buffer of 0 bytes";
        return false;
    }
    if (nSize > nHugeSize) {
        if (pErr)
            *pErr = "a physically contiguous DMA buffer of " + std::to_string(nSize) +
                    " bytes is larger than one hugepage (" + std::to_string(nHugeSize) +
                    " bytes); without an IOMMU no larger buffer can be given";
        return false;
    }
    size_t nChunks = (nSize + CHUNK - 1) / CHUNK;
    std::lock_guard<std::mutex> lock(mtx);
    for (int nTry = 0; nTry < 2; ++nTry) {
        for (auto &h : pages) {
            if (h->used.size() - h->nUsedChunks < nChunks)
                continue;
            size_t i = 0;
            while (i + nChunks <= h->used.size()) {
                if (h->used[i]) {
                    i += h->used[i];
                    continue;
                }
                size_t nRun = 0;
                while (nRun < nChunks && h->used[i + nRun] == 0)
                    ++nRun;
                if (nRun == nChunks) {
                    h->used[i] = uint32_t(nChunks);
                    // The rest of the run is marked taken with 1s so that
                    // the scan can step over it.
                    for (size_t k = 1; k < nChunks; ++k)
                        h->used[i + k] = uint32_t(nChunks - k);
                    h->nUsedChunks += nChunks;
                    uint8_t *p = h->pBase + i * CHUNK;
                    std::memset(p, 0, nChunks * CHUNK);
                    *ppHost = p;
                    *pBus = h->nPhys + i * CHUNK;
                    return true;
                }
                i += nRun;
            }
        }
        if (nTry == 0) {
            std::string sErr;
            if (!addHugepage(&sErr)) {
                if (pErr)
                    *pErr = sErr;
                return false;
            }
        }
    }
    if (pErr)
        *pErr = "no room for a DMA buffer of " + std::to_string(nSize) + " bytes";
    return false;
}

bool HugepageMemory::release(void *p)
{
    std::lock_guard<std::mutex> lock(mtx);
    auto *pByte = static_cast<uint8_t *>(p);
    for (auto it = pages.begin(); it != pages.end(); ++it) {
        Hugepage &h = **it;
        if (pByte < h.pBase || pByte >= h.pBase + nHugeSize)
            continue;
        size_t nOff = size_t(pByte - h.pBase);
        if (nOff % CHUNK != 0)
            return false;
        size_t i = nOff / CHUNK;
        uint32_t nRun = h.used[i];
        // Only the first chunk of a run holds the whole length; inner
        // chunks count down to the run's end.
        if (nRun == 0 || (i > 0 && h.used[i - 1] == nRun + 1))
            return false;
        for (size_t k = 0; k < nRun; ++k)
            h.used[i + k] = 0;
        h.nUsedChunks -= nRun;
        // Keep one hugepage around so that short-lived buffers do not cost a
        // mapping each.
        if (h.nUsedChunks == 0 && pages.size() > 1) {
            ::munmap(h.pBase, nHugeSize);
            pages.erase(it);
        }
        return true;
    }
    return false;
}

} // namespace kxmplat::linuxplat
