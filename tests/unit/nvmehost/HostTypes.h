// Submission and completion entries as the host driver builds and reads
// them, plus the controller register offsets it uses.
#pragma once
#include <cstdint>
#include <cstring>

namespace nvmehost {

// Controller registers (byte offsets into BAR0).
enum : uint32_t {
    REG_CAP = 0x00,
    REG_VS = 0x08,
    REG_CC = 0x14,
    REG_CSTS = 0x1C,
    REG_NSSR = 0x20,
    REG_AQA = 0x24,
    REG_ASQ = 0x28,
    REG_ACQ = 0x30,
    REG_DOORBELL_BASE = 0x1000,
};

enum : uint32_t {
    CC_EN = 1u << 0,
    CC_SHN_SHIFT = 14,
    CSTS_RDY = 1u << 0,
    CSTS_CFS = 1u << 1,
    CSTS_SHST_SHIFT = 2,
    CSTS_NSSRO = 1u << 4,
    NSSR_RESET_VALUE = 0x4E564D65,     // "NVMe"
};

// Decoded CAP register.
struct ControllerCaps {
    uint32_t nMqes = 0;         // maximum queue entries, 0's based
    bool bCqr = false;          // contiguous queues required
    uint32_t nTimeout500ms = 0; // CAP.TO
    uint32_t nDstrd = 0;
    bool bNssrs = false;
    uint32_t nCss = 0;
    uint32_t nMpsMin = 0;       // page size is 2^(12 + MPSMIN)
    uint32_t nMpsMax = 0;

    static ControllerCaps decode(uint64_t nCap);
    uint32_t doorbellStride() const { return 4u << nDstrd; }
    size_t minPageSize() const { return size_t(1) << (12 + nMpsMin); }
    uint32_t maxQueueEntries() const { return nMqes + 1; }
};

// A 64-byte submission entry, kept as sixteen dwords.
struct SqEntry {
    uint32_t dw[16] = {};

    uint8_t opcode() const { return uint8_t(dw[0]); }
    void setOpcode(uint8_t n) { dw[0] = (dw[0] & ~0xFFu) | n; }
    uint16_t cid() const { return uint16_t(dw[0] >> 16); }
    void setCid(uint16_t n) { dw[0] = (dw[0] & 0xFFFFu) | (uint32_t(n) << 16); }
    // PSDT: 0 PRPs, 1 SGL with MPTR an address, 2 SGL with MPTR an SGL.
    void setPsdt(uint32_t n) { dw[0] = (dw[0] & ~(3u << 14)) | ((n & 3) << 14); }
    void setNsid(uint32_t n) { dw[1] = n; }
    void setMptr(uint64_t n) { dw[4] = uint32_t(n); dw[5] = uint32_t(n >> 32); }
    void setPrp1(uint64_t n) { dw[6] = uint32_t(n); dw[7] = uint32_t(n >> 32); }
    void setPrp2(uint64_t n) { dw[8] = uint32_t(n); dw[9] = uint32_t(n >> 32); }
    uint64_t prp1() const { return dw[6] | (uint64_t(dw[7]) << 32); }
    uint64_t prp2() const { return dw[8] | (uint64_t(dw[9]) << 32); }
    // The 16-byte first SGL descriptor occupies dwords 6 to 9.
    void setSgl1(const void *pDesc) { std::memcpy(&dw[6], pDesc, 16); }
};
static_assert(sizeof(SqEntry) == 64);

// One completion as taken off a completion queue.
struct Completion {
    uint32_t nDw0 = 0;
    uint32_t nDw1 = 0;
    uint16_t nSqHead = 0;
    uint16_t nSqId = 0;
    uint16_t nCid = 0;
    uint16_t nStatus = 0;       // status field without the phase tag
    bool bTimedOut = false;

    uint8_t sc() const { return uint8_t(nStatus & 0xFF); }
    uint8_t sct() const { return uint8_t((nStatus >> 8) & 7); }
    bool dnr() const { return (nStatus >> 14) & 1; }
    bool ok() const { return !bTimedOut && nStatus == 0; }
    bool is(uint8_t nSct, uint8_t nSc) const { return !bTimedOut && sct() == nSct && sc() == nSc; }
};

// SGL descriptor types (upper nibble of the last byte).
enum : uint8_t {
    SGL_DATA_BLOCK = 0x0,
    SGL_BIT_BUCKET = 0x1,
    SGL_SEGMENT = 0x2,
    SGL_LAST_SEGMENT = 0x3,
};

struct SglDescriptor {
    uint64_t nAddr = 0;
    uint32_t nLength = 0;
    uint8_t aReserved[3] = {};
    uint8_t nId = 0;            // type in bits 7:4, sub type in bits 3:0

    static SglDescriptor make(uint8_t nType, uint64_t nAddr, uint32_t nLength)
    {
        SglDescriptor d;
        d.nAddr = nAddr;
        d.nLength = nLength;
        d.nId = uint8_t(nType << 4);
        return d;
    }
};
static_assert(sizeof(SglDescriptor) == 16);

} // namespace nvmehost
