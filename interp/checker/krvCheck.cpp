// Consistency checker: namespaces, constants, variables, structures and
// functions. A violated check prints
// "\"krvCheck\" line <n> sid=<subject>: assertion \"<expr> (<description>)\" fail".
#include "checker/krvCheck.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "model/krvModel.h"

namespace {

std::atomic<int> g_nCheckErrors{0};

#define KRV_CHECK(sid, cond, desc) checkOne((sid), (cond), __LINE__, #cond, (desc))

bool checkOne(const std::string &sSid, bool bOk, int nLine, const char *szExpr, const char *szDesc)
{
    if (!bOk) {
        krvPrint("\"%s\" line %d sid=%s: assertion \"%s (%s)\" fail\n", "krvCheck", nLine, sSid.c_str(), szExpr,
                 szDesc);
        g_nCheckErrors++;
    }
    return bOk;
}

// Hash setting of a table about to be walked; false when it must not be walked.
bool checkHash(const std::string &sid, const sysHashSetting_t *pHS)
{
    bool bOk = true;
    bOk &= KRV_CHECK(sid, pHS->nSlotNum != 0, "slotNum can't be 0 in hash setting");
    bOk &= KRV_CHECK(sid, pHS->nLinkOffset + pHS->nKeyOffset != 0, "nLinkOffset + nKeyOffset can't be 0 in hash setting");
    bOk &= KRV_CHECK(sid, pHS->hashFunc != NULL, "hashFunc can't be NULL in hash setting");
    bOk &= KRV_CHECK(sid, pHS->compareFunc != NULL, "compareFunc can't be NULL in hash setting");
    bOk &= KRV_CHECK(sid, pHS->pSlots != NULL, "pSlots can't be NULL in hash setting");
    return bOk;
}

std::vector<void *> checkedElems(const std::string &sid, sysHashSetting_t *pTable)
{
    if (!pTable || !checkHash(sid, pTable))
        return {};
    return krvNsTableElems(pTable);
}

enum VarRole { kGlobal, kMember, kLocal, kParam };

void checkSizes(const std::string &sid, const krvVar_t *pVar)
{
    const int32_t *pSizes = pVar->arrSize.pSizes;
    if (!KRV_CHECK(sid, pSizes != NULL, "an array variable should have pSizes"))
        return;
    int n = pSizes[0];
    if (!KRV_CHECK(sid, pSizes[0] > 0, "dimension of an array variable is greater than 0"))
        return;
    if (KRV_IS_VAR_VSARR(pVar->dbd))
        return;
    for (int i = 1; i <= n; i++) {
        const int32_t *p = pSizes;
        if (!KRV_CHECK(sid, p[i] != 0, "pSize content cannot be 0"))
            return;
        if (p[i + 1] != 0)
            KRV_CHECK(sid, p[i] % p[i + 1] == 0, "pSizes[i] %% pSizes[i}1] should be 0");
    }
}

void checkVar(const std::string &sid, const krvVar_t *pVar, VarRole role)
{
    KRV_CHECK(sid, pVar->szName != NULL, "a variable should have a name");
    KRV_CHECK(sid, pVar->nt.tname == NULL, "nt.tname should be freed after solve phase");
    if (!pVar->nt.tname && pVar->pType)
        KRV_CHECK(sid, pVar->pType->szName != NULL, "a structure variable's type should have a name");
    bool bExpectGlobal = role == kGlobal;
    KRV_CHECK(sid, (pVar->isGlobal != 0) == bExpectGlobal, "setting of isGlobal should be identical to the expected value");
    switch (role) {
    case kGlobal:
        KRV_CHECK(sid, pVar->pData != NULL, "a global variable always has data body");
        KRV_CHECK(sid, !KRV_IS_VAR_REF(pVar->dbd), "a global variable never refers to other");
        KRV_CHECK(sid, !KRV_IS_VAR_VSARR(pVar->dbd), "a global variable is never a vary-size one");
        KRV_CHECK(sid, !(pVar->dbd & KRV_DBD_VS_BIT), "a variable in a namespace never be a vary-size array");
        break;
    case kMember:
        KRV_CHECK(sid, pVar->pMemberOf != NULL, "a member data variable belongs to some structure");
        KRV_CHECK(sid, !KRV_IS_VAR_REF(pVar->dbd), "a member data never refers to other");
        KRV_CHECK(sid, !KRV_IS_VAR_VSARR(pVar->dbd), "a member data is never a vary-size one");
        break;
    case kLocal:
        KRV_CHECK(sid, pVar->pData == NULL, "a non-global variable cannot have data body");
        KRV_CHECK(sid, !KRV_IS_VAR_REF(pVar->dbd), "a local variable data never refers to other");
        KRV_CHECK(sid, !KRV_IS_VAR_VSARR(pVar->dbd), "a local variable is never a vary-size one");
        break;
    case kParam:
        KRV_CHECK(sid, pVar->pData == NULL, "a non-global variable cannot have data body");
        break;
    }
    if (KRV_IS_VAR_ARRAY(pVar->dbd))
        checkSizes(sid, pVar);
}

void checkFunc(const krvFuncInfo_t *pFunc, bool bMember)
{
    std::string sid = pFunc && pFunc->szName ? pFunc->szName : "(function)";
    if (!KRV_CHECK(sid, pFunc != NULL, "function pointer should always valid"))
        return;
    KRV_CHECK(sid, pFunc->szName != NULL, "an user function should always have a name");
    if (KRV_CHECK(sid, pFunc->pNamespace != NULL, "an user function should always have a namespace"))
        KRV_CHECK(sid, pFunc->pNamespace->szName != NULL, "a namespace should always have a name");
    KRV_CHECK(sid, pFunc->type == KRV_USR_FUNC_TYPE, "an user function type is KRV_USR_FUNC_TYPE");
    int nExpected = 1;
    if (bMember) {
        const krvVar_t *pObj = pFunc->obj;
        if (KRV_CHECK(sid, pObj != NULL, "a member function should have an object")) {
            KRV_CHECK(sid, pObj->stoffset == 1, "value of stack top offset of an object variable is 1");
            if (KRV_CHECK(sid, pObj->szName != NULL, "object of the member function should have a name"))
                KRV_CHECK(sid, strcmp(pObj->szName, KRV_OBJ_NAME_FOR_MFUNC) == 0,
                          "object variable name is KRV_OBJ_NAME_FOR_MFUNC");
            KRV_CHECK(sid, !pObj->isGlobal, "object variable is not global");
            KRV_CHECK(sid, pObj->pInitExpr == NULL, "object variable has no initialization expression");
            KRV_CHECK(sid, pObj->pData == NULL, "object has no data body");
            KRV_CHECK(sid, !KRV_IS_VAR_ARRAY(pObj->dbd) && pObj->arrSize.pSizes == NULL, "object is not of array format");
        }
        nExpected = 2;
    } else {
        KRV_CHECK(sid, pFunc->obj == NULL, "a non-member function should have no object");
    }
    std::string sidParam = sid + "->param";
    for (const krvVar_t *p = pFunc->pParams; p; p = p->link, nExpected++) {
        KRV_CHECK(sidParam, p->stoffset == nExpected, "stoffset value should be expected");
        checkVar(sidParam, p, kParam);
    }
    std::string sidLocal = sid + "->local";
    for (const krvVar_t *p = pFunc->pLocals; p; p = p->link, nExpected++) {
        KRV_CHECK(sidLocal, p->stoffset == nExpected, "stoffset value should be expected");
        checkVar(sidLocal, p, kLocal);
    }
    KRV_CHECK(sid, pFunc->nAutoVarNum == nExpected - 1, "number of auto variables in a function should be expected");
    for (const krvAPTN_t *p = pFunc->pBody; p; p = p->next) {
        int k = p->nKind;
        if (k < KRV_APTN_KIND_MIN || k > KRV_APTN_KIND_MAX || k == krvAPTNType_floatConst ||
            k == krvAPTNType_funcRef || k == krvAPTNType_call) {
            krvPrint("\"%s\" line %d: %s\n", "krvCheck", __LINE__, "not processed on type ");
            krvPrint("to process on type %d\n", k);
            g_nCheckErrors++;
        }
    }
}

void checkStruct(const krvStruct_t *pS, const krvNamespace_t *pNs)
{
    std::string sid = pS->szName ? pS->szName : "(structure)";
    KRV_CHECK(sid, pS->szName != NULL, "a structure should have a name");
    KRV_CHECK(sid, pS->nSize >= 0, "a structure size should be greater than or equal to 0");
    int64_t nAccum = 0;
    bool bFirst = true;
    for (const krvVar_t *pMd = pS->pMembers; pMd; pMd = pMd->link) {
        if (bFirst)
            KRV_CHECK(sid, pMd->nMbrOffset == 0, "offset value of the 1st member data is 0");
        bFirst = false;
        KRV_CHECK(sid, pMd->nMbrOffset == nAccum, "offset value should be equal to accumulated size");
        KRV_CHECK(sid, pMd->pMemberOf == pS, "pMemberOf of a member data belongs to s is s");
        checkVar(sid, pMd, kMember);
        nAccum += krvVarCellCount(pMd);
    }
    if (pS->pMembers)
        KRV_CHECK(sid, nAccum == pS->nSize, "size recalculated should be identical what was set");
    else
        KRV_CHECK(sid, pS->nSize == 1, "size of a structure without member data should be 1");
    if (KRV_CHECK(sid, pS->pNamespace != NULL, "a structure is always in a namespace"))
        KRV_CHECK(sid, pS->pNamespace == pNs, "namespace of a structure gen by ns is ns");
    if (pS->mfuncs) {
        for (void *p : checkedElems(sid + "->mfuncs", pS->mfuncs))
            checkFunc(static_cast<const krvFuncInfo_t *>(p), true);
    }
}

void checkNs(const krvNamespace_t *pNs)
{
    std::string sid = "ns";
    if (!KRV_CHECK(sid, pNs != NULL, "ns should not be NULL"))
        return;
    if (!KRV_CHECK(sid, pNs->szName != NULL, "ns should have a name"))
        return;
    if (pNs->szName[0] == '\0')
        KRV_CHECK(sid, pNs->parent == NULL, "global ns should have no parent");
    else
        KRV_CHECK(sid, pNs->parent != NULL, "non-global ns should have parent");
    for (void *p : checkedElems("ns->nss", pNs->nss)) {
        const krvNamespace_t *pChild = static_cast<const krvNamespace_t *>(p);
        KRV_CHECK("ns->nss", pChild->parent == pNs, "parent of namespace X's child namespace is X");
        checkNs(pChild);
    }
    for (void *p : checkedElems("ns->consts", pNs->consts)) {
        const krvVar_t *pC = static_cast<const krvVar_t *>(p);
        KRV_CHECK("ns->consts", pC->szName != NULL, "a constant Id should have a name");
        KRV_CHECK("ns->consts", pC->pType == NULL, "a constant Id should not have a type");
        KRV_CHECK("ns->consts", pC->nt.nsres == NULL, "a constant Id should not have nsres");
        KRV_CHECK("ns->consts", pC->nt.tname == NULL, "a constant Id should not have tname");
        KRV_CHECK("ns->consts", pC->arrSize.pSizes == NULL, "a constant Id should not have array size");
    }
    for (void *p : checkedElems("ns->vars", pNs->vars))
        checkVar("ns->vars", static_cast<const krvVar_t *>(p), kGlobal);
    for (void *p : checkedElems("ns->structs", pNs->structs))
        checkStruct(static_cast<const krvStruct_t *>(p), pNs);
    for (void *p : checkedElems("ns->funcs", pNs->funcs)) {
        const krvFuncInfo_t *pF = static_cast<const krvFuncInfo_t *>(p);
        if (pF->type != KRV_EXT_FUNC_TYPE)
            checkFunc(pF, false);
    }
}

}  // namespace

int krvCheckNamespaceTree(krvNamespace_t *pNs)
{
    g_nCheckErrors = 0;
    checkNs(pNs);
    return g_nCheckErrors;
}

int krvCheckObjectModel(void)
{
    int n = krvCheckNamespaceTree(krvGlobalNs());
    if (n >= 1)
        krvPrint("number of errors : %d\n", n);
    return n;
}
