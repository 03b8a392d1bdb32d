// Key value command set: keys, options, status codes and the layouts of
// its identify namespace structure and of the List command's data.
#pragma once
#include <cstdint>
#include <cstring>

namespace nvmewire {

// A key is 1 to 16 bytes, carried in CDW2, CDW3, CDW14 and CDW15 (bytes
// 0-3, 4-7, 8-11, 12-15); its length is CDW11 7:0.
constexpr uint32_t KV_MAX_KEY_LENGTH = 16;

// Options (CDW11 15:8). Store: bit 0 store only when the key does not
// exist yet (else Key Exists), bit 1 store only when it exists (else Key
// Does Not Exist).
constexpr uint8_t KV_STORE_NO_OVERWRITE = 1u << 0;
constexpr uint8_t KV_STORE_MUST_EXIST = 1u << 1;

// Command specific status of the key value command set (SCT 1h).
constexpr uint8_t SC_KV_INVALID_VALUE_SIZE = 0x85;
constexpr uint8_t SC_KV_INVALID_KEY_SIZE = 0x86;
constexpr uint8_t SC_KV_KEY_DOES_NOT_EXIST = 0x87;
constexpr uint8_t SC_KV_UNRECOVERED_ERROR = 0x88;
constexpr uint8_t SC_KV_KEY_EXISTS = 0x89;

// One key value format of the identify namespace structure.
struct KvFormat {
    uint16_t nMaxKeyLength;    // KLEN
    uint8_t reserved2;
    uint8_t nRelPerf;          // bits 1:0
    uint32_t nMaxValueSize;    // VLEN, bytes
    uint32_t nMaxKeys;         // KVNUM, 0: no limit
    uint32_t reserved12;
};
static_assert(sizeof(KvFormat) == 16);

// Identify Namespace of a key value namespace (CNS 05h, CSI 01h); sizes
// are bytes.
struct IdNsKv {
    uint64_t nsze;             // 0: capacity in bytes
    uint8_t rsvd8[8];
    uint64_t nuse;             // 16: bytes in use
    uint8_t nsfeat;            // 24
    uint8_t nkvf;              // 25: number of formats, 0's based
    uint8_t nmic;              // 26
    uint8_t rescap;            // 27
    uint8_t fpi;               // 28
    uint8_t rsvd29[3];
    uint32_t novg;             // 32: optimal value granularity
    uint32_t anagrpid;         // 36
    uint8_t rsvd40[3];
    uint8_t nsattr;            // 43
    uint16_t nvmsetid;         // 44
    uint16_t endgid;           // 46
    uint8_t nguid[16];         // 48
    uint8_t eui64[8];          // 64
    KvFormat kvf[16];          // 72
    uint8_t rsvd328[3512];
    uint8_t vs[256];
};
static_assert(sizeof(IdNsKv) == 4096);

// The key of a command.
struct KvKey {
    uint8_t nLength = 0;
    uint8_t bytes[KV_MAX_KEY_LENGTH] = {};
};

// List data: a dword with the number of keys returned, then per key its
// length (16 bits) and bytes, each entry padded to a multiple of 4 bytes.
constexpr uint32_t kvListEntrySize(uint32_t nKeyLength) { return (2 + nKeyLength + 3) & ~3u; }

} // namespace nvmewire
