// Argument evaluation shared by the task and synchronisation built-ins.
#include "task/krvTaskInt.h"

int krvTaskEvalArg(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pArg, krvValue_t *pValue, uint32_t *pFl)
{
    if (!pArg)
        return 0;
    const char *szTag = nullptr;
    int ok = krvEval_APTN(pEnv, pFunc, pArg, &szTag, pValue, pFl);
    if (!ok || (*pFl & KRV_XCPT_EXIT)) {
        krvClearValue(pValue);
        return 0;
    }
    return 1;
}

int krvTaskHandleArg(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pArg, uint64_t *pu, uint32_t *pFl)
{
    krvValue_t v;
    v.type = KRV_DT_INTEGER;
    v.val.uRaw = 0;
    if (!krvTaskEvalArg(pEnv, pFunc, pArg, &v, pFl))
        return 0;
    *pu = v.val.uRaw;
    krvClearValue(&v);
    return 1;
}
