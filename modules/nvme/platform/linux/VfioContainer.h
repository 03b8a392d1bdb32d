// A VFIO container: the IOMMU domain the backend's vfio-pci functions share,
// the groups attached to it, and the DMA buffers mapped into it at bus
// addresses the backend assigns. A container for groups without an IOMMU
// (the kernel's unsafe no-IOMMU mode) maps nothing: its functions use
// physical memory like the sysfs route.
#pragma once
#include "IovaRanges.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kxmplat::linuxplat {

class VfioContainer {
public:
    VfioContainer(std::string sVfioDir, bool bNoIommu);
    ~VfioContainer();
    VfioContainer(const VfioContainer &) = delete;
    VfioContainer &operator=(const VfioContainer &) = delete;

    bool noIommu() const { return bNoIommuMode; }

    // Attaches the group (by number) if it is not yet, and returns its fd;
    // -1 and a reason on failure.
    int attachGroup(const std::string &sGroup, std::string *pErr);
    // Every attached group's fd (for a hot reset).
    std::map<int, int> groupFds() const;

    // Anonymous memory mapped for the device at a fresh bus address.
    bool mapBuffer(size_t nSize, void **ppHost, uint64_t *pBus, std::string *pErr);
    void unmapBuffer(void *pHost, uint64_t nBus, size_t nSize);

private:
    bool openContainer(std::string *pErr);

    std::string sDir;
    bool bNoIommuMode;
    mutable std::mutex mtx;
    int nContainerFd = -1;
    bool bIommuSet = false;
    std::map<int, int> groups;      // group number -> fd
    IovaRanges iova;
};

} // namespace kxmplat::linuxplat
