// Configuration-space work on one PCI function: finding NVMe functions,
// walking capability lists, preparing a function for use, resetting it.
#pragma once
#include "Platform.h"

#include <cstdint>
#include <vector>

namespace nvmehost {

constexpr uint32_t NVME_CLASS_DWORD = 0x01080200;  // class dword 8 without the revision

enum : uint32_t {
    CFG_VENDOR_ID = 0x00,
    CFG_COMMAND = 0x04,
    CFG_CLASS = 0x08,
    CFG_BAR0 = 0x10,
    CFG_CAP_PTR = 0x34,
    CMD_MEMORY_SPACE = 1u << 1,
    CMD_BUS_MASTER = 1u << 2,
    CAP_ID_PM = 0x01,
    CAP_ID_PCIE = 0x10,
    CAP_ID_MSIX = 0x11,
};

uint32_t cfgRead(kxmplat::Platform &plat, const kxmplat::PciSlot &slot, uint32_t nOffset, int nWidth);
void cfgWrite(kxmplat::Platform &plat, const kxmplat::PciSlot &slot, uint32_t nOffset, uint32_t nValue,
              int nWidth);

// Every function whose class dword (revision masked) says NVMe, bus order.
std::vector<kxmplat::PciFunctionInfo> findNvmeFunctions(kxmplat::Platform &plat);

// Offset of a standard / extended capability, or -1. Both walks are bounded
// so that a looping list cannot hang the caller.
int findCapability(kxmplat::Platform &plat, const kxmplat::PciSlot &slot, uint8_t nId);
int findExtCapability(kxmplat::Platform &plat, const kxmplat::PciSlot &slot, uint16_t nId);

// Power state D0 (PMCSR = 0x0008), memory space and bus master enabled.
bool pcieInitialise(kxmplat::Platform &plat, const kxmplat::PciSlot &slot);

// True once the function answers configuration reads again (vendor id not
// all ones), waiting at most nTimeoutMs.
bool waitFunctionPresent(kxmplat::Platform &plat, const kxmplat::PciSlot &slot, int nTimeoutMs);

// Function-level reset through Device Control bit 15 when the device
// offers it (Device Capabilities bit 28). Returns false when it does not.
bool functionLevelResetSupported(kxmplat::Platform &plat, const kxmplat::PciSlot &slot);
bool functionLevelReset(kxmplat::Platform &plat, const kxmplat::PciSlot &slot);

} // namespace nvmehost
