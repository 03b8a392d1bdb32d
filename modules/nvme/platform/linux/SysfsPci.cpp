#include "SysfsPci.h"

#include "PciAddress.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace kxmplat::linuxplat {

namespace {

std::string trim(std::string s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string baseName(const std::string &s)
{
    size_t n = s.find_last_of('/');
    return n == std::string::npos ? s : s.substr(n + 1);
}

std::optional<uint64_t> parseNumber(const std::string &s)
{
    if (s.empty())
        return std::nullopt;
    errno = 0;
    char *pEnd = nullptr;
    unsigned long long n = std::strtoull(s.c_str(), &pEnd, 0);
    if (errno != 0 || pEnd == s.c_str() || *pEnd != '\0')
        return std::nullopt;
    return uint64_t(n);
}

} // namespace

std::optional<std::string> readSmallFile(const std::string &sPath)
{
    int fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string s;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        s.append(buf, size_t(n));
        if (s.size() > 65536)
            break;
    }
    ::close(fd);
    return s;
}

SysfsPci::SysfsPci(std::string sRoot) : sRootDir(std::move(sRoot))
{
    while (sRootDir.size() > 1 && sRootDir.back() == '/')
        sRootDir.pop_back();
}

std::string SysfsPci::functionDir(const std::string &sAddress) const
{
    return sRootDir + "/bus/pci/devices/" + sAddress;
}

std::string SysfsPci::linkTarget(const std::string &sPath) const
{
    char buf[4096];
    ssize_t n = ::readlink(sPath.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return "";
    return std::string(buf, size_t(n));
}

std::vector<SysfsFunction> SysfsPci::scan() const
{
    std::vector<SysfsFunction> v;
    std::string sDir = sRootDir + "/bus/pci/devices";
    DIR *d = ::opendir(sDir.c_str());
    if (!d)
        return v;
    while (dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        if (auto f = read(e->d_name))
            v.push_back(std::move(*f));
    }
    ::closedir(d);
    std::sort(v.begin(), v.end(), [](const SysfsFunction &a, const SysfsFunction &b) {
        return slotLess(a.slot, b.slot);
    });
    return v;
}

std::optional<SysfsFunction> SysfsPci::read(const std::string &sAddress) const
{
    SysfsFunction f;
    if (!parsePciAddress(sAddress, &f.slot))
        return std::nullopt;
    f.sAddress = formatPciAddress(f.slot);
    if (f.sAddress != sAddress)
        return std::nullopt;    // only the canonical spelling names a folder
    auto nVendor = readNumber(sAddress, "vendor");
    auto nDevice = readNumber(sAddress, "device");
    auto nClass = readNumber(sAddress, "class");
    if (!nVendor || !nDevice || !nClass)
        return std::nullopt;
    f.nVendorId = uint32_t(*nVendor & 0xFFFF);
    f.nDeviceId = uint32_t(*nDevice & 0xFFFF);
    f.nClass = uint32_t(*nClass & 0xFFFFFF);
    f.sDriver = driverOf(sAddress);
    return f;
}

std::string SysfsPci::driverOf(const std::string &sAddress) const
{
    std::string s = linkTarget(functionDir(sAddress) + "/driver");
    return s.empty() ? s : baseName(s);
}

std::string SysfsPci::iommuGroupOf(const std::string &sAddress) const
{
    std::string s = linkTarget(functionDir(sAddress) + "/iommu_group");
    return s.empty() ? s : baseName(s);
}

std::optional<std::string> SysfsPci::readAttr(const std::string &sAddress, const char *szName) const
{
    auto s = readSmallFile(functionDir(sAddress) + "/" + szName);
    if (!s)
        return std::nullopt;
    return trim(*s);
}

int SysfsPci::writeAttr(const std::string &sAddress, const char *szName, const std::string &sValue) const
{
    return writeFile(functionDir(sAddress) + "/" + szName, sValue);
}

std::string SysfsPci::slotPowerFile(const std::string &sAddress) const
{
    // "dddd:bb:dd.f" -> "dddd:bb:dd"
    const std::string sSlot = sAddress.substr(0, sAddress.rfind('.'));
    const std::string sDir = sRootDir + "/bus/pci/slots";
    DIR *d = ::opendir(sDir.c_str());
    if (!d)
        return "";
    std::string sFound;
    while (dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string sBase = sDir + "/" + e->d_name;
        auto sAddr = readSmallFile(sBase + "/address");
        if (sAddr && trim(*sAddr) == sSlot && ::access((sBase + "/power").c_str(), F_OK) == 0) {
            sFound = sBase + "/power";
            break;
        }
    }
    ::closedir(d);
    return sFound;
}

int SysfsPci::writeFile(const std::string &sPath, const std::string &sValue)
{
    int fd = ::open(sPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ssize_t n = ::write(fd, sValue.data(), sValue.size());
    int nErr = n < 0 ? errno : (size_t(n) != sValue.size() ? EIO : 0);
    ::close(fd);
    return nErr;
}

std::optional<uint64_t> SysfsPci::readNumber(const std::string &sAddress, const char *szName) const
{
    auto s = readAttr(sAddress, szName);
    if (!s)
        return std::nullopt;
    return parseNumber(*s);
}

std::vector<std::string> SysfsPci::virtualFunctions(const std::string &sAddress) const
{
    std::vector<std::string> v;
    // virtfn0, virtfn1, ... without gaps.
    for (int i = 0; i < 65536; ++i) {
        std::string s = linkTarget(functionDir(sAddress) + "/virtfn" + std::to_string(i));
        if (s.empty())
            break;
        v.push_back(baseName(s));
    }
    return v;
}

} // namespace kxmplat::linuxplat
