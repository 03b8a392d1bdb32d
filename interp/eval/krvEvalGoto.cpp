// The goto search: finds the tagged statement anywhere inside a function's
// statements, resumes execution there, and lets every enclosing statement
// carry on as if control had reached that point normally. Also the body
// loop of an activation, which consumes return and starts the search.
#include <cstring>

#include "eval/krvEvalFlags.h"

static const char *const kSrcGoto = "krvEval_goto";

int krvEval_forLoop(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                    uint32_t *pFl, bool bFromStep);
int krvEval_whileStmt(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                      krvValue_t *pResult, uint32_t *pFl);
int krvEval_doLoop(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                   uint32_t *pFl, bool bFromCond);
int krvEvalSwitchRun(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvCaseGroup_t *pGroup, krvAPTN_t *pFrom,
                     const char **pszTag, krvValue_t *pResult, uint32_t *pFl);

static bool hasTag(const krvAPTN_t *pStmt, const char *szTag)
{
    if (!szTag)
        return false;
    for (const krvNameList_t *p = pStmt->pTags; p; p = p->next)
        if (p->szName && strcmp(p->szName, szTag) == 0)
            return true;
    return false;
}

// Searches the statements pList..(pLast included, or to the end when NULL).
// Once the tag is found the rest of the list runs normally; *pGotoFlag is
// then 0 and flags raised after the resumption are left for the caller.
static int searchList(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pList, krvAPTN_t *pLast, const char **pszTag,
                      int *pGotoFlag, krvValue_t *pResult, uint32_t *pFl)
{
    for (krvAPTN_t *p = pList; p; p = p == pLast ? nullptr : p->next) {
        krvAPTN_t *pFrom = nullptr;
        if (hasTag(p, *pszTag)) {
            *pGotoFlag = 0;
            *pszTag = nullptr;
            pFrom = p;
        } else {
            if (!krvEval_APTN_goto(pEnv, pFunc, p, pszTag, pGotoFlag, pResult, pFl))
                return 0;
            if (*pGotoFlag)
                continue;
            if (*pFl)
                return (*pFl & KRV_XCPT_EXIT) ? 0 : 1;
            pFrom = p == pLast ? nullptr : p->next;
        }
        for (krvAPTN_t *q = pFrom; q; q = q == pLast ? nullptr : q->next) {
            if (!krvEval_APTN(pEnv, pFunc, q, pszTag, pResult, pFl))
                return 0;
            if (*pFl)
                return 1;
        }
        return 1;
    }
    return 1;
}

static int loopGoto(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, int *pGotoFlag,
                    krvValue_t *pResult, uint32_t *pFl)
{
    krvAPTN_t *pBody = pNode->nKind == krvAPTNType_forStmt ? pNode->u.forStmt.pBody : pNode->u.loopStmt.pBody;
    if (!searchList(pEnv, pFunc, pBody, nullptr, pszTag, pGotoFlag, pResult, pFl))
        return 0;
    if (*pGotoFlag)
        return 1;
    const char *szFunc = pNode->nKind == krvAPTNType_whileStmt ? "krvEval_whileStmt_goto"
                         : pNode->nKind == krvAPTNType_doStmt  ? "krvEval_doStmt_goto"
                                                               : "krvEval_forStmt_goto";
    switch (krvEvalLoopFlags(pFl, kSrcGoto, szFunc, __LINE__)) {
    case KRV_LOOP_ON: break;
    case KRV_LOOP_LEAVE_OK: return 1;
    case KRV_LOOP_LEAVE_FAIL: return 0;
    }
    switch (pNode->nKind) {
    case krvAPTNType_whileStmt:
        return krvEval_whileStmt(pEnv, pFunc, pNode, pszTag, pResult, pFl);
    case krvAPTNType_doStmt:
        return krvEval_doLoop(pEnv, pFunc, pNode, pszTag, pResult, pFl, true);
    default:
        return krvEval_forLoop(pEnv, pFunc, pNode, pszTag, pResult, pFl, true);
    }
}

static int switchGoto(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, int *pGotoFlag,
                      krvValue_t *pResult, uint32_t *pFl)
{
    for (krvCaseGroup_t *pGroup = pNode->u.switchStmt.pGroups; pGroup; pGroup = pGroup->next) {
        for (krvAPTN_t *p = pGroup->exeBodyHead; p; p = p->next) {
            krvCaseGroup_t *pRunGroup = pGroup;
            krvAPTN_t *pFrom = nullptr;
            if (hasTag(p, *pszTag)) {
                *pGotoFlag = 0;
                *pszTag = nullptr;
                pFrom = p;
            } else {
                if (!krvEval_APTN_goto(pEnv, pFunc, p, pszTag, pGotoFlag, pResult, pFl))
                    return 0;
                if (*pGotoFlag) {
                    if (p == pGroup->exeBodyTail)
                        break;
                    continue;
                }
                if (*pFl) {
                    switch (krvEvalSwitchFlags(pFl, kSrcGoto, "krvEval_switchStmt_goto", __LINE__)) {
                    case KRV_LOOP_ON: break;
                    case KRV_LOOP_LEAVE_OK: return 1;
                    case KRV_LOOP_LEAVE_FAIL: return 0;
                    }
                }
                if (p == pGroup->exeBodyTail) {
                    pRunGroup = pGroup->next;
                    pFrom = nullptr;
                } else {
                    pFrom = p->next;
                }
            }
            if (!pRunGroup)
                return 1;
            return krvEvalSwitchRun(pEnv, pFunc, pRunGroup, pFrom, pszTag, pResult, pFl);
        }
    }
    return 1;
}

int krvEval_APTN_goto(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, int *pGotoFlag,
                      krvValue_t *pResult, uint32_t *pFl)
{
    switch (pNode->nKind) {
    case krvAPTNType_ifStmt:
        if (!searchList(pEnv, pFunc, pNode->u.ifStmt.pThen, nullptr, pszTag, pGotoFlag, pResult, pFl))
            return 0;
        if (*pGotoFlag && !searchList(pEnv, pFunc, pNode->u.ifStmt.pElse, nullptr, pszTag, pGotoFlag, pResult, pFl))
            return 0;
        return (*pFl & KRV_XCPT_EXIT) ? 0 : 1;
    case krvAPTNType_whileStmt:
    case krvAPTNType_doStmt:
    case krvAPTNType_forStmt:
        return loopGoto(pEnv, pFunc, pNode, pszTag, pGotoFlag, pResult, pFl);
    case krvAPTNType_switchStmt:
        return switchGoto(pEnv, pFunc, pNode, pszTag, pGotoFlag, pResult, pFl);
    case krvAPTNType_compoundStmt:
        if (!searchList(pEnv, pFunc, pNode->u.compoundStmt.pStmts, nullptr, pszTag, pGotoFlag, pResult, pFl))
            return 0;
        return (*pFl & KRV_XCPT_EXIT) ? 0 : 1;
    default:
        return 1;
    }
}

// What the body loop does with the flags a top-level statement left:
// 1 go on, 0 the activation ends (*pOk tells how), 2 start a goto search.
static int bodyFlags(uint32_t *pFl, int *pOk)
{
    switch (*pFl) {
    case 0:
        return 1;
    case KRV_XCPT_RETURN:
        *pFl = 0;
        *pOk = 1;
        return 0;
    case KRV_XCPT_BREAK:
    case KRV_XCPT_CONTINUE:
        // Only a continue inside a switch outside any loop gets here: it
        // ends the switch.
        *pFl = 0;
        return 1;
    case KRV_XCPT_GOTO:
        *pFl = 0;
        return 2;
    case KRV_XCPT_EXIT:
        *pOk = 0;
        return 0;
    default:
        krvEvalMultipleBits("krvEval", "krvEvalFuncBody", __LINE__, *pFl);
    }
}

int krvEvalBodyResume(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pFirst, krvAPTN_t *pAt, const char *szTag,
                      krvValue_t *pResult, uint32_t *pFl)
{
    krvAPTN_t *p = pAt;
    int ok = 1;
    bool bRan = true;
    for (;;) {
        if (!p)
            return 1;
        if (!bRan && !krvEvalStmt(pEnv, pFunc, p, &szTag, pResult, pFl))
            return 0;
        bRan = false;
        int nAct = bodyFlags(pFl, &ok);
        if (nAct == 0)
            return ok;
        if (nAct == 1) {
            p = p->next;
            continue;
        }
        // Goto search from the first top-level statement, again whenever a
        // new goto is raised after the resumption.
        for (;;) {
            int nGoto = 1;
            krvAPTN_t *q = pFirst;
            for (; q; q = q->next) {
                if (hasTag(q, szTag))
                    break;
                if (!krvEval_APTN_goto(pEnv, pFunc, q, &szTag, &nGoto, pResult, pFl))
                    return 0;
                if (!nGoto)
                    break;
            }
            if (!q)
                return 1;
            if (nGoto) {
                szTag = nullptr;
                p = q;
                break;
            }
            nAct = bodyFlags(pFl, &ok);
            if (nAct == 0)
                return ok;
            if (nAct == 1) {
                p = q->next;
                break;
            }
        }
    }
}
