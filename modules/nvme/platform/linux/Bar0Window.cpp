#include "Bar0Window.h"

#include <sys/mman.h>
#include <unistd.h>

namespace kxmplat::linuxplat {

namespace {

// Orders earlier stores to memory before a later store to a device
// register, for the compiler and the processor.
inline void storeBarrier()
{
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("sfence" ::: "memory");
#else
    __sync_synchronize();
#endif
}

} // namespace

bool Bar0Window::attach(int fd, off_t nFileOffset, size_t nSize, bool bTryMap)
{
    reset();
    if (nSize == 0 || fd < 0)
        return false;
    nFd = fd;
    nOffsetInFile = nFileOffset;
    nBytes = nSize;
    if (bTryMap) {
        long nPage = ::sysconf(_SC_PAGESIZE);
        size_t nMap = (nSize + size_t(nPage) - 1) / size_t(nPage) * size_t(nPage);
        void *p = ::mmap(nullptr, nMap, PROT_READ | PROT_WRITE, MAP_SHARED, fd, nFileOffset);
        if (p != MAP_FAILED) {
            pBase = static_cast<volatile uint8_t *>(p);
            nMapBytes = nMap;
        }
    }
    return true;
}

void Bar0Window::reset()
{
    if (pBase)
        ::munmap(const_cast<uint8_t *>(pBase), nMapBytes);
    pBase = nullptr;
    nBytes = 0;
    nMapBytes = 0;
    nFd = -1;
    nOffsetInFile = 0;
}

uint32_t Bar0Window::read32(uint32_t nOffset) const
{
    if ((nOffset & 3) != 0 || size_t(nOffset) + 4 > nBytes)
        return 0xFFFFFFFFu;
    if (pBase)
        return *reinterpret_cast<volatile uint32_t *>(pBase + nOffset);
    uint32_t n = 0xFFFFFFFFu;
    if (::pread(nFd, &n, 4, nOffsetInFile + off_t(nOffset)) != 4)
        return 0xFFFFFFFFu;
    return n;
}

void Bar0Window::write32(uint32_t nOffset, uint32_t nValue) const
{
    if ((nOffset & 3) != 0 || size_t(nOffset) + 4 > nBytes)
        return;
    // What the host wrote to DMA memory before this register write (an
    // entry before its doorbell) must reach memory first.
    storeBarrier();
    if (pBase) {
        *reinterpret_cast<volatile uint32_t *>(pBase + nOffset) = nValue;
        return;
    }
    (void)!::pwrite(nFd, &nValue, 4, nOffsetInFile + off_t(nOffset));
}

} // namespace kxmplat::linuxplat
