// kxm_scom end to end: korvel runs a script that opens the slave side of a
// pseudo-terminal through scom::open and sends bytes with scom::putchar;
// the test reads them from the master side and checks the line settings
// the module applied (and those it must have left alone).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    std::string slavePath;
    ~Pty()
    {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
    }
};

// A pty whose slave starts raw at 38400 baud, 7 data bits, even parity,
// two stop bits, XON/XOFF on both ways and a few flags the module must keep.
void openPty(Pty &pty)
{
    char szName[256];
    ASSERT_EQ(openpty(&pty.master, &pty.slave, szName, nullptr, nullptr), 0);
    pty.slavePath = szName;
    struct termios tio;
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    tio.c_cflag |= CS7 | PARENB | CSTOPB | CLOCAL | HUPCL;
    tio.c_iflag |= IXON | IXOFF | IGNBRK;
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &tio), 0);
}

// Standard output of a shell command (its standard error too when the
// command redirects it).
std::string commandOutput(const std::string &cmd)
{
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Runs korvel on a script text in a fresh folder; returns its output.
std::string runScript(const std::string &text)
{
    char szDir[] = "/tmp/scomptyXXXXXX";
    if (!mkdtemp(szDir))
        return "mkdtemp failed";
    std::string dir = szDir;
    std::ofstream(dir + "/t.krv") << text;
    std::string cmd = "cd " + dir + " && " KORVEL_BIN " t.krv 2>&1";
    std::string out = commandOutput(cmd);
    std::remove((dir + "/t.krv").c_str());
    rmdir(dir.c_str());
    return out;
}

// Whatever the master side has to read now.
std::vector<unsigned char> drain(int master)
{
    std::vector<unsigned char> bytes;
    for (;;) {
        struct pollfd pfd = {master, POLLIN, 0};
        if (poll(&pfd, 1, 200) <= 0)
            break;
        unsigned char buf[64];
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buf, buf + n);
    }
    return bytes;
}

TEST(ScomPty, BytesArriveWithTheLineSettings)
{
    Pty pty;
    ASSERT_NO_FATAL_FAILURE(openPty(pty));
    std::string out = runScript("#load <kxm_scom.kxm>\n"
                                "main()\n"
                                "{\n"
                                "    var p;\n"
                                "    p = scom::open(\"" + pty.slavePath + "\");\n"
                                "    print(p > 2, \" \");\n"
                                "    print(scom::putchar(p, 0x141), scom::putchar(p, 0x42), scom::putchar(p, -1), \" \");\n"
                                "    print(scom::putchar(p, 0), \" \");\n"
                                // A character that is not an integer sends nothing.
                                "    print(scom::putchar(p, \"A\"), scom::putchar(p, 65.0), scom::putchar(p, \"\"), \" \");\n"
                                "    print(scom::close(p), scom::close(p), scom::putchar(p, 0x43), \"\\n\");\n"
                                "}\n");
    EXPECT_EQ(out, "1 111 1 000 100\n");
    std::vector<unsigned char> bytes = drain(pty.master);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0x41, 0x42, 0xff, 0x00}));

    struct termios tio;
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
    // Left as they were.
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_NE(tio.c_cflag & HUPCL, 0u);
    EXPECT_NE(tio.c_iflag & IGNBRK, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST(ScomPty, MissingPortAndNonPorts)
{
    std::string out = runScript("#load <kxm_scom.kxm>\n"
                                "main()\n"
                                "{\n"
                                "    print(scom::open(\"/dev/no-such-port\"), \" \", scom::open(\"/dev/null\"), \" \");\n"
                                "    print(scom::close(999), scom::close(2), scom::putchar(2, 65), \"\\n\");\n"
                                "}\n");
    EXPECT_EQ(out, "-1 -1 000\n");
}

TEST(ScomPty, VersionQuery)
{
    std::string cmd = KORVEL_BIN " --check " KXM_SCOM_PATH " 2>&1";
    std::string out = commandOutput(cmd);
    EXPECT_EQ(out.rfind("SCOM Extension Module 1.0.0\n", 0), 0u) << out;
    // The build date as the compiler gives it: "Mmm dd yyyy".
    EXPECT_TRUE(std::regex_search(out, std::regex("\nBuilt on [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}\\.\n$"))) << out;
}

} // namespace
