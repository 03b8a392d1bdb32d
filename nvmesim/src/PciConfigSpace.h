// The 4 KiB configuration space of one PCI function: a type 0 header with
// the NVMe class code and a 64-bit BAR0, and a capability list of power
// management, MSI-X and PCI Express. Writes go through per-byte write
// masks, so read-only fields stay as they are. Not thread-safe by itself:
// the owning controller serialises access.
#pragma once
#include <array>
#include <cstdint>

#include "nvmewire/Pci.h"

namespace nvmesim {

struct PciIdentity {
    uint16_t nVendorId;
    uint16_t nDeviceId;
    uint16_t nSubsysVendorId;
    uint16_t nSubsysId;
    uint64_t nBarSize;        // power of two >= 16 KiB
    uint64_t nBarAddress;     // what the firmware assigned at power-on
    uint16_t nMsixVectors;
    uint32_t nMsixTableOffset;
    uint32_t nMsixPbaOffset;
    // A virtual function: vendor and device id read FFFFh, BARs read 0 (the
    // physical function's SR-IOV capability holds the VF BAR), memory
    // decoding follows the physical function's VF MSE bit.
    bool bVirtual = false;
    // The SR-IOV extended capability of a physical function (TotalVFs 0:
    // none).
    uint16_t nTotalVfs = 0;
    uint16_t nInitialVfs = 0;
    uint16_t nVfOffset = 0;
    uint16_t nVfStride = 0;
    uint16_t nVfDeviceId = 0;
    uint64_t nVfBarSize = 0;
    uint64_t nVfBarAddress = 0;
};

class PciConfigSpace {
public:
    static constexpr uint32_t kSize = nvmewire::pci::CFG_SIZE;
    static constexpr uint32_t kPmCap = 0x40;
    static constexpr uint32_t kMsixCap = 0x50;
    static constexpr uint32_t kPcieCap = 0x60;
    static constexpr uint32_t kSriovCap = nvmewire::pci::EXT_CAP_BASE;

    // FunctionReset: an FLR was initiated. SriovControl: the SR-IOV control
    // or NumVFs was written (the caller looks at the VF state).
    enum class Effect { None, FunctionReset, SriovControl };

    explicit PciConfigSpace(const PciIdentity &id);

    // nWidth 1, 2 or 4, naturally aligned, inside the 4 KiB; else false.
    bool read(uint32_t nOffset, int nWidth, uint32_t *pValue) const;
    bool write(uint32_t nOffset, int nWidth, uint32_t nValue, Effect *pEffect);

    // Power-on state (also what a function-level or conventional reset
    // gives): BAR0 unassigned, decoding off.
    void reset();
    // Power-on state as the firmware leaves it: BAR0 assigned.
    void powerOn();

    bool memoryEnabled() const { return (cmd() & nvmewire::pci::CMD_MEMORY) && powerState() == 0; }
    bool busMaster() const { return (cmd() & nvmewire::pci::CMD_BUS_MASTER) && powerState() == 0; }
    // SR-IOV state of a physical function: VF Enable, VF MSE, NumVFs.
    bool vfEnabled() const { return sriovCtrl() & nvmewire::pci::SRIOV_CTRL_VFE; }
    bool vfMemoryEnabled() const { return sriovCtrl() & nvmewire::pci::SRIOV_CTRL_MSE; }
    uint16_t numVfs() const { return get16(kSriovCap + nvmewire::pci::SRIOV_NUM_VFS); }
    bool hasSriov() const { return m_id.nTotalVfs != 0; }

    uint8_t powerState() const { return m_data[kPmCap + nvmewire::pci::PM_PMCSR] & nvmewire::pci::PMCSR_STATE_MASK; }

private:
    uint16_t get16(uint32_t n) const { return static_cast<uint16_t>(m_data[n] | (m_data[n + 1] << 8)); }
    uint16_t sriovCtrl() const { return m_id.nTotalVfs ? get16(kSriovCap + nvmewire::pci::SRIOV_CTRL) : 0; }
    uint16_t cmd() const
    {
        return static_cast<uint16_t>(m_data[nvmewire::pci::CFG_COMMAND] | (m_data[nvmewire::pci::CFG_COMMAND + 1] << 8));
    }
    void put8(uint32_t n, uint8_t v, uint8_t nMask = 0) { m_def[n] = v; m_mask[n] = nMask; }
    void put16(uint32_t n, uint16_t v, uint16_t nMask = 0);
    void put32(uint32_t n, uint32_t v, uint32_t nMask = 0);

    PciIdentity m_id;
    std::array<uint8_t, kSize> m_data{};
    std::array<uint8_t, kSize> m_def{};
    std::array<uint8_t, kSize> m_mask{};
};

} // namespace nvmesim
