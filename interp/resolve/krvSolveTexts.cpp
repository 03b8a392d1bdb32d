// Name texts used in resolution messages, and small reference helpers.
#include <cstdlib>

#include "model/krvArrDesc.h"
#include "resolve/krvSolveInternal.h"

std::string krvNsResText(const krvNameList_t *pNsRes)
{
    std::string s;
    for (; pNsRes; pNsRes = pNsRes->next) {
        s += pNsRes->szName ? pNsRes->szName : "";
        s += "::";
    }
    return s;
}

std::string krvMemberText(const krvAPTN_t *pMember)
{
    std::string s;
    for (; pMember; pMember = pMember->u.varRef.pMember) {
        s += ".";
        s += pMember->u.varRef.szName ? pMember->u.varRef.szName : "";
    }
    return s;
}

static void addBrackets(std::string &s, const krvAPTN_t *pIndexes)
{
    for (int i = krvIndexCount(pIndexes); i > 0; i--)
        s += "[]";
}

std::string krvRefShapeText(const krvAPTN_t *pRef)
{
    std::string s = pRef->u.varRef.szName ? pRef->u.varRef.szName : "";
    const krvAPTN_t *pMember = pRef->u.varRef.pMember;
    if (!pMember)
        return s;
    addBrackets(s, pRef->u.varRef.pIndexes);
    for (; pMember; pMember = pMember->u.varRef.pMember) {
        s += ".";
        s += pMember->u.varRef.szName ? pMember->u.varRef.szName : "";
        if (pMember->u.varRef.pMember)
            addBrackets(s, pMember->u.varRef.pIndexes);
    }
    return s;
}

int krvIndexCount(const krvAPTN_t *pIndexes)
{
    int n = 0;
    for (; pIndexes; pIndexes = pIndexes->next)
        n++;
    return n;
}

int krvVarDims(uint8_t dbd, const int32_t *pSizes)
{
    if (!KRV_IS_VAR_ARRAY(dbd) || dbd == KRV_DBD_ARRAY_TBA || (dbd & KRV_DBD_UNKNOWN) || !pSizes)
        return 0;
    return krvDescDims(pSizes);
}

bool krvVarIsStructTyped(const krvVar_t *pVar)
{
    return pVar && (pVar->nt.tname || pVar->pType);
}

krvStruct_t *krvVarStructType(const krvVar_t *pVar)
{
    return pVar && !pVar->nt.tname ? pVar->pType : nullptr;
}

void krvSolveBindType(krvVar_t *pVar, krvStruct_t *pType)
{
    if (pVar->nt.tname) {
        free(pVar->nt.tname);
        krvFreeNameList(pVar->nt.nsres);
        pVar->nt.tname = nullptr;
    }
    pVar->pType = pType;
}
