#include "nvmeResets.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "nvmeBuf.h"
#include "nvmeCmdPool.h"
#include "nvmeEngine.h"
#include "nvmeInit.h"
#include "nvmePciCfg.h"
#include "nvmePollers.h"
#include "nvmeSEvtPool.h"
#include "nvmeTrace.h"
#include "nvmewire/Pci.h"
#include "nvmewire/Registers.h"

namespace kxmnvme {

namespace {

const char kUnit[] = "nvmeExt";

// A taken event of kind nEvent, started now and recorded in the ring; null
// when the pool is exhausted (or the controller has none).
NvmeSEvt *startEvent(NvmeCntl *pCntl, uint32_t nEvent, uint32_t nParam = 0)
{
    if (!pCntl->pSEvtRscMgr || !pCntl->pSEvtTraceMgr)
        return nullptr;
    NvmeSEvt *pEvt = nvmeSEvtTake(pCntl->pSEvtRscMgr);
    if (!pEvt)
        return nullptr;
    pEvt->nEvent = nEvent;
    pEvt->nParam = nParam;
    pEvt->tStart = sysTimeNow();
    pEvt->tEnd = NVME_TIME_NOT_FINISHED;
    pEvt->bTimedOut = 0;
    pEvt->pTrace = nvmeEvtTraceOpen(pCntl, nEvent, nParam, pEvt->tStart);
    return pEvt;
}

// Ends the event (its slot gets the end time and time-out flag) and gives
// it back.
void endEvent(NvmeCntl *pCntl, NvmeSEvt *pEvt, bool bTimedOut)
{
    pEvt->bTimedOut = bTimedOut ? 1 : 0;
    pEvt->tEnd = sysTimeNow();
    if (pEvt->pTrace)
        nvmeEvtTraceClose(pEvt->pTrace, pEvt->tStart, pEvt->tEnd, bTimedOut);
    nvmeSEvtGiveBack(pCntl->pSEvtRscMgr, pEvt);
}

uint32_t readReg(NvmeEngine &eng, NvmeCntl *pCntl, uint32_t nOff)
{
    return eng.platform()->mmioRead32(pCntl->device(), nOff);
}

// A physical function whose NumVFs register says virtual functions are on.
bool vfsEnabled(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (pCntl->funcType != nvme_PF || !pCntl->pVFInfo)
        return false;
    const uint32_t nCap = pCntl->pVFInfo->nCapOffset;
    const uint32_t n = nvmeCfgRead(eng, pCntl->uFuncHandle, nCap + nvmewire::pci::SRIOV_NUM_VFS, 2);
    // NumVFs may keep its value after VF Enable is cleared: both must say so.
    const uint32_t nCtrl = nvmeCfgRead(eng, pCntl->uFuncHandle, nCap + nvmewire::pci::SRIOV_CTRL, 2);
    return n != 0xFFFF && n <= pCntl->pVFInfo->nTotalVFs && n > 0 && (nCtrl & 1);
}

// The checks every reset starts with.
int32_t resetGuard(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (!eng.platform())
        return EC_CNTL_DISABLED;
    return vfsEnabled(eng, pCntl) ? EC_RST_VF_ENABLED : EC_NONE;
}

// The function answers with its own identity again. A virtual function's
// vendor and device id read FFFFh by definition: its class code tells.
bool functionAnswers(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (pCntl->funcType == nvme_VF)
        return (nvmeCfgRead(eng, pCntl->uFuncHandle, nvmewire::pci::CFG_CLASS_REV, 4) >> 8) == pCntl->nClassCode;
    return nvmeCfgRead(eng, pCntl->uFuncHandle, nvmewire::pci::CFG_VENDOR_ID, 2) == (pCntl->nVendorId & 0xFFFF) &&
           nvmeCfgRead(eng, pCntl->uFuncHandle, nvmewire::pci::CFG_DEVICE_ID, 2) == (pCntl->nDeviceId & 0xFFFF);
}

// Brings a function back to memory and bus-master access after a reset
// cleared its configuration: D0, saved registers, PCIe initialisation.
bool restoreFunction(NvmeEngine &eng, NvmeCntl *pCntl)
{
    const int32_t nPm = nvmeFindCap(eng, pCntl->uFuncHandle, nvmewire::pci::CAP_ID_PM);
    if (nPm >= 0)
        nvmeCfgWrite(eng, pCntl->uFuncHandle, nPm + nvmewire::pci::PM_PMCSR, 0x0008, 2);
    if (pCntl->nClassCode == 0x010802 || pCntl->nClassCode == 0x010803)
        nvmeRestoreCfg(eng, pCntl);
    return nvmePcieInit(eng, pCntl->uFuncHandle);
}

// Where virtual function k (1-based) sits: the physical function's routing
// id plus the SR-IOV capability's first-VF offset and k - 1 strides.
kxmplat::PciSlot vfSlot(NvmeEngine &eng, NvmeCntl *pPF, uint16_t k)
{
    const FuncHandleRec *pFunc = pPF->uFuncHandle;
    const uint32_t nCap = pPF->pVFInfo->nCapOffset;
    const uint32_t nOffset = nvmeCfgRead(eng, pFunc, nCap + nvmewire::pci::SRIOV_VF_OFFSET, 2);
    const uint32_t nStride = nvmeCfgRead(eng, pFunc, nCap + nvmewire::pci::SRIOV_VF_STRIDE, 2);
    const uint32_t nRid = ((pFunc->slot.nBus << 8) | (pFunc->slot.nDevice << 3) | pFunc->slot.nFunction) + nOffset +
                          (k - 1u) * nStride;
    kxmplat::PciSlot slot;
    slot.nDomain = pFunc->slot.nDomain;
    slot.nBus = (nRid >> 8) & 0xFF;
    slot.nDevice = (nRid >> 3) & 0x1F;
    slot.nFunction = nRid & 7;
    return slot;
}

void freeVF(NvmeEngine &eng, NvmeCntl *pVF)
{
    if (pVF->nState == NVME_CNTL_INITED)
        nvmeTakeDown(eng, pVF);
    eng.freeCntl(pVF);
}

} // namespace

void nvmeTakeDown(NvmeEngine &, NvmeCntl *pCntl)
{
    if (pCntl->nState != NVME_CNTL_INITED)
        return;
    pCntl->nState = NVME_CNTL_DOWN;
    // Queues first: once every SQ is deleted under its lock, no task is
    // inside a builder, and the pollers can go.
    for (NvmeSQ *pSQ : pCntl->pSQs)
        if (pSQ && pSQ->nSize != 0) {
            // Under its lock, so a task that is submitting finishes first and
            // the next one finds the queue deleted. A lock held by a queue
            // creation that never completed is not waited for long.
            const bool bLocked = pSQ->qLock.try_acquire_for(std::chrono::milliseconds(200));
            pSQ->nState = NVME_SQ_DELETED;
            if (bLocked)
                pSQ->qLock.release();
        }
    nvmeResetPollers(pCntl);
    for (NvmeCQ *pCQ : pCntl->pCQs)
        if (pCQ)
            pCQ->bValid = 0;
}

int32_t nvmeFlReset(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (int32_t nErr = resetGuard(eng, pCntl); nErr != EC_NONE)
        return nErr;
    const int32_t nPcie = nvmeFindCap(eng, pCntl->uFuncHandle, nvmewire::pci::CAP_ID_PCIE);
    NvmeSEvt *pEvt = startEvent(pCntl, NVME_EVT_FL_RST);
    if (!pEvt)
        return EC_EVT_RSC;
    if (nPcie >= 0) {
        const uint32_t nDevCtl = nvmeCfgRead(eng, pCntl->uFuncHandle, nPcie + nvmewire::pci::PCIE_DEVCTL, 2);
        nvmeCfgWrite(eng, pCntl->uFuncHandle, nPcie + nvmewire::pci::PCIE_DEVCTL, nDevCtl | 0x8000, 2);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    endEvent(pCntl, pEvt, false);
    nvmeTakeDown(eng, pCntl);
    // The reset cleared the Command register and the BARs: put the function
    // back as rescan would, so init can follow at once.
    restoreFunction(eng, pCntl);
    return EC_NONE;
}

int32_t nvmeCntlReset(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (int32_t nErr = resetGuard(eng, pCntl); nErr != EC_NONE)
        return nErr;
    if (!(readReg(eng, pCntl, nvmewire::REG_CSTS) & nvmewire::CSTS_RDY))
        return EC_CNTL_DISABLED;
    std::lock_guard<std::recursive_mutex> g(pCntl->lock);
    NvmeSEvt *pEvt = startEvent(pCntl, NVME_EVT_CNTL_RST);
    if (!pEvt)
        return EC_EVT_RSC;
    if (nvmeDisableCntl(eng, pCntl) != EC_NONE) {
        eng.log.log("Error: %s line %d: fail to disable %s controller (funcHandle:%p) to launch a controller reset\n",
                    kUnit, __LINE__, pCntl->funcType == nvme_PF ? "primary" : "secondary", static_cast<void *>(pCntl));
        nvmeSEvtGiveBack(pCntl->pSEvtRscMgr, pEvt);
        return EC_TIMEOUT;
    }
    eng.log.log("Info: %s line %d: funcHandle=%p controller reset success\n", kUnit, __LINE__,
                static_cast<void *>(pCntl));
    nvmeTakeDown(eng, pCntl);
    endEvent(pCntl, pEvt, false);
    return EC_NONE;
}

int32_t nvmeNvmSsReset(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSEvt **ppEvt)
{
    *ppEvt = nullptr;
    if (pCntl->funcType == nvme_VF)
        return EC_NVMSSR_ON_VF;
    if (int32_t nErr = resetGuard(eng, pCntl); nErr != EC_NONE)
        return nErr;
    {
        std::lock_guard<std::recursive_mutex> g(pCntl->lock);
        if (!(*ppEvt = startEvent(pCntl, NVME_EVT_NVMSS_RST)))
            return EC_EVT_RSC;
        eng.platform()->mmioWrite32(pCntl->device(), nvmewire::REG_NSSR, nvmewire::NSSR_RESET_VALUE);
    }
    nvmeTakeDown(eng, pCntl);
    return EC_NONE;
}

int32_t nvmeHotReset(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSEvt **ppEvt)
{
    *ppEvt = nullptr;
    if (pCntl->funcType == nvme_VF)
        return EC_HOTRST_ON_VF;
    if (int32_t nErr = resetGuard(eng, pCntl); nErr != EC_NONE)
        return nErr;
    {
        std::lock_guard<std::recursive_mutex> g(pCntl->lock);
        NvmeSEvt *pEvt = startEvent(pCntl, NVME_EVT_PCIE_HOT_RST);
        if (!pEvt)
            return EC_EVT_RSC;
        const int nRc = eng.platform()->hotReset(pCntl->device());
        if (nRc < 0) {
            nvmeSEvtGiveBack(pCntl->pSEvtRscMgr, pEvt);
            return EC_HOTRST_UNSUPPORTED;
        }
        if (nRc == 0) {
            nvmeSEvtGiveBack(pCntl->pSEvtRscMgr, pEvt);
            return EC_HOTRST_FAIL;
        }
        *ppEvt = pEvt;
    }
    nvmeTakeDown(eng, pCntl);
    return EC_NONE;
}

// Power of the function's slot, where the platform can switch it (the
// simulator can; a real slot when the user allows it). Elsewhere the events
// only record that the test set-up switched the power by other means.
void switchSlotPower(NvmeEngine &eng, NvmeCntl *pCntl, bool bOn)
{
    if (eng.platform()->slotPower(pCntl->device(), bOn) < 0)
        eng.log.log("Info: %s line %d: power %s of function (funcHandle:%p) is not switched by the platform\n",
                    kUnit, __LINE__, bOn ? "on" : "off", static_cast<void *>(pCntl));
}

int32_t nvmePowerOff(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (!eng.platform())
        return EC_CNTL_DISABLED;
    {
        std::lock_guard<std::recursive_mutex> g(pCntl->lock);
        NvmeSEvt *pEvt = startEvent(pCntl, NVME_EVT_POWER_OFF);
        if (!pEvt)
            return EC_EVT_RSC;
        endEvent(pCntl, pEvt, false);
    }
    // Pollers stop before the power goes: nothing reads a ring that is gone.
    nvmeTakeDown(eng, pCntl);
    switchSlotPower(eng, pCntl, false);
    return EC_NONE;
}

int32_t nvmePowerOn(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSEvt **ppEvt)
{
    if (!eng.platform())
        return EC_CNTL_DISABLED;
    std::lock_guard<std::recursive_mutex> g(pCntl->lock);
    *ppEvt = startEvent(pCntl, NVME_EVT_POWER_ON);
    if (!*ppEvt)
        return EC_EVT_RSC;
    switchSlotPower(eng, pCntl, true);
    return EC_NONE;
}

int32_t nvmeRescan(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSEvt *pEvt)
{
    if (pEvt->nEvent != NVME_EVT_NVMSS_RST && pEvt->nEvent != NVME_EVT_PCIE_HOT_RST && pEvt->nEvent != NVME_EVT_POWER_ON)
        return EC_EVENT;
    if (!eng.platform())
        return EC_CNTL_DISABLED;
    bool bBack = false;
    for (uint32_t nRound = 0; nRound < pCntl->nTimeout && !bBack; nRound++)
        for (int nTry = 0; nTry < 10 && !bBack; nTry++) {
            bBack = functionAnswers(eng, pCntl);
            if (!bBack)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    endEvent(pCntl, pEvt, !bBack);
    // Every event still taken goes back with it.
    for (NvmeSEvt &e : pCntl->pSEvtRscMgr->recs)
        if (!e.bFree)
            nvmeSEvtGiveBack(pCntl->pSEvtRscMgr, &e);
    if (!bBack)
        return EC_TIMEOUT;
    return restoreFunction(eng, pCntl) ? EC_NONE : EC_PCIE_INIT;
}

int32_t nvmeShutdownNotify(NvmeEngine &eng, NvmeCntl *pCntl, uint32_t nShn, int64_t nLimitUs)
{
    if (!eng.platform())
        return EC_CNTL_DISABLED;
    std::lock_guard<std::recursive_mutex> g(pCntl->lock);
    NvmeSEvt *pEvt = startEvent(pCntl, NVME_EVT_SHUTDOWN_NTF, nShn & 3);
    if (!pEvt)
        return EC_EVT_RSC;
    const uint32_t nCc = readReg(eng, pCntl, nvmewire::REG_CC);
    eng.platform()->mmioWrite32(pCntl->device(), nvmewire::REG_CC, (nCc & ~(3u << 14)) | ((nShn & 3) << 14));
    bool bTimedOut = true;
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::microseconds(nLimitUs);
    while (true) {
        if (((readReg(eng, pCntl, nvmewire::REG_CSTS) >> 2) & 3) == nvmewire::SHST_COMPLETE) {
            bTimedOut = false;
            break;
        }
        if (std::chrono::steady_clock::now() >= tEnd)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    endEvent(pCntl, pEvt, bTimedOut);
    return bTimedOut ? EC_TIMEOUT : EC_NONE;
}

int32_t nvmeEnableVF(NvmeEngine &eng, NvmeCntl *pCntl, int64_t n, int64_t *pEnabled)
{
    *pEnabled = -1;
    if (pCntl->funcType != nvme_PF || !pCntl->pVFInfo)
        return EC_NO_VF;
    if (n < 0)
        return EC_ARGS;
    if (!eng.platform())
        return EC_CNTL_DISABLED;
    NvmeVFInfo *pInfo = pCntl->pVFInfo;
    NvmeDev *pDev = pCntl->pDev;
    std::vector<kxmplat::Device *> vfs;
    if (n == 0) {
        if (pInfo->nEnabledVFs) {
            for (uint16_t f = pDev->nFuncNum; f > 1; f--) {
                freeVF(eng, pDev->cntls[f - 1]);
                pDev->cntls[f - 1] = nullptr;
            }
            pDev->nFuncNum = 1;
            eng.platform()->sriovEnable(pCntl->device(), 0, vfs);
            pInfo->nEnabledVFs = 0;
        }
        *pEnabled = 0;
        return EC_NONE;
    }
    if (pInfo->nEnabledVFs)
        return EC_VF_ENABLED;
    const int64_t nMax = std::min<int64_t>(n, NVME_MAX_FUNC_NUM - 1);
    const int nGot = eng.platform()->sriovEnable(pCntl->device(), static_cast<int>(nMax), vfs);
    if (nGot < 0)
        return EC_ARGS;   // more than the function offers
    int32_t nErr = EC_NONE;
    if (nGot != n) {
        const int32_t nCap = nvmeFindExtCap(eng, pCntl->uFuncHandle, nvmewire::pci::EXT_CAP_ID_SRIOV);
        if (nCap < 0) {
            eng.log.log("Error: SR-IOV extended capability header is not seen! Capability offset = %04X.\n",
                        pInfo->nCapOffset);
            nErr = EC_SRIOV_HDR;
        } else {
            const uint32_t nTotal = nvmeCfgRead(eng, pCntl->uFuncHandle, nCap + nvmewire::pci::SRIOV_TOTAL_VFS, 2);
            if (nTotal != pInfo->nTotalVFs) {
                eng.log.log("Error: incorrect value read from SR-IOV total_VFS register; expect:%04X  read:%04X\n",
                            pInfo->nTotalVFs, nTotal);
                nErr = EC_SRIOV_CAP;
            }
        }
    }
    uint16_t k = 0;
    for (kxmplat::Device *pVFDev : vfs) {
        if (pDev->nFuncNum >= NVME_MAX_FUNC_NUM || !pVFDev)
            break;
        k++;
        NvmeCntl *pVF = eng.newCntl();
        pVF->funcType = nvme_VF;
        pVF->nFuncId = k;
        pVF->uFuncHandle = new FuncHandleRec{pVFDev, pCntl->nVendorId, pCntl->nDeviceId, vfSlot(eng, pCntl, k)};
        pVF->nClassCode = nvmeCfgRead(eng, pVF->uFuncHandle, nvmewire::pci::CFG_CLASS_REV, 4) >> 8;
        pVF->nVendorId = pCntl->nVendorId;
        pVF->nDeviceId = pCntl->nDeviceId;
        pVF->pDev = pDev;
        pVF->pSEvtRscMgr = nvmeSEvtPoolCreate(eng);
        pVF->pSEvtTraceMgr = new NvmeEvtTraceMgr;
        pVF->pPriCntl = pCntl;
        // A virtual function masters the bus only once its own Command
        // register says so.
        nvmePcieInit(eng, pVF->uFuncHandle);
        nvmeDecodeCaps(eng, pVF);
        pDev->cntls[pDev->nFuncNum++] = pVF;
    }
    pInfo->nEnabledVFs = k;
    *pEnabled = k;
    return nErr;
}

void nvmePut(NvmeEngine &eng)
{
    for (NvmeDev *pDev : eng.devs)
        if (pDev)
            for (NvmeCntl *pCntl : pDev->cntls)
                if (pCntl && pCntl->nState == NVME_CNTL_INITED && eng.platform())
                    nvmeTakeDown(eng, pCntl);
    // The script's data buffers go before the platform that holds their
    // memory is closed (their handles are invalid after put either way).
    for (NvmeHandleHdr *pHdr : eng.registry.runsOf(NVME_KIND_BUF))
        nvmeBufFreeOn(eng.registry, reinterpret_cast<NvmeBuf *>(pHdr));
    eng.closePlatform();
}

} // namespace kxmnvme
