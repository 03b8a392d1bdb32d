#include "PciConfigSpace.h"

#include <cstring>

namespace nvmesim {

void PciConfigSpace::put16(uint32_t n, uint16_t v, uint16_t nMask) {
    put8(n, static_cast<uint8_t>(v), static_cast<uint8_t>(nMask));
    put8(n + 1, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(nMask >> 8));
}

void PciConfigSpace::put32(uint32_t n, uint32_t v, uint32_t nMask) {
    put16(n, static_cast<uint16_t>(v), static_cast<uint16_t>(nMask));
    put16(n + 2, static_cast<uint16_t>(v >> 16), static_cast<uint16_t>(nMask >> 16));
}

PciConfigSpace::PciConfigSpace(const PciIdentity &id) : m_id(id) {
    // Type 0 header.
    put16(0x00, id.nVendorId);
    put16(0x02, id.nDeviceId);
    put16(0x04, 0, 0x0547);          // I/O, memory, bus master, parity, SERR, INTx disable
    put16(0x06, 0x0010);             // capability list present
    put32(0x08, 0x01080201);         // class 01 08 02, revision 1
    put8(0x0C, 0, 0xFF);             // cache line size
    put8(0x0E, 0x00);                // header type 0, single function
    put32(0x10, 0x4, static_cast<uint32_t>(~(id.nBarSize - 1)) & 0xFFFFFFF0u);   // 64-bit memory BAR
    put32(0x14, 0, 0xFFFFFFFF);
    put16(0x2C, id.nSubsysVendorId);
    put16(0x2E, id.nSubsysId);
    put8(0x34, kPmCap);
    put8(0x3C, 0, 0xFF);             // interrupt line
    put8(0x3D, 1);                   // INTA

    // Power management: version 3, D0/D3hot; PMCSR power state writable,
    // No_Soft_Reset set (D3hot -> D0 keeps the function's state).
    put8(kPmCap + 0, 0x01);
    put8(kPmCap + 1, kMsixCap);
    put16(kPmCap + 2, 0x0003);
    put16(kPmCap + 4, 0x0008, 0x0003);

    // MSI-X: table and pending-bit array in BAR0.
    put8(kMsixCap + 0, 0x11);
    put8(kMsixCap + 1, kPcieCap);
    put16(kMsixCap + 2, static_cast<uint16_t>((id.nMsixVectors - 1) & 0x7FF), 0xC000);
    put32(kMsixCap + 4, id.nMsixTableOffset);
    put32(kMsixCap + 8, id.nMsixPbaOffset);

    // PCI Express, version 2 endpoint.
    put8(kPcieCap + 0x00, 0x10);
    put8(kPcieCap + 0x01, 0x00);
    put16(kPcieCap + 0x02, 0x0002);
    put32(kPcieCap + 0x04, 0x10000001);          // Device Capabilities: FLR, 256-byte payload
    put16(kPcieCap + 0x08, 0x2810, 0x7FFF);      // Device Control (bit 15 handled on write)
    put16(kPcieCap + 0x0A, 0x0000);              // Device Status
    put32(kPcieCap + 0x0C, 0x00000043);          // Link Capabilities: 8 GT/s x4
    put16(kPcieCap + 0x10, 0x0000, 0x0FCB);      // Link Control
    put16(kPcieCap + 0x12, 0x0043);              // Link Status
    put32(kPcieCap + 0x24, 0x0000001F);          // Device Capabilities 2
    put16(kPcieCap + 0x28, 0x0000, 0x061F);      // Device Control 2
    put32(kPcieCap + 0x2C, 0x0000000E);          // Link Capabilities 2
    put16(kPcieCap + 0x30, 0x0003, 0x000F);      // Link Control 2
    // 0x100: an extended capability header of 0 (none).
    powerOn();
}

void PciConfigSpace::reset() { m_data = m_def; }

void PciConfigSpace::powerOn() {
    reset();
    const uint64_t nAddr = m_id.nBarAddress;
    m_data[0x10] = static_cast<uint8_t>(nAddr | 0x4);
    m_data[0x11] = static_cast<uint8_t>(nAddr >> 8);
    m_data[0x12] = static_cast<uint8_t>(nAddr >> 16);
    m_data[0x13] = static_cast<uint8_t>(nAddr >> 24);
    for (int i = 0; i < 4; ++i)
        m_data[0x14 + i] = static_cast<uint8_t>(nAddr >> (32 + 8 * i));
}

bool PciConfigSpace::read(uint32_t nOffset, int nWidth, uint32_t *pValue) const {
    if ((nWidth != 1 && nWidth != 2 && nWidth != 4) || nOffset % nWidth || nOffset + nWidth > kSize)
        return false;
    uint32_t v = 0;
    for (int i = nWidth - 1; i >= 0; --i)
        v = (v << 8) | m_data[nOffset + i];
    *pValue = v;
    return true;
}

bool PciConfigSpace::write(uint32_t nOffset, int nWidth, uint32_t nValue, Effect *pEffect) {
    *pEffect = Effect::None;
    if ((nWidth != 1 && nWidth != 2 && nWidth != 4) || nOffset % nWidth || nOffset + nWidth > kSize)
        return false;
    const uint8_t nOldPm = m_data[kPmCap + 4];
    bool bFlr = false;
    for (int i = 0; i < nWidth; ++i) {
        const uint32_t n = nOffset + i;
        const uint8_t b = static_cast<uint8_t>(nValue >> (8 * i));
        if (n == kPcieCap + 0x09 && (b & 0x80))
            bFlr = true;   // Initiate Function Level Reset; always reads 0
        m_data[n] = static_cast<uint8_t>((m_data[n] & ~m_mask[n]) | (b & m_mask[n]));
    }
    // Only D0 and D3hot exist: a write of D1 or D2 leaves the state as it was.
    const uint8_t nPs = m_data[kPmCap + 4] & 3;
    if (nPs == 1 || nPs == 2)
        m_data[kPmCap + 4] = static_cast<uint8_t>((m_data[kPmCap + 4] & ~3) | (nOldPm & 3));
    if (bFlr) {
        reset();
        *pEffect = Effect::FunctionReset;
    }
    return true;
}

} // namespace nvmesim
