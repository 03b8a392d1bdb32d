// Hash and compare functions for string keys and identity keys.
#include "sysHash.h"

#include <cstring>

uint32_t sysHashStr(const void *pKey)
{
    const char *s = static_cast<const char *>(pKey);
    uint32_t nSum = 0;
    if (!s)
        return 0;
    for (uint32_t i = 0; s[i]; i++) {
        // Each byte counts as a signed 8-bit value.
        uint32_t nByte = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(s[i])));
        nSum += nByte << (3 * (i % 8));
    }
    return nSum;
}

int sysHashStrCmp(const void *pA, const void *pB)
{
    if (!pA || !pB)
        return pA == pB;
    return strcmp(static_cast<const char *>(pA), static_cast<const char *>(pB)) == 0;
}

uint32_t sysHashId(const void *pKey)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pKey));
}

int sysHashIdCmp(const void *pA, const void *pB)
{
    return pA == pB;
}
