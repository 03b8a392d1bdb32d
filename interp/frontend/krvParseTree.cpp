// Expression trees built by the grammar's actions: constants, operators,
// references with their qualification, indexes and member chains, calls and
// expression lists. Every node carries the current file and line.
#include "krvParseCtx.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

// ---- nesting depth of expression trees ------------------------------------
// Kept beside the nodes (which have no room for it) for the roots of the
// trees being built; a node that becomes an operand leaves the table.

typedef std::unordered_map<const krvAPTN_t *, int> depthMap_t;

void krvPDepthsInit(krvParseCtx_t *pCtx)
{
    pCtx->pDepths = new (std::nothrow) depthMap_t;
}

void krvPDepthsFree(krvParseCtx_t *pCtx)
{
    delete static_cast<depthMap_t *>(pCtx->pDepths);
    pCtx->pDepths = nullptr;
}

// Depth of a subtree (1 for a leaf); the node stops being a root.
static int takeDepth(krvParseCtx_t *pCtx, const krvAPTN_t *p)
{
    depthMap_t *pMap = static_cast<depthMap_t *>(pCtx->pDepths);
    if (!p || !pMap)
        return p ? 1 : 0;
    auto it = pMap->find(p);
    if (it == pMap->end())
        return 1;
    int n = it->second;
    pMap->erase(it);
    return n;
}

// Depth of a chain of subtrees linked through next (each leaves the table).
static int takeChainDepth(krvParseCtx_t *pCtx, const krvAPTN_t *p)
{
    int n = 0;
    for (; p; p = p->next)
        n = std::max(n, takeDepth(pCtx, p));
    return n;
}

// Records the depth of a new root. A tree deeper than the limit ends the
// parse. Returns the node, or NULL when it was refused (and freed).
static krvAPTN_t *setDepth(krvParseCtx_t *pCtx, krvAPTN_t *p, int nDepth)
{
    if (!p)
        return nullptr;
    if (nDepth > KRV_P_EXPR_DEPTH_MAX) {
        if (!pCtx->pScan->bEnded)
            krvPError(pCtx, 303, "expression is nested deeper than %d levels", KRV_P_EXPR_DEPTH_MAX);
        pCtx->pScan->bEnded = 1;
        pCtx->nSyntaxErrors++;
        krvFreeAPTN(p);
        return nullptr;
    }
    depthMap_t *pMap = static_cast<depthMap_t *>(pCtx->pDepths);
    if (pMap && nDepth <= 1)
        pMap->erase(p);
    if (pMap && nDepth > 1) {
        try {
            (*pMap)[p] = nDepth;
        } catch (...) {
            krvPOutOfMemory(pCtx);
        }
    }
    return p;
}

uint16_t krvPCurFile(const krvParseCtx_t *pCtx)
{
    return pCtx->pEnv && pCtx->pEnv->finfo ? pCtx->pEnv->finfo->currentFileIdx : 0;
}

int32_t krvPCurLine(const krvParseCtx_t *pCtx)
{
    return krvScanLine(pCtx->pScan);
}

static krvAPTN_t *newNode(krvParseCtx_t *pCtx, int32_t nKind)
{
    krvAPTN_t *p = krvNewAPTN(nKind, krvPCurFile(pCtx), krvPCurLine(pCtx));
    if (!p)
        krvPOutOfMemory(pCtx);
    else if (pCtx->pDepths)
        static_cast<depthMap_t *>(pCtx->pDepths)->erase(p);   // an address used before
    return p;
}

krvAPTN_t *krvPIntConst(krvParseCtx_t *pCtx, int64_t n)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_intConst);
    if (p)
        p->u.nIntConst = n;
    return p;
}

krvAPTN_t *krvPFloatConst(krvParseCtx_t *pCtx, double d)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_floatConst);
    if (p)
        p->u.dFloatConst = d;
    return p;
}

krvAPTN_t *krvPStrConst(krvParseCtx_t *pCtx, char *sz)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_strConst);
    if (!p) {
        free(sz);
        return nullptr;
    }
    p->u.szStrConst = sz;
    return p;
}

krvAPTN_t *krvPUnary(krvParseCtx_t *pCtx, int32_t nOp, krvAPTN_t *pOpd)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_opExpr);
    if (!p) {
        krvFreeAPTN(pOpd);
        return nullptr;
    }
    p->u.opExpr.nOp = nOp;
    p->u.opExpr.opd1 = pOpd;
    return setDepth(pCtx, p, takeDepth(pCtx, pOpd) + 1);
}

krvAPTN_t *krvPBinary(krvParseCtx_t *pCtx, int32_t nOp, krvAPTN_t *pLeft, krvAPTN_t *pRight)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_opExpr);
    if (!p) {
        krvFreeAPTN(pLeft);
        krvFreeAPTN(pRight);
        return nullptr;
    }
    p->u.opExpr.nOp = nOp;
    p->u.opExpr.opd1 = pLeft;
    p->u.opExpr.opd2 = pRight;
    return setDepth(pCtx, p, std::max(takeDepth(pCtx, pLeft), takeDepth(pCtx, pRight)) + 1);
}

krvAPTN_t *krvPCond(krvParseCtx_t *pCtx, krvAPTN_t *pCond, krvAPTN_t *pThen, krvAPTN_t *pElse)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_opExpr);
    if (!p || !pThen) {
        krvFreeAPTN(p);
        krvFreeAPTN(pCond);
        krvFreeAPTN(pThen);
        krvFreeAPTN(pElse);
        return nullptr;
    }
    p->u.opExpr.nOp = KRV_OP_COND;
    p->u.opExpr.opd1 = pCond;
    p->u.opExpr.opd2 = pThen;
    pThen->next = pElse;
    int n = std::max({takeDepth(pCtx, pCond), takeDepth(pCtx, pThen), takeDepth(pCtx, pElse)});
    return setDepth(pCtx, p, n + 1);
}

krvAPTN_t *krvPSubRange(krvParseCtx_t *pCtx, krvAPTN_t *pStart, krvAPTN_t *pEnd)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_subRange);
    if (!p) {
        krvFreeAPTN(pStart);
        krvFreeAPTN(pEnd);
        return nullptr;
    }
    p->u.subRange.pStart = pStart;
    p->u.subRange.pEnd = pEnd;
    return setDepth(pCtx, p, std::max(takeDepth(pCtx, pStart), takeDepth(pCtx, pEnd)) + 1);
}

krvAPTN_t *krvPEmptyDim(krvParseCtx_t *pCtx)
{
    return newNode(pCtx, krvAPTNType_emptyDim);
}

krvAPTN_t *krvPElement(krvParseCtx_t *pCtx, char *szName, krvAPTN_t *pIndexes)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_varRef);
    if (!p) {
        free(szName);
        krvFreeAPTN(pIndexes);
        return nullptr;
    }
    if (pIndexes)
        pIndexes->tail = nullptr;
    p->u.varRef.szName = szName;
    p->u.varRef.pIndexes = pIndexes;
    return setDepth(pCtx, p, takeChainDepth(pCtx, pIndexes) + 1);
}

krvAPTN_t *krvPAddMember(krvParseCtx_t *pCtx, krvAPTN_t *pRef, krvAPTN_t *pElem)
{
    if (!pRef || !pElem) {
        krvFreeAPTN(pRef);
        krvFreeAPTN(pElem);
        return nullptr;
    }
    krvAPTN_t **pp = &pRef->u.varRef.pMember;
    while (*pp)
        pp = &(*pp)->u.varRef.pMember;
    *pp = pElem;
    return setDepth(pCtx, pRef, std::max(takeDepth(pCtx, pRef), takeDepth(pCtx, pElem)) + 1);
}

krvAPTN_t *krvPQualify(krvAPTN_t *pRef, krvNameList_t *pQual)
{
    if (!pRef) {
        krvFreeNameList(pQual);
        return nullptr;
    }
    pRef->u.varRef.pNsRes = pQual;
    return pRef;
}

krvAPTN_t *krvPDollar(krvParseCtx_t *pCtx, char *szName)
{
    return krvPElement(pCtx, szName, nullptr);
}

krvAPTN_t *krvPCall(krvParseCtx_t *pCtx, krvAPTN_t *pCallee, krvAPTN_t *pArgs)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_call);
    if (!p) {
        krvFreeAPTN(pCallee);
        krvFreeAPTN(pArgs);
        return nullptr;
    }
    if (pArgs)
        pArgs->tail = nullptr;
    p->u.call.pCallee = pCallee;
    p->u.call.pArgs = pArgs;
    return setDepth(pCtx, p, std::max(takeDepth(pCtx, pCallee), takeChainDepth(pCtx, pArgs)) + 1);
}

krvAPTN_t *krvPChain(krvAPTN_t *pHead, krvAPTN_t *pNext)
{
    if (!pNext)
        return pHead;
    if (!pHead)
        return pNext;
    krvAPTN_t *pLast = pHead->tail ? pHead->tail : pHead;
    while (pLast->next)
        pLast = pLast->next;
    pLast->next = pNext;
    pHead->tail = pNext;
    return pHead;
}

krvAPTN_t *krvPExprList(krvParseCtx_t *pCtx, krvAPTN_t *pChain)
{
    if (!pChain)
        return nullptr;
    pChain->tail = nullptr;
    if (!pChain->next)
        return pChain;
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_exprList);
    if (!p) {
        krvFreeAPTN(pChain);
        return nullptr;
    }
    p->u.exprList.pFirst = pChain;
    return setDepth(pCtx, p, takeChainDepth(pCtx, pChain) + 1);
}

krvAPTN_t *krvPParen(krvParseCtx_t *pCtx, krvAPTN_t *pChain)
{
    krvAPTN_t *p = krvPExprList(pCtx, pChain);
    if (p && p->nKind == krvAPTNType_exprList)
        return krvPUnary(pCtx, KRV_OP_POS, p);
    return p;
}

krvNameList_t *krvPQualAdd(krvNameList_t *pQual, char *szName)
{
    krvNameList_t *pNew = krvNameListAppend(pQual, szName ? szName : "");
    free(szName);
    if (!pNew) {
        krvFreeNameList(pQual);
        return nullptr;
    }
    return pNew;
}
