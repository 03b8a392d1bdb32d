// The 16-byte completion queue entry and the status field it carries.
#pragma once
#include <cstdint>
#include <type_traits>

namespace nvmewire {

// The status field is bits 31:17 of DW3, without the phase tag: status
// code (7:0), status code type (10:8), command retry delay (12:11), more
// (13), do not retry (14).
constexpr uint16_t STATUS_SC_MASK = 0x00FF;
constexpr uint16_t STATUS_SCT_MASK = 0x0700;
constexpr uint16_t STATUS_CRD_MASK = 0x1800;
constexpr uint16_t STATUS_MORE = 0x2000;
constexpr uint16_t STATUS_DNR = 0x4000;

constexpr uint8_t sc(uint16_t nStatus) { return uint8_t(nStatus & STATUS_SC_MASK); }
constexpr uint8_t sct(uint16_t nStatus) { return uint8_t((nStatus >> 8) & 7); }
constexpr uint8_t crd(uint16_t nStatus) { return uint8_t((nStatus >> 11) & 3); }
constexpr bool more(uint16_t nStatus) { return nStatus & STATUS_MORE; }
constexpr bool dnr(uint16_t nStatus) { return nStatus & STATUS_DNR; }

constexpr uint16_t makeStatus(uint32_t nSct, uint32_t nSc, bool bDnr = false)
{
    return uint16_t(((nSct & 7) << 8) | (nSc & 0xFF) | (bDnr ? STATUS_DNR : 0));
}

// DW0 command specific; DW1 command specific; DW2 SQ head (15:0) and SQ id
// (31:16); DW3 command id (15:0), phase tag (16), status field (31:17).
// A trivial type: Cqe c{} is all zeros.
struct Cqe {
    uint32_t dw[4];

    constexpr uint32_t dw0() const { return dw[0]; }
    constexpr uint32_t dw1() const { return dw[1]; }
    constexpr uint16_t sqhd() const { return uint16_t(dw[2]); }
    constexpr uint16_t sqid() const { return uint16_t(dw[2] >> 16); }
    constexpr uint16_t cid() const { return uint16_t(dw[3]); }
    constexpr bool phase() const { return (dw[3] >> 16) & 1; }
    constexpr uint16_t status() const { return uint16_t(dw[3] >> 17); }
    // The upper 16 bits of DW3 as they sit in memory: status and phase.
    constexpr uint16_t statusPhase() const { return uint16_t(dw[3] >> 16); }

    constexpr uint8_t sc() const { return nvmewire::sc(status()); }
    constexpr uint8_t sct() const { return nvmewire::sct(status()); }
    constexpr bool more() const { return nvmewire::more(status()); }
    constexpr bool dnr() const { return nvmewire::dnr(status()); }

    constexpr void setDw0(uint32_t v) { dw[0] = v; }
    constexpr void setDw1(uint32_t v) { dw[1] = v; }
    constexpr void setSqhd(uint16_t v) { dw[2] = (dw[2] & 0xFFFF0000u) | v; }
    constexpr void setSqid(uint16_t v) { dw[2] = (dw[2] & 0xFFFFu) | (uint32_t(v) << 16); }
    constexpr void setCid(uint16_t v) { dw[3] = (dw[3] & 0xFFFF0000u) | v; }
    constexpr void setPhase(bool b) { dw[3] = (dw[3] & ~(1u << 16)) | (uint32_t(b) << 16); }
    constexpr void setStatus(uint16_t v) { dw[3] = (dw[3] & 0x1FFFFu) | (uint32_t(v & 0x7FFF) << 17); }
};
static_assert(std::is_trivial_v<Cqe>);
static_assert(sizeof(Cqe) == 16, "completion entries are 16 bytes");
// Byte offset of the status-and-phase half word inside an entry.
constexpr uint32_t CQE_STATUS_OFFSET = 14;

} // namespace nvmewire
