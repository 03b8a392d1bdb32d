#include "ProtectionInfo.h"

#include <isa-l/crc.h>

#include "nvmewire/Completion.h"
#include "nvmewire/Opcodes.h"
#include "nvmewire/Status.h"

namespace nvmesim {

using namespace nvmewire;

namespace {
uint16_t get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t get32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
void put16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void put32(uint8_t *p, uint32_t v) {
    put16(p, static_cast<uint16_t>(v >> 16));
    put16(p + 2, static_cast<uint16_t>(v));
}

// The reference tag block i of a command carries.
uint32_t refTagOf(const PiFormat &f, const PiRequest &r, uint64_t nSlba, uint64_t i) {
    switch (f.nType) {
    case 1: return static_cast<uint32_t>(nSlba + i);
    case 2: return static_cast<uint32_t>(r.nRefTag + i);
    default: return r.nRefTag;
    }
}
} // namespace

PiRequest PiRequest::fromCommand(uint32_t nCdw12, uint32_t nShift, uint32_t nCdw14, uint32_t nCdw15) {
    PiRequest r;
    r.nPrinfo = static_cast<uint8_t>((nCdw12 >> nShift) & 0xF);
    r.nRefTag = nCdw14;
    r.nAppTag = static_cast<uint16_t>(nCdw15);
    r.nAppMask = static_cast<uint16_t>(nCdw15 >> 16);
    return r;
}

bool PiRequest::pract() const { return nPrinfo & PRINFO_PRACT; }

bool piStripped(const PiFormat &f, const PiRequest &r) { return r.pract() && f.nMetaSize == kPiSize; }

uint16_t piValidate(const PiFormat &f, const PiRequest &r, uint64_t nSlba) {
    if (f.nType == 1 && (r.nPrinfo & PRINFO_PRCHK_REF) && r.nRefTag != static_cast<uint32_t>(nSlba))
        return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_PI, true);
    return 0;
}

uint16_t piGuard(const PiFormat &f, const uint8_t *pData, const uint8_t *pMeta) {
    uint16_t nCrc = crc16_t10dif(0, pData, f.nBlockSize);
    if (!f.bFirst && f.nMetaSize > kPiSize)
        nCrc = crc16_t10dif(nCrc, pMeta, f.nMetaSize - kPiSize);
    return nCrc;
}

void piGenerate(const PiFormat &f, const PiRequest &r, uint64_t nSlba, const uint8_t *pData, uint8_t *pMeta,
                uint64_t nBlocks) {
    const uint32_t nOff = f.offset();
    for (uint64_t i = 0; i < nBlocks; ++i) {
        const uint8_t *d = pData + i * f.nBlockSize;
        uint8_t *m = pMeta + i * f.nMetaSize;
        put16(m + nOff, piGuard(f, d, m));
        put16(m + nOff + 2, r.nAppTag);
        put32(m + nOff + 4, refTagOf(f, r, nSlba, i));
    }
}

uint16_t piCheck(const PiFormat &f, const PiRequest &r, const uint8_t *pData, const uint8_t *pMeta,
                 uint64_t nBlocks, uint64_t *pBad) {
    const uint8_t nChecks = r.nPrinfo & (PRINFO_PRCHK_GUARD | PRINFO_PRCHK_APP | PRINFO_PRCHK_REF);
    if (!nChecks)
        return 0;
    const uint32_t nOff = f.offset();
    for (uint64_t i = 0; i < nBlocks; ++i) {
        const uint8_t *d = pData + i * f.nBlockSize;
        const uint8_t *m = pMeta + i * f.nMetaSize;
        const uint8_t *pi = m + nOff;
        const uint16_t nApp = get16(pi + 2);
        const uint32_t nRef = get32(pi + 4);
        if (nApp == 0xFFFF && (f.nType != 3 || nRef == 0xFFFFFFFF))
            continue;   // checking disabled for this block
        uint16_t s = 0;
        if ((nChecks & PRINFO_PRCHK_GUARD) && get16(pi) != piGuard(f, d, m))
            s = makeStatus(SCT_MEDIA, SC_GUARD_CHECK);
        else if ((nChecks & PRINFO_PRCHK_APP) && (nApp & r.nAppMask) != (r.nAppTag & r.nAppMask))
            s = makeStatus(SCT_MEDIA, SC_APPTAG_CHECK);
        else if ((nChecks & PRINFO_PRCHK_REF) && f.nType != 3 && nRef != static_cast<uint32_t>(r.nRefTag + i))
            s = makeStatus(SCT_MEDIA, SC_REFTAG_CHECK);
        if (s) {
            if (pBad)
                *pBad = i;
            return s;
        }
    }
    return 0;
}

} // namespace nvmesim
