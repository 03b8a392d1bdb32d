#include "VfioContainer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/vfio.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kxmplat::linuxplat {

namespace {

// Bus addresses start above 4 GiB: clear of the interrupt window below it
// and well inside the 39-bit space of the smallest IOMMUs.
constexpr uint64_t IOVA_BASE = 1ull << 32;
constexpr uint64_t IOVA_SIZE = 64ull << 30;
constexpr uint64_t IOVA_GRANULE = 4096;

std::string errnoText(const char *szWhat)
{
    return std::string(szWhat) + ": " + std::strerror(errno);
}

} // namespace

VfioContainer::VfioContainer(std::string sVfioDir, bool bNoIommu)
    : sDir(std::move(sVfioDir)), bNoIommuMode(bNoIommu), iova(IOVA_BASE, IOVA_SIZE, IOVA_GRANULE)
{
}

VfioContainer::~VfioContainer()
{
    for (auto &g : groups) {
        ::ioctl(g.second, VFIO_GROUP_UNSET_CONTAINER);
        ::close(g.second);
    }
    if (nContainerFd >= 0)
        ::close(nContainerFd);
}

bool VfioContainer::openContainer(std::string *pErr)
{
    if (nContainerFd >= 0)
        return true;
    std::string sPath = sDir + "/vfio";
    int fd = ::open(sPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (pErr)
            *pErr = errnoText(("cannot open " + sPath).c_str());
        return false;
    }
    if (::ioctl(fd, VFIO_GET_API_VERSION) != VFIO_API_VERSION) {
        if (pErr)
            *pErr = "unknown VFIO API version";
        ::close(fd);
        return false;
    }
    nContainerFd = fd;
    return true;
}

int VfioContainer::attachGroup(const std::string &sGroup, std::string *pErr)
{
    std::lock_guard<std::mutex> lock(mtx);
    int nGroup = std::atoi(sGroup.c_str());
    if (auto it = groups.find(nGroup); it != groups.end())
        return it->second;
    if (!openContainer(pErr))
        return -1;
    std::string sPath = sDir + "/" + (bNoIommuMode ? "noiommu-" : "") + sGroup;
    int fd = ::open(sPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (pErr)
            *pErr = errnoText(("cannot open VFIO group " + sPath).c_str());
        return -1;
    }
    vfio_group_status status{};
    status.argsz = sizeof status;
    if (::ioctl(fd, VFIO_GROUP_GET_STATUS, &status) != 0 || !(status.flags & VFIO_GROUP_FLAGS_VIABLE)) {
        if (pErr)
            *pErr = "VFIO group " + sGroup +
                    " is not viable: every function in the group must be bound to vfio-pci or unbound";
        ::close(fd);
        return -1;
    }
    if (::ioctl(fd, VFIO_GROUP_SET_CONTAINER, &nContainerFd) != 0) {
        if (pErr)
            *pErr = errnoText(("cannot attach VFIO group " + sGroup).c_str());
        ::close(fd);
        return -1;
    }
    if (!bIommuSet) {
        unsigned long nType;
        if (bNoIommuMode)
            nType = VFIO_NOIOMMU_IOMMU;
        else if (::ioctl(nContainerFd, VFIO_CHECK_EXTENSION, VFIO_TYPE1v2_IOMMU) == 1)
            nType = VFIO_TYPE1v2_IOMMU;
        else
            nType = VFIO_TYPE1_IOMMU;
        if (::ioctl(nContainerFd, VFIO_SET_IOMMU, nType) != 0) {
            if (pErr)
                *pErr = errnoText("cannot set the VFIO IOMMU type");
            ::ioctl(fd, VFIO_GROUP_UNSET_CONTAINER);
            ::close(fd);
            return -1;
        }
        bIommuSet = true;
    }
    groups[nGroup] = fd;
    return fd;
}

std::map<int, int> VfioContainer::groupFds() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return groups;
}

bool VfioContainer::mapBuffer(size_t nSize, void **ppHost, uint64_t *pBus, std::string *pErr)
{
    if (bNoIommuMode) {
        if (pErr)
            *pErr = "a VFIO group without IOMMU cannot map DMA memory";
        return false;
    }
    size_t nMap = (nSize + IOVA_GRANULE - 1) & ~size_t(IOVA_GRANULE - 1);
    void *p = ::mmap(nullptr, nMap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) {
        if (pErr)
            *pErr = errnoText("cannot allocate DMA memory");
        return false;
    }
    std::lock_guard<std::mutex> lock(mtx);
    uint64_t nBus = iova.allocate(nMap);
    if (nBus == 0) {
        ::munmap(p, nMap);
        if (pErr)
            *pErr = "the DMA address window is exhausted";
        return false;
    }
    vfio_iommu_type1_dma_map m{};
    m.argsz = sizeof m;
    m.flags = VFIO_DMA_MAP_FLAG_READ | VFIO_DMA_MAP_FLAG_WRITE;
    m.vaddr = reinterpret_cast<uint64_t>(p);
    m.iova = nBus;
    m.size = nMap;
    if (::ioctl(nContainerFd, VFIO_IOMMU_MAP_DMA, &m) != 0) {
        if (pErr)
            *pErr = errnoText("cannot map DMA memory into the IOMMU");
        iova.release(nBus);
        ::munmap(p, nMap);
        return false;
    }
    *ppHost = p;
    *pBus = nBus;
    return true;
}

void VfioContainer::unmapBuffer(void *pHost, uint64_t nBus, size_t nSize)
{
    size_t nMap = (nSize + IOVA_GRANULE - 1) & ~size_t(IOVA_GRANULE - 1);
    {
        std::lock_guard<std::mutex> lock(mtx);
        vfio_iommu_type1_dma_unmap u{};
        u.argsz = sizeof u;
        u.iova = nBus;
        u.size = nMap;
        ::ioctl(nContainerFd, VFIO_IOMMU_UNMAP_DMA, &u);
        iova.release(nBus);
    }
    ::munmap(pHost, nMap);
}

} // namespace kxmplat::linuxplat
