// End-to-end protection information of 8 bytes per block: a 16-bit CRC
// guard (T10-DIF polynomial), a 16-bit application tag and a 32-bit
// reference tag, big-endian, in the first or the last eight bytes of each
// block's metadata. Generation and checking over blocks laid out as on the
// media: the data of the blocks back to back, their metadata likewise.
#pragma once
#include <cstdint>

namespace nvmesim {

constexpr uint32_t kPiSize = 8;

// How a namespace holds its protection information.
struct PiFormat {
    uint8_t nType = 0;          // 0 none, 1 to 3
    bool bFirst = false;        // first eight bytes of the metadata, else the last
    uint64_t nBlockSize = 512;
    uint16_t nMetaSize = 0;     // >= 8 with a type

    uint32_t offset() const { return bFirst ? 0 : nMetaSize - kPiSize; }
};

// What a command asks for: the four PRINFO bits, the initial reference
// tag, the application tag and its mask.
struct PiRequest {
    uint8_t nPrinfo = 0;        // PRINFO_PRACT | PRINFO_PRCHK_*
    uint32_t nRefTag = 0;       // ILBRT / EILBRT
    uint16_t nAppTag = 0;       // LBAT
    uint16_t nAppMask = 0;      // LBATM

    // PRINFO from bits nShift + 3 : nShift of CDW12, the tags from CDW14
    // and CDW15.
    static PiRequest fromCommand(uint32_t nCdw12, uint32_t nShift, uint32_t nCdw14, uint32_t nCdw15);
    bool pract() const;
};

// The host transfers no metadata for the blocks: PRACT with metadata that
// is the protection information alone.
bool piStripped(const PiFormat &f, const PiRequest &r);

// 0, or Invalid Protection Information when the request does not fit the
// namespace (Type 1 with reference tag checking: the initial reference
// tag must be the low 32 bits of the first LBA).
uint16_t piValidate(const PiFormat &f, const PiRequest &r, uint64_t nSlba);

// Protection information for nBlocks blocks from nSlba into their
// metadata: the guard over each block, the application tag of the request,
// the reference tag of the type (Type 1 the LBA, Type 2 the initial tag
// counting up per block, Type 3 the initial tag).
void piGenerate(const PiFormat &f, const PiRequest &r, uint64_t nSlba, const uint8_t *pData, uint8_t *pMeta,
                uint64_t nBlocks);

// The checks PRCHK asks for over nBlocks blocks; a block whose application
// tag is FFFFh (Type 3: and reference tag FFFFFFFFh) is not checked. 0, or
// the status of the first failure (guard, then application tag, then
// reference tag) with *pBad the block's index.
uint16_t piCheck(const PiFormat &f, const PiRequest &r, const uint8_t *pData, const uint8_t *pMeta,
                 uint64_t nBlocks, uint64_t *pBad = nullptr);

// The guard of one block: its data, then (protection information last)
// the metadata bytes in front of the protection information.
uint16_t piGuard(const PiFormat &f, const uint8_t *pData, const uint8_t *pMeta);

} // namespace nvmesim
