// Namespace lookups and insertions, the global namespace, path texts.
#include "model/krvNamespace.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "model/krvDiag.h"
#include "model/krvNsTable.h"

// The global namespace: one record for the process.
static krvNamespace_t g_globalNs;

krvNamespace_t *krvGlobalNs(void)
{
    return &g_globalNs;
}

static krvNamespace_t *orGlobal(krvNamespace_t *pNs)
{
    return pNs ? pNs : &g_globalNs;
}

int krvInitModel(void)
{
    krvFreeModel();
    memset(&g_globalNs, 0, sizeof(g_globalNs));
    g_globalNs.szName = strdup("");
    if (!g_globalNs.szName)
        return -1;
    char szName[4] = "$0";
    for (int i = 0; i < 10; i++) {
        szName[1] = static_cast<char>('0' + i);
        if (krvFindConst(&g_globalNs, szName) || krvFindVar(&g_globalNs, szName))
            continue;
        if (!krvCreateGlobalIntVar(szName, &g_globalNs))
            return -1;
    }
    return 0;
}

void krvFreeModel(void)
{
    krvFreeNamespace(&g_globalNs);
}

static void *tableFind(const sysHashSetting_t *pTable, const char *szName)
{
    if (!pTable || !szName)
        return nullptr;
    return sysHashFind(pTable, szName);
}

krvNamespace_t *krvFindNs(const krvNamespace_t *pNs, const char *szName)
{
    return pNs ? static_cast<krvNamespace_t *>(tableFind(pNs->nss, szName)) : nullptr;
}

krvNamespace_t *krvFindNsByQual(const krvNameList_t *pQual)
{
    krvNamespace_t *pNs = &g_globalNs;
    if (pQual && pQual->szName && pQual->szName[0] == '\0')
        pQual = pQual->next;
    for (; pQual && pNs; pQual = pQual->next)
        pNs = krvFindNs(pNs, pQual->szName);
    return pNs;
}

krvVar_t *krvFindConst(const krvNamespace_t *pNs, const char *szName)
{
    return pNs ? static_cast<krvVar_t *>(tableFind(pNs->consts, szName)) : nullptr;
}

krvVar_t *krvFindVar(const krvNamespace_t *pNs, const char *szName)
{
    return pNs ? static_cast<krvVar_t *>(tableFind(pNs->vars, szName)) : nullptr;
}

krvStruct_t *krvFindStruct(const krvNamespace_t *pNs, const char *szName)
{
    return pNs ? static_cast<krvStruct_t *>(tableFind(pNs->structs, szName)) : nullptr;
}

krvFuncInfo_t *krvFindFunc(const krvNamespace_t *pNs, const char *szName)
{
    return pNs ? static_cast<krvFuncInfo_t *>(tableFind(pNs->funcs, szName)) : nullptr;
}

krvFuncInfo_t *krvFindUsrFunc(const krvNamespace_t *pNs, const char *szName)
{
    krvFuncInfo_t *p = krvFindFunc(pNs, szName);
    return (p && p->type == KRV_USR_FUNC_TYPE) ? p : nullptr;
}

krvFuncInfo_t *krvFindMemberFunc(const krvStruct_t *pStruct, const char *szName)
{
    return pStruct ? static_cast<krvFuncInfo_t *>(tableFind(pStruct->mfuncs, szName)) : nullptr;
}

// Adds a record whose name is at its second word to a table of the model.
static int tableAdd(sysHashSetting_t **ppTable, uint32_t nSlots, void *pRec, const char *szName, bool bUnique)
{
    if (!pRec || !szName)
        return -1;
    if (bUnique && tableFind(*ppTable, szName))
        return -1;
    sysHashSetting_t *pTable = krvNsTableEnsure(ppTable, nSlots);
    if (!pTable)
        return -1;
    sysHashAdd(pTable, pRec);
    return 0;
}

int krvAddNs(krvNamespace_t *pParent, krvNamespace_t *pChild)
{
    pParent = orGlobal(pParent);
    if (!pChild || pChild == pParent)
        return -1;
    if (tableAdd(&pParent->nss, KRV_NS_SLOTS, pChild, pChild->szName, true) != 0)
        return -1;
    pChild->parent = pParent;
    return 0;
}

krvNamespace_t *krvCreateNs(krvNamespace_t *pParent, const char *szName)
{
    pParent = orGlobal(pParent);
    if (!szName || krvFindNs(pParent, szName))
        return nullptr;
    krvNamespace_t *p = krvNewNamespace(szName);
    if (!p)
        return nullptr;
    if (krvAddNs(pParent, p) != 0) {
        krvFreeNamespace(p);
        return nullptr;
    }
    return p;
}

int krvAddStruct(krvNamespace_t *pNs, krvStruct_t *pStruct)
{
    pNs = orGlobal(pNs);
    if (!pStruct || tableAdd(&pNs->structs, KRV_NS_SLOTS, pStruct, pStruct->szName, true) != 0)
        return -1;
    pStruct->pNamespace = pNs;
    return 0;
}

// User and extension functions share the funcs table.
static int addFunc(krvNamespace_t *pNs, krvFuncInfo_t *pFunc)
{
    pNs = orGlobal(pNs);
    if (tableAdd(&pNs->funcs, KRV_NS_SLOTS, pFunc, pFunc->szName, true) != 0)
        return -1;
    pFunc->pNamespace = pNs;
    return 0;
}

int krvAddUsrFunc(krvNamespace_t *pNs, krvFuncInfo_t *pFunc)
{
    KRV_ASSERT(pFunc && pFunc->type == KRV_USR_FUNC_TYPE);
    return addFunc(pNs, pFunc);
}

int krvAddExtFunc(krvNamespace_t *pNs, krvFuncInfo_t *pFunc)
{
    KRV_ASSERT(pFunc && pFunc->type == KRV_EXT_FUNC_TYPE);
    return addFunc(pNs, pFunc);
}

int krvAddConst(krvNamespace_t *pNs, krvVar_t *pConst)
{
    pNs = orGlobal(pNs);
    return pConst ? tableAdd(&pNs->consts, KRV_NS_SLOTS, pConst, pConst->szName, false) : -1;
}

int krvAddVar(krvNamespace_t *pNs, krvVar_t *pVar)
{
    pNs = orGlobal(pNs);
    return pVar ? tableAdd(&pNs->vars, KRV_NS_SLOTS, pVar, pVar->szName, false) : -1;
}

int krvAddMemberFunc(krvStruct_t *pStruct, krvFuncInfo_t *pFunc)
{
    if (!pStruct || !pFunc)
        return -1;
    return tableAdd(&pStruct->mfuncs, KRV_MFUNC_SLOTS, pFunc, pFunc->szName, true);
}

krvVar_t *krvCreateGlobalIntVar(const char *szName, krvNamespace_t *pNs)
{
    pNs = orGlobal(pNs);
    if (!szName || krvFindConst(pNs, szName) || krvFindVar(pNs, szName))
        return nullptr;
    krvVar_t *p = krvNewVar(szName, 0, 0);
    if (!p)
        return nullptr;
    p->isGlobal = 1;
    p->pData = krvAllocValues(1);
    if (!p->pData || krvAddVar(pNs, p) != 0) {
        krvFreeVar(p);
        return nullptr;
    }
    return p;
}

char *krvNsPathText(const krvNamespace_t *pNs)
{
    std::string s;
    // Walk up, prepending each name with its "::".
    for (const krvNamespace_t *p = orGlobal(const_cast<krvNamespace_t *>(pNs)); p; p = p->parent) {
        s.insert(0, "::");
        s.insert(0, p->szName ? p->szName : "");
    }
    return strdup(s.c_str());
}

char *krvQualifiedName(const krvNamespace_t *pNs, const char *szName)
{
    char *pPath = krvNsPathText(pNs);
    if (!pPath)
        return nullptr;
    std::string s(pPath);
    free(pPath);
    s += szName ? szName : "";
    return strdup(s.c_str());
}
