// Statements: tag registration, break/continue placement, gotos, loops,
// branches, blocks and switch labels.
#include <cstdlib>
#include <cstring>

#include "resolve/krvSolveInternal.h"

static bool tagKnown(const krvTagTable_t *pTags, const char *szTag)
{
    for (const krvAPTN_t *pStmt : pTags->tagged)
        for (const krvNameList_t *p = pStmt->pTags; p; p = p->next)
            if (p->szName && strcmp(p->szName, szTag) == 0)
                return true;
    return false;
}

static void registerTags(krvEnv_t *pEnv, krvAPTN_t *pStmt, krvTagTable_t *pTags)
{
    if (!pStmt->pTags || !pTags)
        return;
    bool bDup = false;
    for (const krvNameList_t *p = pStmt->pTags; p; p = p->next) {
        if (p->szName && tagKnown(pTags, p->szName)) {
            krvSolveErrAt(pEnv, 213, pStmt, 1, "Redeclare tag %s before or at the indicated line", p->szName);
            bDup = true;
        }
    }
    if (!bDup)
        pTags->tagged.push_back(pStmt);
}

// Statements of a list, following next.
static void solveList(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pList,
                      krvTagTable_t *pTags, int bInLoop)
{
    for (krvAPTN_t *p = pList; p; p = p->next)
        krvSolveAPTN(pEnv, pNs, pFunc, p, pTags, bInLoop);
}

static krvValue_t *labelCell(krvCaseLabel_t *pLabel)
{
    if (!pLabel->pValue)
        pLabel->pValue = krvAllocValues(1);
    return pLabel->pValue;
}

// A named label: its constant's value goes into the label; a label that
// names no constant is dropped (false).
static bool solveNamedLabel(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvCaseLabel_t *pLabel)
{
    krvVarrInfo_t info;
    krvAPTN_t *pRef = pLabel->pRef;
    if (krvSolveVarRef(pEnv, pNs, pFunc, pRef, &info) != 0 || !info.isCid || !info.pTopVarPtr->pData)
        return false;
    krvValue_t *pCell = labelCell(pLabel);
    if (!pCell || krvSetDataByData(pCell, info.pTopVarPtr->pData) != 0)
        return false;
    krvFreeAPTN(pRef);
    pLabel->pRef = nullptr;
    return true;
}

static void solveSwitch(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pSwitch,
                        krvTagTable_t *pTags)
{
    krvSolveExpr(pEnv, pNs, pFunc, pSwitch->u.switchStmt.pExpr, 0);
    if (krvSwitchCaseTableCreate(pSwitch) != 0) {
        krvSolveInternalErr(pEnv, pSwitch->nFileIdx, pSwitch->nLine, "out of memory");
        return;
    }
    sysHashSetting_t *pTable = pSwitch->u.switchStmt.pCaseTable;
    for (krvCaseGroup_t *pGroup = pSwitch->u.switchStmt.pGroups; pGroup; pGroup = pGroup->next) {
        krvCaseLabel_t **ppLabel = &pGroup->pLabels;
        while (*ppLabel) {
            krvCaseLabel_t *pLabel = *ppLabel;
            pLabel->pGroup = pGroup;
            if (pLabel->isDefault) {
                if (pSwitch->u.switchStmt.pDefault)
                    krvSolveErrAtPos(pEnv, 207, pLabel->nFileIdx, pLabel->nLine, 0,
                                     "multiple default labels in switch statement");
                else
                    pSwitch->u.switchStmt.pDefault = pGroup;
                ppLabel = &pLabel->next;
                continue;
            }
            if (pLabel->pRef && !solveNamedLabel(pEnv, pNs, pFunc, pLabel)) {
                *ppLabel = pLabel->next;
                pLabel->next = nullptr;
                krvFreeAPTN(pLabel->pRef);
                if (pLabel->pValue)
                    krvFreeValues(pLabel->pValue, 1);
                free(pLabel);
                continue;
            }
            if (!pLabel->pValue) {
                ppLabel = &pLabel->next;
                continue;
            }
            if (pLabel->pValue->type == KRV_DT_FLOAT)
                krvSolveErrAtPos(pEnv, 210, pLabel->nFileIdx, pLabel->nLine, 0,
                                 "illegal case label; a floating number is used as a case label");
            else if (sysHashFind(pTable, pLabel->pValue))
                krvSolveErrAtPos(pEnv, 207, pLabel->nFileIdx, pLabel->nLine, 0, "case duplicate in switch statement");
            else
                sysHashAdd(pTable, pLabel);
            ppLabel = &pLabel->next;
        }
        for (krvAPTN_t *p = pGroup->exeBodyHead; p; p = p->next) {
            krvSolveAPTN(pEnv, pNs, pFunc, p, pTags, 1);
            if (p == pGroup->exeBodyTail)
                break;
        }
    }
}

void krvSolveAPTN(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pNode,
                  krvTagTable_t *pTags, int bInLoop)
{
    if (!pNode)
        return;
    if (!KRV_APTN_IS_STMT(pNode->nKind)) {
        krvSolveExpr(pEnv, pNs, pFunc, pNode, bInLoop);
        return;
    }
    registerTags(pEnv, pNode, pTags);
    switch (pNode->nKind) {
    case krvAPTNType_exprStmt:
    case krvAPTNType_returnStmt:
    case krvAPTNType_evalStmt:
        krvSolveExpr(pEnv, pNs, pFunc, pNode->u.exprStmt.pExpr, bInLoop);
        break;
    case krvAPTNType_nullStmt:
    case krvAPTNType_exitStmt:
        break;
    case krvAPTNType_breakStmt:
    case krvAPTNType_continueStmt:
        if (!bInLoop)
            krvSolveErrAt(pEnv, 206, pNode, 1, "abuse %s statement",
                          pNode->nKind == krvAPTNType_breakStmt ? "break" : "continue");
        break;
    case krvAPTNType_gotoStmt:
        if (pTags && (!pNode->u.gotoStmt.szTagName || !tagKnown(pTags, pNode->u.gotoStmt.szTagName)))
            pTags->gotos.push_back(pNode);
        break;
    case krvAPTNType_ifStmt:
        krvSolveExpr(pEnv, pNs, pFunc, pNode->u.ifStmt.pCond, bInLoop);
        solveList(pEnv, pNs, pFunc, pNode->u.ifStmt.pThen, pTags, bInLoop);
        solveList(pEnv, pNs, pFunc, pNode->u.ifStmt.pElse, pTags, bInLoop);
        break;
    case krvAPTNType_whileStmt:
    case krvAPTNType_doStmt:
        krvSolveExpr(pEnv, pNs, pFunc, pNode->u.loopStmt.pCond, bInLoop);
        solveList(pEnv, pNs, pFunc, pNode->u.loopStmt.pBody, pTags, 1);
        break;
    case krvAPTNType_forStmt:
        if (pNode->u.forStmt.pInit && KRV_APTN_IS_STMT(pNode->u.forStmt.pInit->nKind))
            krvSolveAPTN(pEnv, pNs, pFunc, pNode->u.forStmt.pInit, pTags, bInLoop);
        else
            krvSolveExpr(pEnv, pNs, pFunc, pNode->u.forStmt.pInit, bInLoop);
        krvSolveExpr(pEnv, pNs, pFunc, pNode->u.forStmt.pCond, bInLoop);
        krvSolveExpr(pEnv, pNs, pFunc, pNode->u.forStmt.pStep, bInLoop);
        solveList(pEnv, pNs, pFunc, pNode->u.forStmt.pBody, pTags, 1);
        break;
    case krvAPTNType_switchStmt:
        solveSwitch(pEnv, pNs, pFunc, pNode, pTags);
        break;
    case krvAPTNType_compoundStmt:
        solveList(pEnv, pNs, pFunc, pNode->u.compoundStmt.pStmts, pTags, bInLoop);
        break;
    default:
        break;
    }
}
