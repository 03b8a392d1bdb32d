// The built-in function table and its lookups.
#include "builtin/krvBuiltinTable.h"

#include <cstring>

// Handlers are filled in by the evaluator at start-up, before any task runs.
static krvBuiFunc_t g_builtins[KRV_BUI_FUNC_NUM] = {
    {"print", nullptr, 1, 32},
    {"printh", nullptr, 1, 32},
    {"scan", nullptr, 1, 1},
    {"intsize", nullptr, 0, 0},
    {"isstring", nullptr, 1, 1},
    {"task_create", nullptr, 2, 2},
    {"task_join", nullptr, 1, 1},
    {"mutex_create", nullptr, 0, 0},
    {"mutex_delete", nullptr, 1, 1},
    {"mutex_lock", nullptr, 1, 1},
    {"mutex_unlock", nullptr, 1, 1},
    {"cond_create", nullptr, 0, 0},
    {"cond_wait", nullptr, 2, 2},
    {"cond_broadcast", nullptr, 1, 1},
    {"backtrace", nullptr, 0, 1},
    {"sleep", nullptr, 1, 1},
};

int krvBuiFindByName(const char *szName)
{
    if (!szName)
        return -1;
    for (int i = 0; i < KRV_BUI_FUNC_NUM; i++)
        if (strcmp(g_builtins[i].szName, szName) == 0)
            return i;
    return -1;
}

const krvBuiFunc_t *krvBuiGetFunc(int nId)
{
    return nId >= 0 && nId < KRV_BUI_FUNC_NUM ? &g_builtins[nId] : nullptr;
}

krvBuiHandler_t krvBuiGetHandler(int nId)
{
    const krvBuiFunc_t *p = krvBuiGetFunc(nId);
    return p ? p->pfnHandler : nullptr;
}

int krvBuiSetHandler(int nId, krvBuiHandler_t pfn)
{
    if (nId < 0 || nId >= KRV_BUI_FUNC_NUM)
        return -1;
    g_builtins[nId].pfnHandler = pfn;
    return 0;
}

int krvBuiArgKind(int nId, int nPos)
{
    if (nId < 0 || nId >= KRV_BUI_FUNC_NUM || nPos < 0)
        return -1;
    switch (nId) {
    case KRV_BUI_PRINT:
    case KRV_BUI_PRINTH:
        return KRV_BUI_ARG_ANY;           // every position; the count is checked apart
    case KRV_BUI_SCAN:
        return nPos == 0 ? KRV_BUI_ARG_VAR : KRV_BUI_ARG_NONE;
    case KRV_BUI_TASK_CREATE:
        return nPos == 0 ? KRV_BUI_ARG_USRFUNC : nPos == 1 ? KRV_BUI_ARG_ANY : KRV_BUI_ARG_NONE;
    case KRV_BUI_BACKTRACE:
        return nPos == 0 ? KRV_BUI_ARG_ELEM : KRV_BUI_ARG_NONE;
    default:
        return nPos < g_builtins[nId].nMaxArgs ? KRV_BUI_ARG_ANY : KRV_BUI_ARG_NONE;
    }
}
