// Fixture of the constant expression tests.
#include "constTestEnv.h"

#include "constexpr/krvConstExpr.h"
#include "constexpr/krvPPCond.h"
#include "testConsole.h"

#include <cstdarg>
#include <cstdio>

namespace {

krvAPTN_t *node(int nKind)
{
    krvAPTN_t *p = krvNewAPTN(nKind, 0, 3);
    if (p == nullptr)
        abort();
    return p;
}

}  // namespace

void ConstExprTest::SetUp()
{
    testConsole::install();
    krvSetLastDiagId(0);
    ASSERT_EQ(krvInitModel(), 0);
    m_pEnv = krvNewEnv("/scripts/main.krv");
    ASSERT_NE(m_pEnv, nullptr);
    ASSERT_EQ(krvFileInfoAddFile(m_pEnv->finfo, "/scripts/inc.krv"), 1);
}

void ConstExprTest::TearDown()
{
    krvFreeEnv(m_pEnv);
    krvFreeModel();
    krvSetLastDiagId(0);
    krvSetHostFuncs(nullptr);
}

std::string ConstExprTest::output()
{
    return testConsole::take();
}

void ConstExprTest::addInt(krvNamespace_t *pNs, const char *szName, int64_t n)
{
    krvValue_t v{};
    krvSetInt(&v, n);
    ASSERT_EQ(krvAddConst(pNs, krvNewConst(szName, &v, 0, 1)), 0);
}

void ConstExprTest::addStr(krvNamespace_t *pNs, const char *szName, const char *sz)
{
    krvValue_t v{};
    krvSetStr(&v, sz);
    ASSERT_EQ(krvAddConst(pNs, krvNewConst(szName, &v, 0, 1)), 0);
    krvClearValue(&v);
}

std::string ConstExprTest::eval(krvAPTN_t *pTree, krvNamespace_t *pNs)
{
    krvValue_t v{};
    krvSetStr(&v, "previous result");   // must be freed when the result is stored
    if (!krvEvalPPConstExpr(m_pEnv, pNs, pTree, &v)) {
        krvClearValue(&v);
        return "fail";
    }
    char buf[64];
    std::string s;
    switch (v.type) {
    case KRV_DT_INTEGER: s = "int " + std::to_string(v.val.nInt); break;
    case KRV_DT_FLOAT: snprintf(buf, sizeof buf, "float %g", v.val.dFloat); s = buf; break;
    case KRV_DT_STRING: s = std::string("str ") + v.val.pStr; break;
    case KRV_DT_HANDLE: snprintf(buf, sizeof buf, "handle %p", v.val.pHandle); s = buf; break;
    default: s = "type " + std::to_string(v.type); break;
    }
    krvClearValue(&v);
    return s;
}

std::string ConstExprTest::cond(const char *szText, krvNamespace_t *pNs)
{
    krvAPTN_t *pTree = nullptr;
    int nErrors = krvPPParseCondAt(szText, "main.krv", 0, 7, &pTree);
    if (nErrors != 0) {
        EXPECT_EQ(pTree, nullptr);
        return "syntax";
    }
    std::string s = eval(pTree, pNs);
    krvFreeAPTN(pTree);
    return s;
}

krvAPTN_t *nInt(int64_t n)
{
    krvAPTN_t *p = node(krvAPTNType_intConst);
    p->u.nIntConst = n;
    return p;
}

krvAPTN_t *nFloat(double d)
{
    krvAPTN_t *p = node(krvAPTNType_floatConst);
    p->u.dFloatConst = d;
    return p;
}

krvAPTN_t *nStr(const char *sz)
{
    krvAPTN_t *p = node(krvAPTNType_strConst);
    p->u.szStrConst = strdup(sz);
    return p;
}

krvAPTN_t *nRef(const char *szName)
{
    krvAPTN_t *p = node(krvAPTNType_varRef);
    p->u.varRef.szName = strdup(szName);
    return p;
}

krvAPTN_t *nOp(int nOp, krvAPTN_t *pA, krvAPTN_t *pB)
{
    krvAPTN_t *p = node(krvAPTNType_opExpr);
    p->u.opExpr.nOp = nOp;
    p->u.opExpr.opd1 = pA;
    p->u.opExpr.opd2 = pB;
    return p;
}

krvAPTN_t *nCond(krvAPTN_t *pC, krvAPTN_t *pA, krvAPTN_t *pB)
{
    pA->next = pB;
    return nOp(KRV_OP_COND, pC, pA);
}
