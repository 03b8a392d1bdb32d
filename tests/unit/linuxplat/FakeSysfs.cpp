#include "FakeSysfs.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace linuxplat_test {

FakeSysfs::FakeSysfs()
{
    std::string sTemplate = (fs::temp_directory_path() / "kxmplat-sysfs-XXXXXX").string();
    if (!::mkdtemp(sTemplate.data()))
        throw std::runtime_error("mkdtemp failed");
    sRoot = sTemplate;
    fs::create_directories(sRoot + "/bus/pci/devices");
    fs::create_directories(sRoot + "/bus/pci/drivers");
    fs::create_directories(sRoot + "/kernel/iommu_groups");
    fs::create_directories(sRoot + "/devices/pci0000:00");
}

FakeSysfs::~FakeSysfs()
{
    std::error_code ec;
    fs::remove_all(sRoot, ec);
}

std::string FakeSysfs::dir(const std::string &sAddress) const
{
    return sRoot + "/bus/pci/devices/" + sAddress;
}

void FakeSysfs::writeText(const std::string &sPath, const std::string &sText) const
{
    std::ofstream o(sPath, std::ios::binary | std::ios::trunc);
    o << sText;
}

std::vector<uint8_t> FakeSysfs::readFile(const std::string &sPath) const
{
    std::ifstream i(sPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(i), std::istreambuf_iterator<char>());
}

std::string FakeSysfs::readText(const std::string &sPath) const
{
    auto v = readFile(sPath);
    return std::string(v.begin(), v.end());
}

void FakeSysfs::add(const FakeFunction &f)
{
    // As in sysfs: the real folder sits under devices/, bus/pci/devices
    // holds a link to it.
    std::string sReal = sRoot + "/devices/pci0000:00/" + f.sAddress;
    fs::create_directories(sReal);
    fs::create_directory_symlink(sReal, dir(f.sAddress));
    char sz[32];
    std::snprintf(sz, sizeof sz, "0x%04x\n", f.nVendor);
    writeText(sReal + "/vendor", sz);
    std::snprintf(sz, sizeof sz, "0x%04x\n", f.nDevice);
    writeText(sReal + "/device", sz);
    std::snprintf(sz, sizeof sz, "0x%06x\n", f.nClass);
    writeText(sReal + "/class", sz);

    // Configuration space: ids, command, class dword, capability pointer.
    std::vector<uint8_t> cfg(4096, 0);
    cfg[0] = uint8_t(f.nVendor);
    cfg[1] = uint8_t(f.nVendor >> 8);
    cfg[2] = uint8_t(f.nDevice);
    cfg[3] = uint8_t(f.nDevice >> 8);
    cfg[9] = uint8_t(f.nClass);
    cfg[10] = uint8_t(f.nClass >> 8);
    cfg[11] = uint8_t(f.nClass >> 16);
    cfg[0x34] = 0x40;
    cfg[0x40] = 0x01;   // power management, last capability
    {
        std::ofstream o(sReal + "/config", std::ios::binary);
        o.write(reinterpret_cast<const char *>(cfg.data()), std::streamsize(cfg.size()));
    }
    if (f.nBar0Size) {
        std::vector<char> bar(f.nBar0Size, 0);
        std::ofstream o(sReal + "/resource0", std::ios::binary);
        o.write(bar.data(), std::streamsize(bar.size()));
    }
    if (f.bResetFile)
        writeText(sReal + "/reset", "");
    if (f.nTotalVfs >= 0) {
        writeText(sReal + "/sriov_totalvfs", std::to_string(f.nTotalVfs) + "\n");
        writeText(sReal + "/sriov_numvfs", "0\n");
        writeText(sReal + "/sriov_drivers_autoprobe", "1\n");
    }
    if (!f.sIommuGroup.empty()) {
        std::string sGroup = sRoot + "/kernel/iommu_groups/" + f.sIommuGroup;
        fs::create_directories(sGroup);
        fs::create_directory_symlink(sGroup, sReal + "/iommu_group");
    }
    bind(f.sAddress, f.sDriver);
}

void FakeSysfs::bind(const std::string &sAddress, const std::string &sDriver)
{
    std::string sLink = dir(sAddress) + "/driver";
    std::error_code ec;
    fs::remove(sLink, ec);
    if (sDriver.empty())
        return;
    std::string sDrv = sRoot + "/bus/pci/drivers/" + sDriver;
    fs::create_directories(sDrv);
    fs::create_directory_symlink(sDrv, sLink);
}

void FakeSysfs::linkVirtual(const std::string &sPf, int nIndex, const std::string &sVf)
{
    fs::create_directory_symlink(fs::canonical(dir(sVf)), dir(sPf) + "/virtfn" + std::to_string(nIndex));
}

} // namespace linuxplat_test
