// PCI configuration space of an NVMe function: header offsets, the
// capabilities an NVMe host walks (power management, PCI Express, MSI-X)
// and the SR-IOV extended capability.
#pragma once
#include <cstdint>

namespace nvmewire::pci {

// Type 0 header.
constexpr uint32_t CFG_VENDOR_ID = 0x00;
constexpr uint32_t CFG_DEVICE_ID = 0x02;
constexpr uint32_t CFG_COMMAND = 0x04;
constexpr uint32_t CFG_STATUS = 0x06;
constexpr uint32_t CFG_CLASS_REV = 0x08;     // revision in bits 7:0, class code in 31:8
constexpr uint32_t CFG_CACHE_LINE = 0x0C;
constexpr uint32_t CFG_HEADER_TYPE = 0x0E;
constexpr uint32_t CFG_BAR0 = 0x10;
constexpr uint32_t CFG_BAR1 = 0x14;
constexpr uint32_t CFG_SUBSYS_VENDOR_ID = 0x2C;
constexpr uint32_t CFG_SUBSYS_ID = 0x2E;
constexpr uint32_t CFG_CAP_PTR = 0x34;
constexpr uint32_t CFG_INT_LINE = 0x3C;
constexpr uint32_t CFG_INT_PIN = 0x3D;
constexpr uint32_t CFG_SIZE = 0x1000;

// Command register bits.
constexpr uint32_t CMD_MEMORY = 0x2;
constexpr uint32_t CMD_BUS_MASTER = 0x4;
constexpr uint32_t CMD_INTX_DISABLE = 0x400;

// Status register: a capability list is present.
constexpr uint32_t STATUS_CAP_LIST = 0x10;

// BAR0 low bits: memory space, 64-bit.
constexpr uint32_t BAR_MEM_TYPE_64 = 0x4;
constexpr uint32_t BAR_ADDR_MASK = 0xFFFFFFF0;

// Capability list: each entry starts with its id and the next pointer.
constexpr uint32_t CAP_ID = 0x00;
constexpr uint32_t CAP_NEXT = 0x01;
constexpr uint32_t CAP_ID_PM = 0x01;
constexpr uint32_t CAP_ID_MSI = 0x05;
constexpr uint32_t CAP_ID_PCIE = 0x10;
constexpr uint32_t CAP_ID_MSIX = 0x11;

// Power management capability: PMCSR and its power state field.
constexpr uint32_t PM_PMC = 0x02;
constexpr uint32_t PM_PMCSR = 0x04;
constexpr uint32_t PMCSR_STATE_MASK = 0x3;
constexpr uint32_t PMCSR_D0 = 0x0;
constexpr uint32_t PMCSR_D3HOT = 0x3;

// MSI-X capability.
constexpr uint32_t MSIX_CTRL = 0x02;        // table size - 1 in bits 10:0
constexpr uint32_t MSIX_TABLE = 0x04;       // BIR in bits 2:0, offset above
constexpr uint32_t MSIX_PBA = 0x08;
constexpr uint32_t MSIX_CTRL_ENABLE = 0x8000;
constexpr uint32_t MSIX_CTRL_MASK_ALL = 0x4000;
constexpr uint32_t MSIX_CTRL_SIZE_MASK = 0x7FF;

// PCI Express capability.
constexpr uint32_t PCIE_CAPS = 0x02;
constexpr uint32_t PCIE_DEVCAP = 0x04;
constexpr uint32_t PCIE_DEVCTL = 0x08;
constexpr uint32_t PCIE_DEVSTA = 0x0A;
constexpr uint32_t PCIE_LNKCAP = 0x0C;
constexpr uint32_t PCIE_LNKCTL = 0x10;
constexpr uint32_t PCIE_LNKSTA = 0x12;
constexpr uint32_t PCIE_DEVCAP2 = 0x24;
constexpr uint32_t PCIE_DEVCTL2 = 0x28;
constexpr uint32_t PCIE_LNKCAP2 = 0x2C;
constexpr uint32_t PCIE_LNKCTL2 = 0x30;
constexpr uint32_t DEVCAP_FLR = 1u << 28;
constexpr uint32_t DEVCTL_FLR = 1u << 15;

// Extended capabilities: a 32-bit header with the id in bits 15:0, the
// version in 19:16 and the next offset in 31:20.
constexpr uint32_t EXT_CAP_BASE = 0x100;
constexpr uint32_t EXT_CAP_ID_SRIOV = 0x0010;
constexpr uint32_t extCapId(uint32_t nHeader) { return nHeader & 0xFFFF; }
constexpr uint32_t extCapVersion(uint32_t nHeader) { return (nHeader >> 16) & 0xF; }
constexpr uint32_t extCapNext(uint32_t nHeader) { return (nHeader >> 20) & 0xFFC; }

// SR-IOV extended capability (offsets from its header).
constexpr uint32_t SRIOV_CAP = 0x04;
constexpr uint32_t SRIOV_CTRL = 0x08;
constexpr uint32_t SRIOV_STATUS = 0x0A;
constexpr uint32_t SRIOV_INITIAL_VFS = 0x0C;
constexpr uint32_t SRIOV_TOTAL_VFS = 0x0E;
constexpr uint32_t SRIOV_NUM_VFS = 0x10;
constexpr uint32_t SRIOV_VF_OFFSET = 0x14;
constexpr uint32_t SRIOV_VF_STRIDE = 0x16;
constexpr uint32_t SRIOV_VF_DID = 0x1A;
constexpr uint32_t SRIOV_VF_BAR0 = 0x24;
constexpr uint32_t SRIOV_CTRL_VFE = 0x1;     // VF enable
constexpr uint32_t SRIOV_CTRL_MSE = 0x8;     // VF memory space enable

// Class code of an NVM Express controller (mass storage, non-volatile
// memory, NVMe programming interface).
constexpr uint32_t CLASS_NVME = 0x010802;
// Same class, NVMe administrative controller interface.
constexpr uint32_t CLASS_NVME_ADMIN = 0x010803;
constexpr uint32_t classCode(uint32_t nClassRev) { return nClassRev >> 8; }

} // namespace nvmewire::pci
