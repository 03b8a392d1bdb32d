// Resets, power events, shutdown notification, virtual functions and put.
#include "nvmeArgs.h"
#include "nvmeFuncs.h"
#include "nvmeHost.h"
#include "nvmeResets.h"

namespace kxmnvme {

namespace {

// A reset that answers 1 or 0.
int32_t flagAction(const char *szName, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg,
                   int32_t (*pfnAction)(NvmeEngine &, NvmeCntl *))
{
    NvmeCall c(szName, nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    if (!pCntl)
        return c.fail(0);
    const int32_t nErr = pfnAction(c.engine(), pCntl);
    return nErr == EC_NONE ? c.ok(1) : c.fail(nErr, 0);
}

// A reset that answers the event for rescan, or 0.
int32_t eventAction(const char *szName, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg,
                    int32_t (*pfnAction)(NvmeEngine &, NvmeCntl *, NvmeSEvt **))
{
    NvmeCall c(szName, nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    if (!pCntl)
        return c.fail(0);
    NvmeSEvt *pEvt = nullptr;
    const int32_t nErr = pfnAction(c.engine(), pCntl, &pEvt);
    return nErr == EC_NONE ? c.okHandle(pEvt) : c.fail(nErr, 0);
}

} // namespace

NVME_HANDLER(nvmeFnFlReset) { return flagAction("flReset", nArgs, pArgs, pResult, szMsg, nvmeFlReset); }
NVME_HANDLER(nvmeFnCntlReset) { return flagAction("cntlReset", nArgs, pArgs, pResult, szMsg, nvmeCntlReset); }
NVME_HANDLER(nvmeFnPowerOffEvent) { return flagAction("powerOffEvent", nArgs, pArgs, pResult, szMsg, nvmePowerOff); }
NVME_HANDLER(nvmeFnNVMSSReset) { return eventAction("NVMSSReset", nArgs, pArgs, pResult, szMsg, nvmeNvmSsReset); }
NVME_HANDLER(nvmeFnPCIeHotReset) { return eventAction("PCIeHotReset", nArgs, pArgs, pResult, szMsg, nvmeHotReset); }
NVME_HANDLER(nvmeFnPowerOnEvent) { return eventAction("powerOnEvent", nArgs, pArgs, pResult, szMsg, nvmePowerOn); }

NVME_HANDLER(nvmeFnRescan)
{
    NvmeCall c("rescan", nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    NvmeSEvt *pEvt = pCntl ? c.evt(3) : nullptr;
    if (!pEvt)
        return c.fail(0);
    // An event of another controller is not this controller's to end.
    if (pEvt < &pCntl->pSEvtRscMgr->recs[0] || pEvt >= &pCntl->pSEvtRscMgr->recs[NVME_SEVT_NUM] || pEvt->bFree)
        return c.fail(EC_EVENT, 0);
    const int32_t nErr = nvmeRescan(c.engine(), pCntl, pEvt);
    return nErr == EC_NONE ? c.ok(1) : c.fail(nErr, 0);
}

NVME_HANDLER(nvmeFnShutdownNotify)
{
    NvmeCall c("shutdownNotify", nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    int64_t nShn = 0;
    int64_t nLimit = -1;
    if (!pCntl || !c.integer(3, &nShn) || (c.has(4) && !c.integer(4, &nLimit)))
        return c.fail(0);
    const int64_t nLimitUs = c.has(4) ? (nLimit & 0xFF) * 1000000 : c.engine().nCmdTimeoutUs;
    const int32_t nErr = nvmeShutdownNotify(c.engine(), pCntl, static_cast<uint32_t>(nShn), nLimitUs);
    return nErr == EC_NONE ? c.ok(1) : c.fail(nErr, 0);
}

NVME_HANDLER(nvmeFnEnableVF)
{
    NvmeCall c("enableVF", nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    int64_t n = 0;
    if (!pCntl || !c.integer(3, &n))
        return c.fail(-1);
    int64_t nEnabled = -1;
    const int32_t nErr = nvmeEnableVF(c.engine(), pCntl, n, &nEnabled);
    if (nEnabled < 0)
        return c.fail(nErr, -1);
    c.setError(nErr);
    return nErr == EC_NONE ? c.ok(nEnabled) : c.fail(nEnabled);
}

NVME_HANDLER(nvmeFnPut)
{
    NvmeCall c("put", nArgs, pArgs, pResult, szMsg, false);
    nvmePut(c.engine());
    return c.ok(1);
}

} // namespace kxmnvme
