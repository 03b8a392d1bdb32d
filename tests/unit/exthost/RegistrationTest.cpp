// Registration slots: namespaces, functions, variables and constants land
// in the object model; duplicates and malformed descriptors are refused.
#include "exthostTestSupport.h"

namespace {

using RegistrationTest = ExtHostTest;

int32_t dummyHandler(uint32_t, krvValue_t *, krvValue_t *, char *)
{
    return 0;
}
int32_t otherHandler(uint32_t, krvValue_t *, krvValue_t *, char *)
{
    return 1;
}
int32_t ctxHandler(void *, uint32_t, krvValue_t *, krvValue_t *, char *)
{
    return 0;
}

TEST_F(RegistrationTest, NamespacesAreCreatedOnceUnderTheirParent)
{
    void *root = host.pfnGetRootNs();
    EXPECT_EQ(root, krvGlobalNs());
    void *ns = host.pfnAddNs(root, "dev");
    ASSERT_NE(ns, nullptr);
    EXPECT_EQ(krvFindNs(krvGlobalNs(), "dev"), ns);
    EXPECT_EQ(host.pfnAddNs(root, "dev"), nullptr);
    void *child = host.pfnAddNs(ns, "admc");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(static_cast<krvNamespace_t *>(child)->parent, ns);
    EXPECT_EQ(host.pfnAddNs(nullptr, "x"), nullptr);   // parent is required
    EXPECT_EQ(host.pfnAddNs(root, nullptr), nullptr);
}

TEST_F(RegistrationTest, FunctionDescriptorIsFilledAndDuplicatesKeepTheFirst)
{
    void *ns = host.pfnAddNs(host.pfnGetRootNs(), "dev");
    ASSERT_EQ(host.pfnAddFunc(ns, "read", dummyHandler, 2, 5, 0x1, 0x4, 0x8), 1);
    krvFuncInfo_t *f = krvFindFunc(static_cast<krvNamespace_t *>(ns), "read");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->type, KRV_EXT_FUNC_TYPE);
    EXPECT_EQ(f->isCtx, 0);
    EXPECT_EQ(f->minArgNum, 2);
    EXPECT_EQ(f->maxArgNum, 5);
    EXPECT_EQ(f->refMask, 0x1u);
    EXPECT_EQ(f->arrMask, 0x4u);
    EXPECT_EQ(f->structMask, 0x8u);
    EXPECT_EQ(f->pHandler, reinterpret_cast<void *>(dummyHandler));
    EXPECT_EQ(f->pNamespace, ns);

    EXPECT_EQ(host.pfnAddFunc(ns, "read", otherHandler, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(krvFindFunc(static_cast<krvNamespace_t *>(ns), "read")->pHandler,
              reinterpret_cast<void *>(dummyHandler));
    EXPECT_EQ(host.pfnAddCtxFunc(ns, "read", ctxHandler, 0, 0, 0, 0, 0), 0);

    ASSERT_EQ(host.pfnAddCtxFunc(ns, "task", ctxHandler, 0, 1, 0, 0, 0), 1);
    EXPECT_EQ(krvFindFunc(static_cast<krvNamespace_t *>(ns), "task")->isCtx, 1);
}

TEST_F(RegistrationTest, FunctionsThatCannotBeCalledSafelyAreRefused)
{
    void *ns = host.pfnAddNs(host.pfnGetRootNs(), "dev");
    EXPECT_EQ(host.pfnAddFunc(nullptr, "f", dummyHandler, 0, 0, 0, 0, 0), 0);   // namespace required
    EXPECT_EQ(host.pfnAddFunc(ns, "f", nullptr, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(host.pfnAddFunc(ns, "f", dummyHandler, 0, 9, 0, 0, 0), 0);        // only 8 argument cells
    EXPECT_EQ(host.pfnAddFunc(ns, "f", dummyHandler, 3, 2, 0, 0, 0), 0);        // min above max
    EXPECT_EQ(host.pfnAddFunc(ns, "f", dummyHandler, 1, 1, 0x1, 0x1, 0), 0);    // ref and array
    EXPECT_EQ(host.pfnAddFunc(ns, "f", dummyHandler, 1, 1, 0, 0x2, 0x2), 0);    // array and struct
    EXPECT_EQ(krvFindFunc(static_cast<krvNamespace_t *>(ns), "f"), nullptr);
    EXPECT_EQ(host.pfnAddFunc(ns, "f", dummyHandler, 0, 8, 0x1, 0x2, 0x4), 1);
}

TEST_F(RegistrationTest, VariablesHoldIntegerZeroAndCanBeSet)
{
    void *ns = host.pfnAddNs(host.pfnGetRootNs(), "dev");
    ASSERT_EQ(host.pfnAddVar(ns, "count"), 1);
    krvVar_t *v = krvFindVar(static_cast<krvNamespace_t *>(ns), "count");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->pData->type, KRV_DT_INTEGER);
    EXPECT_EQ(v->pData->val.nInt, 0);
    EXPECT_EQ(host.pfnAddVar(ns, "count"), 0);

    EXPECT_EQ(host.pfnSetVarStr(ns, "count", "text"), 1);
    EXPECT_EQ(v->pData->type, KRV_DT_STRING);
    EXPECT_STREQ(v->pData->val.pStr, "text");
    EXPECT_EQ(host.pfnSetVarInt(ns, "count", -5), 1);   // frees the text (sanitizer build)
    EXPECT_EQ(v->pData->type, KRV_DT_INTEGER);
    EXPECT_EQ(v->pData->val.nInt, -5);
    EXPECT_EQ(host.pfnSetVarInt(ns, "missing", 1), 0);
    EXPECT_EQ(host.pfnSetVarStr(ns, "missing", "x"), 0);

    // A null namespace is the global one ("$0" is made by the model).
    ASSERT_EQ(host.pfnAddVar(nullptr, "gvar"), 1);
    EXPECT_NE(krvFindVar(krvGlobalNs(), "gvar"), nullptr);
    EXPECT_EQ(host.pfnAddVar(nullptr, "$0"), 0);
    EXPECT_EQ(host.pfnSetVarInt(nullptr, "$3", 9), 1);
    EXPECT_EQ(krvFindVar(krvGlobalNs(), "$3")->pData->val.nInt, 9);
}

TEST_F(RegistrationTest, ConstantsAreRefusedWhereAVariableOrConstantHasTheName)
{
    void *ns = host.pfnAddNs(host.pfnGetRootNs(), "dev");
    ASSERT_EQ(host.pfnAddVar(ns, "used"), 1);
    EXPECT_EQ(host.pfnAddIntConst(ns, "used", 1), 0);
    EXPECT_EQ(host.pfnAddStrConst(ns, "used", "x"), 0);
    EXPECT_EQ(krvFindConst(static_cast<krvNamespace_t *>(ns), "used"), nullptr);

    ASSERT_EQ(host.pfnAddIntConst(ns, "MAXQ", 64), 1);
    EXPECT_EQ(host.pfnAddIntConst(ns, "MAXQ", 65), 0);
    EXPECT_EQ(host.pfnAddVar(ns, "MAXQ"), 0);
    krvVar_t *c = krvFindConst(static_cast<krvNamespace_t *>(ns), "MAXQ");
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->isGlobal);
    EXPECT_EQ(c->pData->val.nInt, 64);

    char szText[] = "volatile";
    ASSERT_EQ(host.pfnAddStrConst(nullptr, "NAME", szText), 1);
    szText[0] = 'X';   // the constant holds its own copy
    krvVar_t *s = krvFindConst(krvGlobalNs(), "NAME");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->pData->val.pStr, "volatile");
}

TEST_F(RegistrationTest, ConstantsCanBeChangedOnlyWhenTheyExist)
{
    void *ns = host.pfnAddNs(host.pfnGetRootNs(), "dev");
    ASSERT_EQ(host.pfnAddIntConst(ns, "K", 1), 1);
    EXPECT_EQ(host.pfnSetConstStr(ns, "K", "now text"), 1);
    krvVar_t *c = krvFindConst(static_cast<krvNamespace_t *>(ns), "K");
    EXPECT_STREQ(c->pData->val.pStr, "now text");
    EXPECT_EQ(host.pfnSetConstInt(ns, "K", 2), 1);
    EXPECT_EQ(c->pData->val.nInt, 2);
    EXPECT_EQ(host.pfnSetConstInt(ns, "nope", 2), 0);
    EXPECT_EQ(host.pfnSetConstStr(ns, "nope", "x"), 0);
    ASSERT_EQ(host.pfnAddVar(ns, "v"), 1);
    EXPECT_EQ(host.pfnSetConstInt(ns, "v", 2), 0);   // a variable is no constant
}

}  // namespace
