// Name tables of the model: creation on first insertion, listing, release.
#include "model/krvNsTable.h"

#include <cstddef>
#include <cstdlib>

#include "model/krvRecords.h"

// Every record kept in a name table starts with its link, then its name.
static_assert(offsetof(krvVar_t, link) == 0 && offsetof(krvVar_t, szName) == sizeof(void *));
static_assert(offsetof(krvStruct_t, link) == 0 && offsetof(krvStruct_t, szName) == sizeof(void *));
static_assert(offsetof(krvNamespace_t, link) == 0 && offsetof(krvNamespace_t, szName) == sizeof(void *));
static_assert(offsetof(krvFuncInfo_t, link) == 0 && offsetof(krvFuncInfo_t, szName) == sizeof(void *));

sysHashSetting_t *krvNsTableEnsure(sysHashSetting_t **ppTable, uint32_t nSlots)
{
    if (*ppTable)
        return *ppTable;
    sysHashSetting_t *p = static_cast<sysHashSetting_t *>(calloc(1, sizeof(sysHashSetting_t)));
    if (!p)
        return nullptr;
    if (sysHashInit(p, nSlots, 0, sizeof(void *), sysHashStr, sysHashStrCmp) != 0) {
        free(p);
        return nullptr;
    }
    *ppTable = p;
    return p;
}

std::vector<void *> krvNsTableElems(sysHashSetting_t *pTable)
{
    std::vector<void *> v;
    if (!pTable)
        return v;
    sysHashIter_t *pIt = sysHashIterCreate(pTable);
    if (!pIt)
        return v;
    for (void *p = sysHashIterNext(pIt); p; p = sysHashIterNext(pIt))
        v.push_back(p);
    sysHashIterFree(pIt);
    return v;
}

void krvNsTableFree(sysHashSetting_t **ppTable)
{
    if (!*ppTable)
        return;
    sysHashFree(*ppTable);
    free(*ppTable);
    *ppTable = nullptr;
}
