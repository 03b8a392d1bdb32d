#include "DeviceSelection.h"

#include "PciAddress.h"
#include "nvmewire/Pci.h"

namespace kxmplat::linuxplat {

bool isNvmeClass(uint32_t nClass24)
{
    return nClass24 == nvmewire::pci::CLASS_NVME || nClass24 == nvmewire::pci::CLASS_NVME_ADMIN;
}

Route routeForDriver(const std::string &sDriver)
{
    if (sDriver.empty() || sDriver == "uio_pci_generic")
        return Route::Sysfs;
    if (sDriver == "vfio-pci")
        return Route::Vfio;
    return Route::None;
}

bool DeviceFilter::parse(const std::string &sList, DeviceFilter *pOut, std::string *pErr)
{
    DeviceFilter f;
    f.bRestricted = true;
    size_t nPos = 0;
    while (nPos <= sList.size()) {
        size_t nComma = sList.find(',', nPos);
        if (nComma == std::string::npos)
            nComma = sList.size();
        std::string sItem = sList.substr(nPos, nComma - nPos);
        size_t b = sItem.find_first_not_of(" \t");
        size_t e = sItem.find_last_not_of(" \t");
        sItem = b == std::string::npos ? "" : sItem.substr(b, e - b + 1);
        if (!sItem.empty()) {
            PciSlot slot;
            if (!parsePciAddress(sItem, &slot)) {
                if (pErr)
                    *pErr = "KXM_NVME_DEVICES: '" + sItem +
                            "' is not a PCI address (expected dddd:bb:dd.f or bb:dd.f)";
                return false;
            }
            f.addresses.insert(formatPciAddress(slot));
        }
        nPos = nComma + 1;
    }
    *pOut = std::move(f);
    return true;
}

bool DeviceFilter::allows(const std::string &sAddress) const
{
    return !bRestricted || addresses.count(sAddress) != 0;
}

std::string refusalReason(const SysfsFunction &f, const DeviceFilter &filter)
{
    if (!isNvmeClass(f.nClass))
        return "not an NVMe function";
    if (routeForDriver(f.sDriver) == Route::None)
        return "bound to the kernel driver '" + f.sDriver + "'";
    if (!filter.allows(f.sAddress))
        return "not named in KXM_NVME_DEVICES";
    return "";
}

std::vector<SysfsFunction> selectFunctions(const std::vector<SysfsFunction> &all, const DeviceFilter &filter)
{
    std::vector<SysfsFunction> v;
    for (const SysfsFunction &f : all) {
        if (refusalReason(f, filter).empty())
            v.push_back(f);
    }
    return v;
}

} // namespace kxmplat::linuxplat
