// A port closed by one task while another task's putchar is blocked on it:
// the close is accepted and later calls refuse the port, but the descriptor
// stays open until the blocked write ends, so its number cannot meanwhile
// go to another file that the pending byte would then land in.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "scomPort.h"

namespace {

bool fdOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

TEST(ScomPort, CloseDuringABlockedWriteKeepsTheDescriptorUntilItEnds)
{
    int master = -1, slave = -1;
    char szName[256];
    ASSERT_EQ(openpty(&master, &slave, szName, nullptr, nullptr), 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(slave, &tio), 0);
    cfmakeraw(&tio);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &tio), 0);

    const int64_t nPort = scomPortOpen(szName);
    ASSERT_GE(nPort, 0);
    // Fill the line until a write would block: the next putchar blocks.
    ASSERT_EQ(fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK), 0);
    char buf[256] = {};
    // The pty moves queued bytes on in the background, so fill again until
    // it stays full.
    for (bool bMore = true; bMore;) {
        bMore = false;
        while (write(slave, buf, 1) > 0)
            bMore = true;
        ASSERT_EQ(errno, EAGAIN);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    std::atomic<int> nResult{-1};
    std::atomic<pid_t> nTid{0};
    std::thread writer([&] {
        nTid = gettid();
        nResult = scomPortPutChar(nPort, 'x');
    });
    // Wait until the writer sits in its write.
    bool bBlocked = false;
    for (int i = 0; i < 500 && !bBlocked && nResult.load() == -1; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (nTid.load() == 0)
            continue;
        std::ifstream f("/proc/self/task/" + std::to_string(nTid.load()) + "/syscall");
        long nCall = -1;
        f >> nCall;
        bBlocked = nCall == SYS_write && nResult.load() == -1;
    }
    EXPECT_TRUE(bBlocked) << "the write did not block";

    EXPECT_EQ(scomPortClose(nPort), 1);
    EXPECT_EQ(scomPortClose(nPort), 0);
    EXPECT_EQ(scomPortPutChar(nPort, 'y'), 0);
    if (bBlocked) {
        EXPECT_TRUE(fdOpen(static_cast<int>(nPort)));
    }

    // Let the blocked byte through: the writer ends and closes the port.
    for (int i = 0; i < 200 && nResult.load() == -1; i++) {
        struct pollfd pfd = {master, POLLIN, 0};
        if (poll(&pfd, 1, 10) > 0) {
            char drain[4096];
            (void)!read(master, drain, sizeof drain);
        }
    }
    writer.join();
    EXPECT_EQ(nResult.load(), 1);
    EXPECT_FALSE(fdOpen(static_cast<int>(nPort)));
    close(slave);
    close(master);
}

} // namespace
