// Queries of devices and functions, and peek/poke of configuration space
// and controller registers.
#include "nvmeArgs.h"
#include "nvmeFuncs.h"
#include "nvmeHost.h"
#include "nvmePciCfg.h"

namespace kxmnvme {

namespace {

constexpr uint32_t kCfgSpaceSize = 4096;

// The device of number at position nPos, or null with EC_DEV_NO.
NvmeDev *deviceArg(NvmeCall &c, int nPos)
{
    int64_t n = 0;
    if (!c.integer(nPos, &n))
        return nullptr;
    NvmeEngine &e = c.engine();
    if (n < 0 || n >= e.nDevNum || !e.devs[n]) {
        c.setError(EC_DEV_NO);
        return nullptr;
    }
    return e.devs[n];
}

// A query of one controller field: handle test, then the value.
template <typename Get>
int32_t cntlQuery(const char *szName, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg, Get get)
{
    NvmeCall c(szName, nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    if (!pCntl)
        return c.fail(-1);
    return c.ok(get(pCntl));
}

// readPCIConfig8/16/32: the value at the offset, or 0 on failure.
int32_t readConfig(const char *szName, int nWidth, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult,
                   char *szMsg)
{
    NvmeCall c(szName, nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    uint32_t nOff = 0;
    if (!pCntl || !c.count32(3, &nOff))
        return c.fail(0);
    if (static_cast<uint64_t>(nOff) + nWidth > kCfgSpaceSize)
        return c.fail(EC_ARGS, 0);
    if (!c.engine().platform())
        return c.fail(EC_CNTL_DISABLED, 0);
    return c.ok(nvmeCfgRead(c.engine(), pCntl->uFuncHandle, nOff, nWidth));
}

} // namespace

NVME_HANDLER(nvmeFnGetDevNum)
{
    NvmeCall c("getDevNum", nArgs, pArgs, pResult, szMsg, false);
    return c.ok(c.engine().nDevNum);
}

NVME_HANDLER(nvmeFnGetFuncNum)
{
    NvmeCall c("getFuncNum", nArgs, pArgs, pResult, szMsg);
    NvmeDev *pDev = deviceArg(c, 2);
    if (!pDev)
        return c.fail(-1);
    return c.ok(pDev->nFuncNum);
}

NVME_HANDLER(nvmeFnGetCntlHandle)
{
    NvmeCall c("getCntlHandle", nArgs, pArgs, pResult, szMsg);
    NvmeDev *pDev = deviceArg(c, 2);
    int64_t nFunc = 0;
    if (!pDev || !c.integer(3, &nFunc))
        return c.failHandle();
    if (nFunc < 0 || nFunc >= pDev->nFuncNum || !pDev->cntls[nFunc]) {
        c.setError(EC_FUNC_NO);
        return c.failHandle();
    }
    return c.okHandle(pDev->cntls[nFunc]);
}

// The active SQ of an initialised controller by id (0: the admin SQ).
NVME_HANDLER(nvmeFnGetSQHandle)
{
    NvmeCall c("getSQHandle", nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    int64_t nId = 0;
    if (!pCntl || !c.inited(pCntl) || !c.integer(3, &nId))
        return c.failHandle();
    NvmeSQ *pSQ = nId >= 0 && nId <= NVME_MAX_IOSQ_NUM ? pCntl->pSQs[nId] : nullptr;
    if (!pSQ || pSQ->nState != NVME_SQ_ACTIVE) {
        c.setError(EC_SQID);
        return c.failHandle();
    }
    return c.okHandle(pSQ);
}

NVME_HANDLER(nvmeFnGetCNTLID)
{
    return cntlQuery("getCNTLID", nArgs, pArgs, pResult, szMsg, [](NvmeCntl *p) { return int64_t(p->CNTLID); });
}

NVME_HANDLER(nvmeFnGetDevNo)
{
    return cntlQuery("getDevNo", nArgs, pArgs, pResult, szMsg,
                     [](NvmeCntl *p) { return int64_t(p->pDev ? p->pDev->nDevNo : -1); });
}

NVME_HANDLER(nvmeFnSupportVF)
{
    return cntlQuery("supportVF", nArgs, pArgs, pResult, szMsg,
                     [](NvmeCntl *p) { return int64_t(p->funcType == nvme_PF && p->pVFInfo ? 1 : 0); });
}

NVME_HANDLER(nvmeFnGetMaxVFNum)
{
    return cntlQuery("getMaxVFNum", nArgs, pArgs, pResult, szMsg, [](NvmeCntl *p) {
        return int64_t(p->funcType == nvme_PF && p->pVFInfo ? p->pVFInfo->nTotalVFs : 0);
    });
}

NVME_HANDLER(nvmeFnReadPCIConfig8)
{
    return readConfig("readPCIConfig8", 1, nArgs, pArgs, pResult, szMsg);
}

NVME_HANDLER(nvmeFnReadPCIConfig16)
{
    return readConfig("readPCIConfig16", 2, nArgs, pArgs, pResult, szMsg);
}

NVME_HANDLER(nvmeFnReadPCIConfig32)
{
    return readConfig("readPCIConfig32", 4, nArgs, pArgs, pResult, szMsg);
}

NVME_HANDLER(nvmeFnReadCntlReg32)
{
    NvmeCall c("readCntlReg32", nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    uint32_t nOff = 0;
    if (!pCntl || !c.count32(3, &nOff))
        return c.fail(0);
    kxmplat::Platform *pPlat = c.engine().platform();
    if (!pPlat || !pCntl->device())
        return c.fail(EC_CNTL_DISABLED, 0);
    return c.ok(pPlat->mmioRead32(pCntl->device(), nOff));
}

NVME_HANDLER(nvmeFnWriteCntlReg32)
{
    NvmeCall c("writeCntlReg32", nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    uint32_t nOff = 0;
    int64_t nValue = 0;
    if (!pCntl || !c.count32(3, &nOff) || !c.integer(4, &nValue))
        return c.fail(0);
    kxmplat::Platform *pPlat = c.engine().platform();
    if (!pPlat || !pCntl->device())
        return c.fail(EC_CNTL_DISABLED, 0);
    pPlat->mmioWrite32(pCntl->device(), nOff, static_cast<uint32_t>(nValue));
    return c.ok(1);
}

} // namespace kxmnvme
