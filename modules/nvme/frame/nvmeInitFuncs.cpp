// nvme::init and nvme::initA: bringing a scanned controller up.
#include <cstdint>

#include "nvmeArgs.h"
#include "nvmeFuncs.h"
#include "nvmeHost.h"
#include "nvmeInit.h"

namespace kxmnvme {

namespace {

// Unmatched completions reach the script function through the host's
// callback service, on the poller's thread.
void runCallback(void *pCallback, const int64_t aVals[8])
{
    krvValue_t aCells[8];
    for (int i = 0; i < 8; i++) {
        aCells[i] = krvValue_t{};
        aCells[i].type = KRV_DT_INTEGER;
        aCells[i].val.nInt = aVals[i];
    }
    krvValue_t result{};
    result.type = KRV_DT_INTEGER;
    g_host.pfnRunCallback(pCallback, 8, aCells, &result);
    g_host.pfnSetInt(&result, 0);   // frees a string the function returned
}

void freeCallback(void *pCallback)
{
    g_host.pfnFreeCallback(pCallback);
}

// Steps shared by init and initA before the bring-up: the handle, the init
// state and the callback (argument 3). Null on failure (error recorded).
NvmeCntl *prologue(NvmeCall &c)
{
    NvmeCntl *pCntl = c.cntl(2);
    if (!pCntl)
        return nullptr;
    NvmeEngine &eng = c.engine();
    eng.pfnRunCallback = runCallback;
    eng.pfnFreeCallback = freeCallback;
    if (pCntl->nState == NVME_CNTL_INITED) {
        eng.log.log("Error %d: %s: function (funcHandle:%p) has been inited\n", EC_INITED, c.name(),
                    static_cast<void *>(pCntl));
        c.setError(EC_INITED);
        return nullptr;
    }
    if (!eng.platform()) {
        c.setError(EC_CNTL_DISABLED);
        return nullptr;
    }
    if (pCntl->pUnmatchedCallback) {
        g_host.pfnFreeCallback(pCntl->pUnmatchedCallback);
        pCntl->pUnmatchedCallback = nullptr;
    }
    if (!c.has(3) || c.isNull(3))
        return pCntl;
    if (c.type(3) != KRV_DT_STRING) {
        c.setError(EC_FUNC_NAME);
        return nullptr;
    }
    const char *szName = c.text(3);
    if (!*szName)
        return pCntl;
    if (g_host.pfnGetUsrFuncParamNum(szName) < 0) {
        eng.log.log("Error %d: %s: user function \"%s\" is not found\n", EC_USR_FUNC, c.name(), szName);
        c.setError(EC_USR_FUNC);
        return nullptr;
    }
    void *pCb = g_host.pfnNewCallback(szName);
    if (!pCb) {
        c.setError(EC_CALLBACK);
        return nullptr;
    }
    pCntl->pUnmatchedCallback = pCb;
    return pCntl;
}

} // namespace

NVME_HANDLER(nvmeFnInit)
{
    NvmeCall c("init", nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = prologue(c);
    if (!pCntl)
        return c.fail(0);
    void *pParams = nullptr;
    if (c.has(4) && !(pParams = c.structOf(4, "queueInitParams_t")))
        return c.fail(0);
    NvmeInitParams p;
    if (pParams)
        p = nvmeNormalizeInitParams(c.member(pParams, "nASQSize"), c.member(pParams, "nACQSize"),
                                    c.member(pParams, "nIOSQNum"), c.member(pParams, "nIOSQSize"),
                                    c.member(pParams, "nIOSQNumPerIOCQ"), c.member(pParams, "nIOCQSize"),
                                    c.member(pParams, "nIOCQNumPerPCCT"));
    else
        p = nvmeNormalizeInitParams(0, 0, 0, 0, 0, 0, 0);
    const int32_t nErr = nvmeInitCntl(c.engine(), pCntl, false, p);
    if (nErr != EC_NONE)
        return c.fail(nErr, 0);
    if (pParams) {
        c.setMember(pParams, "nASQSize", p.nASQSize);
        c.setMember(pParams, "nACQSize", p.nACQSize);
        c.setMember(pParams, "nIOSQNum", p.nIOSQNum);
        c.setMember(pParams, "nIOSQSize", p.nIOSQSize);
        c.setMember(pParams, "nIOCQSize", p.nIOCQSize);
        c.setMember(pParams, "nIOSQNumPerIOCQ", p.nIOSQNumPerIOCQ);
        c.setMember(pParams, "nIOCQNumPerPCCT", pCntl->nIOCQNumPerPCCT);
    }
    return c.ok(1);
}

NVME_HANDLER(nvmeFnInitA)
{
    NvmeCall c("initA", nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = prologue(c);
    if (!pCntl)
        return c.fail(0);
    krvValue_t *pASQ = c.has(4) ? c.refCell(4) : nullptr;
    krvValue_t *pACQ = c.has(5) ? c.refCell(5) : nullptr;
    if ((pASQ && pASQ->type != KRV_DT_INTEGER) || (pACQ && pACQ->type != KRV_DT_INTEGER))
        return c.fail(EC_ARGS, 0);
    int64_t nPerPcct = 0;
    if (c.has(6) && !c.integer(6, &nPerPcct))
        return c.fail(0);
    NvmeInitParams p = nvmeNormalizeInitParams(pASQ ? pASQ->val.nInt : 0, pACQ ? pACQ->val.nInt : 0, 0, 0, 0, 0,
                                               nPerPcct);
    const int32_t nErr = nvmeInitCntl(c.engine(), pCntl, true, p);
    if (nErr != EC_NONE)
        return c.fail(nErr, 0);
    if (pASQ)
        g_host.pfnSetInt(pASQ, p.nASQSize);
    if (pACQ)
        g_host.pfnSetInt(pACQ, p.nACQSize);
    return c.ok(1);
}

} // namespace kxmnvme
