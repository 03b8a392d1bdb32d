// Preparation of a resolved function for evaluation: access hints on
// references, side-effect-free expressions marked for the integer path,
// string literal joins done once, and dense jump tables for switches over
// integer labels. Runs while the function is resolved, before anything
// can evaluate it, so running tasks only ever read what it writes.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "eval/krvEvalInt.h"

// Dense switch tables: at most this many entries, and not much sparser
// than the labels themselves.
#define KRV_DENSE_MAX 4096
#define KRV_DENSE_SLACK 64

static void prepareList(krvFuncInfo_t *pFunc, krvAPTN_t *pList);

// An elementary member datum without indices reached from pRef, the only
// member of the path; NULL otherwise.
static krvVar_t *soleElementaryMember(const krvAPTN_t *pRef)
{
    const krvAPTN_t *pM = pRef->u.varRef.pMember;
    if (!pM || pM->nKind != krvAPTNType_varRef || pM->u.varRef.pMember || pM->u.varRef.pIndexes)
        return nullptr;
    krvVar_t *pMd = pM->u.varRef.pVarPtr;
    if (!pMd || pMd->dbd != KRV_DBD_ELEMENT || pMd->pType)
        return nullptr;
    return pMd;
}

static void hintRef(krvFuncInfo_t *pFunc, krvAPTN_t *pRef)
{
    pRef->nHint = KRV_HINT_NONE;
    pRef->nHintArg = 0;
    krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    if (!pVar || pVar->isMember)
        return;
    krvAPTN_t *pIdx = pRef->u.varRef.pIndexes;
    krvAPTN_t *pMember = pRef->u.varRef.pMember;
    if (!pIdx && !pMember) {
        if (pVar->pType || (pVar->dbd & ~KRV_DBD_REF_BIT) != 0)
            return;
        if (pVar->isGlobal) {
            if (pVar->dbd == KRV_DBD_ELEMENT)
                pRef->nHint = KRV_HINT_GLOBAL;
        } else if (pVar->stoffset > 0) {
            pRef->nHintArg = pVar->stoffset;
            pRef->nHint = KRV_HINT_LOCAL;
        }
        return;
    }
    if (!pIdx) {
        // A member of the object of a member function.
        const krvVar_t *pMd = soleElementaryMember(pRef);
        if (pMd && pFunc && pVar == pFunc->obj && pVar->stoffset > 0) {
            pRef->nHintArg = pVar->stoffset;
            pRef->nHint = KRV_HINT_OBJMBR;
        }
        return;
    }
    if (pIdx->next || pIdx->nKind == krvAPTNType_subRange || !KRV_IS_VAR_ARRAY(pVar->dbd) ||
        KRV_IS_VAR_REF(pVar->dbd))
        return;
    if (pMember) {
        const krvVar_t *pMd = soleElementaryMember(pRef);
        if (!pMd || !pVar->pType)
            return;
    }
    if (!pVar->isGlobal)
        pRef->nHintArg = pVar->stoffset;
    pRef->nHint = KRV_HINT_ELEM1;
}

// Whether evaluating the node can change nothing and report nothing that
// another evaluation would not report the same way: literals, constants,
// hinted references and the operators over them.
static bool isPure(const krvAPTN_t *p)
{
    if (!p || p->next)
        return false;
    switch (p->nKind) {
    case krvAPTNType_intConst:
    case krvAPTNType_cidRef:
        return true;
    case krvAPTNType_varRef:
        switch (p->nHint) {
        case KRV_HINT_LOCAL:
        case KRV_HINT_GLOBAL:
        case KRV_HINT_OBJMBR:
            return true;
        case KRV_HINT_ELEM1: {
            const krvAPTN_t *pIdx = p->u.varRef.pIndexes;
            return pIdx->nKind == krvAPTNType_intConst ||
                   (pIdx->nKind == krvAPTNType_varRef &&
                    (pIdx->nHint == KRV_HINT_LOCAL || pIdx->nHint == KRV_HINT_GLOBAL));
        }
        default:
            return false;
        }
    case krvAPTNType_opExpr: {
        int32_t nOp = p->u.opExpr.nOp;
        if (nOp >= KRV_OP_POS && nOp <= KRV_OP_BNOT)
            return isPure(p->u.opExpr.opd1);
        if ((nOp >= KRV_OP_MUL && nOp <= KRV_OP_EQ) || (nOp >= KRV_OP_BAND && nOp <= KRV_OP_LOR))
            return isPure(p->u.opExpr.opd1) && isPure(p->u.opExpr.opd2);
        return false;
    }
    default:
        return false;
    }
}

// "a" + "b" of two literals becomes the literal "ab".
static void joinLiterals(krvAPTN_t *p)
{
    krvAPTN_t *a = p->u.opExpr.opd1, *b = p->u.opExpr.opd2;
    if (p->u.opExpr.nOp != KRV_OP_ADD || !a || !b || a->next || b->next || a->nKind != krvAPTNType_strConst ||
        b->nKind != krvAPTNType_strConst || !a->u.szStrConst || !b->u.szStrConst)
        return;
    size_t la = strlen(a->u.szStrConst), lb = strlen(b->u.szStrConst);
    char *sz = static_cast<char *>(malloc(la + lb + 1));
    if (!sz)
        return;
    memcpy(sz, a->u.szStrConst, la);
    memcpy(sz + la, b->u.szStrConst, lb + 1);
    krvFreeAPTN(a);
    krvFreeAPTN(b);
    p->u.opExpr.opd1 = nullptr;
    p->u.opExpr.opd2 = nullptr;
    p->nKind = krvAPTNType_strConst;
    p->u.szStrConst = sz;
}

// Refs first (purity depends on their hints), then the marks: a pure
// expression is marked where its parent is not pure, so one integer
// attempt covers the whole of it.
static void hintRefs(krvFuncInfo_t *pFunc, krvAPTN_t *pList);

static void hintRefsOne(krvFuncInfo_t *pFunc, krvAPTN_t *p)
{
    switch (p->nKind) {
    case krvAPTNType_cidRef: {
        // Constants have their values once resolution has bound them.
        const krvVar_t *pCid = p->u.varRef.pCid;
        const krvValue_t *pV = pCid ? pCid->pData : nullptr;
        p->nHint = KRV_HINT_NONE;
        if (pV && pV->type == KRV_DT_INTEGER && pV->val.nInt >= INT32_MIN && pV->val.nInt <= INT32_MAX) {
            p->nHintArg = static_cast<int32_t>(pV->val.nInt);
            p->nHint = KRV_HINT_CONSTINT;
        }
        break;
    }
    case krvAPTNType_varRef:
        hintRefs(pFunc, p->u.varRef.pIndexes);
        for (krvAPTN_t *pM = p->u.varRef.pMember; pM; pM = pM->u.varRef.pMember)
            hintRefs(pFunc, pM->u.varRef.pIndexes);
        hintRef(pFunc, p);
        break;
    case krvAPTNType_opExpr:
        hintRefs(pFunc, p->u.opExpr.opd1);
        hintRefs(pFunc, p->u.opExpr.opd2);
        joinLiterals(p);
        break;
    case krvAPTNType_subRange:
        hintRefs(pFunc, p->u.subRange.pStart);
        hintRefs(pFunc, p->u.subRange.pEnd);
        break;
    case krvAPTNType_exprList:
        hintRefs(pFunc, p->u.exprList.pFirst);
        break;
    case krvAPTNType_funcRef:
        hintRefs(pFunc, p->u.funcRef.pRef);
        break;
    case krvAPTNType_call:
    case krvAPTNType_builtinCall:
    case krvAPTNType_extCall:
        hintRefs(pFunc, p->u.call.pArgs);
        break;
    case krvAPTNType_usrCall:
        hintRefs(pFunc, p->u.usrCall.pArgs);
        hintRefs(pFunc, p->u.usrCall.objRef);
        break;
    default:
        break;
    }
}

static void hintRefs(krvFuncInfo_t *pFunc, krvAPTN_t *pList)
{
    for (krvAPTN_t *p = pList; p; p = p->next)
        hintRefsOne(pFunc, p);
}

// Operands the inline integer path reads directly.
static bool isSimpleLeaf(const krvAPTN_t *p)
{
    return p->nKind == krvAPTNType_intConst || (p->nKind == krvAPTNType_varRef && p->nHint == KRV_HINT_LOCAL) ||
           (p->nKind == krvAPTNType_cidRef && p->nHint == KRV_HINT_CONSTINT);
}

// Marks the operators of a pure expression whose two operands are simple.
static void markSimple(krvAPTN_t *p)
{
    if (!p || p->nKind != krvAPTNType_opExpr)
        return;
    krvAPTN_t *a = p->u.opExpr.opd1, *b = p->u.opExpr.opd2;
    p->nHintSpare = a && b && isSimpleLeaf(a) && isSimpleLeaf(b);
    markSimple(a);
    markSimple(b);
}

static void markPure(krvAPTN_t *pList);

static void markPureOne(krvAPTN_t *p)
{
    if (p->nKind == krvAPTNType_opExpr && isPure(p)) {
        p->nHint = KRV_HINT_PURE;
        markSimple(p);
        return;
    }
    switch (p->nKind) {
    case krvAPTNType_varRef:
        markPure(p->u.varRef.pIndexes);
        for (krvAPTN_t *pM = p->u.varRef.pMember; pM; pM = pM->u.varRef.pMember)
            markPure(pM->u.varRef.pIndexes);
        break;
    case krvAPTNType_opExpr:
        markPure(p->u.opExpr.opd1);
        markPure(p->u.opExpr.opd2);
        break;
    case krvAPTNType_subRange:
        markPure(p->u.subRange.pStart);
        markPure(p->u.subRange.pEnd);
        break;
    case krvAPTNType_exprList:
        markPure(p->u.exprList.pFirst);
        break;
    case krvAPTNType_call:
    case krvAPTNType_builtinCall:
    case krvAPTNType_extCall:
        markPure(p->u.call.pArgs);
        break;
    case krvAPTNType_usrCall:
        markPure(p->u.usrCall.pArgs);
        markPure(p->u.usrCall.objRef);
        break;
    default:
        break;
    }
}

static void markPure(krvAPTN_t *pList)
{
    for (krvAPTN_t *p = pList; p; p = p->next)
        markPureOne(p);
}

static void prepareExpr(krvFuncInfo_t *pFunc, krvAPTN_t *pNode)
{
    if (!pNode)
        return;
    hintRefsOne(pFunc, pNode);
    markPureOne(pNode);
}

// The dense table of a switch whose integer labels lie close together.
static void buildDense(krvAPTN_t *pSwitch)
{
    free(pSwitch->u.switchStmt.ppDense);
    pSwitch->u.switchStmt.ppDense = nullptr;
    pSwitch->nHintArg = 0;
    int64_t nMin = 0, nMax = 0;
    int64_t nLabels = 0;
    for (krvCaseGroup_t *pG = pSwitch->u.switchStmt.pGroups; pG; pG = pG->next) {
        for (krvCaseLabel_t *pL = pG->pLabels; pL; pL = pL->next) {
            if (pL->isDefault || !pL->pValue)
                continue;
            if (pL->pValue->type != KRV_DT_INTEGER) {
                if (pL->pValue->type != KRV_DT_STRING)
                    return;
                continue;
            }
            int64_t v = pL->pValue->val.nInt;
            if (nLabels == 0 || v < nMin)
                nMin = v;
            if (nLabels == 0 || v > nMax)
                nMax = v;
            nLabels++;
        }
    }
    if (nLabels == 0)
        return;
    uint64_t nSpan = static_cast<uint64_t>(nMax) - static_cast<uint64_t>(nMin) + 1;
    if (nSpan == 0 || nSpan > KRV_DENSE_MAX || nSpan > static_cast<uint64_t>(8 * nLabels + KRV_DENSE_SLACK))
        return;
    auto **pp = static_cast<krvCaseGroup_t **>(calloc(nSpan, sizeof(krvCaseGroup_t *)));
    if (!pp)
        return;
    // The first label of a value wins, as in the ordered search.
    for (krvCaseGroup_t *pG = pSwitch->u.switchStmt.pGroups; pG; pG = pG->next)
        for (krvCaseLabel_t *pL = pG->pLabels; pL; pL = pL->next)
            if (!pL->isDefault && pL->pValue && pL->pValue->type == KRV_DT_INTEGER) {
                uint64_t i = static_cast<uint64_t>(pL->pValue->val.nInt) - static_cast<uint64_t>(nMin);
                if (!pp[i])
                    pp[i] = pG;
            }
    pSwitch->u.switchStmt.ppDense = pp;
    pSwitch->u.switchStmt.nDenseMin = nMin;
    pSwitch->nHintArg = static_cast<int32_t>(nSpan);
}

static void prepareStmt(krvFuncInfo_t *pFunc, krvAPTN_t *p)
{
    switch (p->nKind) {
    case krvAPTNType_exprStmt:
    case krvAPTNType_returnStmt:
    case krvAPTNType_evalStmt:
        prepareExpr(pFunc, p->u.exprStmt.pExpr);
        break;
    case krvAPTNType_ifStmt:
        prepareExpr(pFunc, p->u.ifStmt.pCond);
        prepareList(pFunc, p->u.ifStmt.pThen);
        prepareList(pFunc, p->u.ifStmt.pElse);
        break;
    case krvAPTNType_whileStmt:
    case krvAPTNType_doStmt:
        prepareExpr(pFunc, p->u.loopStmt.pCond);
        prepareList(pFunc, p->u.loopStmt.pBody);
        break;
    case krvAPTNType_forStmt:
        if (p->u.forStmt.pInit && p->u.forStmt.pInit->nKind != krvAPTNType_nullStmt)
            prepareExpr(pFunc, p->u.forStmt.pInit);
        prepareExpr(pFunc, p->u.forStmt.pCond);
        prepareExpr(pFunc, p->u.forStmt.pStep);
        prepareList(pFunc, p->u.forStmt.pBody);
        break;
    case krvAPTNType_switchStmt:
        prepareExpr(pFunc, p->u.switchStmt.pExpr);
        for (krvCaseGroup_t *pG = p->u.switchStmt.pGroups; pG; pG = pG->next) {
            for (krvAPTN_t *q = pG->exeBodyHead; q; q = q->next) {
                prepareStmt(pFunc, q);
                if (q == pG->exeBodyTail)
                    break;
            }
        }
        buildDense(p);
        break;
    case krvAPTNType_compoundStmt:
        prepareList(pFunc, p->u.compoundStmt.pStmts);
        break;
    default:
        if (!KRV_APTN_IS_STMT(p->nKind))
            prepareExpr(pFunc, p);
        break;
    }
}

static void prepareList(krvFuncInfo_t *pFunc, krvAPTN_t *pList)
{
    for (krvAPTN_t *p = pList; p; p = p->next)
        prepareStmt(pFunc, p);
}

void krvEvalPrepareFunc(krvFuncInfo_t *pFunc)
{
    if (!pFunc || pFunc->type != KRV_USR_FUNC_TYPE)
        return;
    for (krvVar_t *p = pFunc->pLocals; p; p = p->link)
        if (p->pInitExpr)
            prepareExpr(pFunc, p->pInitExpr);
    prepareList(pFunc, pFunc->pBody);
}
