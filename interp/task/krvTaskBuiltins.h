// Handlers of the task and synchronisation built-ins (table indexes 5 to 13).
#pragma once
#include <cstdint>

struct krvEnv_t;
struct krvFuncInfo_t;
struct krvAPTN_t;
struct krvValue_t;

#define KRV_TASK_BUILTIN(name) \
    int krvBuiFunc_##name(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult, \
                          uint32_t *pFlXcptFlags)

KRV_TASK_BUILTIN(task_create);
KRV_TASK_BUILTIN(task_join);
KRV_TASK_BUILTIN(mutex_create);
KRV_TASK_BUILTIN(mutex_delete);
KRV_TASK_BUILTIN(mutex_lock);
KRV_TASK_BUILTIN(mutex_unlock);
KRV_TASK_BUILTIN(cond_create);
KRV_TASK_BUILTIN(cond_wait);
KRV_TASK_BUILTIN(cond_broadcast);
