// The node dispatcher krvEval_APTN: one case per evaluator operation, with
// the loops, branches, switch and the flag word of the statements.
#include <array>
#include <cstdio>

#include "builtin/krvBuiltinTable.h"
#include "eval/krvEvalExprOps.h"
#include "eval/krvEvalFlags.h"
#include "exthost/krvExtCall.h"

static const char *const kSrc = "krvEval";

void krvEvalMultipleBits(const char *szSrc, const char *szFunc, int nLine, uint32_t fl)
{
    krvDebug("%s %s() %d line: Error: *pFlXcptFlags = %X; multiple bits are of 1\n", szSrc, szFunc, nLine, fl);
    krvAssertFail(szSrc, nLine, "0 == 1");
}

static inline int opIncDecLocal(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                                krvValue_t *pResult, uint32_t *pFl);
static inline int opUpdateLocal(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                                krvValue_t *pResult, uint32_t *pFl);

// A loop condition that compares an integer local with an integer node.
static inline bool isCountCond(const krvAPTN_t *pCond)
{
    int32_t nOp = pCond->u.opExpr.nOp;
    return pCond->nEvalKind == KRV_EOP_INT_TREE && nOp >= KRV_OP_GT && nOp <= KRV_OP_EQ &&
           pCond->u.opExpr.opd1->nEvalKind == KRV_EOP_LOCAL;
}
// Its value read straight, without the integer tree's function; false when
// a value is not an integer (the condition then goes the general way).
static inline bool countCond(const krvSlot_t *pFrame, const krvAPTN_t *pCond, int64_t *pn)
{
    const krvValue_t *pCell = pFrame[-pCond->u.opExpr.opd1->nEvalArg].pData;
    int64_t b;
    return pCell && pCell->type == KRV_DT_INTEGER && krvEvalIntNode(pFrame, pCond->u.opExpr.opd2, &b) &&
           krvEvalIntCompute(pCond->u.opExpr.nOp, pCell->val.nInt, b, pn);
}

// A condition of if, while, do or for: evaluated into the result cell.
// 1 with *pbTrue set, or 0 on failure or exit.
static inline int evalCond(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pCond, krvValue_t *pResult, uint32_t *pFl,
                           bool *pbTrue)
{
    int ok = krvEvalInto(pEnv, pFunc, pCond, pResult, pFl);
    *pbTrue = krvEvalTrue(pResult);
    return ok;
}

int krvEval_ifStmt(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                   uint32_t *pFl)
{
    bool bTrue;
    if (!evalCond(pEnv, pFunc, pNode->u.ifStmt.pCond, pResult, pFl, &bTrue))
        return 0;
    if (!krvEvalList(pEnv, pFunc, bTrue ? pNode->u.ifStmt.pThen : pNode->u.ifStmt.pElse, pszTag, pResult, pFl))
        return 0;
    return (*pFl & KRV_XCPT_EXIT) ? 0 : 1;
}

int krvEval_whileStmt(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag,
                      krvValue_t *pResult, uint32_t *pFl)
{
    for (;;) {
        bool bTrue;
        if (!evalCond(pEnv, pFunc, pNode->u.loopStmt.pCond, pResult, pFl, &bTrue))
            return 0;
        if (!bTrue)
            return 1;
        if (!krvEvalList(pEnv, pFunc, pNode->u.loopStmt.pBody, pszTag, pResult, pFl))
            return 0;
        switch (krvEvalLoopFlags(pFl, kSrc, "krvEval_whileStmt", __LINE__)) {
        case KRV_LOOP_ON: break;
        case KRV_LOOP_LEAVE_OK: return 1;
        case KRV_LOOP_LEAVE_FAIL: return 0;
        }
    }
}

// From the condition on (bFromCond) or from the body.
int krvEval_doLoop(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                   uint32_t *pFl, bool bFromCond)
{
    for (;;) {
        if (!bFromCond) {
            if (!krvEvalList(pEnv, pFunc, pNode->u.loopStmt.pBody, pszTag, pResult, pFl))
                return 0;
            switch (krvEvalLoopFlags(pFl, kSrc, "krvEval_doStmt", __LINE__)) {
            case KRV_LOOP_ON: break;
            case KRV_LOOP_LEAVE_OK: return 1;
            case KRV_LOOP_LEAVE_FAIL: return 0;
            }
        }
        bFromCond = false;
        bool bTrue;
        if (!evalCond(pEnv, pFunc, pNode->u.loopStmt.pCond, pResult, pFl, &bTrue))
            return 0;
        if (!bTrue)
            return 1;
    }
}

// A for loop from its condition on, or (bFromStep, used by the goto search,
// which resumes inside the body) from its step.
int krvEval_forLoop(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                    uint32_t *pFl, bool bFromStep)
{
    krvAPTN_t *pCond = pNode->u.forStmt.pCond;
    krvAPTN_t *pStep = pNode->u.forStmt.pStep;
    krvAPTN_t *pBody = pNode->u.forStmt.pBody;
    bool bCounted = pCond && isCountCond(pCond);
    for (;;) {
        if (!bFromStep) {
            if (pCond) {
                bool bTrue;
                int64_t n;
                if (bCounted && !krvEvalCellsShared() && countCond(pEnv->pEvalFrame, pCond, &n)) {
                    krvEvalSetInt(pResult, n);
                    bTrue = n != 0;
                } else if (!evalCond(pEnv, pFunc, pCond, pResult, pFl, &bTrue)) {
                    return 0;
                }
                if (!bTrue)
                    return 1;
            }
            if (!krvEvalList(pEnv, pFunc, pBody, pszTag, pResult, pFl))
                return 0;
            switch (krvEvalLoopFlags(pFl, kSrc, "krvEval_forStmt", __LINE__)) {
            case KRV_LOOP_ON: break;
            case KRV_LOOP_LEAVE_OK: return 1;
            case KRV_LOOP_LEAVE_FAIL: return 0;
            }
        }
        bFromStep = false;
        if (pStep) {
            const char *szTag = nullptr;
            int ok = pStep->nEvalKind == KRV_EOP_INCDEC_LOCAL
                         ? opIncDecLocal(pEnv, pFunc, pStep, &szTag, pResult, pFl)
                     : pStep->nEvalKind == KRV_EOP_UPDATE_LOCAL
                         ? opUpdateLocal(pEnv, pFunc, pStep, &szTag, pResult, pFl)
                         : krvEvalDispatch(pEnv, pFunc, pStep, &szTag, pResult, pFl);
            if (krvEvalFailed(ok, pFl))
                return 0;
        }
    }
}

static int evalFor(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                   uint32_t *pFl)
{
    krvAPTN_t *pInit = pNode->u.forStmt.pInit;
    if (pInit && pInit->nKind != krvAPTNType_nullStmt && !krvEvalValue(pEnv, pFunc, pInit, pResult, pFl))
        return 0;
    return krvEval_forLoop(pEnv, pFunc, pNode, pszTag, pResult, pFl, false);
}

int krvEvalSwitchPick(krvEnv_t *pEnv, krvAPTN_t *pSwitch, const krvValue_t *pValue, krvCaseGroup_t **ppGroup)
{
    if (pValue->type != KRV_DT_INTEGER && pValue->type != KRV_DT_STRING) {
        krvErrorAt(KRV_RTE_SWITCH, pEnv, pSwitch, "Illegal data type (%s) of the switch value evaluated.\n",
                   krvDataTypeName(pValue->type));
        return 0;
    }
    krvCaseGroup_t *pGroup = nullptr;
    if (krvCaseGroup_t **ppDense = pSwitch->u.switchStmt.ppDense; ppDense && pValue->type == KRV_DT_INTEGER) {
        // Integer labels close together: their table.
        uint64_t i = static_cast<uint64_t>(pValue->val.nInt) - static_cast<uint64_t>(pSwitch->u.switchStmt.nDenseMin);
        if (i < static_cast<uint64_t>(pSwitch->nEvalArg))
            pGroup = ppDense[i];
    } else if (sysHashSetting_t *pTable = pSwitch->u.switchStmt.pCaseTable) {
        auto *pLabel = static_cast<krvCaseLabel_t *>(sysHashFind(pTable, pValue));
        if (pLabel)
            pGroup = pLabel->pGroup;
    }
    *ppGroup = pGroup ? pGroup : pSwitch->u.switchStmt.pDefault;
    return 1;
}

// Runs a switch body from pFrom (or the first statement of pGroup) to its end.
int krvEvalSwitchRun(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvCaseGroup_t *pGroup, krvAPTN_t *pFrom,
                     const char **pszTag, krvValue_t *pResult, uint32_t *pFl)
{
    for (; pGroup; pGroup = pGroup->next) {
        krvAPTN_t *p = pFrom ? pFrom : pGroup->exeBodyHead;
        pFrom = nullptr;
        for (; p; p = p->next) {
            if (p->nEvalKind == KRV_EOP_BREAK)
                return 1;
            if (!krvEvalStmt(pEnv, pFunc, p, pszTag, pResult, pFl))
                return 0;
            if (*pFl) {
                switch (krvEvalSwitchFlags(pFl, kSrc, "krvEval_switchStmt", __LINE__)) {
                case KRV_LOOP_ON: break;
                case KRV_LOOP_LEAVE_OK: return 1;
                case KRV_LOOP_LEAVE_FAIL: return 0;
                }
            }
            if (p == pGroup->exeBodyTail)
                break;
        }
    }
    return 1;
}

static int evalSwitch(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                      uint32_t *pFl)
{
    if (!krvEvalInto(pEnv, pFunc, pNode->u.switchStmt.pExpr, pResult, pFl))
        return 0;
    krvCaseGroup_t *pGroup;
    if (!krvEvalSwitchPick(pEnv, pNode, pResult, &pGroup))
        return 0;
    return krvEvalSwitchRun(pEnv, pFunc, pGroup, nullptr, pszTag, pResult, pFl);
}

// A user call with its backtrace entry (and the depth limit of 215).
static inline int usrCall(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl)
{
    krvEvalState_t *pSt = pEnv->pEval;
    if (pSt->nBtDepth >= pSt->nBtMax) {
        krvErrorAt(KRV_RTE_DEPTH, pEnv, pNode, "Too deep function calls; more than %d calls are nested.",
                   pSt->nBtMax);
        return 0;
    }
    pSt->ppBacktrace[pSt->nBtDepth++] = pNode;
    int ok = krvEvalCallUsrFunc(pEnv, pFunc, pNode, pResult, pFl);
    pSt->nBtDepth--;
    return ok;
}

static int evalReturn(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl)
{
    int ok = 1;
    if (pNode->u.exprStmt.pExpr) {
        ok = krvEvalInto(pEnv, pFunc, pNode->u.exprStmt.pExpr, pResult, pFl);
    } else {
        krvEvalSetInt(pResult, 0);
    }
    if (*pFl & KRV_XCPT_EXIT)
        return 0;
    *pFl |= KRV_XCPT_RETURN;
    return ok;
}

// A value read from the cell a reference names.
static inline int evalRef(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl)
{
    krvStruct_t *pType;
    krvValue_t *pCell = krvEvalCellOf(pEnv, pFunc, pNode, &pType, pFl);
    if (!pCell)
        return 0;
    krvCellGuard guard(pCell);
    return krvEvalCopy(pResult, pCell) ? 1 : krvEvalOutOfMemory(pEnv, pNode);
}

static int evalConst(krvEnv_t *pEnv, krvAPTN_t *pNode, krvValue_t *pResult)
{
    krvVar_t *pCid = pNode->u.varRef.pCid;
    if (!pCid || !pCid->pData) {
        krvEvalUnbound(pEnv, pNode, "constant not solved");
        return 0;
    }
    return krvEvalCopy(pResult, pCid->pData) ? 1 : krvEvalOutOfMemory(pEnv, pNode);
}

static int evalStr(krvEnv_t *pEnv, krvAPTN_t *pNode, krvValue_t *pResult)
{
    krvValue_t lit;
    lit.type = KRV_DT_STRING;
    lit.val.pStr = pNode->u.szStrConst;
    bool ok = lit.val.pStr ? krvEvalCopy(pResult, &lit) : krvSetStr(pResult, nullptr) == 0;
    return ok ? 1 : krvEvalOutOfMemory(pEnv, pNode);
}

// ---- one function per operation, all of the dispatcher's shape ---------------------
#define KRV_EOP_ARGS                                                                                  \
    krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult, \
        uint32_t *pFl

static int opNone(KRV_EOP_ARGS)
{
    (void)pFunc;
    (void)pszTag;
    (void)pFl;
    krvDebug("\"%s\" line %d %s(): type %d is not processed. (script \"%s\", line %d)\n", kSrc, __LINE__,
             "krvEval_APTN", pNode->nKind, krvEnvFileName(pEnv, pNode->nFileIdx), pNode->nLine);
    krvEvalSetInt(pResult, 0);
    return 0;
}
static int opInt(KRV_EOP_ARGS)
{
    (void)pEnv, (void)pFunc, (void)pszTag, (void)pFl;
    krvEvalSetInt(pResult, pNode->u.nIntConst);
    return 1;
}
static int opFloat(KRV_EOP_ARGS)
{
    (void)pEnv, (void)pFunc, (void)pszTag, (void)pFl;
    krvEvalSetFloat(pResult, pNode->u.dFloatConst);
    return 1;
}
static int opStr(KRV_EOP_ARGS)
{
    (void)pFunc, (void)pszTag, (void)pFl;
    return evalStr(pEnv, pNode, pResult);
}
static int opConst(KRV_EOP_ARGS)
{
    (void)pFunc, (void)pszTag, (void)pFl;
    return evalConst(pEnv, pNode, pResult);
}
static int opRef(KRV_EOP_ARGS)
{
    (void)pszTag;
    return evalRef(pEnv, pFunc, pNode, pResult, pFl);
}
static int opUnary(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalUnaryNode(pEnv, pFunc, pNode, pResult, pFl);
}
template <int32_t nOp> static int opBinary(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalBinaryNode(pEnv, pFunc, pNode, nOp, pResult, pFl);
}
#define KRV_EOP_BIN(t, op) t[int(KRV_EOP_BINARY) + int(op) - int(KRV_OP_MUL)] = opBinary<op>

// An integer tree; the operator's general operation when a value read is
// not an integer, or while cells are shared between threads.
static int opIntTree(KRV_EOP_ARGS)
{
    int64_t n;
    if (!krvEvalCellsShared() && krvEvalIntTree(pEnv->pEvalFrame, pNode, &n)) [[likely]] {
        krvEvalSetInt(pResult, n);
        return 1;
    }
    return g_krvEvalOps[krvEvalOpKind(pNode)](pEnv, pFunc, pNode, pszTag, pResult, pFl);
}
static int opLogic(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalLogicNode(pEnv, pFunc, pNode, pResult, pFl);
}
static int opCond(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalCondNode(pEnv, pFunc, pNode, pResult, pFl);
}
static int opAssign(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalAssignNode(pEnv, pFunc, pNode, pResult, pFl);
}
// "=" of an integer: the target located first, as always; the general
// assignment when the value read is not an integer.
static int opAssignInt(KRV_EOP_ARGS)
{
    (void)pszTag;
    int64_t n;
    if (!krvEvalCellsShared()) [[likely]] {
        krvStruct_t *pType;
        krvValue_t *pCell = krvEvalCellOf(pEnv, pFunc, pNode->u.opExpr.opd1, &pType, pFl);
        if (!pCell)
            return 0;
        if (krvEvalIntNode(pEnv->pEvalFrame, pNode->u.opExpr.opd2, &n)) [[likely]] {
            krvEvalSetInt(pCell, n);
            if (!(pNode->nEvalFlags & KRV_EF_VOID))
                krvEvalSetInt(pResult, n);
            return 1;
        }
        return krvEvalAssignTo(pEnv, pFunc, pNode, pCell, pResult, pFl);
    }
    return krvEvalAssignNode(pEnv, pFunc, pNode, pResult, pFl);
}
// s = s + x and s += x of a string local and a string: x appended to s
// where it is; otherwise an assignment like any other.
static int opAppendLocal(KRV_EOP_ARGS)
{
    krvValue_t *pCell = pEnv->pEvalFrame[-pNode->nEvalArg].pData;
    bool bAssign = pNode->u.opExpr.nOp == KRV_OP_ASSIGN;
    krvAPTN_t *pSum = bAssign ? pNode->u.opExpr.opd2 : pNode;
    if (pCell && pCell->type == KRV_DT_STRING && !krvEvalCellsShared()) {
        krvOpnd_t t;
        const krvValue_t *pX =
            krvEvalOperand(pEnv, pFunc, bAssign ? pSum->u.opExpr.opd2 : pNode->u.opExpr.opd2, &t, true, pFl);
        if (!pX)
            return 0;
        if (pX->type == KRV_DT_STRING) [[likely]] {
            int ok = krvEvalConcat(pEnv, pSum, pCell, pX, pCell);
            krvEvalOpndDrop(&t);
            if (ok && !(pNode->nEvalFlags & KRV_EF_VOID) && !krvEvalCopy(pResult, pCell))
                ok = krvEvalOutOfMemory(pEnv, pNode);
            return ok;
        }
        // x changes nothing: evaluating it again below is harmless.
        krvEvalOpndDrop(&t);
    }
    if (!bAssign)
        return krvEvalCompoundNode(pEnv, pFunc, pNode, pResult, pFl);
    if (pSum->nEvalFlags & KRV_EF_INT)
        return opAssignInt(pEnv, pFunc, pNode, pszTag, pResult, pFl);
    return krvEvalAssignNode(pEnv, pFunc, pNode, pResult, pFl);
}
static int opCompound(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalCompoundNode(pEnv, pFunc, pNode, pResult, pFl);
}
static int opIncDec(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalIncDecNode(pEnv, pFunc, pNode, pResult, pFl);
}
// ++ and -- on an integer local, and compound assignments of integers to
// one: the general operation for any other value, or while cells are shared
// between threads.
__attribute__((always_inline)) static inline int opIncDecLocal(KRV_EOP_ARGS)
{
    (void)pszTag;
    krvValue_t *pCell = pEnv->pEvalFrame[-pNode->nEvalArg].pData;
    if (pCell && pCell->type == KRV_DT_INTEGER && !krvEvalCellsShared()) [[likely]]
        return krvEvalIncDecInt(pNode, pCell, pResult);
    return krvEvalIncDecNode(pEnv, pFunc, pNode, pResult, pFl);
}
__attribute__((always_inline)) static inline int opUpdateLocal(KRV_EOP_ARGS)
{
    (void)pszTag;
    krvValue_t *pCell = pEnv->pEvalFrame[-pNode->nEvalArg].pData;
    int64_t b, r;
    if (pCell && pCell->type == KRV_DT_INTEGER && !krvEvalCellsShared() &&
        krvEvalIntNode(pEnv->pEvalFrame, pNode->u.opExpr.opd2, &b) &&
        krvEvalIntCompute(krvEvalCompoundBase(pNode->u.opExpr.nOp), pCell->val.nInt, b, &r)) [[likely]] {
        pCell->val.nInt = r;
        if (!(pNode->nEvalFlags & KRV_EF_VOID))
            krvEvalSetInt(pResult, r);
        return 1;
    }
    return krvEvalCompoundNode(pEnv, pFunc, pNode, pResult, pFl);
}
static int opBadUpdate(KRV_EOP_ARGS)
{
    (void)pFunc, (void)pszTag, (void)pResult, (void)pFl;
    return krvEvalUpdateInvalid(pEnv, pNode);
}
static int opList(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalListNode(pEnv, pFunc, pNode, pResult, pFl);
}
static int opUsrCall(KRV_EOP_ARGS)
{
    (void)pszTag;
    return usrCall(pEnv, pFunc, pNode, pResult, pFl);
}
static int opBuiltinCall(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvBuiGetFunc(pNode->u.builtinCall.nFuncId)->pfnHandler(pEnv, pFunc, pNode, pResult, pFl);
}
static int opExtCall(KRV_EOP_ARGS)
{
    (void)pszTag;
    return krvEvalCallExtFunc(pEnv, pFunc, pNode, pResult, pFl);
}
static int opExprStmt(KRV_EOP_ARGS)
{
    return krvEvalDispatch(pEnv, pFunc, pNode->u.exprStmt.pExpr, pszTag, pResult, pFl);
}
static int opNullStmt(KRV_EOP_ARGS)
{
    (void)pEnv, (void)pFunc, (void)pNode, (void)pszTag, (void)pResult, (void)pFl;
    return 1;
}
static int opBreak(KRV_EOP_ARGS)
{
    (void)pEnv, (void)pFunc, (void)pNode, (void)pszTag, (void)pResult;
    *pFl |= KRV_XCPT_BREAK;
    return 1;
}
static int opContinue(KRV_EOP_ARGS)
{
    (void)pEnv, (void)pFunc, (void)pNode, (void)pszTag, (void)pResult;
    *pFl |= KRV_XCPT_CONTINUE;
    return 1;
}
static int opGoto(KRV_EOP_ARGS)
{
    (void)pEnv, (void)pFunc, (void)pResult;
    *pFl |= KRV_XCPT_GOTO;
    *pszTag = pNode->u.gotoStmt.szTagName;
    return 1;
}
static int opReturn(KRV_EOP_ARGS)
{
    (void)pszTag;
    return evalReturn(pEnv, pFunc, pNode, pResult, pFl);
}
static int opDo(KRV_EOP_ARGS)
{
    return krvEval_doLoop(pEnv, pFunc, pNode, pszTag, pResult, pFl, false);
}
static int opBlock(KRV_EOP_ARGS)
{
    if (!krvEvalList(pEnv, pFunc, pNode->u.compoundStmt.pStmts, pszTag, pResult, pFl))
        return 0;
    return (*pFl & KRV_XCPT_EXIT) ? 0 : 1;
}
static int opEval(KRV_EOP_ARGS)
{
    (void)pEnv, (void)pFunc, (void)pNode, (void)pszTag, (void)pResult, (void)pFl;
    return 0;
}
static int opExit(KRV_EOP_ARGS)
{
    (void)pFunc, (void)pszTag, (void)pResult;
    *pFl |= KRV_XCPT_EXIT;
    krvPrint("Exit from \"%s\" line %d!\n", krvEnvFileName(pEnv, pNode->nFileIdx), pNode->nLine);
    return 0;
}

// The operation table, filled entry by entry at compile time.
static constexpr std::array<krvEvalOpFn_t, KRV_EOP_COUNT> buildEvalOps()
{
    std::array<krvEvalOpFn_t, KRV_EOP_COUNT> t{};
    t[KRV_EOP_NONE] = opNone;
    t[KRV_EOP_INT] = opInt;
    t[KRV_EOP_FLOAT] = opFloat;
    t[KRV_EOP_STR] = opStr;
    t[KRV_EOP_CONST] = opConst;
    t[KRV_EOP_LOCAL] = opRef;
    t[KRV_EOP_GLOBAL] = opRef;
    t[KRV_EOP_OBJ_MEMBER] = opRef;
    t[KRV_EOP_ELEM] = opRef;
    t[KRV_EOP_REF] = opRef;
    t[KRV_EOP_UNARY] = opUnary;
    KRV_EOP_BIN(t, KRV_OP_MUL);
    KRV_EOP_BIN(t, KRV_OP_DIV);
    KRV_EOP_BIN(t, KRV_OP_MOD);
    KRV_EOP_BIN(t, KRV_OP_ADD);
    KRV_EOP_BIN(t, KRV_OP_SUB);
    KRV_EOP_BIN(t, KRV_OP_SHR);
    KRV_EOP_BIN(t, KRV_OP_SHL);
    KRV_EOP_BIN(t, KRV_OP_GT);
    KRV_EOP_BIN(t, KRV_OP_GE);
    KRV_EOP_BIN(t, KRV_OP_LT);
    KRV_EOP_BIN(t, KRV_OP_LE);
    KRV_EOP_BIN(t, KRV_OP_NE);
    KRV_EOP_BIN(t, KRV_OP_EQ);
    KRV_EOP_BIN(t, 18);
    KRV_EOP_BIN(t, KRV_OP_BAND);
    KRV_EOP_BIN(t, KRV_OP_BXOR);
    KRV_EOP_BIN(t, KRV_OP_BOR);
    t[KRV_EOP_INT_TREE] = opIntTree;
    t[KRV_EOP_AND] = opLogic;
    t[KRV_EOP_OR] = opLogic;
    t[KRV_EOP_COND] = opCond;
    t[KRV_EOP_ASSIGN] = opAssign;
    t[KRV_EOP_ASSIGN_INT] = opAssignInt;
    t[KRV_EOP_APPEND_LOCAL] = opAppendLocal;
    t[KRV_EOP_COMPOUND] = opCompound;
    t[KRV_EOP_INCDEC] = opIncDec;
    t[KRV_EOP_INCDEC_LOCAL] = opIncDecLocal;
    t[KRV_EOP_UPDATE_LOCAL] = opUpdateLocal;
    t[KRV_EOP_BAD_UPDATE] = opBadUpdate;
    t[KRV_EOP_LIST] = opList;
    t[KRV_EOP_USR_CALL] = opUsrCall;
    t[KRV_EOP_BUILTIN_CALL] = opBuiltinCall;
    t[KRV_EOP_EXT_CALL] = opExtCall;
    t[KRV_EOP_EXPR_STMT] = opExprStmt;
    t[KRV_EOP_NULL_STMT] = opNullStmt;
    t[KRV_EOP_BREAK] = opBreak;
    t[KRV_EOP_CONTINUE] = opContinue;
    t[KRV_EOP_GOTO] = opGoto;
    t[KRV_EOP_RETURN] = opReturn;
    t[KRV_EOP_IF] = krvEval_ifStmt;
    t[KRV_EOP_WHILE] = krvEval_whileStmt;
    t[KRV_EOP_DO] = opDo;
    t[KRV_EOP_FOR] = evalFor;
    t[KRV_EOP_SWITCH] = evalSwitch;
    t[KRV_EOP_BLOCK] = opBlock;
    t[KRV_EOP_EVAL] = opEval;
    t[KRV_EOP_EXIT] = opExit;
    return t;
}

constinit const std::array<krvEvalOpFn_t, KRV_EOP_COUNT> g_krvEvalOps = buildEvalOps();

int krvEval_APTN(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, const char **pszTag, krvValue_t *pResult,
                 uint32_t *pFl)
{
    return krvEvalDispatch(pEnv, pFunc, pNode, pszTag, pResult, pFl);
}
