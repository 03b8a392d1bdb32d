// Configuration-space work on one PCI function: finding NVMe functions,
// walking capability lists, preparing a function for use, resetting it.
#pragma once
#include "Platform.h"
#include "nvmewire/Pci.h"

#include <cstdint>
#include <vector>

namespace nvmehost {

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

// True once the function answers configuration reads again (class dword not
// all ones; a virtual function's ids always are), waiting at most nTimeoutMs.
bool waitFunctionPresent(kxmplat::Platform &plat, const kxmplat::PciSlot &slot, int nTimeoutMs);

// Function-level reset through Device Control bit 15 when the device
// offers it (Device Capabilities bit 28). Returns false when it does not.
bool functionLevelResetSupported(kxmplat::Platform &plat, const kxmplat::PciSlot &slot);
bool functionLevelReset(kxmplat::Platform &plat, const kxmplat::PciSlot &slot);

} // namespace nvmehost
