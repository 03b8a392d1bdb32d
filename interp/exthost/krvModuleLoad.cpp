// Loading modules into a script group, the lifecycle calls around a run and
// the release of the libraries when the group is freed.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exthost/krvHostTable.h"
#include "exthost/krvModule.h"
#include "exthost/krvModuleNames.h"
#include "exthost/krvModuleRecord.h"
#include "exthost/krvModuleSearch.h"
#include "model/krvDiag.h"
#include "model/krvEnv.h"
#include "model/krvHostFuncs.h"
#include "sysHash.h"
#include "sysPath.h"

#define KRV_MODULE_SUFFIX_BUF 64   // room beyond the 32 bytes a module may use

namespace {

const char *krvBaseNameOf(const char *szPath)
{
    const char *p = strrchr(szPath, '/');
    return p ? p + 1 : szPath;
}

// The group's module table, created on first use; NULL when out of memory.
sysHashSetting_t *krvModuleTable(krvEnv_t *peee, bool bCreate)
{
    parseFileInfo_t *pFi = peee->finfo;
    if (pFi == nullptr)
        return nullptr;
    if (pFi->pModules == nullptr && bCreate) {
        sysHashSetting_t *pSet = static_cast<sysHashSetting_t *>(calloc(1, sizeof(sysHashSetting_t)));
        if (pSet == nullptr)
            return nullptr;
        if (sysHashInit(pSet, KRV_MODULE_SLOTS, offsetof(krvModule_t, link), offsetof(krvModule_t, szPath),
                        sysHashStr, sysHashStrCmp) != 0) {
            free(pSet);
            return nullptr;
        }
        pFi->pModules = pSet;
    }
    return pFi->pModules;
}

// Every record of the table, in its iteration order.
std::vector<krvModule_t *> krvModuleList(sysHashSetting_t *pTable)
{
    std::vector<krvModule_t *> list;
    if (pTable == nullptr)
        return list;
    sysHashIter_t *pIter = sysHashIterCreate(pTable);
    while (void *p = sysHashIterNext(pIter))
        list.push_back(static_cast<krvModule_t *>(p));
    sysHashIterFree(pIter);
    return list;
}

bool krvModuleLoaded(sysHashSetting_t *pTable, const char *szPath)
{
    if (sysHashFind(pTable, szPath) != nullptr)
        return true;
    const char *szBase = krvBaseNameOf(szPath);
    for (krvModule_t *pMod : krvModuleList(pTable))
        if (strcmp(pMod->szBaseName, szBase) == 0)
            return true;
    return false;
}

// The entry point stem + szSuffix of a library; NULL when absent or when
// the file name gives no stem.
void *krvModuleEntry(void *hLib, const char *szBaseName, const char *szSuffix)
{
    char szStem[SYS_PATH_MAX];
    if (!krvModuleStem(szBaseName, szStem, sizeof(szStem)))
        return nullptr;
    std::string sym = std::string(szStem) + szSuffix;
    return krvHost()->pfnGetSym(hLib, sym.c_str());
}

void krvFreeModuleRecord(krvModule_t *pMod)
{
    free(pMod->szPath);
    free(pMod->szBaseName);
    free(pMod);
}

// Calls one lifecycle entry point of every loaded module.
void krvCallModules(krvEnv_t *peee, const char *szSuffix)
{
    if (peee == nullptr)
        return;
    for (krvModule_t *pMod : krvModuleList(krvModuleTable(peee, false))) {
        void *pEntry = krvModuleEntry(pMod->hLib, pMod->szBaseName, szSuffix);
        if (pEntry)
            reinterpret_cast<krvModPrepare_t>(pEntry)();
    }
}

}  // namespace

int krvLoadModule(krvEnv_t *peee, const char *szFullPath, const char **ppScript)
{
    if (ppScript)
        *ppScript = nullptr;
    if (szFullPath == nullptr)
        return 0;
    sysHashSetting_t *pTable = peee ? krvModuleTable(peee, true) : nullptr;
    if (pTable == nullptr) {
        krvHost()->pfnErrPrintf("Error: fail to load \"%s\"\n", szFullPath);
        return 0;
    }
    // 1. Once per group, whichever path names the module.
    if (krvModuleLoaded(pTable, szFullPath))
        return 1;

    // 2. A fresh table for this module's _init.
    krvHostTable_t table;
    krvBuildHostTable(&table);

    // 3. The library: at the path, or found by name in the module folders.
    char szPath[SYS_PATH_MAX];
    krvFindModuleFile(szFullPath, szPath);
    void *hLib = krvHost()->pfnLoadLib(szPath);
    if (hLib == nullptr) {
        krvHost()->pfnErrPrintf("Error: fail to load \"%s\"\n", szPath);
        return 0;
    }
    const char *szBase = krvBaseNameOf(szPath);

    // 4-5. The interface version the module was built for.
    void *pIntpVer = krvModuleEntry(hLib, szBase, "_intpver");
    if (pIntpVer == nullptr) {
        krvHost()->pfnErrPrintf("Error: fail to check version\n");
        krvHost()->pfnFreeLib(hLib);
        return 0;
    }
    int nMajor = 0, nMinor = 0, nPatch = 0;
    char szSuffix[KRV_MODULE_SUFFIX_BUF] = {0};
    reinterpret_cast<krvModIntpVer_t>(pIntpVer)(&nMajor, &nMinor, &nPatch, szSuffix);
    szSuffix[sizeof(szSuffix) - 1] = '\0';
    if (nMajor != KRV_EXT_VER_MAJOR || nMinor != KRV_EXT_VER_MINOR) {
        char szVer[160];
        sysVersionString(szVer, nMajor, nMinor, nPatch, szSuffix);
        krvHost()->pfnErrPrintf("Error: version mismatch\n");
        krvHost()->pfnErrPrintf("Error: module was built for Korvel %s\n", szVer);
        krvHost()->pfnFreeLib(hLib);
        return 0;
    }

    // 6-7. Registration.
    void *pInit = krvModuleEntry(hLib, szBase, "_init");
    if (pInit == nullptr) {
        char szStem[SYS_PATH_MAX];
        krvModuleStem(szBase, szStem, sizeof(szStem));
        krvHost()->pfnErrPrintf("Error: cannot find %s_init\n", szStem);
        krvHost()->pfnFreeLib(hLib);
        return 0;
    }
    const char *szScript = nullptr;
    if (reinterpret_cast<krvModInit_t>(pInit)(&table, &szScript) == 0) {
        krvHost()->pfnFreeLib(hLib);
        return 0;
    }

    // 8. The record.
    krvModule_t *pMod = static_cast<krvModule_t *>(calloc(1, sizeof(krvModule_t)));
    if (pMod) {
        pMod->szPath = strdup(szPath);
        pMod->szBaseName = strdup(szBase);
    }
    if (pMod == nullptr || pMod->szPath == nullptr || pMod->szBaseName == nullptr) {
        // The module has registered handlers into the model: its library
        // stays loaded so that nothing points into unmapped code.
        if (pMod)
            krvFreeModuleRecord(pMod);
        krvHost()->pfnErrPrintf("Error: fail to load \"%s\"\n", szPath);
        return 0;
    }
    pMod->hLib = hLib;
    sysHashAdd(pTable, pMod);
    if (ppScript)
        *ppScript = szScript;
    return 1;
}

void krvPrepareModules(krvEnv_t *peee)
{
    krvCallModules(peee, "_prepare");
}

void krvDeinitModules(krvEnv_t *peee)
{
    krvCallModules(peee, "_deinit");
}

void krvFreeModules(krvEnv_t *peee)
{
    if (peee == nullptr || peee->pDerivedFrom != nullptr)
        return;   // a derived environment shares its parent's modules
    sysHashSetting_t *pTable = krvModuleTable(peee, false);
    if (pTable == nullptr)
        return;
    for (krvModule_t *pMod : krvModuleList(pTable)) {
        sysHashDel(pTable, pMod);
        krvHost()->pfnFreeLib(pMod->hLib);
        krvFreeModuleRecord(pMod);
    }
    sysHashFree(pTable);
    free(pTable);
    peee->finfo->pModules = nullptr;
}
