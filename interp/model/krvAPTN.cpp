// Tree nodes: creation, list appends, switch parts, free operations.
#include "model/krvAPTN.h"

#include <cstddef>
#include <cstdlib>

#include "model/krvDiag.h"

krvAPTN_t *krvNewAPTN(int32_t nKind, uint16_t nFileIdx, int32_t nLine)
{
    krvAPTN_t *p = static_cast<krvAPTN_t *>(calloc(1, sizeof(krvAPTN_t)));
    if (!p)
        return nullptr;
    p->nKind = nKind;
    p->nFileIdx = nFileIdx;
    p->nLine = nLine;
    return p;
}

static krvAPTN_t *lastOf(krvAPTN_t *p)
{
    while (p->next)
        p = p->next;
    return p;
}

krvAPTN_t *krvAPTNAppend(krvAPTN_t *pHead, krvAPTN_t *pNode)
{
    if (!pNode)
        return pHead;
    if (!pHead) {
        pNode->tail = lastOf(pNode);
        return pNode;
    }
    krvAPTN_t *pTail = pHead->tail ? pHead->tail : lastOf(pHead);
    pTail->next = pNode;
    pHead->tail = lastOf(pNode);
    pNode->tail = nullptr;     // only a list's first node keeps the tail
    return pHead;
}

krvCaseGroup_t *krvNewCaseGroup(void)
{
    return static_cast<krvCaseGroup_t *>(calloc(1, sizeof(krvCaseGroup_t)));
}

krvCaseLabel_t *krvNewCaseLabel(uint16_t nFileIdx, int32_t nLine)
{
    krvCaseLabel_t *p = static_cast<krvCaseLabel_t *>(calloc(1, sizeof(krvCaseLabel_t)));
    if (p) {
        p->nFileIdx = nFileIdx;
        p->nLine = nLine;
    }
    return p;
}

int krvSwitchCaseTableCreate(krvAPTN_t *pSwitch)
{
    if (!pSwitch || pSwitch->nKind != krvAPTNType_switchStmt)
        return -1;
    if (pSwitch->u.switchStmt.pCaseTable)
        return 0;
    sysHashSetting_t *p = static_cast<sysHashSetting_t *>(calloc(1, sizeof(sysHashSetting_t)));
    if (!p)
        return -1;
    if (sysHashInit(p, KRV_CASE_TABLE_SLOTS, offsetof(krvCaseLabel_t, link), offsetof(krvCaseLabel_t, pValue),
                    krvValueHash, krvValueCompare) != 0) {
        free(p);
        return -1;
    }
    pSwitch->u.switchStmt.pCaseTable = p;
    return 0;
}

static void freeLabels(krvCaseLabel_t *p)
{
    while (p) {
        krvCaseLabel_t *pNext = p->next;
        if (p->pValue)
            krvFreeValues(p->pValue, 1);
        krvFreeAPTN(p->pRef);
        free(p);
        p = pNext;
    }
}

void krvFreeCaseGroups(krvCaseGroup_t *pGroups)
{
    while (pGroups) {
        krvCaseGroup_t *pNext = pGroups->next;
        freeLabels(pGroups->pLabels);
        // The statements run from head to tail; the tail's next is the next
        // group's head (fall-through) and is not ours.
        krvAPTN_t *pStop = pNext ? pNext->exeBodyHead : nullptr;
        krvAPTN_t *pNode = pGroups->exeBodyHead;
        while (pNode && pNode != pStop) {
            krvAPTN_t *pAfter = pNode->next;
            bool bLast = pNode == pGroups->exeBodyTail;
            krvFreeAPTNOne(pNode);
            if (bLast)
                break;
            pNode = pAfter;
        }
        free(pGroups);
        pGroups = pNext;
    }
}

void krvFreeAPTNOne(krvAPTN_t *p)
{
    if (!p)
        return;
    switch (p->nKind) {
    case krvAPTNType_intConst:
    case krvAPTNType_floatConst:
    case krvAPTNType_emptyDim:
    case krvAPTNType_nullStmt:
    case krvAPTNType_breakStmt:
    case krvAPTNType_continueStmt:
    case krvAPTNType_exitStmt:
        break;
    case krvAPTNType_strConst:
        free(p->u.szStrConst);
        break;
    case krvAPTNType_varRef:
    case krvAPTNType_cidRef:
        free(p->u.varRef.szName);
        krvFreeNameList(p->u.varRef.pNsRes);
        krvFreeAPTN(p->u.varRef.pIndexes);
        krvFreeAPTN(p->u.varRef.pMember);
        break;
    case krvAPTNType_funcRef:
        krvFreeAPTN(p->u.funcRef.pRef);
        break;
    case krvAPTNType_opExpr:
        krvFreeAPTN(p->u.opExpr.opd1);
        krvFreeAPTN(p->u.opExpr.opd2);   // with the third operand of "? :"
        break;
    case krvAPTNType_subRange:
        krvFreeAPTN(p->u.subRange.pStart);
        krvFreeAPTN(p->u.subRange.pEnd);
        break;
    case krvAPTNType_exprList:
        krvFreeAPTN(p->u.exprList.pFirst);
        break;
    case krvAPTNType_call:
        krvFreeAPTN(p->u.call.pCallee);
        krvFreeAPTN(p->u.call.pArgs);
        break;
    case krvAPTNType_builtinCall:
        krvFreeAPTN(p->u.builtinCall.pArgs);
        break;
    case krvAPTNType_extCall:
        krvFreeAPTN(p->u.extCall.pArgs);
        break;
    case krvAPTNType_usrCall:
        free(p->u.usrCall.szName);
        krvFreeNameList(p->u.usrCall.pNsRes);
        krvFreeAPTN(p->u.usrCall.pArgs);
        krvFreeAPTN(p->u.usrCall.objRef);
        break;
    case krvAPTNType_exprStmt:
    case krvAPTNType_returnStmt:
    case krvAPTNType_evalStmt:
        krvFreeAPTN(p->u.exprStmt.pExpr);
        break;
    case krvAPTNType_gotoStmt:
        free(p->u.gotoStmt.szTagName);
        break;
    case krvAPTNType_ifStmt:
        krvFreeAPTN(p->u.ifStmt.pCond);
        krvFreeAPTN(p->u.ifStmt.pThen);
        krvFreeAPTN(p->u.ifStmt.pElse);
        break;
    case krvAPTNType_whileStmt:
    case krvAPTNType_doStmt:
        krvFreeAPTN(p->u.loopStmt.pCond);
        krvFreeAPTN(p->u.loopStmt.pBody);
        break;
    case krvAPTNType_forStmt:
        krvFreeAPTN(p->u.forStmt.pInit);
        krvFreeAPTN(p->u.forStmt.pCond);
        krvFreeAPTN(p->u.forStmt.pStep);
        krvFreeAPTN(p->u.forStmt.pBody);
        break;
    case krvAPTNType_switchStmt:
        krvFreeAPTN(p->u.switchStmt.pExpr);
        if (p->u.switchStmt.pCaseTable) {
            sysHashFree(p->u.switchStmt.pCaseTable);
            free(p->u.switchStmt.pCaseTable);
        }
        free(p->u.switchStmt.ppDense);
        krvFreeCaseGroups(p->u.switchStmt.pGroups);
        break;
    case krvAPTNType_compoundStmt:
        krvFreeAPTN(p->u.compoundStmt.pStmts);
        break;
    default:
        krvDebug("\"%s\" line %d %s(): not free type %d\n", "krvAPTN", __LINE__, "krvFreeAPTN", p->nKind);
        free(p);
        return;
    }
    krvFreeNameList(p->pTags);
    free(p);
}

void krvFreeAPTN(krvAPTN_t *p)
{
    while (p) {
        krvAPTN_t *pNext = p->next;
        krvFreeAPTNOne(p);
        p = pNext;
    }
}
