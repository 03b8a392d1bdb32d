// Environments of script groups, their file information, and the table of
// environments.
#include "model/krvEnv.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "model/krvNamespace.h"

static char *baseNameOf(const char *szPath)
{
    const char *p = strrchr(szPath, '/');
    return strdup(p ? p + 1 : szPath);
}

int krvFileInfoFindFile(const parseFileInfo_t *pFi, const char *szPath)
{
    for (int i = 0; i < KRV_GROUP_FILES_MAX && pFi->currentParsedFiles[i]; i++) {
        if (strcmp(pFi->currentParsedFiles[i], szPath) == 0)
            return i;
    }
    return -1;
}

int krvFileInfoAddFile(parseFileInfo_t *pFi, const char *szPath)
{
    int i = 0;
    while (i < KRV_GROUP_FILES_MAX && pFi->currentParsedFiles[i])
        i++;
    if (i == KRV_GROUP_FILES_MAX)
        return -1;
    char *pPath = strdup(szPath);
    char *pBase = pPath ? baseNameOf(szPath) : nullptr;
    if (!pPath || !pBase) {
        free(pPath);
        free(pBase);
        return -1;
    }
    pFi->currentParsedFiles[i] = pPath;
    pFi->currentParsedFiles_f[i] = pBase;
    return i;
}

static void freeFileInfo(parseFileInfo_t *pFi)
{
    if (!pFi)
        return;
    for (int i = 0; i < KRV_FILE_STACK_DEPTH; i++) {
        free(pFi->fileStack[i].szPath);
        free(pFi->fileStack[i].szBaseName);
    }
    for (int i = 0; i < KRV_GROUP_FILES_MAX; i++) {
        free(pFi->currentParsedFiles[i]);
        free(pFi->currentParsedFiles_f[i]);
    }
    free(pFi);
}

krvEnv_t *krvNewEnv(const char *szPath)
{
    if (!szPath)
        return nullptr;
    krvEnv_t *pEnv = static_cast<krvEnv_t *>(calloc(1, sizeof(krvEnv_t)));
    parseFileInfo_t *pFi = static_cast<parseFileInfo_t *>(calloc(1, sizeof(parseFileInfo_t)));
    if (!pEnv || !pFi) {
        free(pEnv);
        free(pFi);
        return nullptr;
    }
    pEnv->phase = 'P';
    pEnv->finfo = pFi;
    pEnv->szPath = strdup(szPath);
    pEnv->szBaseName = baseNameOf(szPath);
    pFi->fileStack[0].szPath = strdup(szPath);
    pFi->fileStack[0].szBaseName = baseNameOf(szPath);
    if (!pEnv->szPath || !pEnv->szBaseName || !pFi->fileStack[0].szPath || !pFi->fileStack[0].szBaseName ||
        krvFileInfoAddFile(pFi, szPath) != 0) {
        krvFreeEnv(pEnv);
        return nullptr;
    }
    pFi->pCurNs = krvGlobalNs();
    return pEnv;
}

krvEnv_t *krvNewDerivedEnv(krvEnv_t *pParent)
{
    if (!pParent)
        return nullptr;
    krvEnv_t *pEnv = static_cast<krvEnv_t *>(calloc(1, sizeof(krvEnv_t)));
    if (!pEnv)
        return nullptr;
    pEnv->phase = 'R';
    pEnv->pDerivedFrom = pParent;
    pEnv->finfo = pParent->finfo;
    pEnv->pMainFunc = pParent->pMainFunc;
    pEnv->szPath = strdup(pParent->szPath ? pParent->szPath : "");
    pEnv->szBaseName = strdup(pParent->szBaseName ? pParent->szBaseName : "");
    if (!pEnv->szPath || !pEnv->szBaseName) {
        krvFreeEnv(pEnv);
        return nullptr;
    }
    return pEnv;
}

void krvFreeEnv(krvEnv_t *pEnv)
{
    if (!pEnv)
        return;
    if (!pEnv->pDerivedFrom)
        freeFileInfo(pEnv->finfo);
    free(pEnv->szPath);
    free(pEnv->szBaseName);
    free(pEnv);
}

// ---- table of environments -------------------------------------------------
static sysHashSetting_t g_envTable;
static bool g_envTableReady = false;

int krvEnvTableInit(void)
{
    if (g_envTableReady)
        return 0;
    if (sysHashInit(&g_envTable, KRV_ENV_SLOTS, offsetof(krvEnv_t, link), offsetof(krvEnv_t, szPath), sysHashStr,
                    sysHashStrCmp) != 0)
        return -1;
    g_envTableReady = true;
    return 0;
}

krvEnv_t *krvEnvTableFind(const char *szPath)
{
    if (!g_envTableReady || !szPath)
        return nullptr;
    return static_cast<krvEnv_t *>(sysHashFind(&g_envTable, szPath));
}

int krvEnvTableAdd(krvEnv_t *pEnv)
{
    if (!pEnv || !pEnv->szPath || (!g_envTableReady && krvEnvTableInit() != 0))
        return -1;
    if (sysHashFind(&g_envTable, pEnv->szPath))
        return -1;
    sysHashAdd(&g_envTable, pEnv);
    return 0;
}

int krvEnvTableRemove(krvEnv_t *pEnv)
{
    if (!g_envTableReady || !pEnv || sysHashFind(&g_envTable, pEnv->szPath) != pEnv)
        return -1;
    sysHashDel(&g_envTable, pEnv);
    return 0;
}

krvEnv_t *krvEnvTableFirst(void)
{
    if (!g_envTableReady)
        return nullptr;
    sysHashIter_t *pIt = sysHashIterCreate(&g_envTable);
    void *p = pIt ? sysHashIterNext(pIt) : nullptr;
    sysHashIterFree(pIt);
    return static_cast<krvEnv_t *>(p);
}

void krvEnvTableFree(void)
{
    if (!g_envTableReady)
        return;
    sysHashFree(&g_envTable);
    g_envTableReady = false;
}
