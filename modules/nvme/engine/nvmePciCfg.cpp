#include "nvmePciCfg.h"

#include "nvmeEngine.h"
#include "nvmewire/Pci.h"
#include "nvmewire/Registers.h"

namespace kxmnvme {

using namespace nvmewire::pci;

uint32_t nvmeCfgRead(NvmeEngine &eng, const FuncHandleRec *pFunc, uint32_t nOffset, int nWidth)
{
    uint32_t v = 0;
    kxmplat::Platform *pPlat = eng.platform();
    if (!pPlat || !pFunc || pPlat->cfgRead(pFunc->slot, nOffset, &v, nWidth) != 0)
        return 0;
    return v;
}

void nvmeCfgWrite(NvmeEngine &eng, const FuncHandleRec *pFunc, uint32_t nOffset, uint32_t nValue, int nWidth)
{
    if (kxmplat::Platform *pPlat = eng.platform(); pPlat && pFunc)
        pPlat->cfgWrite(pFunc->slot, nOffset, nValue, nWidth);
}

int32_t nvmeFindCap(NvmeEngine &eng, const FuncHandleRec *pFunc, uint8_t nId)
{
    uint32_t nPtr = nvmeCfgRead(eng, pFunc, CFG_CAP_PTR, 1);
    // 48 capabilities of 4 bytes fill the 192 bytes after the header.
    for (int nSteps = 0; nPtr != 0 && nSteps < 48; nSteps++) {
        const uint32_t v = nvmeCfgRead(eng, pFunc, nPtr, 2);
        if ((v & 0xFF) == nId)
            return static_cast<int32_t>(nPtr);
        nPtr = (v >> 8) & 0xFF;
    }
    return -1;
}

int32_t nvmeFindExtCap(NvmeEngine &eng, const FuncHandleRec *pFunc, uint16_t nId)
{
    uint32_t nOff = EXT_CAP_BASE;
    for (int nSteps = 0; nSteps < 480; nSteps++) {
        const uint32_t v = nvmeCfgRead(eng, pFunc, nOff, 4);
        if ((v & 0xFFFF) == nId)
            return static_cast<int32_t>(nOff);
        const uint32_t nNext = (v >> 20) & 0xFFC;
        if (nNext == 0 || nNext == nOff || nNext < EXT_CAP_BASE)
            break;
        nOff = nNext;
    }
    return -1;
}

bool nvmePcieInit(NvmeEngine &eng, const FuncHandleRec *pFunc)
{
    const int32_t nPm = nvmeFindCap(eng, pFunc, CAP_ID_PM);
    if (nPm < 0)
        return false;
    nvmeCfgRead(eng, pFunc, nPm + PM_PMCSR, 2);
    nvmeCfgWrite(eng, pFunc, nPm + PM_PMCSR, 0x0008, 2);   // D0, No_Soft_Reset
    const uint32_t nCmd = nvmeCfgRead(eng, pFunc, CFG_COMMAND, 4);
    nvmeCfgWrite(eng, pFunc, CFG_COMMAND, nCmd | CMD_MEMORY | CMD_BUS_MASTER, 4);
    return true;
}

void nvmeDecodeCaps(NvmeEngine &eng, NvmeCntl *pCntl)
{
    const FuncHandleRec *pFunc = pCntl->uFuncHandle;
    NvmeSavedCfg &s = pCntl->savedCfg;
    s.nCacheLine = static_cast<uint8_t>(nvmeCfgRead(eng, pFunc, CFG_CACHE_LINE, 1));
    s.nBackupCfgReg_BAR0 = nvmeCfgRead(eng, pFunc, CFG_BAR0, 4);
    s.nBAR1 = nvmeCfgRead(eng, pFunc, CFG_BAR1, 4);
    s.nIntLine = static_cast<uint8_t>(nvmeCfgRead(eng, pFunc, CFG_INT_LINE, 1));
    const int32_t nPcie = nvmeFindCap(eng, pFunc, CAP_ID_PCIE);
    if (nPcie >= 0) {
        s.nDevCtl = static_cast<uint16_t>(nvmeCfgRead(eng, pFunc, nPcie + PCIE_DEVCTL, 2));
        s.nLnkCtl = static_cast<uint16_t>(nvmeCfgRead(eng, pFunc, nPcie + PCIE_LNKCTL, 2));
        s.nDevCtl2 = static_cast<uint16_t>(nvmeCfgRead(eng, pFunc, nPcie + PCIE_DEVCTL2, 2));
    }
    nvmeDecodeCapRegister(eng, pCntl);
}

void nvmeDecodeCapRegister(NvmeEngine &eng, NvmeCntl *pCntl)
{
    kxmplat::Platform *pPlat = eng.platform();
    const uint64_t nLo = pPlat->mmioRead32(pCntl->device(), nvmewire::REG_CAP);
    const uint64_t nHi = pPlat->mmioRead32(pCntl->device(), nvmewire::REG_CAP + 4);
    const nvmewire::Cap cap{nLo | (nHi << 32)};
    NvmeCntl &c = *pCntl;
    c.nMaxPageSize_expOf2 = cap.mpsmax() + 12;
    c.nMaxPageSize = 1u << c.nMaxPageSize_expOf2;
    c.nMinPageSize_expOf2 = cap.mpsmin() + 12;
    c.nMinPageSize = 1u << c.nMinPageSize_expOf2;
    c.nTimeout = cap.to();
    c.nMaxQSize = cap.mqes() + 1;
    c.nDbStride_expOf2 = cap.dstrd() + 2;
    c.nDbStride = 1u << c.nDbStride_expOf2;
    c.nPageSize_expOf2 = c.nMinPageSize_expOf2;
    c.nPageSize = c.nMinPageSize;

    NvmeLog &l = eng.log;
    l.log("\tnMaxPageSize_expOf2 = %d\n", c.nMaxPageSize_expOf2);
    l.log("\tnMaxPageSize        = %d\n", c.nMaxPageSize);
    l.log("\tnMinPageSize_expOf2 = %d\n", c.nMinPageSize_expOf2);
    l.log("\tnMinPageSize        = %d\n", c.nMinPageSize);
    l.log("\tnDbStride_expOf2    = %d\n", c.nDbStride_expOf2);
    l.log("\tnDbStride           = %d\n", c.nDbStride);
    l.log("\tnTimeout            = %d\n", c.nTimeout);
    l.log("\tnMaxQSize           = %d\n", c.nMaxQSize);
    l.log("\tnPageSize_expOf2    = %d\n", c.nPageSize_expOf2);
    l.log("\tnPageSize           = %d\n", c.nPageSize);
}

void nvmeRestoreCfg(NvmeEngine &eng, NvmeCntl *pCntl)
{
    const FuncHandleRec *pFunc = pCntl->uFuncHandle;
    const NvmeSavedCfg &s = pCntl->savedCfg;
    nvmeCfgWrite(eng, pFunc, CFG_CACHE_LINE, s.nCacheLine, 1);
    nvmeCfgWrite(eng, pFunc, CFG_BAR0, s.nBackupCfgReg_BAR0, 4);
    nvmeCfgWrite(eng, pFunc, CFG_BAR1, s.nBAR1, 4);
    nvmeCfgWrite(eng, pFunc, CFG_INT_LINE, s.nIntLine, 1);
    const int32_t nPcie = nvmeFindCap(eng, pFunc, CAP_ID_PCIE);
    if (nPcie >= 0) {
        nvmeCfgWrite(eng, pFunc, nPcie + PCIE_DEVCTL, s.nDevCtl, 2);
        nvmeCfgWrite(eng, pFunc, nPcie + PCIE_LNKCTL, s.nLnkCtl, 2);
        nvmeCfgWrite(eng, pFunc, nPcie + PCIE_DEVCTL2, s.nDevCtl2, 2);
    }
}

} // namespace kxmnvme
