#include "PciAccess.h"

#include <chrono>
#include <thread>

namespace nvmehost {

using namespace nvmewire::pci;
using kxmplat::PciSlot;
using kxmplat::Platform;

uint32_t cfgRead(Platform &plat, const PciSlot &slot, uint32_t nOffset, int nWidth)
{
    uint32_t n = 0;
    if (plat.cfgRead(slot, nOffset, &n, nWidth) != 0)
        return 0;
    return n;
}

void cfgWrite(Platform &plat, const PciSlot &slot, uint32_t nOffset, uint32_t nValue, int nWidth)
{
    plat.cfgWrite(slot, nOffset, nValue, nWidth);
}

std::vector<kxmplat::PciFunctionInfo> findNvmeFunctions(Platform &plat)
{
    std::vector<kxmplat::PciFunctionInfo> all, nvme;
    if (plat.enumerate(all) < 0)
        return nvme;
    for (const auto &f : all) {
        if (classCode(cfgRead(plat, f.slot, CFG_CLASS_REV, 4)) == CLASS_NVME)
            nvme.push_back(f);
    }
    return nvme;
}

int findCapability(Platform &plat, const PciSlot &slot, uint8_t nId)
{
    uint32_t nPtr = cfgRead(plat, slot, CFG_CAP_PTR, 1) & 0xFC;
    // 48 capabilities of 4 bytes fill the space after the header.
    for (int nStep = 0; nPtr != 0 && nStep < 48; ++nStep) {
        uint32_t nHdr = cfgRead(plat, slot, nPtr + CAP_ID, 2);
        if ((nHdr & 0xFF) == nId)
            return int(nPtr);
        nPtr = (nHdr >> (8 * CAP_NEXT)) & 0xFC;
    }
    return -1;
}

int findExtCapability(Platform &plat, const PciSlot &slot, uint16_t nId)
{
    uint32_t nOff = EXT_CAP_BASE;
    for (int nStep = 0; nStep < 480; ++nStep) {
        uint32_t nHdr = cfgRead(plat, slot, nOff, 4);
        if (nHdr == 0 || nHdr == 0xFFFFFFFFu)
            return -1;
        if (extCapId(nHdr) == nId)
            return int(nOff);
        uint32_t nNext = extCapNext(nHdr);
        if (nNext == 0 || nNext == nOff || nNext < EXT_CAP_BASE)
            return -1;
        nOff = nNext;
    }
    return -1;
}

bool pcieInitialise(Platform &plat, const PciSlot &slot)
{
    int nPm = findCapability(plat, slot, CAP_ID_PM);
    if (nPm < 0)
        return false;
    // D0, and No_Soft_Reset written as set (it is read-only).
    cfgWrite(plat, slot, uint32_t(nPm) + PM_PMCSR, PMCSR_D0 | 0x0008, 2);
    uint32_t nCmd = cfgRead(plat, slot, CFG_COMMAND, 4);
    cfgWrite(plat, slot, CFG_COMMAND, nCmd | CMD_MEMORY | CMD_BUS_MASTER, 4);
    return true;
}

bool waitFunctionPresent(Platform &plat, const PciSlot &slot, int nTimeoutMs)
{
    auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        // The class dword: a virtual function's vendor and device id read
        // all ones even while it answers.
        uint32_t nId = 0xFFFFFFFFu;
        if (plat.cfgRead(slot, CFG_CLASS_REV, &nId, 4) == 0 && nId != 0xFFFFFFFFu)
            return true;
        if (std::chrono::steady_clock::now() >= tEnd)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool functionLevelResetSupported(Platform &plat, const PciSlot &slot)
{
    int nPcie = findCapability(plat, slot, CAP_ID_PCIE);
    if (nPcie < 0)
        return false;
    return cfgRead(plat, slot, uint32_t(nPcie) + PCIE_DEVCAP, 4) & DEVCAP_FLR;
}

bool functionLevelReset(Platform &plat, const PciSlot &slot)
{
    if (!functionLevelResetSupported(plat, slot))
        return false;
    int nPcie = findCapability(plat, slot, CAP_ID_PCIE);
    uint32_t nDevCtl = cfgRead(plat, slot, uint32_t(nPcie) + PCIE_DEVCTL, 2);
    cfgWrite(plat, slot, uint32_t(nPcie) + PCIE_DEVCTL, nDevCtl | DEVCTL_FLR, 2);
    // A function must finish the reset within 100 ms; it may not answer
    // configuration requests until then.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return waitFunctionPresent(plat, slot, 1000);
}

} // namespace nvmehost
