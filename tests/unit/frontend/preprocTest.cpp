// Preprocessor: conditional inclusion states, file inclusion through real
// files, nesting limits, module loading failures.
#include "frontendTestEnv.h"

#include <cstring>
#include <unistd.h>

#include "frontend/krvParse.h"
#include "krvGrammar.hpp"
#include "script/krvScriptEncode.h"

static std::string tempDir()
{
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/krv_frontend_XXXXXX";
        dir = mkdtemp(tmpl);
    }
    return dir;
}

TEST_F(FrontendTest, IfElifElseTakesOneBranch)
{
    auto t = scan("#if 0\nA\n#if 1\nB\n#endif\n#elif 1\nC\n#elif 1\nD\n#else\nE\n#endif\nF");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].sz, "C");
    EXPECT_EQ(t[0].nLine, 7);
    EXPECT_EQ(t[1].sz, "F");
    EXPECT_EQ(output(), "");
}

TEST_F(FrontendTest, ElseAfterFalseIfAndNestedTrueIf)
{
    auto t = scan("#if 1\n#if 0\nA\n#else\nB\n#endif\n#else\nC\n#endif");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].sz, "B");
}

TEST_F(FrontendTest, ConditionUsesConstantsOfTheCurrentNamespace)
{
    krvEnv_t *pEnv = parse("namespace n { const X = 2;\n#if X == 2\nconst Y = 1;\n#endif\n}\n"
                           "#if ::n::Y\nmain() { }\n#endif\n");
    ASSERT_NE(pEnv, nullptr);
    EXPECT_NE(pEnv->pMainFunc, nullptr);
    EXPECT_EQ(output(), "");
}

TEST_F(FrontendTest, ConditionContinuationAndComment)
{
    auto t = scan("#if 1 && \\\n 0\nA\n#endif\n#if 1 // 0 &&\nB\n#endif");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].sz, "B");
    EXPECT_EQ(t[0].nLine, 6);
}

TEST_F(FrontendTest, OpenIfIsReportedAtTheEndOfTheMainText)
{
    auto t = scan("#if 1\n#if 0\nA\n");
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(output(), "Error P153: t.krv line 2: unterminated #if\nError P153: t.krv line 1: unterminated #if\n");
}

TEST_F(FrontendTest, ConditionalOverflowIsRefused)
{
    std::string text;
    for (int i = 0; i < 70; i++)
        text += "#if 1\n";
    text += "X\n";
    scan(text.c_str());
    std::string out = output();
    EXPECT_NE(out.find("Error P158: t.krv line 65: Conditional inclusion overflow"), std::string::npos) << out;
    EXPECT_NE(out.find("Error P153: t.krv line 64: unterminated #if"), std::string::npos);
}

TEST_F(FrontendTest, IncludeReadsEachFileOnceAndResumesAfterTheDirective)
{
    std::string d = tempDir() + "/once";
    writeFile(d + "/lib/a.krv", "const A = 1;\n#include <../main.krv>\n#include <b.krv>\n");
    writeFile(d + "/lib/b.krv", "const B = __LINE__ + 1;\n");
    writeFile(d + "/main.krv", "#include <lib/a.krv> ignored words\n#include <lib/b.krv>\n#include <lib//./a.krv>\n"
                               "#if A + B == 3\nmain() { }\n#endif\n");
    krvEnv_t *pEnv = krvParseScriptGroup((d + "/main.krv").c_str());
    ASSERT_NE(pEnv, nullptr);
    EXPECT_NE(pEnv->pMainFunc, nullptr);
    EXPECT_EQ(output(), "");
    // The group's file list: main, a, b.
    EXPECT_STREQ(pEnv->finfo->currentParsedFiles_f[0], "main.krv");
    EXPECT_STREQ(pEnv->finfo->currentParsedFiles_f[1], "a.krv");
    EXPECT_STREQ(pEnv->finfo->currentParsedFiles_f[2], "b.krv");
    EXPECT_EQ(pEnv->finfo->currentParsedFiles[3], nullptr);
    EXPECT_EQ(pEnv->finfo->currentDepth, 0);
    // A second parse of the same path gives the same environment.
    EXPECT_EQ(krvParseScriptGroup((d + "/main.krv").c_str()), pEnv);
    m_pEnv = pEnv;
}

TEST_F(FrontendTest, NodesCarryTheirFileIndex)
{
    std::string d = tempDir() + "/idx";
    writeFile(d + "/inc.krv", "\n\nf() { return 1; }\n");
    writeFile(d + "/main.krv", "#include <inc.krv>\nmain() { return 2; }\n");
    krvEnv_t *pEnv = krvParseScriptGroup((d + "/main.krv").c_str());
    ASSERT_NE(pEnv, nullptr);
    krvFuncInfo_t *pF = krvFindUsrFunc(krvGlobalNs(), "f");
    ASSERT_NE(pF, nullptr);
    EXPECT_EQ(pF->nFileIdx, 1);
    EXPECT_EQ(pF->pBody->nFileIdx, 1);
    EXPECT_EQ(pF->pBody->nLine, 3);
    EXPECT_STREQ(krvEnvFileName(pEnv, pF->nFileIdx), "inc.krv");
    EXPECT_EQ(pEnv->pMainFunc->nFileIdx, 0);
    EXPECT_EQ(pEnv->pMainFunc->pBody->nLine, 2);
    m_pEnv = pEnv;
}

TEST_F(FrontendTest, IncludeNestingDeeperThanTheStackIsRefused)
{
    std::string d = tempDir() + "/deep";
    for (int i = 0; i < 40; i++)
        writeFile(d + "/f" + std::to_string(i) + ".krv", "#include <f" + std::to_string(i + 1) + ".krv>\n");
    writeFile(d + "/f40.krv", "const END = 1;\n");
    writeFile(d + "/main.krv", "#include <f0.krv>\nmain() { }\n");
    krvEnv_t *pEnv = krvParseScriptGroup((d + "/main.krv").c_str());
    std::string out = output();
    // Depths 0..31: main and f0..f30 are read; f31 is refused in f30.
    EXPECT_EQ(out, "Error P303: f30.krv line 1: \"" + d + "/f31.krv\" is not read: inputs nest deeper than 31 levels\n");
    ASSERT_NE(pEnv, nullptr);
    EXPECT_EQ(krvGetLastDiagId(), 303);
    m_pEnv = pEnv;
}

TEST_F(FrontendTest, SelfIncludeEndsTheTokenStream)
{
    std::string d = tempDir() + "/self";
    writeFile(d + "/main.krv", "main() { }\n#include <./main.krv>\nf() { }\n");
    krvEnv_t *pEnv = krvParseScriptGroup((d + "/main.krv").c_str());
    EXPECT_EQ(output(), "Error P302: main.krv line 2: file includes itself\n");
    ASSERT_NE(pEnv, nullptr);
    EXPECT_EQ(krvFindUsrFunc(krvGlobalNs(), "f"), nullptr);
    m_pEnv = pEnv;
}

TEST_F(FrontendTest, LoadFailureNamesTheModuleAndItsPath)
{
    std::string d = tempDir() + "/load";
    writeFile(d + "/main.krv", "#load <mods\\none.kxm>\nmain() { }\n");
    krvEnv_t *pEnv = krvParseScriptGroup((d + "/main.krv").c_str());
    std::string full = d + "/mods/none.kxm";
    EXPECT_EQ(output(), "Error: fail to load \"" + full + "\"\nError P301: main.krv line 1: fail to load \"mods\\none.kxm\" (" +
                            full + ")\n\n");
    ASSERT_NE(pEnv, nullptr);
    m_pEnv = pEnv;
}

TEST_F(FrontendTest, MissingMainFile)
{
    EXPECT_EQ(krvParseScriptGroup("/tmp/krv_frontend_no_such_dir/x.krv"), nullptr);
    EXPECT_EQ(output(), "Error Fail to open \"/tmp/krv_frontend_no_such_dir/x.krv\"\n");
}

TEST_F(FrontendTest, SyntaxErrorInAnIncludedFileDiscardsTheGroup)
{
    std::string d = tempDir() + "/syn";
    writeFile(d + "/inc.krv", "const K = 1;\nf() { return 1 + ; }\n");
    writeFile(d + "/main.krv", "#include <inc.krv>\nmain() { }\n");
    EXPECT_EQ(krvParseScriptGroup((d + "/main.krv").c_str()), nullptr);
    EXPECT_EQ(output(), "Error \"inc.krv\": syntax error at or near line 2\n");
    EXPECT_EQ(krvEnvTableFind((d + "/main.krv").c_str()), nullptr);
    // The model is empty again: only the predefined variables are left.
    EXPECT_EQ(krvFindConst(krvGlobalNs(), "K"), nullptr);
    EXPECT_NE(krvFindVar(krvGlobalNs(), "$0"), nullptr);
}

TEST_F(FrontendTest, IncludedFileMayBeEncrypted)
{
    std::string d = tempDir() + "/enc";
    const char *szText = "const SECRET = 5;\nconst E = 0x1K;\n";
    size_t nLen = 0;
    unsigned char *pEnc = krvEncEncode(reinterpret_cast<const unsigned char *>(szText), strlen(szText), &nLen);
    ASSERT_NE(pEnc, nullptr);
    writeFile(d + "/lib.krv.enc", std::string(reinterpret_cast<char *>(pEnc), nLen));
    free(pEnc);
    writeFile(d + "/main.krv", "#include <lib.krv>\n#if SECRET == 5\nmain() { }\n#endif\n");
    krvEnv_t *pEnv = krvParseScriptGroup((d + "/main.krv").c_str());
    ASSERT_NE(pEnv, nullptr);
    m_pEnv = pEnv;
    EXPECT_NE(pEnv->pMainFunc, nullptr);
    EXPECT_EQ(output(), "Error P201: lib.krv line 2: illegal character \"K\" after a number\n");
}

TEST_F(FrontendTest, ParserFileStackFollowsPushAndPop)
{
    krvEnv_t *pEnv = krvNewEnv("/x/main.krv");
    ASSERT_NE(pEnv, nullptr);
    parseFileInfo_t *pFi = pEnv->finfo;
    EXPECT_EQ(krvParserPushFile(pFi, "/x/a.krv"), 1);
    EXPECT_EQ(pFi->currentDepth, 1);
    EXPECT_EQ(pFi->currentFileIdx, 1);
    EXPECT_STREQ(pFi->fileStack[1].szBaseName, "a.krv");
    EXPECT_EQ(krvParserPushFile(pFi, "/x/b.krv"), 1);
    EXPECT_EQ(pFi->currentFileIdx, 2);
    krvParserPopFile(pFi);
    EXPECT_EQ(pFi->currentDepth, 1);
    EXPECT_EQ(pFi->currentFileIdx, 1);
    EXPECT_EQ(pFi->fileStack[2].szPath, nullptr);
    krvParserPopFile(pFi);
    EXPECT_EQ(pFi->currentFileIdx, 0);
    // Depths 0 to 31: the 32nd push is refused.
    for (int i = 1; i < 32; i++)
        EXPECT_EQ(krvParserPushFile(pFi, ("/x/d" + std::to_string(i) + ".krv").c_str()), 1);
    EXPECT_EQ(pFi->currentDepth, 31);
    output();
    EXPECT_EQ(krvParserPushFile(pFi, "/x/over.krv"), 0);
    EXPECT_EQ(output(), "Debug: krvParserPushFile(): currentDepth is 31; will overflow after push\n");
    EXPECT_EQ(krvFileInfoFindFile(pFi, "/x/over.krv"), -1);
    while (pFi->currentDepth > 0)
        krvParserPopFile(pFi);
    krvFreeEnv(pEnv);
}
