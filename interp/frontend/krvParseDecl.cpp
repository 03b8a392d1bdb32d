// Declaration rules of the grammar: declarators, array sizes fixed at
// declaration time, constants and variables entered in the current
// namespace, parameters, and namespace blocks.
#include "krvParseCtx.h"
#include "constexpr/krvConstExpr.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <string>

krvVar_t *krvPDeclarator(krvParseCtx_t *pCtx, char *szName, krvAPTN_t *pSizes)
{
    krvVar_t *pVar = krvNewVar(szName, krvPCurFile(pCtx), krvPCurLine(pCtx));
    free(szName);
    if (!pVar) {
        krvPOutOfMemory(pCtx);
        krvFreeAPTN(pSizes);
        return nullptr;
    }
    if (pSizes) {
        pSizes->tail = nullptr;
        pVar->dbd = KRV_DBD_ARRAY_TBA;
        pVar->arrSize.pSizeExprs = pSizes;
    }
    return pVar;
}

krvVar_t *krvPSetInit(krvVar_t *pVar, krvAPTN_t *pInit)
{
    if (!pVar) {
        krvFreeAPTN(pInit);
        return nullptr;
    }
    pVar->pInitExpr = pInit;
    return pVar;
}

krvPDecl_t *krvPDeclAdd(krvPDecl_t *pDecl, krvVar_t *pVar)
{
    if (!pDecl) {
        pDecl = static_cast<krvPDecl_t *>(calloc(1, sizeof(krvPDecl_t)));
        if (!pDecl) {
            krvFreeVar(pVar);
            return nullptr;
        }
    }
    if (pVar)
        pDecl->pHead = krvVarListAppend(pDecl->pHead, pVar);
    return pDecl;
}

krvPDecl_t *krvPDeclMerge(krvPDecl_t *pFirst, krvPDecl_t *pSecond)
{
    if (!pFirst)
        return pSecond;
    if (!pSecond)
        return pFirst;
    if (pSecond->pHead) {
        if (pFirst->pHead) {
            krvVar_t *pLast = pFirst->pHead;
            while (pLast->link)
                pLast = pLast->link;
            pLast->link = pSecond->pHead;
        } else {
            pFirst->pHead = pSecond->pHead;
        }
    }
    free(pSecond);
    return pFirst;
}

void krvPFreeDecl(krvPDecl_t *pDecl)
{
    if (!pDecl)
        return;
    krvFreeVarList(pDecl->pHead);
    free(pDecl);
}

// Takes the declarators out of a declaration wrapper.
static krvVar_t *takeDecl(krvPDecl_t *pDecl)
{
    if (!pDecl)
        return nullptr;
    krvVar_t *pHead = pDecl->pHead;
    free(pDecl);
    return pHead;
}

krvPType_t *krvPType(char *szName, krvNameList_t *pQual)
{
    krvPType_t *p = static_cast<krvPType_t *>(calloc(1, sizeof(krvPType_t)));
    if (!p) {
        free(szName);
        krvFreeNameList(pQual);
        return nullptr;
    }
    p->szName = szName;
    p->pQual = pQual;
    return p;
}

void krvPFreeType(krvPType_t *pType)
{
    if (!pType)
        return;
    free(pType->szName);
    krvFreeNameList(pType->pQual);
    free(pType);
}

// Each declarator gets its own copy of the type name and qualification.
static void giveType(krvParseCtx_t *pCtx, krvVar_t *pVar, const krvPType_t *pType)
{
    if (!pType || !pType->szName)
        return;
    pVar->nt.tname = strdup(pType->szName);
    pVar->nt.nsres = pType->pQual ? krvCopyNameList(pType->pQual) : nullptr;
    if (!pVar->nt.tname || (pType->pQual && !pVar->nt.nsres))
        krvPOutOfMemory(pCtx);
}

// Reports a declaration error at the declarator's own position.
static void declError(krvParseCtx_t *pCtx, int nId, const char *szFmt, ...) __attribute__((format(printf, 3, 4)));
static void declError(krvParseCtx_t *pCtx, int nId, const char *szFmt, ...)
{
    char szMsg[KRV_DIAG_MSG_MAX];
    va_list ap;
    va_start(ap, szFmt);
    vsnprintf(szMsg, sizeof(szMsg), szFmt, ap);
    va_end(ap);
    krvPError(pCtx, nId, "%s", szMsg);
}

// Fixes the sizes of an array declarator (dbd KRV_DBD_ARRAY_TBA): counts the
// dimensions, allocates the size array and, for a fixed-size array,
// evaluates each size. On an error the declarator is left elementary.
static void fixSizes(krvParseCtx_t *pCtx, krvVar_t *pVar, int bParam, int bRef)
{
    if (pVar->dbd != KRV_DBD_ARRAY_TBA)
        return;
    krvAPTN_t *pExprs = pVar->arrSize.pSizeExprs;
    pVar->arrSize.pSizeExprs = nullptr;
    bool bValid = true;

    if (bParam) {
        // A range is no size for a parameter: that bracket is dropped.
        krvAPTN_t **pp = &pExprs;
        while (*pp) {
            if ((*pp)->nKind == krvAPTNType_subRange) {
                krvAPTN_t *pDrop = *pp;
                *pp = pDrop->next;
                pDrop->next = nullptr;
                krvFreeAPTN(pDrop);
                declError(pCtx, 208, "illegal array size is specified; shall be a constant");
                bValid = false;
                continue;
            }
            pp = &(*pp)->next;
        }
    }
    int n = 0, nEmpty = 0;
    for (krvAPTN_t *p = pExprs; p; p = p->next) {
        n++;
        if (p->nKind == krvAPTNType_emptyDim)
            nEmpty++;
    }
    bool bFlexible = n > 0 && nEmpty == n;
    if (nEmpty > 0 && nEmpty < n) {
        declError(pCtx, 204, "Parameter \"%s\" array is neither fixed-size nor vary-size.", pVar->szName);
        bValid = false;
    }
    int32_t *pSizes = bValid && n > 0 ? krvArrSizesAlloc(n, bRef, bFlexible ? 1 : 0) : nullptr;
    if (bValid && n > 0 && !pSizes) {
        krvPOutOfMemory(pCtx);
        bValid = false;
    }
    if (bValid && !bFlexible) {
        int k = 1;
        for (krvAPTN_t *p = pExprs; p; p = p->next, k++) {
            const char *szOrd = krvOrdinalSuffix(k);
            if (p->nKind == krvAPTNType_subRange) {
                declError(pCtx, 208, "%d-%s index of '%s': illegal array size is specified; shall be a constant", k,
                          szOrd, pVar->szName);
                bValid = false;
                continue;
            }
            krvValue_t v{};
            v.type = KRV_DT_INTEGER;
            krvNamespace_t *pNs = pCtx->pEnv->finfo->pCurNs;
            if (!krvEvalPPConstExpr(pCtx->pEnv, pNs, p, &v) || v.type != KRV_DT_INTEGER) {
                krvClearValue(&v);
                declError(pCtx, 208, "%d-%s index of '%s': illegal array size is specified", k, szOrd, pVar->szName);
                bValid = false;
                continue;
            }
            int64_t nSize = v.val.nInt;
            if (nSize < 1) {
                declError(pCtx, 208, "%d-%s index of '%s': illegal array size (%lld) is specified", k, szOrd,
                          pVar->szName, static_cast<long long>(nSize));
                bValid = false;
                continue;
            }
            if (nSize == 1)
                krvWarning("\"%s\" line %d, %d-%s index of '%s': size 1 is specified\n",
                           krvEnvFileName(pCtx->pEnv, pVar->nFileIdx), krvPCurLine(pCtx), k, szOrd, pVar->szName);
            if (nSize > INT32_MAX || krvArrSizesApplyDim(pSizes, k, static_cast<int32_t>(nSize)) != 0) {
                declError(pCtx, 208, "%d-%s index of '%s': illegal array size (%lld) is specified; the array is too large",
                          k, szOrd, pVar->szName, static_cast<long long>(nSize));
                bValid = false;
            }
        }
    }
    krvFreeAPTN(pExprs);
    if (!bValid || n == 0) {
        free(pSizes);
        pVar->arrSize.pSizes = nullptr;
        pVar->dbd = bRef ? KRV_DBD_ELEMENT_REF : KRV_DBD_ELEMENT;
        return;
    }
    pVar->arrSize.pSizes = pSizes;
    if (bFlexible)
        pVar->dbd = bRef ? KRV_DBD_VSARR_REF : KRV_DBD_VSARR;
    else
        pVar->dbd = bRef ? KRV_DBD_FIXARR_REF : KRV_DBD_FIXARR;
}

krvPDecl_t *krvPVarDecl(krvParseCtx_t *pCtx, krvPType_t *pType, krvPDecl_t *pDecl)
{
    if (pDecl) {
        for (krvVar_t *p = pDecl->pHead; p; p = p->link) {
            giveType(pCtx, p, pType);
            fixSizes(pCtx, p, 0, 0);
        }
    }
    krvPFreeType(pType);
    return pDecl;
}

krvVar_t *krvPParam(krvParseCtx_t *pCtx, krvPType_t *pType, int bRef, char *szName, krvAPTN_t *pDims)
{
    krvVar_t *pVar = krvPDeclarator(pCtx, szName, pDims);
    if (pVar) {
        giveType(pCtx, pVar, pType);
        if (pVar->dbd == KRV_DBD_ARRAY_TBA)
            fixSizes(pCtx, pVar, 1, bRef);
        else
            pVar->dbd = bRef ? KRV_DBD_ELEMENT_REF : KRV_DBD_ELEMENT;
    }
    krvPFreeType(pType);
    return pVar;
}

// ---- constants and variables entered in a namespace --------------------------

// Namespace name as the messages show it: "::" for the global namespace,
// else its path without the trailing "::".
static std::string nsShownName(const krvNamespace_t *pNs)
{
    char *sz = krvNsPathText(pNs);
    std::string s = sz ? sz : "";
    free(sz);
    if (s.size() > 2 && s.compare(s.size() - 2, 2, "::") == 0)
        s.resize(s.size() - 2);
    return s;
}

// 1 when a constant or variable of the record's name exists in the current
// namespace (after reporting it). bOuterForm: the "redefine" texts of the
// outermost level.
static int reportExisting(krvParseCtx_t *pCtx, const krvVar_t *pVar, bool bOuterForm)
{
    krvNamespace_t *pNs = pCtx->pEnv->finfo->pCurNs;
    krvVar_t *pOld = krvFindConst(pNs, pVar->szName);
    bool bConst = pOld != nullptr;
    if (!pOld)
        pOld = krvFindVar(pNs, pVar->szName);
    if (!pOld)
        return 0;
    if (bOuterForm) {
        if (bConst)
            declError(pCtx, 101, "redefine constant Id '%s' which has been defined in \"%s\" line %d.", pVar->szName,
                      krvEnvFileName(pCtx->pEnv, pOld->nFileIdx), pOld->nLine);
        else
            declError(pCtx, 121, "redefine variable '%s' which has been defined in \"%s\" line %d.", pVar->szName,
                      krvEnvFileName(pCtx->pEnv, pOld->nFileIdx), pOld->nLine);
    } else {
        std::string ns = nsShownName(pNs);
        declError(pCtx, 121, "Redeclare \"%s\"; \"%s\" has been defined as a %s in namespace %s.\n", pVar->szName,
                  pVar->szName, bConst ? "constant" : "variable", ns.c_str());
    }
    return 1;
}

// Step 1 of a constant declaration. Returns 0 when it is wrong.
static int checkConst(krvParseCtx_t *pCtx, const krvVar_t *pVar)
{
    if (pVar->dbd == KRV_DBD_ARRAY_TBA) {
        declError(pCtx, 102, "Incorrect constant definition \"%s\".", pVar->szName);
        return 0;
    }
    if (!pVar->pInitExpr) {
        declError(pCtx, 102, "A constant value should be assigned to constant \"%s\".", pVar->szName);
        return 0;
    }
    return 1;
}

void krvPEnterConsts(krvParseCtx_t *pCtx, krvPDecl_t *pDecl)
{
    krvVar_t *pVar = takeDecl(pDecl);
    bool bOuter = pCtx->pEnv->finfo->nNsDepth == 0 && pCtx->nNsOverflow == 0;
    while (pVar) {
        krvVar_t *pNext = pVar->link;
        pVar->link = nullptr;
        checkConst(pCtx, pVar);
        bool bArray = pVar->dbd == KRV_DBD_ARRAY_TBA;
        if (bArray) {
            // A constant holds one cell: the brackets are dropped.
            krvFreeAPTN(pVar->arrSize.pSizeExprs);
            pVar->arrSize.pSizeExprs = nullptr;
            pVar->dbd = KRV_DBD_ELEMENT;
        }
        pVar->isGlobal = 1;
        pVar->isMember = 0;
        pVar->pData = krvAllocValues(1);
        if (!pVar->pData) {
            krvPOutOfMemory(pCtx);
            krvFreeVar(pVar);
        } else if (reportExisting(pCtx, pVar, bOuter)) {
            krvFreeVar(pVar);
        } else {
            if (pVar->pInitExpr && !bArray) {
                krvNamespace_t *pNs = pCtx->pEnv->finfo->pCurNs;
                if (!krvEvalPPConstExpr(pCtx->pEnv, pNs, pVar->pInitExpr, pVar->pData))
                    krvSetInt(pVar->pData, 0);
            } else {
                krvSetInt(pVar->pData, 0);
            }
            if (krvAddConst(pCtx->pEnv->finfo->pCurNs, pVar) != 0) {
                krvPOutOfMemory(pCtx);
                krvFreeVar(pVar);
            }
        }
        pVar = pNext;
    }
}

void krvPCheckLocalConsts(krvParseCtx_t *pCtx, krvPDecl_t *pDecl)
{
    for (krvVar_t *p = pDecl ? pDecl->pHead : nullptr; p; p = p->link)
        checkConst(pCtx, p);
    krvPFreeDecl(pDecl);
}

void krvPEnterVars(krvParseCtx_t *pCtx, krvPDecl_t *pDecl)
{
    krvVar_t *pVar = takeDecl(pDecl);
    while (pVar) {
        krvVar_t *pNext = pVar->link;
        pVar->link = nullptr;
        pVar->isGlobal = 1;
        pVar->isMember = 0;
        if (reportExisting(pCtx, pVar, false) || krvAddVar(pCtx->pEnv->finfo->pCurNs, pVar) != 0)
            krvFreeVar(pVar);
        pVar = pNext;
    }
}

// ---- namespace blocks -----------------------------------------------------------

void krvPEnterNamespace(krvParseCtx_t *pCtx, const char *szName)
{
    parseFileInfo_t *pFi = pCtx->pEnv->finfo;
    if (pCtx->nNsOverflow > 0 || pFi->nNsDepth >= KRV_NS_STACK_DEPTH) {
        if (pCtx->nNsOverflow == 0)
            krvPError(pCtx, 303, "namespace \"%s\" is nested deeper than %d namespace blocks", szName ? szName : "",
                      KRV_NS_STACK_DEPTH);
        pCtx->nNsOverflow++;
        return;
    }
    krvNamespace_t *pChild = krvFindNs(pFi->pCurNs, szName);
    if (!pChild)
        pChild = krvCreateNs(pFi->pCurNs, szName);
    if (!pChild) {
        krvPOutOfMemory(pCtx);
        pCtx->nNsOverflow++;
        return;
    }
    pFi->nsStack[pFi->nNsDepth++] = pFi->pCurNs;
    pFi->pCurNs = pChild;
}

void krvPLeaveNamespace(krvParseCtx_t *pCtx)
{
    parseFileInfo_t *pFi = pCtx->pEnv->finfo;
    if (pCtx->nNsOverflow > 0) {
        pCtx->nNsOverflow--;
        return;
    }
    if (pFi->nNsDepth > 0)
        pFi->pCurNs = pFi->nsStack[--pFi->nNsDepth];
}
