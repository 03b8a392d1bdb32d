// The 64-byte submission queue entry and the 16-byte SGL descriptor.
#pragma once
#include <cstdint>
#include <type_traits>

namespace nvmewire {

// SGL descriptor types (high nibble of the identifier byte).
constexpr uint8_t SGL_DATA_BLOCK = 0x0;
constexpr uint8_t SGL_BIT_BUCKET = 0x1;
constexpr uint8_t SGL_SEGMENT = 0x2;
constexpr uint8_t SGL_LAST_SEGMENT = 0x3;
constexpr uint8_t SGL_KEYED_DATA_BLOCK = 0x4;
constexpr uint8_t SGL_TRANSPORT_DATA_BLOCK = 0x5;
constexpr uint8_t SGL_VENDOR_SPECIFIC = 0xF;
// Sub types (low nibble).
constexpr uint8_t SGL_SUBTYPE_ADDRESS = 0x0;
constexpr uint8_t SGL_SUBTYPE_OFFSET = 0x1;

// The name a descriptor type has in buffer dumps.
constexpr const char *sglTypeName(uint32_t nType)
{
    switch (nType) {
    case SGL_DATA_BLOCK: return "SGLDataBlockDescriptor";
    case SGL_BIT_BUCKET: return "SGLBitBucketDescriptor";
    case SGL_SEGMENT: return "SGLSegmentDescriptor";
    case SGL_LAST_SEGMENT: return "SGLLastSegmentDescriptor";
    default: return "UnknownType";
    }
}

// One SGL descriptor as the controller reads it: address, length, three
// reserved bytes and the identifier (type in bits 7:4, sub type in 3:0).
// A trivial type, copied to and from DMA memory as it is; value-initialise
// it (SglDesc d{}) or build it with make().
struct SglDesc {
    uint64_t addr;
    uint32_t length;
    uint8_t reserved[3];
    uint8_t id;

    constexpr uint8_t type() const { return uint8_t(id >> 4); }
    constexpr uint8_t subtype() const { return uint8_t(id & 0xF); }
    static constexpr SglDesc make(uint8_t nType, uint64_t nAddr, uint32_t nLength, uint8_t nSubtype = 0)
    {
        SglDesc d{};
        d.addr = nAddr;
        d.length = nLength;
        d.id = uint8_t((nType << 4) | (nSubtype & 0xF));
        return d;
    }
};
static_assert(sizeof(SglDesc) == 16 && std::is_trivial_v<SglDesc>, "SGL descriptors are 16 plain bytes");

// CDW0.FUSE values.
constexpr uint32_t FUSE_NONE = 0;
constexpr uint32_t FUSE_FIRST = 1;
constexpr uint32_t FUSE_SECOND = 2;
// CDW0.PSDT values: PRPs, SGL with MPTR an address, SGL with MPTR an SGL.
constexpr uint32_t PSDT_PRP = 0;
constexpr uint32_t PSDT_SGL_MPTR_ADDRESS = 1;
constexpr uint32_t PSDT_SGL_MPTR_SGL = 2;

// A submission queue entry as sixteen little-endian dwords: CDW0 opcode
// (7:0), fuse (9:8), PSDT (15:14), command id (31:16); NSID; CDW2-3; MPTR
// (dwords 4-5); DPTR (dwords 6-9: PRP1 and PRP2, or SGL1); CDW10-15.
// A trivial type like the descriptor: Sqe e{} is all zeros.
struct Sqe {
    uint32_t dw[16];

    constexpr uint8_t opc() const { return uint8_t(dw[0]); }
    constexpr void setOpc(uint8_t v) { dw[0] = (dw[0] & ~0xFFu) | v; }
    constexpr uint32_t fuse() const { return (dw[0] >> 8) & 3; }
    constexpr void setFuse(uint32_t v) { dw[0] = (dw[0] & ~(3u << 8)) | ((v & 3) << 8); }
    constexpr uint32_t psdt() const { return (dw[0] >> 14) & 3; }
    constexpr void setPsdt(uint32_t v) { dw[0] = (dw[0] & ~(3u << 14)) | ((v & 3) << 14); }
    constexpr uint16_t cid() const { return uint16_t(dw[0] >> 16); }
    constexpr void setCid(uint16_t v) { dw[0] = (dw[0] & 0xFFFFu) | (uint32_t(v) << 16); }
    constexpr uint32_t nsid() const { return dw[1]; }
    constexpr void setNsid(uint32_t v) { dw[1] = v; }
    constexpr uint32_t cdw2() const { return dw[2]; }
    constexpr void setCdw2(uint32_t v) { dw[2] = v; }
    constexpr uint32_t cdw3() const { return dw[3]; }
    constexpr void setCdw3(uint32_t v) { dw[3] = v; }
    constexpr uint64_t mptr() const { return get64(4); }
    constexpr void setMptr(uint64_t v) { set64(4, v); }
    constexpr uint64_t prp1() const { return get64(6); }
    constexpr void setPrp1(uint64_t v) { set64(6, v); }
    constexpr uint64_t prp2() const { return get64(8); }
    constexpr void setPrp2(uint64_t v) { set64(8, v); }
    constexpr SglDesc sgl1() const
    {
        SglDesc d{};
        d.addr = get64(6);
        d.length = dw[8];
        d.reserved[0] = uint8_t(dw[9]);
        d.reserved[1] = uint8_t(dw[9] >> 8);
        d.reserved[2] = uint8_t(dw[9] >> 16);
        d.id = uint8_t(dw[9] >> 24);
        return d;
    }
    constexpr void setSgl1(const SglDesc &d)
    {
        set64(6, d.addr);
        dw[8] = d.length;
        dw[9] = d.reserved[0] | (uint32_t(d.reserved[1]) << 8) | (uint32_t(d.reserved[2]) << 16) |
                (uint32_t(d.id) << 24);
    }
    constexpr uint32_t cdw10() const { return dw[10]; }
    constexpr void setCdw10(uint32_t v) { dw[10] = v; }
    constexpr uint32_t cdw11() const { return dw[11]; }
    constexpr void setCdw11(uint32_t v) { dw[11] = v; }
    constexpr uint32_t cdw12() const { return dw[12]; }
    constexpr void setCdw12(uint32_t v) { dw[12] = v; }
    constexpr uint32_t cdw13() const { return dw[13]; }
    constexpr void setCdw13(uint32_t v) { dw[13] = v; }
    constexpr uint32_t cdw14() const { return dw[14]; }
    constexpr void setCdw14(uint32_t v) { dw[14] = v; }
    constexpr uint32_t cdw15() const { return dw[15]; }
    constexpr void setCdw15(uint32_t v) { dw[15] = v; }

    // A command with only the opcode and namespace set.
    static constexpr Sqe make(uint8_t nOpc, uint32_t nNsid = 0)
    {
        Sqe e{};
        e.setOpc(nOpc);
        e.setNsid(nNsid);
        return e;
    }

private:
    constexpr uint64_t get64(int i) const { return dw[i] | (uint64_t(dw[i + 1]) << 32); }
    constexpr void set64(int i, uint64_t v)
    {
        dw[i] = uint32_t(v);
        dw[i + 1] = uint32_t(v >> 32);
    }
};
static_assert(std::is_trivial_v<Sqe>);
static_assert(sizeof(Sqe) == 64, "submission entries are 64 bytes");

} // namespace nvmewire
