// Assignment, compound assignment and increment/decrement: the target is
// located (index expressions evaluated again for the compound forms), then
// the new value is computed and stored.
#include "eval/krvEvalArith.h"

int krvEvalAssign(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl);

static int32_t baseOp(int32_t nOp)
{
    switch (nOp) {
    case KRV_OP_ADD_ASSIGN: return KRV_OP_ADD;
    case KRV_OP_SUB_ASSIGN: return KRV_OP_SUB;
    case KRV_OP_MUL_ASSIGN: return KRV_OP_MUL;
    case KRV_OP_DIV_ASSIGN: return KRV_OP_DIV;
    case KRV_OP_MOD_ASSIGN: return KRV_OP_MOD;
    case KRV_OP_SHR_ASSIGN: return KRV_OP_SHR;
    case KRV_OP_SHL_ASSIGN: return KRV_OP_SHL;
    case KRV_OP_BOR_ASSIGN: return KRV_OP_BOR;
    case KRV_OP_BAND_ASSIGN: return KRV_OP_BAND;
    case KRV_OP_BXOR_ASSIGN: return KRV_OP_BXOR;
    default: return 0;
    }
}

// The target's cell; for the compound forms the reference is first read as
// a value, so its index expressions run twice.
static krvValue_t *targetCell(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pTarget, int32_t nOp, uint32_t *pFl)
{
    if (krvValue_t *pCell = krvEvalPlainCell(pEnv, pTarget))
        return pCell;
    if (krvValue_t *pCell = krvEvalFastElem(pEnv, pTarget))
        return pCell;
    if (nOp != KRV_OP_ASSIGN) {
        krvValue_t t;
        t.type = KRV_DT_INTEGER;
        t.val.uRaw = 0;
        const char *szTag = nullptr;
        int ok = krvEval_APTN(pEnv, pFunc, pTarget, &szTag, &t, pFl);
        krvEvalDrop(&t);
        if (!ok || (*pFl & KRV_XCPT_EXIT))
            return nullptr;
    }
    krvLoc_t loc;
    if (!krvEvalLocate(pEnv, pFunc, pTarget, &loc, pFl))
        return nullptr;
    return loc.pCell;
}

static int incDec(krvEnv_t *pEnv, krvAPTN_t *pExpr, int32_t nOp, krvValue_t *pCell, krvValue_t *pResult)
{
    bool bInc = nOp == KRV_OP_PRE_INC || nOp == KRV_OP_POST_INC;
    bool bPost = nOp == KRV_OP_POST_INC || nOp == KRV_OP_POST_DEC;
    int32_t t = pCell->type;
    if (KRV_T_INTLIKE(t)) {
        int64_t nOld = pCell->val.nInt;
        uint64_t u = static_cast<uint64_t>(nOld);
        int64_t nNew = static_cast<int64_t>(bInc ? u + 1 : u - 1);
        pCell->type = KRV_DT_INTEGER;
        pCell->val.nInt = nNew;
        krvEvalSetInt(pResult, bPost ? nOld : nNew);
        return 1;
    }
    if (t == KRV_DT_FLOAT) {
        double dOld = pCell->val.dFloat;
        double dNew = bInc ? dOld + 1.0 : dOld - 1.0;
        pCell->val.dFloat = dNew;
        krvEvalSetFloat(pResult, bPost ? dOld : dNew);
        return 1;
    }
    krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr, "Not allow unary operator '%s' operating on a string.", krvOpForm(nOp));
    return 0;
}

int krvEvalAssign(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, krvValue_t *pResult, uint32_t *pFl)
{
    int32_t nOp = pExpr->u.opExpr.nOp;
    krvAPTN_t *pTarget = pExpr->u.opExpr.opd1;
    if (!pTarget || pTarget->nKind != krvAPTNType_varRef || !pTarget->u.varRef.pVarPtr) {
        const char *szFile = krvEnvFileName(pEnv, pExpr->nFileIdx);
        krvDebug("script \"%s\" line %d: %s: not solved\n", szFile, pExpr->nLine,
                 pTarget && pTarget->nKind == krvAPTNType_varRef && pTarget->u.varRef.szName
                     ? pTarget->u.varRef.szName
                     : "?");
        krvDebug("Run-time check fail in \"%s\" line %d!\n", szFile, pExpr->nLine);
        return 0;
    }
    if (nOp < KRV_OP_ASSIGN || (nOp > KRV_OP_BXOR_ASSIGN && nOp < KRV_OP_PRE_INC) || nOp > KRV_OP_POST_DEC) {
        krvDebug("\"%s\" line %d: not process expression operator %d\n", krvEnvFileName(pEnv, pExpr->nFileIdx),
                 pExpr->nLine, nOp);
        return 0;
    }
    krvValue_t *pCell = targetCell(pEnv, pFunc, pTarget, nOp, pFl);
    if (!pCell)
        return 0;
    if (nOp >= KRV_OP_PRE_INC) {
        krvCellGuard guard(pCell);
        return incDec(pEnv, pExpr, nOp, pCell, pResult);
    }
    if (nOp == KRV_OP_ASSIGN) {
        if (!krvEvalNode(pEnv, pFunc, pExpr->u.opExpr.opd2, pResult, pFl) || (*pFl & KRV_XCPT_EXIT))
            return 0;
        krvCellGuard guard(pCell);
        if (krvEvalCopy(pCell, pResult) != 0) {
            krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr, "Out of memory.");
            return 0;
        }
        return 1;
    }
    krvValue_t b;
    const krvValue_t *pB = krvEvalPeek(pEnv, pExpr->u.opExpr.opd2, &b);
    bool bOwnB = false;
    if (!pB) {
        b.type = KRV_DT_INTEGER;
        b.val.uRaw = 0;
        bOwnB = true;
        if (!krvEvalNode(pEnv, pFunc, pExpr->u.opExpr.opd2, &b, pFl) || (*pFl & KRV_XCPT_EXIT)) {
            krvEvalDrop(&b);
            return 0;
        }
        pB = &b;
    }
    // The operand is a temporary, a literal or a cell of this task's own
    // (the quick paths give no shared cell): one stripe lock at a time.
    krvCellGuard guard(pCell);
    if (pCell->type == KRV_DT_INTEGER && pB->type == KRV_DT_INTEGER) {
        uint64_t u = static_cast<uint64_t>(pCell->val.nInt), v = static_cast<uint64_t>(pB->val.nInt);
        bool bDone = true;
        switch (nOp) {
        case KRV_OP_ADD_ASSIGN: u += v; break;
        case KRV_OP_SUB_ASSIGN: u -= v; break;
        case KRV_OP_MUL_ASSIGN: u *= v; break;
        case KRV_OP_BOR_ASSIGN: u |= v; break;
        case KRV_OP_BAND_ASSIGN: u &= v; break;
        case KRV_OP_BXOR_ASSIGN: u ^= v; break;
        default: bDone = false; break;
        }
        if (bDone) {
            pCell->val.nInt = static_cast<int64_t>(u);
            krvEvalSetInt(pResult, pCell->val.nInt);
            return 1;
        }
    }
    const char *szOp = krvOpForm(nOp);
    int ok;
    if (nOp != KRV_OP_ADD_ASSIGN && (pCell->type == KRV_DT_STRING || pB->type == KRV_DT_STRING)) {
        if (pCell->type == pB->type)
            krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr, "Not allow operator '%s' operating on two %ss.", szOp,
                       krvDataTypeName(pB->type));
        else
            krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr, "Not allow operator '%s' operating on a %s and a %s.", szOp,
                       krvDataTypeName(pCell->type), krvDataTypeName(pB->type));
        ok = 0;
    } else {
        ok = krvEvalBinary(pEnv, pExpr, baseOp(nOp), szOp, pCell, pB, pCell);
    }
    if (bOwnB)
        krvEvalDrop(&b);
    if (ok && krvEvalCopy(pResult, pCell) != 0) {
        krvErrorAt(KRV_RTE_OPERATOR, pEnv, pExpr, "Out of memory.");
        ok = 0;
    }
    return ok;
}
