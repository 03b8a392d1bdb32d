// Modules loaded by scripts run through the korvel program: the loader's
// refusals appear before the scanner's report, whose full path depends on
// the script's folder (so these are checked here rather than as fixed
// expected output).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class KorvelRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTmpl[] = "/tmp/krvrunXXXXXX";
        ASSERT_NE(mkdtemp(szTmpl), nullptr);
        dir = szTmpl;
        setenv("KORVEL_MODULE_PATH", KRV_TEST_MODULE_DIR, 1);
    }
    void TearDown() override
    {
        fs::remove_all(dir);
        unsetenv("KORVEL_MODULE_PATH");
    }
    // Writes main.krv with the given text and runs `korvel [--check] main.krv`
    // in its folder; returns standard output.
    std::string run(const std::string &script, bool bCheck = true)
    {
        std::ofstream(dir + "/main.krv") << script;
        std::string cmd = "cd '" + dir + "' && '" KORVEL_BIN "' " + (bCheck ? "--check " : "") + "main.krv 2>/dev/null";
        FILE *p = popen(cmd.c_str(), "r");
        if (p == nullptr)
            return "<popen failed>";
        std::string out;
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
            out.append(buf, n);
        pclose(p);
        return out;
    }
    static bool startsWith(const std::string &s, const std::string &prefix)
    {
        return s.compare(0, prefix.size(), prefix) == 0;
    }
    std::string scannerReport(const char *szName)
    {
        return std::string("fail to load \"") + szName + "\" (" + dir + "/" + szName + ")";
    }
    std::string dir;
};

TEST_F(KorvelRunTest, NewerInterfaceRefusedWithBothLines)
{
    std::string out = run("#load <kxt_v130.kxm>\nmain() { }\n");
    EXPECT_TRUE(startsWith(out, "Error: version mismatch\nError: module was built for Korvel 1.3.0\nError P")) << out;
    EXPECT_NE(out.find(scannerReport("kxt_v130.kxm")), std::string::npos) << out;
    EXPECT_EQ(out.find("init must not run"), std::string::npos) << out;
    EXPECT_EQ(out.find("Check pass!"), std::string::npos) << out;
}

TEST_F(KorvelRunTest, EveryLoadFailureHasItsMessage)
{
    std::string out = run("#load <kxt_noinit.kxm>\nmain() { }\n");
    EXPECT_TRUE(startsWith(out, "Error: cannot find kxt_noinit_init\nError P")) << out;
    EXPECT_NE(out.find(scannerReport("kxt_noinit.kxm")), std::string::npos) << out;

    out = run("#load <kxt_nointpver.kxm>\nmain() { }\n");
    EXPECT_TRUE(startsWith(out, "Error: fail to check version\nError P")) << out;

    out = run("#load <kxt_initfail.kxm>\nmain() { }\n");
    EXPECT_TRUE(startsWith(out, "kxt_initfail: no device\nError P")) << out;
    EXPECT_NE(out.find(scannerReport("kxt_initfail.kxm")), std::string::npos) << out;

    out = run("#load <kxt_nowhere.kxm>\nmain() { }\n");
    EXPECT_TRUE(startsWith(out, "Error: fail to load \"" + dir + "/kxt_nowhere.kxm\"\nError P")) << out;
}

TEST_F(KorvelRunTest, ModuleInTheScriptFolderIsUsedFirst)
{
    // A file of that name in the script's folder that is no library: the
    // module folders are not consulted.
    std::ofstream(dir + "/kxt_full.kxm") << "not a library\n";
    std::string out = run("#load <kxt_full.kxm>\nmain() { }\n");
    EXPECT_TRUE(startsWith(out, "Error: fail to load \"" + dir + "/kxt_full.kxm\"\n")) << out;
    fs::remove(dir + "/kxt_full.kxm");
    out = run("#load <kxt_full.kxm>\nmain() { }\n");
    EXPECT_EQ(out, "kxt_full: deinit 1\nCheck pass!\n");
}

TEST_F(KorvelRunTest, ScriptCannotRedefineARegisteredFunction)
{
    // The module's functions sit in the model before the script's own.
    std::string out = run("#load <kxt_full.kxm>\nnamespace kxt { add(a, b) { } }\nmain() { }\n");
    EXPECT_NE(out.find("Error P"), std::string::npos) << out;
    EXPECT_NE(out.find("main.krv line 2:"), std::string::npos) << out;
    EXPECT_EQ(out.find("Check pass!"), std::string::npos) << out;
}

}  // namespace
