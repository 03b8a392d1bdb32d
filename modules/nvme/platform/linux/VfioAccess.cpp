#include "VfioAccess.h"

#include "SysfsAccess.h"

#include <cerrno>
#include <cstring>
#include <linux/vfio.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace kxmplat::linuxplat {

std::unique_ptr<VfioAccess> VfioAccess::open(VfioContainer &container, const std::string &sGroup,
                                             const std::string &sAddress, const std::string &sVfToken,
                                             std::string *pErr)
{
    int nGroupFd = container.attachGroup(sGroup, pErr);
    if (nGroupFd < 0)
        return nullptr;
    std::unique_ptr<VfioAccess> p(new VfioAccess(container, sGroup));
    std::string sName = sVfToken.empty() ? sAddress : sAddress + " vf_token=" + sVfToken;
    p->nDeviceFd = ::ioctl(nGroupFd, VFIO_GROUP_GET_DEVICE_FD, sName.c_str());
    if (p->nDeviceFd < 0) {
        if (pErr)
            *pErr = "cannot open " + sAddress + " through VFIO: " + std::strerror(errno);
        return nullptr;
    }
    vfio_region_info cfg{};
    cfg.argsz = sizeof cfg;
    cfg.index = VFIO_PCI_CONFIG_REGION_INDEX;
    if (::ioctl(p->nDeviceFd, VFIO_DEVICE_GET_REGION_INFO, &cfg) != 0 || cfg.size == 0) {
        if (pErr)
            *pErr = "VFIO gives no configuration space for " + sAddress;
        return nullptr;
    }
    p->nConfigOffset = cfg.offset;
    p->nConfigSize = cfg.size;
    return p;
}

VfioAccess::~VfioAccess()
{
    bar.reset();
    if (nDeviceFd >= 0)
        ::close(nDeviceFd);
}

int VfioAccess::cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth)
{
    if (!validConfigAccess(nOffset, nWidth, size_t(nConfigSize)))
        return EINVAL;
    uint32_t n = 0;
    ssize_t r = ::pread(nDeviceFd, &n, size_t(nWidth), off_t(nConfigOffset + nOffset));
    if (r != nWidth)
        return r < 0 ? errno : EIO;
    *pValue = n;
    return 0;
}

int VfioAccess::cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth)
{
    if (!validConfigAccess(nOffset, nWidth, size_t(nConfigSize)))
        return EINVAL;
    ssize_t r = ::pwrite(nDeviceFd, &nValue, size_t(nWidth), off_t(nConfigOffset + nOffset));
    if (r != nWidth)
        return r < 0 ? errno : EIO;
    return 0;
}

bool VfioAccess::openBar0(std::string *pErr)
{
    if (bar.valid())
        return true;
    vfio_region_info r{};
    r.argsz = sizeof r;
    r.index = VFIO_PCI_BAR0_REGION_INDEX;
    if (::ioctl(nDeviceFd, VFIO_DEVICE_GET_REGION_INFO, &r) != 0 || r.size == 0) {
        if (pErr)
            *pErr = "the function has no BAR0";
        return false;
    }
    if (!(r.flags & VFIO_REGION_INFO_FLAG_READ) || !(r.flags & VFIO_REGION_INFO_FLAG_WRITE)) {
        if (pErr)
            *pErr = "VFIO does not allow reading and writing BAR0";
        return false;
    }
    // Where the whole region cannot be mapped (an interrupt table inside it,
    // say), every access goes through the device file instead.
    bar.attach(nDeviceFd, off_t(r.offset), size_t(r.size), (r.flags & VFIO_REGION_INFO_FLAG_MMAP) != 0);
    return true;
}

bool VfioAccess::setVfToken(const uint8_t *pUuid, std::string *pErr)
{
    uint8_t buf[sizeof(vfio_device_feature) + 16] = {};
    auto *pFeature = reinterpret_cast<vfio_device_feature *>(buf);
    pFeature->argsz = sizeof buf;
    pFeature->flags = VFIO_DEVICE_FEATURE_SET | VFIO_DEVICE_FEATURE_PCI_VF_TOKEN;
    std::memcpy(buf + sizeof(vfio_device_feature), pUuid, 16);
    if (::ioctl(nDeviceFd, VFIO_DEVICE_FEATURE, buf) == 0)
        return true;
    if (pErr)
        *pErr = std::string("cannot set the VFIO token for virtual functions: ") + std::strerror(errno);
    return false;
}

int VfioAccess::hotReset(std::string *pErr)
{
    std::vector<uint8_t> infoBuf(sizeof(vfio_pci_hot_reset_info));
    auto *pInfo = reinterpret_cast<vfio_pci_hot_reset_info *>(infoBuf.data());
    pInfo->argsz = uint32_t(infoBuf.size());
    if (::ioctl(nDeviceFd, VFIO_DEVICE_GET_PCI_HOT_RESET_INFO, pInfo) != 0 && errno != ENOSPC)
        return -1;      // no bus or slot reset for this function
    uint32_t nCount = pInfo->count;
    infoBuf.assign(sizeof(vfio_pci_hot_reset_info) + nCount * sizeof(vfio_pci_dependent_device), 0);
    pInfo = reinterpret_cast<vfio_pci_hot_reset_info *>(infoBuf.data());
    pInfo->argsz = uint32_t(infoBuf.size());
    if (::ioctl(nDeviceFd, VFIO_DEVICE_GET_PCI_HOT_RESET_INFO, pInfo) != 0)
        return -1;
    // Every group the reset touches must be ours.
    std::map<int, int> fds = container.groupFds();
    std::vector<int32_t> vGroupFds;
    for (uint32_t i = 0; i < pInfo->count; ++i) {
        auto it = fds.find(int(pInfo->devices[i].group_id));
        if (it == fds.end()) {
            if (pErr)
                *pErr = "hot reset: IOMMU group " + std::to_string(pInfo->devices[i].group_id) +
                        " shares the link and is not held by this process";
            return 0;
        }
        bool bHave = false;
        for (int32_t fd : vGroupFds)
            bHave = bHave || fd == it->second;
        if (!bHave)
            vGroupFds.push_back(it->second);
    }
    std::vector<uint8_t> resetBuf(sizeof(vfio_pci_hot_reset) + vGroupFds.size() * sizeof(int32_t));
    auto *pReset = reinterpret_cast<vfio_pci_hot_reset *>(resetBuf.data());
    pReset->argsz = uint32_t(resetBuf.size());
    pReset->count = uint32_t(vGroupFds.size());
    std::memcpy(resetBuf.data() + sizeof(vfio_pci_hot_reset), vGroupFds.data(), vGroupFds.size() * sizeof(int32_t));
    if (::ioctl(nDeviceFd, VFIO_DEVICE_PCI_HOT_RESET, pReset) == 0)
        return 1;
    if (pErr)
        *pErr = std::string("VFIO hot reset failed: ") + std::strerror(errno);
    return 0;
}

std::string VfioAccess::describe() const
{
    return container.noIommu() ? "vfio-pci without IOMMU (group noiommu-" + sGroup + ")"
                               : "vfio-pci (IOMMU group " + sGroup + ")";
}

} // namespace kxmplat::linuxplat
