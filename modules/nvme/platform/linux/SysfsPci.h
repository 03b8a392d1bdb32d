// Reading the PCI device tree under sysfs: the functions, their ids, class,
// bound driver, IOMMU group and SR-IOV files. The root is a parameter so
// that tests can point it at a tree of their own.
#pragma once
#include "Platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kxmplat::linuxplat {

struct SysfsFunction {
    PciSlot slot;
    std::string sAddress;       // "dddd:bb:dd.f"
    uint32_t nVendorId = 0;
    uint32_t nDeviceId = 0;
    uint32_t nClass = 0;        // 24 bits: base class, sub-class, programming interface
    std::string sDriver;        // empty: no driver bound
};

class SysfsPci {
public:
    // sRoot is the sysfs mount point ("/sys" on a live system).
    explicit SysfsPci(std::string sRoot);

    const std::string &root() const { return sRootDir; }
    // <root>/bus/pci/devices/<address>
    std::string functionDir(const std::string &sAddress) const;

    // Every function in the tree, in bus order. Entries whose name or ids
    // cannot be read are left out.
    std::vector<SysfsFunction> scan() const;
    // One function; nullopt when it is not there.
    std::optional<SysfsFunction> read(const std::string &sAddress) const;

    // Name of the driver bound to the function ("" for none).
    std::string driverOf(const std::string &sAddress) const;
    // IOMMU group number as text ("" when the function has none).
    std::string iommuGroupOf(const std::string &sAddress) const;

    // A small file of the function's folder, trimmed; nullopt if unreadable.
    std::optional<std::string> readAttr(const std::string &sAddress, const char *szName) const;
    // Writes text to a file of the function's folder; 0 or an errno value.
    int writeAttr(const std::string &sAddress, const char *szName, const std::string &sValue) const;
    // An attribute holding a number (decimal or 0x hex); nullopt if absent.
    std::optional<uint64_t> readNumber(const std::string &sAddress, const char *szName) const;

    // The hotplug power file (<root>/bus/pci/slots/<name>/power) of the
    // slot whose address ("dddd:bb:dd") holds the function; "" when no
    // slot with power control holds it.
    std::string slotPowerFile(const std::string &sAddress) const;
    // Writes text to a file given by its full path; 0 or an errno value.
    static int writeFile(const std::string &sPath, const std::string &sValue);

    // Addresses of the virtual functions behind a physical one, from its
    // virtfnN links, in index order.
    std::vector<std::string> virtualFunctions(const std::string &sAddress) const;

private:
    std::string linkTarget(const std::string &sPath) const;

    std::string sRootDir;
};

// Reads the text of a small file; nullopt when it cannot be read.
std::optional<std::string> readSmallFile(const std::string &sPath);

} // namespace kxmplat::linuxplat
