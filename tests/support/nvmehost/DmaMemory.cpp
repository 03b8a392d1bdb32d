#include "DmaMemory.h"

#include <cstring>

namespace nvmehost {

bool DmaMemory::allocate(kxmplat::Platform &plat, kxmplat::Device *pDevice, size_t nBytes,
                         size_t nAlign, std::string *pErr)
{
    release();
    if (nBytes == 0) {
        if (pErr)
            *pErr = "DMA allocation of 0 bytes";
        return false;
    }
    if (nAlign > 1 && (nAlign & (nAlign - 1)) != 0) {
        if (pErr)
            *pErr = "DMA alignment is not a power of two";
        return false;
    }
    kxmplat::DmaBuffer b;
    if (plat.dmaAlloc(pDevice, nBytes, &b) != 0 || !b.pHost) {
        if (pErr)
            *pErr = "DMA allocation of " + std::to_string(nBytes) + " bytes failed";
        return false;
    }
    size_t nSkip = 0;
    if (nAlign > 1 && (b.nBusAddr & (nAlign - 1)) != 0) {
        // Not aligned: take a larger buffer and start inside it.
        plat.dmaFree(pDevice, &b);
        b = kxmplat::DmaBuffer{};
        if (plat.dmaAlloc(pDevice, nBytes + nAlign, &b) != 0 || !b.pHost) {
            if (pErr)
                *pErr = "DMA allocation of " + std::to_string(nBytes + nAlign) + " bytes failed";
            return false;
        }
        nSkip = size_t((nAlign - (b.nBusAddr & (nAlign - 1))) & (nAlign - 1));
    }
    pPlat = &plat;
    pDev = pDevice;
    buf = b;
    pHost = static_cast<uint8_t *>(b.pHost) + nSkip;
    nBus = b.nBusAddr + nSkip;
    nSize = nBytes;
    std::memset(pHost, 0, nSize);
    return true;
}

void DmaMemory::release()
{
    if (pPlat && buf.pHost)
        pPlat->dmaFree(pDev, &buf);
    pPlat = nullptr;
    pDev = nullptr;
    buf = kxmplat::DmaBuffer{};
    pHost = nullptr;
    nBus = 0;
    nSize = 0;
}

} // namespace nvmehost
