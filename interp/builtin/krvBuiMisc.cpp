// The small built-ins: sleep, intsize, isstring and the scan placeholder,
// and the one-argument evaluation the built-ins share.
#include "builtin/krvBuiltins.h"
#include "eval/krvEval.h"
#include "sysTime.h"

int krvBuiEvalArg(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pArg, krvValue_t *pValue, uint32_t *pFl)
{
    pValue->type = KRV_DT_INTEGER;
    pValue->val.uRaw = 0;
    const char *szTag = nullptr;
    if (!krvEval_APTN(pEnv, pFunc, pArg, &szTag, pValue, pFl) || (*pFl & KRV_XCPT_EXIT)) {
        krvClearValue(pValue);
        return 0;
    }
    return 1;
}

int krvBuiFunc_sleep(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl)
{
    krvSetInt(pResult, 0);
    krvAPTN_t *pArg = pCall->u.builtinCall.pArgs;
    if (!pArg)
        return 0;
    krvValue_t v;
    if (!krvBuiEvalArg(pEnv, pFunc, pArg, &v, pFl))
        return 0;
    if (v.type != KRV_DT_INTEGER) {
        krvClearValue(&v);
        krvErrorAt(KRV_RTE_ARGUMENT, pEnv, pArg, "Required to specify an integer number to %s().\n", "sleep");
        return 0;
    }
    sysSleepMs(v.val.nInt);
    krvSetInt(pResult, 1);
    return 1;
}

int krvBuiFunc_scan(krvEnv_t *, krvFuncInfo_t *, krvAPTN_t *, krvValue_t *, uint32_t *)
{
    krvPrint("TODO %s()\n", "krvBuiFunc_scan");
    return 1;
}

int krvBuiFunc_intsize(krvEnv_t *, krvFuncInfo_t *, krvAPTN_t *, krvValue_t *pResult, uint32_t *)
{
    krvSetInt(pResult, 64);
    return 1;
}

int krvBuiFunc_isstring(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, krvValue_t *pResult, uint32_t *pFl)
{
    krvSetInt(pResult, 0);
    krvAPTN_t *pArg = pCall->u.builtinCall.pArgs;
    if (!pArg)
        return 0;
    krvValue_t v;
    if (!krvBuiEvalArg(pEnv, pFunc, pArg, &v, pFl))
        return 0;
    bool bStr = v.type == KRV_DT_STRING;
    krvClearValue(&v);
    krvSetInt(pResult, bStr ? 1 : 0);
    return 1;
}
