// The built-in function table and its lookups.
#include "builtin/krvBuiltinTable.h"

#include <cstring>

#include "builtin/krvBuiltins.h"
#include "task/krvTaskBuiltins.h"

static const krvBuiFunc_t g_builtins[KRV_BUI_FUNC_NUM] = {
    {"print", krvBuiFunc_print, 1, 32},
    {"printh", krvBuiFunc_printh, 1, 32},
    {"scan", krvBuiFunc_scan, 1, 1},
    {"intsize", krvBuiFunc_intsize, 0, 0},
    {"isstring", krvBuiFunc_isstring, 1, 1},
    {"task_create", krvBuiFunc_task_create, 2, 2},
    {"task_join", krvBuiFunc_task_join, 1, 1},
    {"mutex_create", krvBuiFunc_mutex_create, 0, 0},
    {"mutex_delete", krvBuiFunc_mutex_delete, 1, 1},
    {"mutex_lock", krvBuiFunc_mutex_lock, 1, 1},
    {"mutex_unlock", krvBuiFunc_mutex_unlock, 1, 1},
    {"cond_create", krvBuiFunc_cond_create, 0, 0},
    {"cond_wait", krvBuiFunc_cond_wait, 2, 2},
    {"cond_broadcast", krvBuiFunc_cond_broadcast, 1, 1},
    {"backtrace", krvBuiFunc_backtrace, 0, 1},
    {"sleep", krvBuiFunc_sleep, 1, 1},
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
