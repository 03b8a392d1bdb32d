// A PCI device tree in a temporary folder, laid out as sysfs lays it out
// (bus/pci/devices/<address> with vendor, device, class, config, resource0,
// a driver link and the SR-IOV files), for the linux backend to scan.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace linuxplat_test {

struct FakeFunction {
    std::string sAddress{};             // "0000:00:03.0"
    uint32_t nVendor = 0x1b36;
    uint32_t nDevice = 0x0010;
    uint32_t nClass = 0x010802;
    std::string sDriver{};              // "" unbound
    std::string sIommuGroup{};          // "" none
    size_t nBar0Size = 0x4000;          // 0: no resource0
    bool bResetFile = true;
    int nTotalVfs = -1;                 // >= 0: SR-IOV files
};

class FakeSysfs {
public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs &) = delete;
    FakeSysfs &operator=(const FakeSysfs &) = delete;

    const std::string &root() const { return sRoot; }
    std::string dir(const std::string &sAddress) const;

    void add(const FakeFunction &f);
    // Points the driver link elsewhere ("" removes it).
    void bind(const std::string &sAddress, const std::string &sDriver);
    // virtfnN link of a physical function to an existing function.
    void linkVirtual(const std::string &sPf, int nIndex, const std::string &sVf);

    std::vector<uint8_t> readFile(const std::string &sPath) const;
    std::string readText(const std::string &sPath) const;
    void writeText(const std::string &sPath, const std::string &sText) const;

private:
    std::string sRoot;
};

} // namespace linuxplat_test
