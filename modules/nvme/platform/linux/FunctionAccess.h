// One PCI function as the backend reaches it: configuration space, BAR0 and
// reset, through VFIO or through sysfs files. Implementations are safe to
// call from several threads once open.
#pragma once
#include <cstdint>
#include <string>

namespace kxmplat::linuxplat {

class FunctionAccess {
public:
    virtual ~FunctionAccess() = default;

    // nWidth 1, 2 or 4 at a naturally aligned offset; 0 on success.
    virtual int cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth) = 0;
    virtual int cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth) = 0;

    // Makes BAR0 reachable; false and a reason when it cannot be.
    virtual bool openBar0(std::string *pErr) = 0;
    virtual void closeBar0() = 0;
    // All ones / dropped for offsets outside BAR0 or not 4-byte aligned.
    virtual uint32_t mmioRead32(uint32_t nOffset) = 0;
    virtual void mmioWrite32(uint32_t nOffset, uint32_t nValue) = 0;

    // True when bus addresses for this function are translated by an
    // IOMMU (any memory, mapped by the backend); false when DMA must use
    // physical addresses.
    virtual bool usesIommu() const = 0;

    // Reset of the function's link or of the function: -1 not supported,
    // 0 failed (with the reason in *pErr), 1 done.
    virtual int hotReset(std::string *pErr) = 0;

    // "vfio-pci (IOMMU group 12)" and the like, for messages.
    virtual std::string describe() const = 0;
};

} // namespace kxmplat::linuxplat
