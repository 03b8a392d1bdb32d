// Driver pieces: the script path rule, the module-file test, the module
// stem, and the module query against small test libraries.
#include <cstdarg>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "driver/krvHostFuncsInit.h"
#include "driver/krvModuleQuery.h"
#include "driver/krvPaths.h"
#include "exthost/krvModuleNames.h"
#include "driver/krvStartup.h"
#include "model/krvHostFuncs.h"
#include "testConsole.h"

static std::string scriptPath(const char *szCwd, const char *szFile)
{
    char *p = krvScriptPath(szCwd, szFile);
    std::string s = p ? p : "<null>";
    free(p);
    return s;
}

TEST(ScriptPath, JoinedToTheWorkingDirectoryAndNormalised)
{
    EXPECT_EQ(scriptPath("/home/u", "prog.krv"), "/home/u/prog.krv");
    EXPECT_EQ(scriptPath("/home/u", "sub\\dir\\prog.krv"), "/home/u/sub/dir/prog.krv");
    EXPECT_EQ(scriptPath("/home/u", "./a/../b/./prog.krv"), "/home/u/b/prog.krv");
    EXPECT_EQ(scriptPath("/home/u", "../x.krv"), "/home/x.krv");
    EXPECT_EQ(scriptPath("/home/u", "/abs//dir/x.krv"), "/abs/dir/x.krv");
    EXPECT_EQ(scriptPath("/home/u", "\\abs\\x.krv"), "/abs/x.krv");   // a leading '\' is the root
    std::string tooLong(600, 'a');
    EXPECT_EQ(scriptPath("/home/u", tooLong.c_str()), "<null>");
}

TEST(ModuleFile, ExtensionTest)
{
    EXPECT_TRUE(krvIsModuleFile("lib.kxm"));
    EXPECT_TRUE(krvIsModuleFile("/a.b/c/kxm_nvme.kxm"));
    EXPECT_TRUE(krvIsModuleFile("dir\\m.kxm"));
    EXPECT_FALSE(krvIsModuleFile("lib.KXM"));          // case matters
    EXPECT_FALSE(krvIsModuleFile("lib.kxmx"));
    EXPECT_FALSE(krvIsModuleFile("libkxm"));
    EXPECT_FALSE(krvIsModuleFile("dir.kxm/file"));     // '/' ends the search
    EXPECT_FALSE(krvIsModuleFile("dir.kxm\\file"));    // and so does '\'
    EXPECT_FALSE(krvIsModuleFile("a.kxm.krv"));
    EXPECT_TRUE(krvIsModuleFile(".kxm"));
    // Ten characters may be passed before the '.', not eleven.
    EXPECT_FALSE(krvIsModuleFile("kxm.0123456789"));
    EXPECT_FALSE(krvIsModuleFile("kxm.01234567890"));
    EXPECT_FALSE(krvIsModuleFile(""));
}

static std::string stem(const char *sz)
{
    char buf[64];
    return krvModuleStem(sz, buf, sizeof(buf)) ? std::string(buf) : "<none>";
}

TEST(ModuleFile, Stem)
{
    EXPECT_EQ(stem("kxm_nvme.kxm"), "kxm_nvme");
    EXPECT_EQ(stem("/opt/mods/kxm_scom.kxm"), "kxm_scom");
    EXPECT_EQ(stem("my.mod.v2.kxm"), "my_mod_v2");
    EXPECT_EQ(stem("plain"), "plain");
    EXPECT_EQ(stem("9lives"), "<none>");         // no '.', leading digit
    EXPECT_EQ(stem("9lives.kxm"), "9lives");     // the digit rule is for names without '.'
    EXPECT_EQ(stem(".hidden.kxm"), "<none>");
    EXPECT_EQ(stem(".kxm"), "<none>");
    EXPECT_EQ(stem("dir/"), "<none>");
    EXPECT_EQ(stem(""), "<none>");
    char small[4];
    EXPECT_FALSE(krvModuleStem("abcd.kxm", small, sizeof(small)));
}

// Console output of the query, with the real loader.
class ModuleQueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        krvDriverInstallHostFuncs("/usr/bin/korvel");
        krvHostFuncs_t host = *krvHost();
        host.pfnPrintf = testConsole::print;
        host.pfnErrPrintf = testConsole::print;
        krvSetHostFuncs(&host);
        testConsole::text().clear();
    }
    void TearDown() override { krvSetHostFuncs(nullptr); }
};

TEST_F(ModuleQueryTest, PrintsNameVersionInterpreterVersionAndBuild)
{
    EXPECT_EQ(krvModuleQuery(QMOD_DIR "/kxm_qtest.kxm"), 0);
    EXPECT_EQ(testConsole::text(), "qtest 3.4.5\nBased on Korvel 1.2.0-rc1.\nbuilt for the query test\n");
    testConsole::text().clear();
    EXPECT_EQ(krvModuleQuery(QMOD_DIR "/q.mod.kxm"), 0);   // stem q_mod
    EXPECT_EQ(testConsole::text(), "qtest 3.4.5\nBased on Korvel 1.2.0-rc1.\nbuilt for the query test\n");
}

TEST_F(ModuleQueryTest, LibraryWithoutExportsPrintsNothing)
{
    EXPECT_EQ(krvModuleQuery(QMOD_DIR "/kxm_bare.kxm"), 0);
    EXPECT_EQ(testConsole::text(), "");
}

TEST_F(ModuleQueryTest, MissingOrUnnamedLibrariesExitWithOne)
{
    EXPECT_EQ(krvModuleQuery(QMOD_DIR "/absent.kxm"), 1);
    EXPECT_EQ(krvModuleQuery(QMOD_DIR "/.kxm"), 1);
    EXPECT_EQ(krvModuleQuery(QMOD_DIR "/driverTest.cpp.kxm"), 1);
    EXPECT_EQ(testConsole::text(), "");
}

TEST(Startup, ProgramPathIsAbsolute)
{
    char szOut[SYS_PATH_MAX];
    krvProgramPath("rel/korvel", "/work", szOut);
    EXPECT_EQ(szOut[0], '/');
    krvStartup_t st;
    ASSERT_EQ(krvStartup("korvel", &st), 0);
    EXPECT_EQ(st.szProgPath[0], '/');
    EXPECT_EQ(st.szCwd[0], '/');
    EXPECT_STREQ(krvHost()->szProgPath, st.szProgPath);
    krvSetHostFuncs(nullptr);
}
