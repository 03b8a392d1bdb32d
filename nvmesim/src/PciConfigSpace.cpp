#include "PciConfigSpace.h"

#include <cstring>

#include "nvmewire/Pci.h"

namespace nvmesim {

using namespace nvmewire::pci;

void PciConfigSpace::put16(uint32_t n, uint16_t v, uint16_t nMask) {
    put8(n, static_cast<uint8_t>(v), static_cast<uint8_t>(nMask));
    put8(n + 1, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(nMask >> 8));
}

void PciConfigSpace::put32(uint32_t n, uint32_t v, uint32_t nMask) {
    put16(n, static_cast<uint16_t>(v), static_cast<uint16_t>(nMask));
    put16(n + 2, static_cast<uint16_t>(v >> 16), static_cast<uint16_t>(nMask >> 16));
}

PciConfigSpace::PciConfigSpace(const PciIdentity &id) : m_id(id) {
    // Type 0 header.
    put16(CFG_VENDOR_ID, id.nVendorId);
    put16(CFG_DEVICE_ID, id.nDeviceId);
    put16(CFG_COMMAND, 0, 0x0547);        // I/O, memory, bus master, parity, SERR, INTx disable
    put16(CFG_STATUS, STATUS_CAP_LIST);
    put32(CFG_CLASS_REV, (CLASS_NVME << 8) | 0x01);   // revision 1
    put8(CFG_CACHE_LINE, 0, 0xFF);
    put8(CFG_HEADER_TYPE, 0x00);          // type 0, single function
    put32(CFG_BAR0, BAR_MEM_TYPE_64, static_cast<uint32_t>(~(id.nBarSize - 1)) & BAR_ADDR_MASK);
    put32(CFG_BAR1, 0, 0xFFFFFFFF);
    put16(CFG_SUBSYS_VENDOR_ID, id.nSubsysVendorId);
    put16(CFG_SUBSYS_ID, id.nSubsysId);
    put8(CFG_CAP_PTR, kPmCap);
    put8(CFG_INT_LINE, 0, 0xFF);
    put8(CFG_INT_PIN, 1);                 // INTA

    // Power management: version 3, D0/D3hot; PMCSR power state writable,
    // No_Soft_Reset set (D3hot -> D0 keeps the function's state).
    put8(kPmCap + CAP_ID, CAP_ID_PM);
    put8(kPmCap + CAP_NEXT, kMsixCap);
    put16(kPmCap + PM_PMC, 0x0003);
    put16(kPmCap + PM_PMCSR, 0x0008, PMCSR_STATE_MASK);

    // MSI-X: table and pending-bit array in BAR0.
    put8(kMsixCap + CAP_ID, CAP_ID_MSIX);
    put8(kMsixCap + CAP_NEXT, kPcieCap);
    put16(kMsixCap + MSIX_CTRL, static_cast<uint16_t>((id.nMsixVectors - 1) & MSIX_CTRL_SIZE_MASK),
          MSIX_CTRL_ENABLE | MSIX_CTRL_MASK_ALL);
    put32(kMsixCap + MSIX_TABLE, id.nMsixTableOffset);
    put32(kMsixCap + MSIX_PBA, id.nMsixPbaOffset);

    // PCI Express, version 2 endpoint.
    put8(kPcieCap + CAP_ID, CAP_ID_PCIE);
    put8(kPcieCap + CAP_NEXT, 0x00);
    put16(kPcieCap + PCIE_CAPS, 0x0002);
    put32(kPcieCap + PCIE_DEVCAP, DEVCAP_FLR | 0x1);   // FLR, 256-byte payload
    put16(kPcieCap + PCIE_DEVCTL, 0x2810, 0x7FFF);    // bit 15 (FLR) handled on write
    put16(kPcieCap + PCIE_DEVSTA, 0x0000);
    put32(kPcieCap + PCIE_LNKCAP, 0x00000043);        // 8 GT/s x4
    put16(kPcieCap + PCIE_LNKCTL, 0x0000, 0x0FCB);
    put16(kPcieCap + PCIE_LNKSTA, 0x0043);
    put32(kPcieCap + PCIE_DEVCAP2, 0x0000001F);
    put16(kPcieCap + PCIE_DEVCTL2, 0x0000, 0x061F);
    put32(kPcieCap + PCIE_LNKCAP2, 0x0000000E);
    put16(kPcieCap + PCIE_LNKCTL2, 0x0003, 0x000F);
    if (id.bVirtual) {
        // A virtual function: its ids are in the physical function, its
        // memory decoding is the physical function's VF MSE, it has no
        // BARs of its own and no INTx.
        put16(CFG_VENDOR_ID, 0xFFFF);
        put16(CFG_DEVICE_ID, 0xFFFF);
        put16(CFG_COMMAND, 0, CMD_BUS_MASTER);
        put32(CFG_BAR0, 0);
        put32(CFG_BAR1, 0);
        put8(CFG_INT_PIN, 0);
        put8(CFG_INT_LINE, 0);
    }
    if (id.nTotalVfs) {
        // SR-IOV, version 1: VF Enable, VF MSE and ARI Capable Hierarchy
        // writable; NumVFs writable while VF Enable is off (see write()).
        put32(kSriovCap, EXT_CAP_ID_SRIOV | (1u << 16));
        put32(kSriovCap + SRIOV_CAP, 0);
        put16(kSriovCap + SRIOV_CTRL, 0, SRIOV_CTRL_VFE | SRIOV_CTRL_MSE | 0x10);
        put16(kSriovCap + SRIOV_INITIAL_VFS, id.nInitialVfs);
        put16(kSriovCap + SRIOV_TOTAL_VFS, id.nTotalVfs);
        put16(kSriovCap + SRIOV_NUM_VFS, 0, 0xFFFF);
        put16(kSriovCap + SRIOV_VF_OFFSET, id.nVfOffset);
        put16(kSriovCap + SRIOV_VF_STRIDE, id.nVfStride);
        put16(kSriovCap + SRIOV_VF_DID, id.nVfDeviceId);
        put32(kSriovCap + 0x1C, 0x00000553);          // supported page sizes 4K..
        put32(kSriovCap + 0x20, 0x00000001, 0xFFFFFFFF);   // system page size 4 KiB
        put32(kSriovCap + SRIOV_VF_BAR0, BAR_MEM_TYPE_64,
              static_cast<uint32_t>(~(id.nVfBarSize - 1)) & BAR_ADDR_MASK);
        put32(kSriovCap + SRIOV_VF_BAR0 + 4, 0, 0xFFFFFFFF);
    }
    powerOn();
}

void PciConfigSpace::reset() { m_data = m_def; }

void PciConfigSpace::powerOn() {
    reset();
    auto assign = [&](uint32_t nAt, uint64_t nAddr) {
        m_data[nAt] = static_cast<uint8_t>(nAddr | BAR_MEM_TYPE_64);
        for (int i = 1; i < 8; ++i)
            m_data[nAt + i] = static_cast<uint8_t>(nAddr >> (8 * i));
    };
    if (!m_id.bVirtual)
        assign(CFG_BAR0, m_id.nBarAddress);
    if (m_id.nTotalVfs)
        assign(kSriovCap + SRIOV_VF_BAR0, m_id.nVfBarAddress);
}

bool PciConfigSpace::read(uint32_t nOffset, int nWidth, uint32_t *pValue) const {
    if ((nWidth != 1 && nWidth != 2 && nWidth != 4) || nOffset % nWidth || nOffset + nWidth > kSize)
        return false;
    uint32_t v = 0;
    for (int i = nWidth - 1; i >= 0; --i)
        v = (v << 8) | m_data[nOffset + i];
    *pValue = v;
    return true;
}

bool PciConfigSpace::write(uint32_t nOffset, int nWidth, uint32_t nValue, Effect *pEffect) {
    *pEffect = Effect::None;
    if ((nWidth != 1 && nWidth != 2 && nWidth != 4) || nOffset % nWidth || nOffset + nWidth > kSize)
        return false;
    const uint8_t nOldPm = m_data[kPmCap + PM_PMCSR];
    const bool bVfeBefore = vfEnabled();
    bool bFlr = false, bSriov = false;
    for (int i = 0; i < nWidth; ++i) {
        const uint32_t n = nOffset + i;
        const uint8_t b = static_cast<uint8_t>(nValue >> (8 * i));
        if (n == kPcieCap + PCIE_DEVCTL + 1 && (b & (DEVCTL_FLR >> 8)))
            bFlr = true;   // Initiate Function Level Reset; always reads 0
        if (m_id.nTotalVfs && n >= kSriovCap + SRIOV_CTRL && n < kSriovCap + SRIOV_NUM_VFS + 2) {
            if (n >= kSriovCap + SRIOV_NUM_VFS && bVfeBefore)
                continue;   // NumVFs is fixed while VF Enable is set
            bSriov = true;
        }
        m_data[n] = static_cast<uint8_t>((m_data[n] & ~m_mask[n]) | (b & m_mask[n]));
    }
    if (bSriov)
        *pEffect = Effect::SriovControl;
    // Only D0 and D3hot exist: a write of D1 or D2 leaves the state as it was.
    const uint8_t nPs = m_data[kPmCap + PM_PMCSR] & PMCSR_STATE_MASK;
    if (nPs == 1 || nPs == 2)
        m_data[kPmCap + PM_PMCSR] =
            static_cast<uint8_t>((m_data[kPmCap + PM_PMCSR] & ~PMCSR_STATE_MASK) | (nOldPm & PMCSR_STATE_MASK));
    if (bFlr) {
        reset();
        *pEffect = Effect::FunctionReset;
    }
    return true;
}

} // namespace nvmesim
