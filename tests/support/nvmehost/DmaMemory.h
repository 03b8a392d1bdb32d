// A DMA region taken from the platform, aligned as the caller asks (queues
// and PRP lists need page alignment even where the backend hands out
// buffers at an offset inside a page). Released when the object goes.
#pragma once
#include "Platform.h"

#include <cstdint>
#include <string>

namespace nvmehost {

class DmaMemory {
public:
    DmaMemory() = default;
    DmaMemory(const DmaMemory &) = delete;
    DmaMemory &operator=(const DmaMemory &) = delete;
    DmaMemory(DmaMemory &&o) noexcept { take(o); }
    DmaMemory &operator=(DmaMemory &&o) noexcept
    {
        if (this != &o) {
            release();
            take(o);
        }
        return *this;
    }
    ~DmaMemory() { release(); }

    // nAlign 0 or 1 keeps whatever the backend gives; otherwise a power of
    // two the bus address is aligned to. The memory is zeroed.
    bool allocate(kxmplat::Platform &plat, kxmplat::Device *pDev, size_t nSize, size_t nAlign,
                  std::string *pErr);
    void release();

    uint8_t *host() const { return pHost; }
    uint64_t bus() const { return nBus; }
    size_t size() const { return nSize; }
    bool valid() const { return pHost != nullptr; }

private:
    void take(DmaMemory &o)
    {
        pPlat = o.pPlat;
        pDev = o.pDev;
        buf = o.buf;
        pHost = o.pHost;
        nBus = o.nBus;
        nSize = o.nSize;
        o.pPlat = nullptr;
        o.pDev = nullptr;
        o.buf = kxmplat::DmaBuffer{};
        o.pHost = nullptr;
        o.nBus = 0;
        o.nSize = 0;
    }

    kxmplat::Platform *pPlat = nullptr;
    kxmplat::Device *pDev = nullptr;
    kxmplat::DmaBuffer buf;
    uint8_t *pHost = nullptr;
    uint64_t nBus = 0;
    size_t nSize = 0;
};

} // namespace nvmehost
