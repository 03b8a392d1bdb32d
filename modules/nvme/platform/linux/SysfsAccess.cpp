#include "SysfsAccess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kxmplat::linuxplat {

bool validConfigAccess(uint32_t nOffset, int nWidth, size_t nSpace)
{
    if (nWidth != 1 && nWidth != 2 && nWidth != 4)
        return false;
    if ((nOffset & uint32_t(nWidth - 1)) != 0)
        return false;
    return size_t(nOffset) + size_t(nWidth) <= nSpace;
}

std::unique_ptr<SysfsAccess> SysfsAccess::open(const SysfsPci &sysfs, const std::string &sAddress,
                                               std::string *pErr)
{
    std::unique_ptr<SysfsAccess> p(new SysfsAccess(sysfs, sAddress));
    std::string sPath = sysfs.functionDir(sAddress) + "/config";
    p->nConfigFd = ::open(sPath.c_str(), O_RDWR | O_CLOEXEC);
    if (p->nConfigFd < 0) {
        if (pErr)
            *pErr = "cannot open " + sPath + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    // sysfs reports the size of the space the function has (256 or 4096).
    p->nConfigSize = (::fstat(p->nConfigFd, &st) == 0 && st.st_size > 0) ? size_t(st.st_size) : 256;
    if (p->nConfigSize > 4096)
        p->nConfigSize = 4096;
    return p;
}

SysfsAccess::~SysfsAccess()
{
    closeBar0();
    if (nConfigFd >= 0)
        ::close(nConfigFd);
}

int SysfsAccess::cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth)
{
    if (!validConfigAccess(nOffset, nWidth, nConfigSize))
        return EINVAL;
    uint32_t n = 0;
    ssize_t r = ::pread(nConfigFd, &n, size_t(nWidth), off_t(nOffset));
    if (r != nWidth)
        return r < 0 ? errno : EIO;
    *pValue = n;
    return 0;
}

int SysfsAccess::cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth)
{
    if (!validConfigAccess(nOffset, nWidth, nConfigSize))
        return EINVAL;
    ssize_t r = ::pwrite(nConfigFd, &nValue, size_t(nWidth), off_t(nOffset));
    if (r != nWidth)
        return r < 0 ? errno : EIO;
    return 0;
}

bool SysfsAccess::openBar0(std::string *pErr)
{
    if (bar.valid())
        return true;
    std::string sPath = sysfs.functionDir(sAddress) + "/resource0";
    int fd = ::open(sPath.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        if (pErr)
            *pErr = "cannot open " + sPath + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
        if (pErr)
            *pErr = sPath + " has no size: BAR0 is not assigned";
        ::close(fd);
        return false;
    }
    // resource0 can only be mapped (it has no read or write).
    bar.attach(fd, 0, size_t(st.st_size), true);
    if (!bar.mapped()) {
        if (pErr)
            *pErr = "cannot map " + sPath + ": " + std::strerror(errno);
        bar.reset();
        ::close(fd);
        return false;
    }
    nResourceFd = fd;
    return true;
}

void SysfsAccess::closeBar0()
{
    bar.reset();
    if (nResourceFd >= 0)
        ::close(nResourceFd);
    nResourceFd = -1;
}

int SysfsAccess::hotReset(std::string *pErr)
{
    // The kernel picks the reset the function and its link allow (FLR,
    // power management or a secondary bus reset) and restores the
    // configuration space around it.
    std::string sPath = sysfs.functionDir(sAddress) + "/reset";
    if (::access(sPath.c_str(), F_OK) != 0)
        return -1;
    int nErr = sysfs.writeAttr(sAddress, "reset", "1");
    if (nErr == ENOTTY || nErr == EOPNOTSUPP)
        return -1;
    if (nErr != 0 && pErr)
        *pErr = "reset through " + sPath + " failed: " + std::strerror(nErr);
    return nErr == 0 ? 1 : 0;
}

} // namespace kxmplat::linuxplat
