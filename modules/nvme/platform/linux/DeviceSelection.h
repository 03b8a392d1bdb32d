// Which PCI functions the backend may touch. A function bound to a kernel
// driver (nvme above all: it may hold the system's disks) is never offered;
// only NVMe functions that are unbound or bound to vfio-pci or
// uio_pci_generic are, and when a device list is given (KXM_NVME_DEVICES,
// comma-separated PCI addresses) only those named in it.
#pragma once
#include "SysfsPci.h"

#include <set>
#include <string>
#include <vector>

namespace kxmplat::linuxplat {

// How a function is reached.
enum class Route {
    None,       // not ours to touch
    Vfio,       // bound to vfio-pci: configuration and BAR0 through VFIO
    Sysfs,      // unbound or uio_pci_generic: sysfs config and resource0
};

// Class codes of NVMe functions: 01 08 02 (NVM Express I/O controller)
// and 01 08 03 (administrative controller).
bool isNvmeClass(uint32_t nClass24);

// The route a function's driver allows; Route::None for every other
// driver.
Route routeForDriver(const std::string &sDriver);

class DeviceFilter {
public:
    // Everything allowed.
    DeviceFilter() = default;
    // Parses a KXM_NVME_DEVICES value. An empty or blank list names no
    // function at all. False and a message naming the bad entry on error.
    static bool parse(const std::string &sList, DeviceFilter *pOut, std::string *pErr);

    bool restricted() const { return bRestricted; }
    bool allows(const std::string &sAddress) const;

private:
    bool bRestricted = false;
    std::set<std::string> addresses;
};

// Why a function is not offered, for diagnostics ("" when it is).
std::string refusalReason(const SysfsFunction &f, const DeviceFilter &filter);

// The functions the backend offers, in bus order.
std::vector<SysfsFunction> selectFunctions(const std::vector<SysfsFunction> &all, const DeviceFilter &filter);

} // namespace kxmplat::linuxplat
