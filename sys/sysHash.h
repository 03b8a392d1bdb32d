// Intrusive chained hash table: elements are owned by the caller and linked
// through a pointer field of their own; the key is a pointer-sized field of
// the element. Not thread-safe: callers hold their own lock.
#pragma once
#include <cstdint>

typedef uint32_t (*sysHashFunc_t)(const void *pKey);
typedef int (*sysHashCmpFunc_t)(const void *pSearched, const void *pElemKey); // non-zero when equal

struct sysHashSetting_t {
    uint32_t nSlotNum;      // fixed for the table's life
    uint32_t nLinkOffset;   // byte offset of the element's next-in-chain pointer
    uint32_t nKeyOffset;    // byte offset of the element's pointer-sized key
    uint32_t nReserved;
    sysHashFunc_t hashFunc;
    sysHashCmpFunc_t compareFunc;
    void **pSlots;
};
static_assert(sizeof(sysHashSetting_t) == 40, "hash setting is 40 bytes");

struct sysHashIter_t {
    int32_t nSlot;
    void *pCur;
    sysHashSetting_t *pTable;
};

// Returns 0 on success, -1 when the slots cannot be allocated.
int sysHashInit(sysHashSetting_t *pSet, uint32_t nSlotNum, uint32_t nLinkOffset, uint32_t nKeyOffset,
                sysHashFunc_t hashFunc, sysHashCmpFunc_t compareFunc);
void sysHashAdd(sysHashSetting_t *pSet, void *pElem);
void *sysHashFind(const sysHashSetting_t *pSet, const void *pKey);
void sysHashDel(sysHashSetting_t *pSet, void *pElem);   // fatal on misuse
void sysHashFree(sysHashSetting_t *pSet);
sysHashIter_t *sysHashIterCreate(sysHashSetting_t *pSet); // caller frees with sysHashIterFree
void *sysHashIterNext(sysHashIter_t *pIter);
void sysHashIterFree(sysHashIter_t *pIter);

uint32_t sysHashStr(const void *pKey);                    // key is const char *
int sysHashStrCmp(const void *pA, const void *pB);
uint32_t sysHashId(const void *pKey);                     // key's low 32 bits
int sysHashIdCmp(const void *pA, const void *pB);
