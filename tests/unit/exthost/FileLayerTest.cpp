// The host file layer on a temporary file, and its refusal of anything that
// is not a live file handle.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "exthostTestSupport.h"

namespace {

class FileLayerTest : public ExtHostTest {
protected:
    void SetUp() override
    {
        ExtHostTest::SetUp();
        char szTmpl[] = "/tmp/krvfileXXXXXX";
        int fd = mkstemp(szTmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path = szTmpl;
    }
    void TearDown() override
    {
        unlink(path.c_str());
        ExtHostTest::TearDown();
    }
    std::string contents()
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string path;
};

TEST_F(FileLayerTest, WriteSeekReadTellRewind)
{
    void *f = host.pfnFopen(path.c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(host.pfnIsHandle(f), 1);
    EXPECT_EQ(host.pfnIsFileHandle(f), 1);
    EXPECT_EQ(host.pfnFwrite("abcdefgh", 2, 4, f), 4u);
    EXPECT_EQ(host.pfnFprintf(f, "%d-%s", 42, "z"), 4);
    EXPECT_EQ(host.pfnFflush(f), 0);
    EXPECT_EQ(host.pfnFtell(f), 12);
    EXPECT_EQ(host.pfnFseek(f, 2, 0), 0);
    char buf[8] = {};
    EXPECT_EQ(host.pfnFread(buf, 1, 3, f), 3u);
    EXPECT_STREQ(buf, "cde");
    EXPECT_EQ(host.pfnFseek(f, 1, 1), 0);
    EXPECT_EQ(host.pfnFtell(f), 6);
    EXPECT_EQ(host.pfnFseek(f, -2, 2), 0);
    EXPECT_EQ(host.pfnFread(buf, 1, 2, f), 2u);
    EXPECT_EQ(std::string(buf, 2), "-z");
    EXPECT_EQ(host.pfnFseek(f, 0, 3), -1);   // no such origin
    host.pfnRewind(f);
    EXPECT_EQ(host.pfnFtell(f), 0);
    EXPECT_EQ(host.pfnFclose(f), 0);
    EXPECT_EQ(contents(), "abcdefgh42-z");
}

TEST_F(FileLayerTest, FprintfCutsAt1023AndReturnsTheFullLength)
{
    void *f = host.pfnFopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string text(2000, 'q');
    text[1022] = 'L';
    text[1023] = 'X';
    EXPECT_EQ(host.pfnFprintf(f, "%s", text.c_str()), 2000);
    EXPECT_EQ(host.pfnFprintf(f, "%s", ""), 0);
    EXPECT_EQ(host.pfnFclose(f), 0);
    std::string out = contents();
    EXPECT_EQ(out.size(), 1023u);   // no terminator written
    EXPECT_EQ(out.back(), 'L');
    EXPECT_EQ(out, text.substr(0, 1023));
}

TEST_F(FileLayerTest, CloseTwiceIsRefused)
{
    // Closing clears the header before the memory is freed, so the second
    // close finds no file handle there.
    void *f = host.pfnFopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(host.pfnFclose(f), 0);
    EXPECT_EQ(host.pfnFclose(f), -1);
    EXPECT_EQ(host.pfnIsHandle(f), 0);
}

TEST_F(FileLayerTest, MissingFileOrBadArgumentsGiveNoHandle)
{
    EXPECT_EQ(host.pfnFopen("/nonexistent/dir/file", "rb"), nullptr);
    EXPECT_EQ(host.pfnFopen(nullptr, "rb"), nullptr);
    EXPECT_EQ(host.pfnFopen(path.c_str(), nullptr), nullptr);
}

TEST_F(FileLayerTest, ForgedHandlesAreRefusedByEveryFileSlot)
{
    alignas(8) krvHandleHdr_t other{};   // a live handle of another kind
    other.pSelf = &other;
    other.nSig = KRV_HANDLE_SIG;
    other.nKind = 0x1234;
    void *forged[] = {nullptr, reinterpret_cast<void *>(1), reinterpret_cast<void *>(0x1000),
                      reinterpret_cast<void *>(0xdeadbeef0), &other};
    char buf[16] = {};
    for (void *h : forged) {
        EXPECT_EQ(host.pfnFclose(h), -1);
        EXPECT_EQ(host.pfnFwrite("x", 1, 1, h), 0u);
        EXPECT_EQ(host.pfnFread(buf, 1, 1, h), 0u);
        EXPECT_EQ(host.pfnFprintf(h, "%d", 1), -1);
        EXPECT_EQ(host.pfnFflush(h), -1);
        EXPECT_EQ(host.pfnFseek(h, 0, 0), -1);
        EXPECT_EQ(host.pfnFtell(h), -1);
        host.pfnRewind(h);
    }
}

TEST_F(FileLayerTest, ConcurrentFprintfKeepsEachLineWhole)
{
    void *f = host.pfnFopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    auto writer = [&](char c) {
        std::string line(100, c);
        for (int i = 0; i < 200; i++)
            host.pfnFprintf(f, "%s\n", line.c_str());
    };
    std::thread t1(writer, 'a'), t2(writer, 'b');
    t1.join();
    t2.join();
    EXPECT_EQ(host.pfnFclose(f), 0);
    std::istringstream in(contents());
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        n++;
        EXPECT_TRUE(line == std::string(100, 'a') || line == std::string(100, 'b')) << line;
    }
    EXPECT_EQ(n, 400);
}

}  // namespace
