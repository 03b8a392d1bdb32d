// The ports behind scom::open, scom::close and scom::putchar. Only the
// descriptors this module opened count as ports: any other number a script
// passes (the interpreter's own standard streams and files among them) is
// refused, never closed or written.
#include "scomPort.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>

namespace {

std::mutex g_portLock;
std::set<int> g_ports;

bool isPort(int64_t nPort)
{
    std::lock_guard<std::mutex> lock(g_portLock);
    return nPort >= 0 && nPort <= INT32_MAX && g_ports.count(static_cast<int>(nPort)) != 0;
}

// The line settings: only these fields change, everything else stays as
// the device had it.
bool applySettings(int fd)
{
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8;
    if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0)
        return false;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

int64_t scomPortOpen(const char *szPath)
{
    if (!szPath || !*szPath)
        return -1;
    int fd = open(szPath, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (!applySettings(fd)) {
        close(fd);
        return -1;
    }
    try {
        std::lock_guard<std::mutex> lock(g_portLock);
        g_ports.insert(fd);
    } catch (...) {
        close(fd);
        return -1;
    }
    return fd;
}

int scomPortClose(int64_t nPort)
{
    {
        std::lock_guard<std::mutex> lock(g_portLock);
        if (nPort < 0 || nPort > INT32_MAX || g_ports.erase(static_cast<int>(nPort)) == 0)
            return 0;
    }
    return close(static_cast<int>(nPort)) == 0 ? 1 : 0;
}

int scomPortPutChar(int64_t nPort, int64_t nChar)
{
    if (!isPort(nPort))
        return 0;
    unsigned char c = static_cast<unsigned char>(nChar & 0xff);
    ssize_t n;
    do {
        n = write(static_cast<int>(nPort), &c, 1);
    } while (n < 0 && errno == EINTR);
    return n >= 0 ? 1 : 0;
}
