#include "sysPath.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string norm(const char *p)
{
    char *s = sysPathNormalize(p);
    std::string out = s ? s : "<null>";
    free(s);
    return out;
}

std::string join(const char *d, const char *n)
{
    char buf[SYS_PATH_MAX];
    buf[0] = 'x';
    char *r = sysPathJoin(d, n, buf);
    if (!r) {
        EXPECT_EQ('\0', buf[0]);
        return "<fail>";
    }
    EXPECT_EQ(buf, r);
    return r;
}

} // namespace

TEST(SysPathNormalize, DotsAndEmptyComponents)
{
    EXPECT_EQ("/a/c", norm("/a/./b/../c"));
    EXPECT_EQ("C:/a/c", norm("C:/a/./b/../c"));
    EXPECT_EQ("a/b", norm("a//b/"));
    EXPECT_EQ("a/b", norm("a/./b/."));
    EXPECT_EQ("dir/f.krv", norm("dir/sub/../f.krv"));
}

TEST(SysPathNormalize, DotDotRemovesTheFirstComponentOfARelativePath)
{
    EXPECT_EQ("x", norm("C:/../x"));
    EXPECT_EQ("x", norm("a/../../x"));
    EXPECT_EQ("", norm("a/.."));
    EXPECT_EQ("..", norm(".."));          // the first component is kept as it is
    EXPECT_EQ("./a", norm("./a"));
}

TEST(SysPathNormalize, RootIsNeverRemoved)
{
    EXPECT_EQ("/x", norm("/../x"));
    EXPECT_EQ("/", norm("/"));
    EXPECT_EQ("/", norm("/.."));
    EXPECT_EQ("/", norm("//./"));
    EXPECT_EQ("/b", norm("/a/../../../b"));
}

TEST(SysPathNormalize, EmptyAndLongPaths)
{
    EXPECT_EQ("", norm(""));
    EXPECT_EQ("", norm(nullptr));
    // More than 511 components: nothing is dropped.
    std::string p = "r";
    for (int i = 0; i < 700; i++)
        p += "/c";
    EXPECT_EQ(p, norm(p.c_str()));
}

TEST(SysPathJoin, Joins)
{
    EXPECT_EQ("C:/f", join("C:/dir", "../f"));
    EXPECT_EQ("/home/u/s/inc.krv", join("/home/u/s", "inc.krv"));
    EXPECT_EQ("/home/inc.krv", join("/home/u/s/", "./../../inc.krv"));
    EXPECT_EQ("/x", join("/", "../x"));
    EXPECT_EQ("inc.krv", join("", "inc.krv"));   // empty directory: current one
    EXPECT_EQ("lib/m.kxm", join("lib", "m.kxm"));
}

TEST(SysPathJoin, TooLongResultFails)
{
    std::string dir(300, 'd'), name(300, 'n');
    EXPECT_EQ("<fail>", join(dir.c_str(), name.c_str()));
    // Exactly SYS_PATH_MAX - 1 characters still fits ...
    std::string d2(255, 'd'), n2(255, 'n');
    EXPECT_EQ(d2 + "/" + n2, join(d2.c_str(), n2.c_str()));
    // ... one more does not.
    std::string n3(256, 'n');
    EXPECT_EQ("<fail>", join(d2.c_str(), n3.c_str()));
    // A long input that normalises short is fine.
    std::string longDir = "a";
    for (int i = 0; i < 200; i++)
        longDir += "/./";
    EXPECT_EQ("a/f", join(longDir.c_str(), "f"));
    EXPECT_EQ("<fail>", join(nullptr, "f"));
}

TEST(SysPathToSlash, BackslashesBecomeSlashes)
{
    char s[] = "dir\\sub\\f.krv";
    sysPathToSlash(s);
    EXPECT_STREQ("dir/sub/f.krv", s);
    char t[] = "plain/already";
    sysPathToSlash(t);
    EXPECT_STREQ("plain/already", t);
}

TEST(SysPathParts, FileName)
{
    char buf[SYS_PATH_MAX];
    EXPECT_STREQ("f.krv", sysPathFileName("/a/b/f.krv", buf));
    EXPECT_STREQ("/a/b/f.krv", buf);
    EXPECT_STREQ("f.krv", sysPathFileName("f.krv", buf));
    EXPECT_STREQ("", sysPathFileName("dir/", buf));
    std::string tooLong(SYS_PATH_MAX, 'a');
    EXPECT_STREQ("", sysPathFileName(tooLong.c_str(), buf));
}

TEST(SysPathParts, Dir)
{
    char buf[SYS_PATH_MAX];
    EXPECT_STREQ("/a/b", sysPathDir("/a/b/f.krv", buf));
    EXPECT_STREQ("a", sysPathDir("a/f", buf));
    EXPECT_STREQ("", sysPathDir("f.krv", buf));
    EXPECT_STREQ("", sysPathDir("", buf));
    EXPECT_STREQ("/", sysPathDir("/f.krv", buf));
}

TEST(SysPathParts, Ext)
{
    char buf[SYS_PATH_MAX];
    EXPECT_STREQ("krv", sysPathExt("a/b/f.krv", buf));
    EXPECT_STREQ("enc", sysPathExt("f.krv.enc", buf));
    EXPECT_STREQ("", sysPathExt(".hidden", buf));
    EXPECT_STREQ("", sysPathExt("noext", buf));
    EXPECT_STREQ("", sysPathExt("", buf));
    // A dot in a directory name is no extension of the file.
    EXPECT_STREQ("", sysPathExt("dir.v2/file", buf));
    EXPECT_STREQ("", sysPathExt("dir/.profile", buf));
    EXPECT_STREQ("", sysPathExt("f.", buf));
}

TEST(SysFileExists, OpensForReading)
{
    char tmpl[] = "/tmp/sys_path_testXXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(1, sysFileExists(tmpl));
    unlink(tmpl);
    EXPECT_EQ(0, sysFileExists(tmpl));
    EXPECT_EQ(0, sysFileExists("/tmp"));   // a directory is not a file
    EXPECT_EQ(0, sysFileExists(""));
    EXPECT_EQ(0, sysFileExists(nullptr));
}
