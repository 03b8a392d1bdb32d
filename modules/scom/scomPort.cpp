// The ports behind scom::open, scom::close and scom::putchar. Only the
// descriptors this module opened count as ports: any other number a script
// passes (the interpreter's own standard streams and files among them) is
// refused, never closed or written.
#include "scomPort.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace {

// An open port and the writes under way on it. A port closed while a write
// is under way leaves the table at once (later calls refuse it) but keeps
// its descriptor until the last write ends, so that the number cannot be
// handed to another file while a task still writes through it.
struct portUse_t {
    int nWriters = 0;
    bool bClosed = false;
};

std::mutex g_portLock;
std::map<int, portUse_t> g_ports;

bool validNumber(int64_t nPort)
{
    return nPort >= 0 && nPort <= INT32_MAX;
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
        g_ports[fd] = portUse_t{};
    } catch (...) {
        close(fd);
        return -1;
    }
    return fd;
}

int scomPortClose(int64_t nPort)
{
    if (!validNumber(nPort))
        return 0;
    {
        std::lock_guard<std::mutex> lock(g_portLock);
        auto it = g_ports.find(static_cast<int>(nPort));
        if (it == g_ports.end() || it->second.bClosed)
            return 0;
        if (it->second.nWriters > 0) {
            it->second.bClosed = true;   // the last writer closes it
            return 1;
        }
        g_ports.erase(it);
    }
    return close(static_cast<int>(nPort)) == 0 ? 1 : 0;
}

int scomPortPutChar(int64_t nPort, int64_t nChar)
{
    if (!validNumber(nPort))
        return 0;
    const int fd = static_cast<int>(nPort);
    {
        std::lock_guard<std::mutex> lock(g_portLock);
        auto it = g_ports.find(fd);
        if (it == g_ports.end() || it->second.bClosed)
            return 0;
        it->second.nWriters++;
    }
    unsigned char c = static_cast<unsigned char>(nChar & 0xff);
    ssize_t n;
    do {
        n = write(fd, &c, 1);
    } while (n < 0 && errno == EINTR);
    bool bClose = false;
    {
        std::lock_guard<std::mutex> lock(g_portLock);
        auto it = g_ports.find(fd);
        if (--it->second.nWriters == 0 && it->second.bClosed) {
            g_ports.erase(it);
            bClose = true;
        }
    }
    if (bClose)
        close(fd);
    return n >= 0 ? 1 : 0;
}
