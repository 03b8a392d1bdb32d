// Statement trees built by the grammar's actions: simple statements, loops,
// tags, and switch statements with their case groups and labels.
#include "krvParseCtx.h"

#include <cstdlib>
#include <cstring>

static krvAPTN_t *newStmt(krvParseCtx_t *pCtx, int32_t nKind)
{
    krvAPTN_t *p = krvNewAPTN(nKind, krvPCurFile(pCtx), krvPCurLine(pCtx));
    if (!p)
        krvPOutOfMemory(pCtx);
    return p;
}

krvAPTN_t *krvPStmt(krvParseCtx_t *pCtx, int32_t nKind)
{
    return newStmt(pCtx, nKind);
}

krvAPTN_t *krvPExprStmt(krvParseCtx_t *pCtx, int32_t nKind, krvAPTN_t *pExpr)
{
    krvAPTN_t *p = newStmt(pCtx, nKind);
    if (!p) {
        krvFreeAPTN(pExpr);
        return nullptr;
    }
    p->u.exprStmt.pExpr = pExpr;
    return p;
}

krvAPTN_t *krvPIf(krvParseCtx_t *pCtx, krvAPTN_t *pCond, krvAPTN_t *pThen, krvAPTN_t *pElse)
{
    krvAPTN_t *p = newStmt(pCtx, krvAPTNType_ifStmt);
    if (!p) {
        krvFreeAPTN(pCond);
        krvFreeAPTN(pThen);
        krvFreeAPTN(pElse);
        return nullptr;
    }
    p->u.ifStmt.pCond = pCond;
    p->u.ifStmt.pThen = pThen;
    p->u.ifStmt.pElse = pElse;
    return p;
}

krvAPTN_t *krvPLoop(krvParseCtx_t *pCtx, int32_t nKind, krvAPTN_t *pCond, krvAPTN_t *pBody)
{
    krvAPTN_t *p = newStmt(pCtx, nKind);
    if (!p) {
        krvFreeAPTN(pCond);
        krvFreeAPTN(pBody);
        return nullptr;
    }
    p->u.loopStmt.pCond = pCond;
    p->u.loopStmt.pBody = pBody;
    return p;
}

krvAPTN_t *krvPFor(krvParseCtx_t *pCtx, krvAPTN_t *pInit, krvAPTN_t *pCond, krvAPTN_t *pStep, krvAPTN_t *pBody)
{
    krvAPTN_t *p = newStmt(pCtx, krvAPTNType_forStmt);
    if (!p) {
        krvFreeAPTN(pInit);
        krvFreeAPTN(pCond);
        krvFreeAPTN(pStep);
        krvFreeAPTN(pBody);
        return nullptr;
    }
    p->u.forStmt.pInit = pInit;
    p->u.forStmt.pCond = pCond;
    p->u.forStmt.pStep = pStep;
    p->u.forStmt.pBody = pBody;
    return p;
}

krvAPTN_t *krvPGoto(krvParseCtx_t *pCtx, char *szTag)
{
    krvAPTN_t *p = newStmt(pCtx, krvAPTNType_gotoStmt);
    if (!p) {
        free(szTag);
        return nullptr;
    }
    p->u.gotoStmt.szTagName = szTag;
    return p;
}

krvAPTN_t *krvPCompound(krvParseCtx_t *pCtx, krvAPTN_t *pStmts)
{
    krvAPTN_t *p = newStmt(pCtx, krvAPTNType_compoundStmt);
    if (!p) {
        krvFreeAPTN(pStmts);
        return nullptr;
    }
    p->u.compoundStmt.pStmts = pStmts;
    return p;
}

krvAPTN_t *krvPTagStmt(krvAPTN_t *pStmt, krvNameList_t *pTags)
{
    if (!pStmt) {
        krvFreeNameList(pTags);
        return nullptr;
    }
    pStmt->pTags = pTags;
    return pStmt;
}

krvNameList_t *krvPTagAdd(krvNameList_t *pTags, char *szName)
{
    if (krvNameListContains(pTags, szName)) {
        free(szName);
        return pTags;
    }
    krvNameList_t *pNew = krvNameListAppend(pTags, szName);
    free(szName);
    return pNew ? pNew : pTags;
}

// ---- switch ----------------------------------------------------------------

static krvCaseLabel_t *newLabel(krvParseCtx_t *pCtx)
{
    krvCaseLabel_t *p = krvNewCaseLabel(krvPCurFile(pCtx), krvPCurLine(pCtx));
    if (!p)
        krvPOutOfMemory(pCtx);
    return p;
}

krvCaseLabel_t *krvPLabelLiteral(krvParseCtx_t *pCtx, krvAPTN_t *pLiteral)
{
    krvCaseLabel_t *p = newLabel(pCtx);
    krvValue_t *pCell = p ? krvAllocValues(1) : nullptr;
    if (!pCell || !pLiteral) {
        if (p && !pCell)
            krvPOutOfMemory(pCtx);
        free(p);
        krvFreeAPTN(pLiteral);
        return nullptr;
    }
    switch (pLiteral->nKind) {
    case krvAPTNType_intConst:
        krvSetInt(pCell, pLiteral->u.nIntConst);
        break;
    case krvAPTNType_floatConst:
        krvSetFloat(pCell, pLiteral->u.dFloatConst);
        break;
    default:
        if (krvSetStr(pCell, pLiteral->u.szStrConst) != 0)
            krvPOutOfMemory(pCtx);
        break;
    }
    krvFreeAPTN(pLiteral);
    p->pValue = pCell;
    return p;
}

krvCaseLabel_t *krvPLabelRef(krvParseCtx_t *pCtx, krvAPTN_t *pRef)
{
    krvCaseLabel_t *p = newLabel(pCtx);
    krvValue_t *pCell = p ? krvAllocValues(1) : nullptr;
    if (!pCell || !pRef) {
        if (p && !pCell)
            krvPOutOfMemory(pCtx);
        free(p);
        krvFreeAPTN(pRef);
        return nullptr;
    }
    p->pRef = pRef;
    p->pValue = pCell;
    return p;
}

krvCaseLabel_t *krvPLabelDefault(krvParseCtx_t *pCtx)
{
    krvCaseLabel_t *p = newLabel(pCtx);
    if (p)
        p->isDefault = 1;
    return p;
}

krvCaseLabel_t *krvPLabelAdd(krvCaseLabel_t *pLabels, krvCaseLabel_t *pLabel)
{
    if (!pLabels)
        return pLabel;
    krvCaseLabel_t *pLast = pLabels;
    while (pLast->next)
        pLast = pLast->next;
    pLast->next = pLabel;
    return pLabels;
}

void krvPFreeLabels(krvCaseLabel_t *pLabels)
{
    while (pLabels) {
        krvCaseLabel_t *pNext = pLabels->next;
        if (pLabels->pValue)
            krvFreeValues(pLabels->pValue, 1);
        krvFreeAPTN(pLabels->pRef);
        free(pLabels);
        pLabels = pNext;
    }
}

krvPCaseGroups_t *krvPGroupAdd(krvPCaseGroups_t *pGroups, krvCaseLabel_t *pLabels, krvAPTN_t *pStmts)
{
    if (!pGroups) {
        pGroups = static_cast<krvPCaseGroups_t *>(calloc(1, sizeof(krvPCaseGroups_t)));
        if (!pGroups) {
            krvPFreeLabels(pLabels);
            krvFreeAPTN(pStmts);
            return nullptr;
        }
    }
    krvCaseGroup_t *pGroup = krvNewCaseGroup();
    if (!pGroup) {
        krvPFreeLabels(pLabels);
        krvFreeAPTN(pStmts);
        return pGroups;
    }
    pGroup->pLabels = pLabels;
    for (krvCaseLabel_t *p = pLabels; p; p = p->next)
        p->pGroup = pGroup;
    pGroup->exeBodyHead = pStmts;
    krvAPTN_t *pLast = pStmts;
    while (pLast && pLast->next)
        pLast = pLast->next;
    pGroup->exeBodyTail = pLast;
    if (pGroups->pTail)
        pGroups->pTail->next = pGroup;
    else
        pGroups->pHead = pGroup;
    pGroups->pTail = pGroup;
    return pGroups;
}

void krvPFreeGroups(krvPCaseGroups_t *pGroups)
{
    if (!pGroups)
        return;
    krvFreeCaseGroups(pGroups->pHead);
    free(pGroups);
}

krvAPTN_t *krvPSwitch(krvParseCtx_t *pCtx, krvAPTN_t *pExpr, krvPCaseGroups_t *pGroups)
{
    krvAPTN_t *p = newStmt(pCtx, krvAPTNType_switchStmt);
    if (!p || krvSwitchCaseTableCreate(p) != 0) {
        if (p)
            krvPOutOfMemory(pCtx);
        krvFreeAPTN(p);
        krvFreeAPTN(pExpr);
        krvPFreeGroups(pGroups);
        return nullptr;
    }
    p->u.switchStmt.pExpr = pExpr;
    if (pGroups) {
        // Each group falls through into the next one.
        for (krvCaseGroup_t *g = pGroups->pHead; g && g->next; g = g->next)
            if (g->exeBodyTail)
                g->exeBodyTail->next = g->next->exeBodyHead;
        p->u.switchStmt.pGroups = pGroups->pHead;
        free(pGroups);
    }
    return p;
}
