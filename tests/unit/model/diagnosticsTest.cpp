// Diagnostic texts, the last diagnostic id, and the environment's file
// information they read.
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "model/krvModel.h"
#include "outputCapture.h"

class DiagTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        krvInitModel();
        krvSetLastDiagId(0);
        env = krvNewEnv("/scripts/dir/prog.krv");
        ASSERT_NE(env, nullptr);
        ASSERT_EQ(krvFileInfoAddFile(env->finfo, "/scripts/dir/lib/inc.krv"), 1);
    }
    void TearDown() override
    {
        krvFreeEnv(env);
        krvFreeModel();
        krvSetLastDiagId(0);
    }
    krvEnv_t *env = nullptr;
    OutputCapture cap;
};

TEST_F(DiagTest, ErrorAtANodeNamesItsFileAndLine)
{
    env->phase = 'S';
    krvAPTN_t *p = krvNewAPTN(krvAPTNType_nullStmt, 1, 17);
    krvErrorAt(212, env, p, "undefined symbol \"%s\"", "x");
    EXPECT_EQ(cap.take(), "Error S212: inc.krv line 17: undefined symbol \"x\"\n");
    EXPECT_EQ(krvGetLastDiagId(), 212);
    env->phase = 'R';
    krvErrorAtPos(5, env, 0, 3, "run-time %d", 1);
    EXPECT_EQ(cap.take(), "Error R  5: prog.krv line 3: run-time 1\n");
    EXPECT_EQ(krvGetLastDiagId(), 5);
    krvFreeAPTN(p);
}

TEST_F(DiagTest, ParseErrorAndPlainReports)
{
    krvParseError(208, "prog.krv", 4, "%d-%s index of '%s': illegal array size (%d) is specified", 1,
                  krvOrdinalSuffix(1), "a", 0);
    EXPECT_EQ(cap.take(), "Error P208: prog.krv line 4: 1-st index of 'a': illegal array size (0) is specified\n");
    EXPECT_EQ(krvGetLastDiagId(), 208);
    krvSetLastDiagId(0);
    krvError("Fail to open \"%s\"\n", "/x/y.krv");
    krvWarning("\"%s\" line %d, size 1\n", "a.krv", 2);
    krvDebug("value %d\n", 3);
    krvPrint("plain %s\n", "text");
    EXPECT_EQ(cap.take(),
              "Error Fail to open \"/x/y.krv\"\n"
              "Warning: \"a.krv\" line 2, size 1\n"
              "Debug: value 3\n"
              "plain text\n");
    EXPECT_EQ(krvGetLastDiagId(), 0);   // only positioned reports set the id
}

TEST_F(DiagTest, LongMessagesAreCut)
{
    std::string big(1000, 'z');
    krvParseError(101, "prog.krv", 1, "%s", big.c_str());
    std::string out = cap.take();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    EXPECT_LE(out.size(), static_cast<size_t>(KRV_DIAG_LINE_MAX + 6));
    EXPECT_EQ(out.rfind("Error P101: prog.krv line 1: zzz", 0), 0u);
    krvWarning("%s", big.c_str());
    EXPECT_LE(cap.take().size(), static_cast<size_t>(KRV_DIAG_LINE_MAX + 9));
}

TEST_F(DiagTest, ALineCutForALongFileNameKeepsItsNewline)
{
    std::string file(600, 'f');
    krvParseError(102, file.c_str(), 7, "%s", "message");
    std::string out = cap.take();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find('\n'), out.size() - 1);
    EXPECT_EQ(out.rfind("Error P102: fff", 0), 0u);
    EXPECT_EQ(out.size(), static_cast<size_t>(KRV_DIAG_LINE_MAX - 1 + 6));
}

TEST_F(DiagTest, UnknownFileIndexPrintsAnEmptyName)
{
    krvErrorAtPos(9, env, 500, 2, "m");
    EXPECT_EQ(cap.take(), "Error P  9:  line 2: m\n");
    krvErrorAtPos(9, nullptr, 0, 2, "m");
    EXPECT_EQ(cap.take(), "Error ?  9:  line 2: m\n");
}

TEST_F(DiagTest, EnvironmentFileInformation)
{
    parseFileInfo_t *fi = env->finfo;
    EXPECT_EQ(env->phase, 'P');
    EXPECT_STREQ(env->szBaseName, "prog.krv");
    EXPECT_STREQ(fi->fileStack[0].szPath, "/scripts/dir/prog.krv");
    EXPECT_STREQ(fi->fileStack[0].szBaseName, "prog.krv");
    EXPECT_EQ(fi->currentDepth, 0);
    EXPECT_STREQ(fi->currentParsedFiles[0], "/scripts/dir/prog.krv");
    EXPECT_STREQ(fi->currentParsedFiles_f[1], "inc.krv");
    EXPECT_EQ(fi->currentParsedFiles[2], nullptr);
    EXPECT_EQ(krvFileInfoFindFile(fi, "/scripts/dir/lib/inc.krv"), 1);
    EXPECT_EQ(krvFileInfoFindFile(fi, "/nowhere.krv"), -1);
    EXPECT_EQ(fi->pCurNs, krvGlobalNs());
    EXPECT_EQ(fi->nErrors, 0);
    EXPECT_STREQ(krvEnvFileName(env, 1), "inc.krv");

    krvEnv_t *task = krvNewDerivedEnv(env);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->phase, 'R');
    EXPECT_EQ(task->finfo, env->finfo);
    EXPECT_EQ(task->pDerivedFrom, env);
    krvFreeEnv(task);   // the shared file information stays
    EXPECT_STREQ(env->finfo->currentParsedFiles_f[0], "prog.krv");
}

TEST_F(DiagTest, FileListHasAFixedCapacity)
{
    char szPath[64];
    int nLast = 1;
    for (int i = 2; i < KRV_GROUP_FILES_MAX; i++) {
        snprintf(szPath, sizeof(szPath), "/f/%d.krv", i);
        nLast = krvFileInfoAddFile(env->finfo, szPath);
    }
    EXPECT_EQ(nLast, KRV_GROUP_FILES_MAX - 1);
    EXPECT_EQ(krvFileInfoAddFile(env->finfo, "/f/full.krv"), -1);
}

TEST(EnvTable, AddFindRemove)
{
    ASSERT_EQ(krvEnvTableInit(), 0);
    ASSERT_EQ(krvEnvTableInit(), 0);
    krvEnv_t *a = krvNewEnv("/a/main.krv");
    krvEnv_t *b = krvNewEnv("/b/main.krv");
    krvEnv_t *a2 = krvNewEnv("/a/main.krv");
    EXPECT_EQ(krvEnvTableAdd(a), 0);
    EXPECT_EQ(krvEnvTableAdd(b), 0);
    EXPECT_EQ(krvEnvTableAdd(a2), -1);
    EXPECT_EQ(krvEnvTableFind("/a/main.krv"), a);
    EXPECT_EQ(krvEnvTableFind("/b/main.krv"), b);
    EXPECT_EQ(krvEnvTableFind("/c/main.krv"), nullptr);
    EXPECT_EQ(krvEnvTableRemove(a2), -1);
    int n = 0;
    while (krvEnv_t *p = krvEnvTableFirst()) {
        EXPECT_EQ(krvEnvTableRemove(p), 0);
        krvFreeEnv(p);
        n++;
    }
    EXPECT_EQ(n, 2);
    krvFreeEnv(a2);
    krvEnvTableFree();
    EXPECT_EQ(krvEnvTableFind("/a/main.krv"), nullptr);
}
