// Wire formats shared by the simulated controller and its users: the
// 64-byte submission entry, the 16-byte completion entry and the status
// field helpers. Data structures returned by commands (identify data, log
// pages and the like) come from <nvme/types.h>.
#pragma once
#include <cstdint>

namespace nvmesim {

struct Sqe {
    uint8_t nOpcode;
    uint8_t nFlags;        // bits 1:0 fused, bits 7:6 PSDT
    uint16_t nCid;
    uint32_t nNsid;
    uint32_t nCdw2;
    uint32_t nCdw3;
    uint64_t nMptr;
    uint64_t nPrp1;        // or the first 8 bytes of SGL1
    uint64_t nPrp2;        // or the last 8 bytes of SGL1
    uint32_t nCdw10;
    uint32_t nCdw11;
    uint32_t nCdw12;
    uint32_t nCdw13;
    uint32_t nCdw14;
    uint32_t nCdw15;
};
static_assert(sizeof(Sqe) == 64, "submission entries are 64 bytes");

struct Cqe {
    uint32_t nDw0;
    uint32_t nDw1;
    uint16_t nSqHead;
    uint16_t nSqId;
    uint16_t nCid;
    uint16_t nStatus;      // bit 0 phase tag, bits 15:1 status field
};
static_assert(sizeof(Cqe) == 16, "completion entries are 16 bytes");

// Status field without the phase tag: bits 7:0 status code, 10:8 status
// code type, 13 more, 14 do not retry.
namespace sct {
constexpr uint16_t kGeneric = 0;
constexpr uint16_t kCmdSpecific = 1;
constexpr uint16_t kMedia = 2;
}
constexpr uint16_t makeStatus(uint16_t nSct, uint16_t nSc, bool bDnr = false) {
    return static_cast<uint16_t>((nSct << 8) | nSc | (bDnr ? 0x4000 : 0));
}
// More: the Error Information log holds an entry for the command.
constexpr uint16_t kStatusMore = 0x2000;
constexpr uint16_t statusCode(uint16_t nStatus) { return nStatus & 0xFF; }
constexpr uint16_t statusType(uint16_t nStatus) { return (nStatus >> 8) & 0x7; }

// BAR0 register offsets.
namespace reg {
constexpr uint32_t kCap = 0x00;
constexpr uint32_t kVs = 0x08;
constexpr uint32_t kIntms = 0x0C;
constexpr uint32_t kIntmc = 0x10;
constexpr uint32_t kCc = 0x14;
constexpr uint32_t kCsts = 0x1C;
constexpr uint32_t kNssr = 0x20;
constexpr uint32_t kAqa = 0x24;
constexpr uint32_t kAsq = 0x28;
constexpr uint32_t kAcq = 0x30;
constexpr uint32_t kDoorbells = 0x1000;
constexpr uint32_t kNssrMagic = 0x4E564D65;   // "NVMe"
}

} // namespace nvmesim
