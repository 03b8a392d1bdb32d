// Intrusive chained hash table and its iterator.
#include "sysHash.h"
#include "sysFatal.h"

#include <cstdlib>
#include <cstring>

namespace {

void *&linkOf(const sysHashSetting_t *pSet, void *pElem)
{
    return *reinterpret_cast<void **>(static_cast<char *>(pElem) + pSet->nLinkOffset);
}

const void *keyOf(const sysHashSetting_t *pSet, void *pElem)
{
    return *reinterpret_cast<void **>(static_cast<char *>(pElem) + pSet->nKeyOffset);
}

uint32_t slotOf(const sysHashSetting_t *pSet, const void *pKey)
{
    return pSet->hashFunc(pKey) % pSet->nSlotNum;
}

bool usable(const sysHashSetting_t *pSet)
{
    return pSet && pSet->pSlots && pSet->nSlotNum && pSet->hashFunc && pSet->compareFunc;
}

// Moves the iterator to the front of the next non-empty slot at or after nSlot.
void iterSeek(sysHashIter_t *pIter)
{
    const sysHashSetting_t *pSet = pIter->pTable;
    pIter->pCur = nullptr;
    if (!usable(pSet))
        return;
    while (static_cast<uint32_t>(pIter->nSlot) < pSet->nSlotNum) {
        if (pSet->pSlots[pIter->nSlot]) {
            pIter->pCur = pSet->pSlots[pIter->nSlot];
            return;
        }
        pIter->nSlot++;
    }
}

} // namespace

int sysHashInit(sysHashSetting_t *pSet, uint32_t nSlotNum, uint32_t nLinkOffset, uint32_t nKeyOffset,
                sysHashFunc_t hashFunc, sysHashCmpFunc_t compareFunc)
{
    if (!pSet)
        return -1;
    memset(pSet, 0, sizeof(*pSet));
    if (nSlotNum == 0 || nLinkOffset + nKeyOffset == 0 || nLinkOffset == nKeyOffset || !hashFunc ||
        !compareFunc)
        return -1;
    void **pSlots = static_cast<void **>(calloc(nSlotNum, sizeof(void *)));
    if (!pSlots)
        return -1;
    pSet->nSlotNum = nSlotNum;
    pSet->nLinkOffset = nLinkOffset;
    pSet->nKeyOffset = nKeyOffset;
    pSet->hashFunc = hashFunc;
    pSet->compareFunc = compareFunc;
    pSet->pSlots = pSlots;
    return 0;
}

void sysHashAdd(sysHashSetting_t *pSet, void *pElem)
{
    if (!usable(pSet) || !pElem)
        return;
    uint32_t nSlot = slotOf(pSet, keyOf(pSet, pElem));
    linkOf(pSet, pElem) = pSet->pSlots[nSlot];
    pSet->pSlots[nSlot] = pElem;
}

void *sysHashFind(const sysHashSetting_t *pSet, const void *pKey)
{
    if (!usable(pSet))
        return nullptr;
    for (void *p = pSet->pSlots[slotOf(pSet, pKey)]; p; p = linkOf(pSet, p))
        if (pSet->compareFunc(pKey, keyOf(pSet, p)))
            return p;
    return nullptr;
}

void sysHashDel(sysHashSetting_t *pSet, void *pElem)
{
    static const char kFunc[] = "sysHashDel";
    if (!pElem || !usable(pSet))
        sysFatal("%s : nil input\n", kFunc);
    void **ppLink = &pSet->pSlots[slotOf(pSet, keyOf(pSet, pElem))];
    if (!*ppLink)
        sysFatal("%s : nil head\n", kFunc);
    for (; *ppLink; ppLink = &linkOf(pSet, *ppLink)) {
        if (*ppLink == pElem) {
            *ppLink = linkOf(pSet, pElem);
            linkOf(pSet, pElem) = nullptr;
            return;
        }
    }
    sysFatal("%s : wrong procedure???\n", kFunc);
}

void sysHashFree(sysHashSetting_t *pSet)
{
    if (!pSet)
        return;
    free(pSet->pSlots);
    memset(pSet, 0, sizeof(*pSet));
}

sysHashIter_t *sysHashIterCreate(sysHashSetting_t *pSet)
{
    sysHashIter_t *pIter = new sysHashIter_t{0, nullptr, pSet};
    iterSeek(pIter);
    return pIter;
}

// The iterator already holds the element it returns next, so the caller may
// unlink the element just returned without breaking the walk.
void *sysHashIterNext(sysHashIter_t *pIter)
{
    if (!pIter || !pIter->pCur)
        return nullptr;
    void *pRet = pIter->pCur;
    void *pNext = linkOf(pIter->pTable, pRet);
    if (pNext) {
        pIter->pCur = pNext;
    } else {
        pIter->nSlot++;
        iterSeek(pIter);
    }
    return pRet;
}

void sysHashIterFree(sysHashIter_t *pIter)
{
    delete pIter;
}
