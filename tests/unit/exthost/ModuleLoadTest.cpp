// Loading modules into a script group: once per group, the version check,
// every failure message, the lifecycle calls and the release; finding
// module files in the program folder and KORVEL_MODULE_PATH.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "exthost/krvModule.h"
#include "exthost/krvModuleRecord.h"
#include "exthostTestSupport.h"

namespace fs = std::filesystem;

namespace {

typedef void (*countsFunc_t)(int *, int *, int *);

class ModuleLoadTest : public ExtHostTest {
protected:
    void SetUp() override
    {
        ExtHostTest::SetUp();
        char szTmpl[] = "/tmp/krvmodXXXXXX";
        ASSERT_NE(mkdtemp(szTmpl), nullptr);
        tmp = szTmpl;
        env = krvNewEnv((tmp + "/main.krv").c_str());
        ASSERT_NE(env, nullptr);
        unsetenv("KORVEL_MODULE_PATH");
    }
    void TearDown() override
    {
        krvFreeModules(env);
        EXPECT_EQ(env->finfo->pModules, nullptr);
        krvFreeEnv(env);
        unsetenv("KORVEL_MODULE_PATH");
        fs::remove_all(tmp);
        ExtHostTest::TearDown();
    }
    // A copy of a built test module under the temporary folder.
    std::string copyModule(const char *szStem, const std::string &relPath)
    {
        fs::path dst = fs::path(tmp) / relPath;
        fs::create_directories(dst.parent_path());
        fs::copy_file(testModulePath(szStem), dst, fs::copy_options::overwrite_existing);
        return dst.string();
    }
    int load(const std::string &path, const char **ppScript = nullptr)
    {
        const char *szScript = reinterpret_cast<const char *>(1);
        int r = krvLoadModule(env, path.c_str(), ppScript ? ppScript : &szScript);
        if (!ppScript) {
            EXPECT_TRUE(r == 1 || szScript == nullptr);
        }
        return r;
    }
    int moduleCount()
    {
        if (env->finfo->pModules == nullptr)
            return 0;
        int n = 0;
        sysHashIter_t *it = sysHashIterCreate(env->finfo->pModules);
        while (sysHashIterNext(it))
            n++;
        sysHashIterFree(it);
        return n;
    }
    std::string tmp;
    krvEnv_t *env = nullptr;
};

TEST_F(ModuleLoadTest, FullModuleRegistersAndHandsBackItsScript)
{
    const char *szScript = nullptr;
    ASSERT_EQ(load(testModulePath("kxt_full"), &szScript), 1);
    ASSERT_NE(szScript, nullptr);
    EXPECT_NE(strstr(szScript, "struct Pair_t"), nullptr);
    EXPECT_EQ(takeOutput(), "");
    krvNamespace_t *ns = krvFindNs(krvGlobalNs(), "kxt");
    ASSERT_NE(ns, nullptr);
    EXPECT_NE(krvFindNs(ns, "sub"), nullptr);
    EXPECT_NE(krvFindFunc(ns, "add"), nullptr);
    EXPECT_EQ(krvFindConst(ns, "ANSWER")->pData->val.nInt, 42);
    EXPECT_STREQ(krvFindConst(ns, "GREETING")->pData->val.pStr, "hello");
    EXPECT_EQ(krvFindVar(ns, "counter")->pData->val.nInt, 7);
    EXPECT_NE(krvFindConst(krvGlobalNs(), "KXT_LOADED"), nullptr);
    EXPECT_EQ(moduleCount(), 1);
}

TEST_F(ModuleLoadTest, ModuleKeepsACopyOfTheTable)
{
    ASSERT_EQ(load(testModulePath("kxt_full")), 1);
    krvModule_t *pMod = static_cast<krvModule_t *>(sysHashFind(env->finfo->pModules, testModulePath("kxt_full").c_str()));
    ASSERT_NE(pMod, nullptr);
    auto pfnTable = reinterpret_cast<const krvHostTable_t *(*)()>(krvHost()->pfnGetSym(pMod->hLib, "kxt_full_table"));
    ASSERT_NE(pfnTable, nullptr);
    const krvHostTable_t *copy = pfnTable();
    EXPECT_EQ(memcmp(copy, &host, sizeof(host)), 0);   // built the same way as ours
    EXPECT_STREQ(copy->szIntpDir, "/opt/korvel/bin");
}

TEST_F(ModuleLoadTest, LoadedOncePerGroupWhicheverPathNamesIt)
{
    std::string first = copyModule("kxt_full", "a/kxt_full.kxm");
    std::string second = copyModule("kxt_full", "b/kxt_full.kxm");
    ASSERT_EQ(load(first), 1);
    ASSERT_EQ(load(tmp + "/a/../a/kxt_full.kxm"), 1);   // another spelling
    ASSERT_EQ(load(second), 1);                        // same base name elsewhere
    ASSERT_EQ(load(first), 1);
    EXPECT_EQ(moduleCount(), 1);
    krvModule_t *pMod = static_cast<krvModule_t *>(sysHashFind(env->finfo->pModules, first.c_str()));
    ASSERT_NE(pMod, nullptr);
    EXPECT_STREQ(pMod->szBaseName, "kxt_full.kxm");
    auto counts = reinterpret_cast<countsFunc_t>(krvHost()->pfnGetSym(pMod->hLib, "kxt_full_counts"));
    int nInit, nPrep, nDeinit;
    counts(&nInit, &nPrep, &nDeinit);
    EXPECT_EQ(nInit, 1);
    EXPECT_EQ(takeOutput(), "");
}

TEST_F(ModuleLoadTest, PrepareAndDeinitReachEveryModuleThatHasThem)
{
    ASSERT_EQ(load(testModulePath("kxt_full")), 1);
    krvPrepareModules(env);
    krvDeinitModules(env);
    EXPECT_EQ(takeOutput(), "kxt_full: prepare 1\nkxt_full: deinit 1\n");
    krvDeinitModules(env);
    EXPECT_EQ(takeOutput(), "kxt_full: deinit 2\n");
    // Release: the library goes; loading again runs _init afresh.
    krvFreeModules(env);
    EXPECT_EQ(env->finfo->pModules, nullptr);
    krvFreeModel();
    ASSERT_EQ(krvInitModel(), 0);
    ASSERT_EQ(load(testModulePath("kxt_full")), 1);
    krvPrepareModules(env);
    EXPECT_EQ(takeOutput(), "kxt_full: prepare 1\n");
}

TEST_F(ModuleLoadTest, LifecycleCallsOnAGroupWithoutModulesDoNothing)
{
    krvPrepareModules(env);
    krvDeinitModules(env);
    krvFreeModules(env);
    krvPrepareModules(nullptr);
    EXPECT_EQ(takeOutput(), "");
}

TEST_F(ModuleLoadTest, NewerInterfaceIsRefused)
{
    EXPECT_EQ(load(testModulePath("kxt_v130")), 0);
    EXPECT_EQ(takeOutput(), "Error: version mismatch\nError: module was built for Korvel 1.3.0\n");
    EXPECT_EQ(moduleCount(), 0);
}

TEST_F(ModuleLoadTest, MissingInitIsNamed)
{
    EXPECT_EQ(load(testModulePath("kxt_noinit")), 0);
    EXPECT_EQ(takeOutput(), "Error: cannot find kxt_noinit_init\n");
    EXPECT_EQ(moduleCount(), 0);
}

TEST_F(ModuleLoadTest, InitReturningZeroFailsQuietly)
{
    EXPECT_EQ(load(testModulePath("kxt_initfail")), 0);
    EXPECT_EQ(takeOutput(), "kxt_initfail: no device\n");   // the module's own reason only
    EXPECT_EQ(moduleCount(), 0);
}

TEST_F(ModuleLoadTest, MissingVersionReport)
{
    EXPECT_EQ(load(testModulePath("kxt_nointpver")), 0);
    EXPECT_EQ(takeOutput(), "Error: fail to check version\n");
}

TEST_F(ModuleLoadTest, FileNameWithoutStemHasNoEntryPoints)
{
    std::string digit = copyModule("kxt_full", "5abc");
    EXPECT_EQ(load(digit), 0);
    EXPECT_EQ(takeOutput(), "Error: fail to check version\n");
    std::string dot = copyModule("kxt_full", ".kxt_full.kxm");
    EXPECT_EQ(load(dot), 0);
    EXPECT_EQ(takeOutput(), "Error: fail to check version\n");
}

TEST_F(ModuleLoadTest, InnerDotsOfTheNameBecomeUnderscores)
{
    // kxt.noinit.kxm has the stem kxt_noinit: its version is found, its
    // _init is looked for under that stem.
    std::string path = copyModule("kxt_noinit", "kxt.noinit.kxm");
    EXPECT_EQ(load(path), 0);
    EXPECT_EQ(takeOutput(), "Error: cannot find kxt_noinit_init\n");
}

TEST_F(ModuleLoadTest, UnloadableFileIsReportedWithItsPath)
{
    std::string missing = tmp + "/nothere.kxm";
    EXPECT_EQ(load(missing), 0);
    EXPECT_EQ(takeOutput(), "Error: fail to load \"" + missing + "\"\n");
    std::string notLib = tmp + "/text.kxm";
    FILE *f = fopen(notLib.c_str(), "w");
    fputs("not a library\n", f);
    fclose(f);
    EXPECT_EQ(load(notLib), 0);
    EXPECT_EQ(takeOutput(), "Error: fail to load \"" + notLib + "\"\n");
    EXPECT_EQ(moduleCount(), 0);
}

TEST_F(ModuleLoadTest, FoundInTheProgramFolder)
{
    copyModule("kxt_full", "bin/kxt_full.kxm");
    setProgPath((tmp + "/bin/korvel").c_str());
    ASSERT_EQ(load(tmp + "/scripts/kxt_full.kxm"), 1);
    krvModule_t *pMod = static_cast<krvModule_t *>(sysHashFind(env->finfo->pModules, (tmp + "/bin/kxt_full.kxm").c_str()));
    EXPECT_NE(pMod, nullptr);
}

TEST_F(ModuleLoadTest, FoundInTheModulePathFoldersInOrder)
{
    copyModule("kxt_full", "second/kxt_full.kxm");
    copyModule("kxt_full", "third/kxt_full.kxm");
    std::string var = tmp + "/none::" + tmp + "/second:" + tmp + "/third";
    setenv("KORVEL_MODULE_PATH", var.c_str(), 1);
    ASSERT_EQ(load(tmp + "/scripts/kxt_full.kxm"), 1);
    EXPECT_NE(sysHashFind(env->finfo->pModules, (tmp + "/second/kxt_full.kxm").c_str()), nullptr);
}

TEST_F(ModuleLoadTest, TheScriptFolderComesFirst)
{
    copyModule("kxt_full", "bin/kxt_full.kxm");
    std::string local = copyModule("kxt_full", "scripts/kxt_full.kxm");
    setProgPath((tmp + "/bin/korvel").c_str());
    ASSERT_EQ(load(local), 1);
    EXPECT_NE(sysHashFind(env->finfo->pModules, local.c_str()), nullptr);
}

TEST_F(ModuleLoadTest, NotFoundAnywhereReportsTheScriptPath)
{
    setenv("KORVEL_MODULE_PATH", (tmp + "/empty").c_str(), 1);
    std::string want = tmp + "/scripts/kxt_full.kxm";
    EXPECT_EQ(load(want), 0);
    EXPECT_EQ(takeOutput(), "Error: fail to load \"" + want + "\"\n");
}

}  // namespace
