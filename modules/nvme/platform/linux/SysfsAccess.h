// The route without an IOMMU: configuration space through the function's
// sysfs "config" file, BAR0 by mapping its "resource0" file, reset through
// its "reset" file. For functions that are unbound or bound to
// uio_pci_generic; needs root.
#pragma once
#include "Bar0Window.h"
#include "FunctionAccess.h"
#include "SysfsPci.h"

#include <memory>
#include <mutex>

namespace kxmplat::linuxplat {

class SysfsAccess : public FunctionAccess {
public:
    // Null and a reason when the configuration file cannot be opened.
    static std::unique_ptr<SysfsAccess> open(const SysfsPci &sysfs, const std::string &sAddress,
                                             std::string *pErr);
    ~SysfsAccess() override;

    int cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth) override;
    int cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth) override;
    bool openBar0(std::string *pErr) override;
    void closeBar0() override;
    uint32_t mmioRead32(uint32_t nOffset) override { return bar.read32(nOffset); }
    void mmioWrite32(uint32_t nOffset, uint32_t nValue) override { bar.write32(nOffset, nValue); }
    bool usesIommu() const override { return false; }
    int hotReset(std::string *pErr) override;
    std::string describe() const override { return "sysfs config and resource0, no IOMMU"; }

private:
    SysfsAccess(const SysfsPci &s, std::string sAddr) : sysfs(s), sAddress(std::move(sAddr)) {}

    const SysfsPci &sysfs;
    std::string sAddress;
    int nConfigFd = -1;
    size_t nConfigSize = 0;
    int nResourceFd = -1;
    Bar0Window bar;
};

// Checks width and alignment of a configuration access against a space of
// nSpace bytes.
bool validConfigAccess(uint32_t nOffset, int nWidth, size_t nSpace);

} // namespace kxmplat::linuxplat
