// The built-in function table: names, argument counts, the kind of every
// argument position, and the handler slot each entry carries. Resolution
// uses names, counts and kinds; the evaluator calls the handlers.
#pragma once
#include <cstdint>

struct krvEnv_t;
struct krvFuncInfo_t;
struct krvAPTN_t;
struct krvValue_t;

// Handler: (environment, current function, call node, result cell, flag
// word). Returns 1 to go on, 0 when the evaluation fails.
typedef int (*krvBuiHandler_t)(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                               uint32_t *pFlXcptFlags);

struct krvBuiFunc_t {
    const char *szName;
    krvBuiHandler_t pfnHandler;
    uint8_t nMinArgs;
    uint8_t nMaxArgs;
};

// Built-in identifiers (table indexes).
enum krvBuiId_t : int32_t {
    KRV_BUI_PRINT = 0,
    KRV_BUI_PRINTH = 1,
    KRV_BUI_SCAN = 2,
    KRV_BUI_INTSIZE = 3,
    KRV_BUI_ISSTRING = 4,
    KRV_BUI_TASK_CREATE = 5,
    KRV_BUI_TASK_JOIN = 6,
    KRV_BUI_MUTEX_CREATE = 7,
    KRV_BUI_MUTEX_DELETE = 8,
    KRV_BUI_MUTEX_LOCK = 9,
    KRV_BUI_MUTEX_UNLOCK = 10,
    KRV_BUI_COND_CREATE = 11,
    KRV_BUI_COND_WAIT = 12,
    KRV_BUI_COND_BROADCAST = 13,
    KRV_BUI_BACKTRACE = 14,
    KRV_BUI_SLEEP = 15,
};
#define KRV_BUI_FUNC_NUM 16

// Argument kinds per position.
#define KRV_BUI_ARG_NONE 0        // no argument allowed
#define KRV_BUI_ARG_VAR 1         // a variable
#define KRV_BUI_ARG_ELEM 2        // elementary data
#define KRV_BUI_ARG_USRFUNC 3     // a user function name
#define KRV_BUI_ARG_LITSTR 4      // a literal string
#define KRV_BUI_ARG_ANY 5         // any expression

// Index of a built-in by exact name, or -1.
int krvBuiFindByName(const char *szName);
// Entry of an index 0..KRV_BUI_FUNC_NUM-1, else NULL.
const krvBuiFunc_t *krvBuiGetFunc(int nId);
// Handler of an index, else NULL.
krvBuiHandler_t krvBuiGetHandler(int nId);
// Kind of argument position nPos (from 0) of built-in nId: positions past
// the maximum count take no argument. -1 for an index without a rule.
int krvBuiArgKind(int nId, int nPos);
