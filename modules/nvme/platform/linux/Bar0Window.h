// BAR0 of a function as the process sees it: a mapping when the region can
// be mapped, else positioned reads and writes on the file that exposes it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace kxmplat::linuxplat {

class Bar0Window {
public:
    Bar0Window() = default;
    Bar0Window(const Bar0Window &) = delete;
    Bar0Window &operator=(const Bar0Window &) = delete;
    ~Bar0Window() { reset(); }

    // Maps nSize bytes of fd at nFileOffset; when the mapping is refused,
    // falls back to pread/pwrite on the same fd (which must stay open).
    // False when nSize is 0.
    bool attach(int fd, off_t nFileOffset, size_t nSize, bool bTryMap);
    void reset();

    bool valid() const { return nBytes != 0; }
    size_t size() const { return nBytes; }
    bool mapped() const { return pBase != nullptr; }

    uint32_t read32(uint32_t nOffset) const;
    void write32(uint32_t nOffset, uint32_t nValue) const;

private:
    volatile uint8_t *pBase = nullptr;
    size_t nBytes = 0;
    size_t nMapBytes = 0;
    int nFd = -1;
    off_t nOffsetInFile = 0;
};

} // namespace kxmplat::linuxplat
