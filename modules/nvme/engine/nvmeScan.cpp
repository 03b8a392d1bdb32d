#include "nvmeScan.h"

#include <vector>

#include "nvmeEngine.h"
#include "nvmeNsLinks.h"
#include "nvmePciCfg.h"
#include "nvmeSEvtPool.h"
#include "nvmewire/Pci.h"

namespace kxmnvme {

namespace {

const char kUnit[] = "nvmeExt";

// Class code with the revision byte masked off: mass storage, non-volatile
// memory, NVMe programming interface.
constexpr uint32_t kNvmeClassRev = 0x01080200;

// Opens every NVMe function of the bus, at most NVME_MAX_DEV_NUM.
std::vector<FuncHandleRec *> openNvmeFunctions(NvmeEngine &eng)
{
    std::vector<FuncHandleRec *> found;
    kxmplat::Platform *pPlat = eng.platform();
    std::vector<kxmplat::PciFunctionInfo> funcs;
    pPlat->enumerate(funcs, 256);
    for (const kxmplat::PciFunctionInfo &f : funcs) {
        if (found.size() >= NVME_MAX_DEV_NUM)
            break;
        uint32_t nClass = 0;
        if (pPlat->cfgRead(f.slot, nvmewire::pci::CFG_CLASS_REV, &nClass, 4) != 0)
            continue;
        if ((nClass & 0xFFFFFF00u) != kNvmeClassRev)
            continue;
        kxmplat::Device *pDevice = nullptr;
        if (pPlat->openDevice(f.slot, &pDevice) != 0 || !pDevice)
            continue;
        found.push_back(new FuncHandleRec{pDevice, f.nVendorId, f.nDeviceId, f.slot});
    }
    return found;
}

// SR-IOV information of a physical function whose platform offers it.
void discoverSriov(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (eng.platform()->sriovTotalVFs(pCntl->device()) <= 0)
        return;
    const int32_t nCap = nvmeFindExtCap(eng, pCntl->uFuncHandle, nvmewire::pci::EXT_CAP_ID_SRIOV);
    if (nCap < 0)
        return;
    NvmeVFInfo *pInfo = new NvmeVFInfo;
    pInfo->nCapOffset = static_cast<uint32_t>(nCap);
    pInfo->nTotalVFs = static_cast<uint16_t>(
        nvmeCfgRead(eng, pCntl->uFuncHandle, nCap + nvmewire::pci::SRIOV_TOTAL_VFS, 2));
    pInfo->nInitialVFs = static_cast<uint16_t>(
        nvmeCfgRead(eng, pCntl->uFuncHandle, nCap + nvmewire::pci::SRIOV_INITIAL_VFS, 2));
    pInfo->pOwner = pCntl;
    pCntl->pVFInfo = pInfo;
}

} // namespace

int32_t nvmeScan(NvmeEngine &eng)
{
    if (eng.bScanned) {
        eng.log.log("Error: %s line %d: one-shut function %s() is called multiple times!\n", kUnit, __LINE__,
                    "scan");
        return EC_SCAN_AGAIN;
    }
    eng.bScanned = true;
    eng.log.log("Info: %s line %d: %s() start\n", kUnit, __LINE__, "scan");
    if (!eng.openPlatform()) {
        eng.log.log("Error: %s line %d: udfLibInit() fail!\n", kUnit, __LINE__);
        return EC_LIB_INIT;
    }

    std::vector<FuncHandleRec *> funcs = openNvmeFunctions(eng);
    eng.log.log("Info: %s line %d: %d devices scanned!\n", kUnit, __LINE__, static_cast<int>(funcs.size()));
    eng.nCmdTimeoutUs = NVME_DEFAULT_CMD_TIMEOUT_US;
    eng.nDevNum = static_cast<uint16_t>(funcs.size());

    for (size_t i = 0; i < funcs.size(); i++) {
        NvmeDev *pDev = new NvmeDev;
        NvmeCntl *pCntl = eng.newCntl();
        eng.log.log("Info: %s line %d: device-%d funcHandle=%p\n", kUnit, __LINE__, static_cast<int>(i),
                    static_cast<void *>(pCntl));
        eng.devs[i] = pDev;
        pDev->nDevNo = static_cast<uint16_t>(i);
        pDev->nVendorId = funcs[i]->nVendorId;
        pDev->nDeviceId = funcs[i]->nDeviceId;
        pDev->cntls[0] = pCntl;
        pDev->nFuncNum = 1;
        pDev->namespaces[0] = nvmeNewNs(eng, 0);
        eng.log.log("Info: %s line %d: device-%d VID:%04X DID:%04X\n", kUnit, __LINE__, static_cast<int>(i),
                    pDev->nVendorId, pDev->nDeviceId);

        pCntl->funcType = nvme_PF;
        pCntl->nFuncId = 0;
        pCntl->uFuncHandle = funcs[i];
        pCntl->pDev = pDev;
        pCntl->nClassCode = nvmeCfgRead(eng, funcs[i], nvmewire::pci::CFG_CLASS_REV, 4) >> 8;
        if (!nvmePcieInit(eng, funcs[i])) {
            eng.log.log("Error %d: %s line %d: device-%d: fail to initialize pcie\n", EC_PCIE_INIT, kUnit, __LINE__,
                        static_cast<int>(i));
            // The devices after this one were opened but get no records:
            // close them now rather than leaving them to nobody.
            for (size_t k = i + 1; k < funcs.size(); k++) {
                eng.platform()->closeDevice(funcs[k]->pDevice);
                delete funcs[k];
            }
            eng.nDevNum = static_cast<uint16_t>(i + 1);
            return EC_PCIE_INIT;
        }
        pCntl->nVendorId = funcs[i]->nVendorId;
        pCntl->nDeviceId = funcs[i]->nDeviceId;
        pCntl->pSEvtRscMgr = nvmeSEvtPoolCreate(eng);
        pCntl->pSEvtTraceMgr = new NvmeEvtTraceMgr;
        if (pCntl->nClassCode == 0x010802 || pCntl->nClassCode == 0x010803)
            nvmeDecodeCaps(eng, pCntl);
        discoverSriov(eng, pCntl);
    }
    return EC_NONE;
}

} // namespace kxmnvme
