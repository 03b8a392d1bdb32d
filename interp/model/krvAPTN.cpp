// Tree nodes: creation, list appends, switch parts, free operations.
#include "model/krvAPTN.h"

#include <cstddef>
#include <cstdlib>
#include <vector>

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

// ---- release ---------------------------------------------------------------
// Trees are released without recursion: a node's sub-trees go onto a work
// list instead, so a tree of any depth (a condition of a few hundred thousand
// terms, say) is freed with a constant amount of native stack.
namespace {

struct freeWork_t {
    krvAPTN_t *p;
    bool bChain;                   // the node and every node after it through next
};
typedef std::vector<freeWork_t> freeList_t;

void pushChain(freeList_t &work, krvAPTN_t *p)
{
    if (p)
        work.push_back({p, true});
}

void takeLabels(freeList_t &work, krvCaseLabel_t *p)
{
    while (p) {
        krvCaseLabel_t *pNext = p->next;
        if (p->pValue)
            krvFreeValues(p->pValue, 1);
        pushChain(work, p->pRef);
        free(p);
        p = pNext;
    }
}

void takeCaseGroups(freeList_t &work, krvCaseGroup_t *pGroups)
{
    while (pGroups) {
        krvCaseGroup_t *pNext = pGroups->next;
        takeLabels(work, pGroups->pLabels);
        // The statements run from head to tail; the tail's next is the next
        // group's head (fall-through) and is not ours.
        krvAPTN_t *pStop = pNext ? pNext->exeBodyHead : nullptr;
        krvAPTN_t *pNode = pGroups->exeBodyHead;
        while (pNode && pNode != pStop) {
            krvAPTN_t *pAfter = pNode->next;
            work.push_back({pNode, false});
            if (pNode == pGroups->exeBodyTail)
                break;
            pNode = pAfter;
        }
        free(pGroups);
        pGroups = pNext;
    }
}

// Frees one node's own parts and the node; its sub-trees join the work list.
void takeOne(freeList_t &work, krvAPTN_t *p)
{
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
        pushChain(work, p->u.varRef.pIndexes);
        pushChain(work, p->u.varRef.pMember);
        break;
    case krvAPTNType_funcRef:
        pushChain(work, p->u.funcRef.pRef);
        break;
    case krvAPTNType_opExpr:
        pushChain(work, p->u.opExpr.opd1);
        pushChain(work, p->u.opExpr.opd2);   // with the third operand of "? :"
        break;
    case krvAPTNType_subRange:
        pushChain(work, p->u.subRange.pStart);
        pushChain(work, p->u.subRange.pEnd);
        break;
    case krvAPTNType_exprList:
        pushChain(work, p->u.exprList.pFirst);
        break;
    case krvAPTNType_call:
        pushChain(work, p->u.call.pCallee);
        pushChain(work, p->u.call.pArgs);
        break;
    case krvAPTNType_builtinCall:
        pushChain(work, p->u.builtinCall.pArgs);
        break;
    case krvAPTNType_extCall:
        pushChain(work, p->u.extCall.pArgs);
        break;
    case krvAPTNType_usrCall:
        free(p->u.usrCall.szName);
        krvFreeNameList(p->u.usrCall.pNsRes);
        pushChain(work, p->u.usrCall.pArgs);
        pushChain(work, p->u.usrCall.objRef);
        break;
    case krvAPTNType_exprStmt:
    case krvAPTNType_returnStmt:
    case krvAPTNType_evalStmt:
        pushChain(work, p->u.exprStmt.pExpr);
        break;
    case krvAPTNType_gotoStmt:
        free(p->u.gotoStmt.szTagName);
        break;
    case krvAPTNType_ifStmt:
        pushChain(work, p->u.ifStmt.pCond);
        pushChain(work, p->u.ifStmt.pThen);
        pushChain(work, p->u.ifStmt.pElse);
        break;
    case krvAPTNType_whileStmt:
    case krvAPTNType_doStmt:
        pushChain(work, p->u.loopStmt.pCond);
        pushChain(work, p->u.loopStmt.pBody);
        break;
    case krvAPTNType_forStmt:
        pushChain(work, p->u.forStmt.pInit);
        pushChain(work, p->u.forStmt.pCond);
        pushChain(work, p->u.forStmt.pStep);
        pushChain(work, p->u.forStmt.pBody);
        break;
    case krvAPTNType_switchStmt:
        pushChain(work, p->u.switchStmt.pExpr);
        if (p->u.switchStmt.pCaseTable) {
            sysHashFree(p->u.switchStmt.pCaseTable);
            free(p->u.switchStmt.pCaseTable);
        }
        free(p->u.switchStmt.ppDense);
        takeCaseGroups(work, p->u.switchStmt.pGroups);
        break;
    case krvAPTNType_compoundStmt:
        pushChain(work, p->u.compoundStmt.pStmts);
        break;
    default:
        krvDebug("\"%s\" line %d %s(): not free type %d\n", "krvAPTN", __LINE__, "krvFreeAPTN", p->nKind);
        free(p);
        return;
    }
    krvFreeNameList(p->pTags);
    free(p);
}

void drain(freeList_t &work)
{
    while (!work.empty()) {
        freeWork_t w = work.back();
        work.pop_back();
        krvAPTN_t *p = w.p;
        do {
            krvAPTN_t *pNext = w.bChain ? p->next : nullptr;
            takeOne(work, p);
            p = pNext;
        } while (p);
    }
}

}  // namespace

void krvFreeCaseGroups(krvCaseGroup_t *pGroups)
{
    freeList_t work;
    takeCaseGroups(work, pGroups);
    drain(work);
}

void krvFreeAPTN(krvAPTN_t *p)
{
    if (!p)
        return;
    freeList_t work;
    work.push_back({p, true});
    drain(work);
}
