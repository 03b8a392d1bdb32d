// The route through vfio-pci: configuration space and BAR0 through the
// device's VFIO regions, hot reset through VFIO's hot-reset call.
#pragma once
#include "Bar0Window.h"
#include "FunctionAccess.h"
#include "VfioContainer.h"

#include <memory>

namespace kxmplat::linuxplat {

class VfioAccess : public FunctionAccess {
public:
    // Attaches the function's group to the container and opens the device.
    // A virtual function whose physical function is held through VFIO is
    // opened with the token set on it (sVfToken, a UUID; empty: none).
    static std::unique_ptr<VfioAccess> open(VfioContainer &container, const std::string &sGroup,
                                            const std::string &sAddress, const std::string &sVfToken,
                                            std::string *pErr);

    // Sets the token its virtual functions are opened with (16 bytes).
    bool setVfToken(const uint8_t *pUuid, std::string *pErr);
    ~VfioAccess() override;

    int cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth) override;
    int cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth) override;
    bool openBar0(std::string *pErr) override;
    void closeBar0() override { bar.reset(); }
    uint32_t mmioRead32(uint32_t nOffset) override { return bar.read32(nOffset); }
    void mmioWrite32(uint32_t nOffset, uint32_t nValue) override { bar.write32(nOffset, nValue); }
    bool usesIommu() const override { return !container.noIommu(); }
    int hotReset(std::string *pErr) override;
    std::string describe() const override;

private:
    VfioAccess(VfioContainer &c, std::string sGrp) : container(c), sGroup(std::move(sGrp)) {}

    VfioContainer &container;
    std::string sGroup;
    int nDeviceFd = -1;
    uint64_t nConfigOffset = 0;
    uint64_t nConfigSize = 0;
    Bar0Window bar;
};

} // namespace kxmplat::linuxplat
