// The "linux" platform backend: real PCIe NVMe controllers reached from
// user space. A function bound to vfio-pci is reached through VFIO (DMA
// through the IOMMU at bus addresses the backend assigns); an unbound one,
// or one bound to uio_pci_generic, through its sysfs files, with DMA
// buffers in locked hugepages at their physical addresses (root only).
// Functions bound to any other kernel driver are never touched.
//
// Environment: KXM_NVME_DEVICES (comma-separated PCI addresses: only these
// are offered), KXM_NVME_SYSFS_ROOT (where sysfs is mounted, "/sys" when
// unset; tests point it at a tree of their own), KXM_NVME_SLOT_POWER ("1":
// slotPower() may switch the hotplug power of a device's slot; otherwise it
// answers "not supported", as a test rig may switch power by other means).
#pragma once
#include "Platform.h"

#include <memory>
#include <string>

namespace kxmplat {

struct LinuxPlatformOptions {
    std::string sSysfsRoot = "/sys";
    std::string sVfioDir = "/dev/vfio";
    std::string sPagemap = "/proc/self/pagemap";
    bool bDeviceList = false;       // sDeviceList restricts the functions offered
    std::string sDeviceList;
    bool bSlotPower = false;        // slotPower() switches hotplug slot power

    // Options from the environment variables above.
    static LinuxPlatformOptions fromEnvironment();
};

// From the environment; null and a reason on failure.
std::unique_ptr<Platform> makeLinuxPlatform(std::string *pErr);
std::unique_ptr<Platform> makeLinuxPlatform(const LinuxPlatformOptions &opts, std::string *pErr);

// The reason the last operation of a linux platform failed ("" if none or
// not a linux platform). Failures are also written to standard error.
std::string linuxPlatformLastError(Platform *pPlat);

} // namespace kxmplat
