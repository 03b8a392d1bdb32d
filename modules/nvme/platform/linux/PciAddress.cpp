#include "PciAddress.h"

#include <cstdio>
#include <tuple>

namespace kxmplat::linuxplat {

namespace {

// Reads exactly nDigits hex digits (1..nMax when nDigits is 0) from s at i.
bool takeHex(std::string_view s, size_t &i, size_t nMinDigits, size_t nMaxDigits, uint32_t *pOut)
{
    uint32_t n = 0;
    size_t nStart = i;
    while (i < s.size() && i - nStart < nMaxDigits) {
        char c = s[i];
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = uint32_t(c - 'A' + 10);
        else
            break;
        n = n * 16 + d;
        ++i;
    }
    if (i - nStart < nMinDigits)
        return false;
    *pOut = n;
    return true;
}

} // namespace

bool parsePciAddress(std::string_view s, PciSlot *pSlot)
{
    PciSlot r;
    size_t i = 0;
    // With a domain there are two colons.
    size_t nColons = 0;
    for (char c : s)
        nColons += (c == ':');
    if (nColons == 2) {
        if (!takeHex(s, i, 4, 4, &r.nDomain) || i >= s.size() || s[i++] != ':')
            return false;
    } else if (nColons != 1) {
        return false;
    }
    if (!takeHex(s, i, 2, 2, &r.nBus) || i >= s.size() || s[i++] != ':')
        return false;
    if (!takeHex(s, i, 2, 2, &r.nDevice) || r.nDevice > 0x1F || i >= s.size() || s[i++] != '.')
        return false;
    if (!takeHex(s, i, 1, 1, &r.nFunction) || r.nFunction > 7 || i != s.size())
        return false;
    *pSlot = r;
    return true;
}

std::string formatPciAddress(const PciSlot &slot)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%04x:%02x:%02x.%x", slot.nDomain & 0xFFFF, slot.nBus & 0xFF,
                  slot.nDevice & 0x1F, slot.nFunction & 7);
    return sz;
}

bool sameSlot(const PciSlot &a, const PciSlot &b)
{
    return a.nDomain == b.nDomain && a.nBus == b.nBus && a.nDevice == b.nDevice && a.nFunction == b.nFunction;
}

bool slotLess(const PciSlot &a, const PciSlot &b)
{
    return std::tie(a.nDomain, a.nBus, a.nDevice, a.nFunction) <
           std::tie(b.nDomain, b.nBus, b.nDevice, b.nFunction);
}

} // namespace kxmplat::linuxplat
