#include "frontendTestEnv.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "frontend/krvParse.h"
#include "frontend/krvScanner.h"
#include "testConsole.h"

void FrontendTest::SetUp()
{
    testConsole::install(krvHost());
    krvSetLastDiagId(0);
    ASSERT_EQ(krvInitModel(), 0);
    ASSERT_EQ(krvEnvTableInit(), 0);
}

void FrontendTest::TearDown()
{
    if (m_pEnv)
        krvParseDiscardGroup(m_pEnv);
    m_pEnv = nullptr;
    krvFreeModel();
    krvEnvTableFree();
    krvSetHostFuncs(nullptr);
    krvSetLastDiagId(0);
}

std::string FrontendTest::output()
{
    return testConsole::take();
}

std::vector<krvTok> FrontendTest::scan(const char *szText, const char *szName)
{
    std::vector<krvTok> toks;
    krvEnv_t *pEnv = krvNewEnv(szName);
    krvScanner_t *pSc = new krvScanner_t;
    krvScanInitText(pSc, pEnv, szText, szName);
    for (int i = 0; i < 100000; i++) {
        krvTokenValue_t v;
        int c = krvScanNextToken(pSc, &v);
        krvTok t{c, v.sz ? v.sz : "", v.n, v.d, krvScanLine(pSc)};
        free(v.sz);
        if (c == 0)
            break;
        toks.push_back(t);
    }
    krvScanFree(pSc);
    delete pSc;
    krvFreeEnv(pEnv);
    return toks;
}

krvEnv_t *FrontendTest::parse(const char *szText, const char *szName)
{
    if (m_pEnv)
        krvParseDiscardGroup(m_pEnv);
    m_pEnv = krvParseScriptText(szName, szText);
    return m_pEnv;
}

void writeFile(const std::string &path, const std::string &text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream f(path, std::ios::binary);
    f << text;
}
