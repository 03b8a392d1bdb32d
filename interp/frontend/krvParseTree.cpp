// Expression trees built by the grammar's actions: constants, operators,
// references with their qualification, indexes and member chains, calls and
// expression lists. Every node carries the current file and line.
#include "krvParseCtx.h"

#include <cstdlib>
#include <cstring>

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
    return p;
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
    return p;
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
    return p;
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
    return p;
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
    return p;
}

krvAPTN_t *krvPAddMember(krvAPTN_t *pRef, krvAPTN_t *pElem)
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
    return pRef;
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
    return p;
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
    return p;
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
