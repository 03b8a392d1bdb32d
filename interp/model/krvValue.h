// Data type codes and value cells: the 16-byte cell that holds every script
// value and that crosses the module interface unchanged.
#pragma once
#include <cstddef>
#include <cstdint>

// Data type codes. A code whose two low bits are both set (integer, handle)
// is integer-like: hashing and equality use the 64-bit payload alone.
#define KRV_DT_INTEGER 3
#define KRV_DT_FLOAT 5
#define KRV_DT_STRING 8
#define KRV_DT_HANDLE 19
#define KRV_DT_IS_INTLIKE(t) ((((uint32_t)(t)) & 3u) == 3u)

// Value cell: 32-bit type code at offset 0, 64-bit payload at offset 8.
// A string cell owns its text (malloc'ed); storing anything into the cell
// frees the old text first.
// Field names match the module interface header (korvel_ext.h), which the
// host includes with KRV_EXT_HOST_VALUE defined so both sides share this type.
struct krvValue_t {
    int32_t type;          // KRV_DT_ code
    uint32_t nPad;
    union {
        int64_t nInt;      // KRV_DT_INTEGER
        double dFloat;     // KRV_DT_FLOAT
        char *pStr;        // KRV_DT_STRING (owned)
        void *pHandle;     // KRV_DT_HANDLE
        uint64_t uRaw;     // payload bits
    } val;
};
static_assert(sizeof(krvValue_t) == 16, "value cell is 16 bytes");
static_assert(offsetof(krvValue_t, val) == 8, "payload at offset 8");
#ifndef KRV_EXT_HOST_VALUE
#define KRV_EXT_HOST_VALUE 1
#endif

// Arrays of cells. krvAllocValues(n): n >= 1 zero-filled cells (each an
// integer 0), NULL for n < 1 or when memory runs out. krvFreeValues frees the
// text of every string cell, then the array; n <= 0 is a fatal internal error.
krvValue_t *krvAllocValues(int n);
void krvFreeValues(krvValue_t *pCells, int n);

// Stores. Each frees the cell's old text first.
void krvSetInt(krvValue_t *pCell, int64_t n);
void krvSetFloat(krvValue_t *pCell, double d);
int krvSetStr(krvValue_t *pCell, const char *sz);   // 0, or -1 when out of memory (cell is then integer 0)
void krvSetHandle(krvValue_t *pCell, void *p);
void krvClearValue(krvValue_t *pCell);             // frees a string; cell becomes integer 0
// Copies pSrc into pDst by type (strings duplicated). Any other source type
// prints a debug message and leaves pDst unchanged. Returns 0 on success.
int krvSetDataByData(krvValue_t *pDst, const krvValue_t *pSrc);

// "integer", "floating number", "string", "handle", else "unknown".
const char *krvDataTypeName(int32_t nType);

// Ordinal suffix for "%d-%s index" texts: 1 "st", 2 "nd", 3 "rd", else "th".
const char *krvOrdinalSuffix(int64_t n);

// Hash and compare for tables keyed by value cell (the key field of the
// element is a krvValue_t pointer). Compare is non-zero when equal: types
// must match; integer-like by payload, strings byte for byte, floating
// numbers never (with a debug message); floating numbers hash to 0.
uint32_t krvValueHash(const void *pKey);
int krvValueCompare(const void *pA, const void *pB);
