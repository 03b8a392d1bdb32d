// Preparation of a resolved script for evaluation: every node of every user
// function gets the operation that evaluates it and the facts that
// operation relies on (its frame slot, whether evaluating it can change
// anything); joins of two string literals are done once, and switches over
// integer labels that lie close together get a jump table. Runs after
// layout and checking, before anything can run, so running tasks only ever
// read what it writes.
#include <cstdlib>
#include <cstring>

#include "eval/krvEvalInt.h"
#include "model/krvNamespace.h"

// Dense switch tables: at most this many entries, and not much sparser
// than the labels themselves.
#define KRV_DENSE_MAX 4096
#define KRV_DENSE_SLACK 64

static bool prepNode(krvFuncInfo_t *pFunc, krvAPTN_t *p);

// Prepares a list of nodes; true when evaluating every one changes nothing.
static bool prepList(krvFuncInfo_t *pFunc, krvAPTN_t *pList)
{
    bool bPure = true;
    for (krvAPTN_t *p = pList; p; p = p->next)
        bPure = prepNode(pFunc, p) && bPure;
    return bPure;
}

// The operation of a reference bound to a variable.
static uint8_t refKind(krvFuncInfo_t *pFunc, krvAPTN_t *pRef)
{
    krvVar_t *pVar = pRef->u.varRef.pVarPtr;
    if (!pVar || pVar->isMember || (pVar->dbd & KRV_DBD_TBA_BIT) || pVar->dbd == KRV_DBD_UNKNOWN)
        return KRV_EOP_REF;
    krvAPTN_t *pIdx = pRef->u.varRef.pIndexes;
    krvAPTN_t *pM = pRef->u.varRef.pMember;
    if (pM && (pM->nKind != krvAPTNType_varRef || !pM->u.varRef.pVarPtr || pM->u.varRef.pIndexes ||
               pM->u.varRef.pMember))
        return KRV_EOP_REF;                // a longer member path, or one with indices
    if (!pVar->isGlobal) {
        if (pVar->stoffset == 0)
            return KRV_EOP_REF;
        pRef->nEvalArg = pVar->stoffset;
    }
    if (!pIdx && !pM) {
        if (pVar->pType || KRV_IS_VAR_ARRAY(pVar->dbd))
            return KRV_EOP_REF;
        if (pVar->isGlobal)
            return KRV_EOP_GLOBAL;
        return KRV_EOP_LOCAL;
    }
    if (!pIdx) {
        // An elementary member of the object of a member function.
        const krvVar_t *pMd = pM->u.varRef.pVarPtr;
        if (pFunc && pVar == pFunc->obj && pMd->dbd == KRV_DBD_ELEMENT && !pMd->pType)
            return KRV_EOP_OBJ_MEMBER;
        return KRV_EOP_REF;
    }
    if (pIdx->next || pIdx->nKind == krvAPTNType_subRange || !KRV_IS_VAR_ARRAY(pVar->dbd) ||
        krvDescDims(pVar->arrSize.pSizes) != 1 || (pM && !pVar->pType))
        return KRV_EOP_REF;
    return KRV_EOP_ELEM;
}

static bool prepRef(krvFuncInfo_t *pFunc, krvAPTN_t *p)
{
    bool bPure = prepList(pFunc, p->u.varRef.pIndexes);
    for (krvAPTN_t *pM = p->u.varRef.pMember; pM; pM = pM->u.varRef.pMember)
        bPure = prepList(pFunc, pM->u.varRef.pIndexes) && bPure;
    p->nEvalArg = 0;
    p->nEvalKind = refKind(pFunc, p);
    return bPure;
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

// A prepared node that krvEvalIntTree evaluates: an integer literal, a
// constant, an elementary variable, an element whose index is such a node,
// or an integer tree. bAlone: not followed by another node of its list.
static bool isIntNode(const krvAPTN_t *p, bool bAlone = true)
{
    if (!p || (bAlone && p->next))
        return false;
    switch (p->nEvalKind) {
    case KRV_EOP_INT:
    case KRV_EOP_CONST:
    case KRV_EOP_LOCAL:
    case KRV_EOP_GLOBAL:
    case KRV_EOP_OBJ_MEMBER:
    case KRV_EOP_INT_TREE:
        return true;
    case KRV_EOP_ELEM:
        return isIntNode(p->u.varRef.pIndexes);
    default:
        return false;
    }
}

// An operand of == or != in an integer tree: such a node, or a string literal.
static bool isEqOperand(const krvAPTN_t *p)
{
    return isIntNode(p) || (p && !p->next && p->nEvalKind == KRV_EOP_STR && p->u.szStrConst);
}

// An operator node (of general operation nEvalKind) over such nodes.
static bool isIntTree(const krvAPTN_t *p)
{
    const krvAPTN_t *pA = p->u.opExpr.opd1, *pB = p->u.opExpr.opd2;
    uint8_t k = p->nEvalKind;
    if (k == KRV_EOP_UNARY)
        return isIntNode(pA);
    if (k == KRV_EOP_COND)
        return isIntNode(pA) && isIntNode(pB, false) && isIntNode(pB->next);
    if (k == KRV_EOP_BINARY + (KRV_OP_EQ - KRV_OP_MUL) || k == KRV_EOP_BINARY + (KRV_OP_NE - KRV_OP_MUL))
        return isEqOperand(pA) && isEqOperand(pB);
    if (k == KRV_EOP_AND || k == KRV_EOP_OR || (k >= KRV_EOP_BINARY && k <= KRV_EOP_BINARY_LAST))
        return isIntNode(pA) && isIntNode(pB);
    return false;
}

// s + x, of the local s a reference pT names and an x that changes nothing.
static bool isAppend(const krvAPTN_t *pT, const krvAPTN_t *pSum)
{
    if (!pSum || pSum->next || pSum->nKind != krvAPTNType_opExpr || pSum->u.opExpr.nOp != KRV_OP_ADD)
        return false;
    const krvAPTN_t *pS = pSum->u.opExpr.opd1, *pX = pSum->u.opExpr.opd2;
    return pS && !pS->next && pS->nEvalKind == KRV_EOP_LOCAL && pS->nEvalArg == pT->nEvalArg && pX && !pX->next &&
           (pX->nEvalFlags & KRV_EF_PURE);
}

// Whether the statement q (run after an expression statement) first of all
// writes the result cell, or is an expression statement.
static bool writesResultFirst(const krvAPTN_t *q)
{
    if (!q)
        return false;
    switch (q->nKind) {
    case krvAPTNType_exprStmt:
        return q->u.exprStmt.pExpr != nullptr;
    case krvAPTNType_ifStmt:
        return q->u.ifStmt.pCond != nullptr;
    case krvAPTNType_whileStmt:
        return q->u.loopStmt.pCond != nullptr;
    case krvAPTNType_forStmt:
        return (q->u.forStmt.pInit && q->u.forStmt.pInit->nKind != krvAPTNType_nullStmt) || q->u.forStmt.pCond;
    case krvAPTNType_switchStmt:
    case krvAPTNType_returnStmt:
        return true;
    default:
        return false;
    }
}

// The value of an expression statement (or of the statement a list ends
// with, or of a for step) is never read: the statement run next writes the
// result cell first.
static krvAPTN_t *lastOf(krvAPTN_t *pList)
{
    while (pList && pList->next)
        pList = pList->next;
    return pList;
}
static void markVoid(krvAPTN_t *p)
{
    if (p && p->nKind == krvAPTNType_compoundStmt)
        p = lastOf(p->u.compoundStmt.pStmts);
    if (p && p->nKind == krvAPTNType_exprStmt)
        p = p->u.exprStmt.pExpr;
    if (p && !p->next && p->nEvalKind >= KRV_EOP_ASSIGN && p->nEvalKind <= KRV_EOP_UPDATE_LOCAL)
        p->nEvalFlags |= KRV_EF_VOID;
}
static void markVoidTail(krvAPTN_t *pList)
{
    markVoid(lastOf(pList));
}

uint8_t krvEvalOpKind(const krvAPTN_t *p)
{
    int32_t nOp = p->u.opExpr.nOp;
    if (nOp >= KRV_OP_POS && nOp <= KRV_OP_BNOT)
        return KRV_EOP_UNARY;
    if (nOp == KRV_OP_LAND)
        return KRV_EOP_AND;
    if (nOp == KRV_OP_LOR)
        return KRV_EOP_OR;
    if (nOp == KRV_OP_COND)
        return KRV_EOP_COND;
    if (nOp >= KRV_OP_ASSIGN) {
        const krvAPTN_t *pT = p->u.opExpr.opd1;
        if (!pT || pT->nKind != krvAPTNType_varRef || !pT->u.varRef.pVarPtr)
            return KRV_EOP_BAD_UPDATE;
        if (nOp == KRV_OP_ASSIGN)
            return KRV_EOP_ASSIGN;
        if (nOp <= KRV_OP_BXOR_ASSIGN)
            return KRV_EOP_COMPOUND;
        if (nOp >= KRV_OP_PRE_INC && nOp <= KRV_OP_POST_DEC)
            return KRV_EOP_INCDEC;
        return KRV_EOP_BAD_UPDATE;
    }
    if (nOp >= KRV_OP_MUL && nOp <= KRV_OP_BOR)
        return static_cast<uint8_t>(int(KRV_EOP_BINARY) + (nOp - int(KRV_OP_MUL)));
    return KRV_EOP_NONE;                 // no operator has the code
}

static bool prepOp(krvFuncInfo_t *pFunc, krvAPTN_t *p)
{
    krvAPTN_t *pOpd1 = p->u.opExpr.opd1, *pOpd2 = p->u.opExpr.opd2;
    bool bPure1 = prepList(pFunc, pOpd1);
    bool bPure2 = true;
    if (pOpd2) {
        bPure2 = prepNode(pFunc, pOpd2);
        if (!prepList(pFunc, pOpd2->next))
            bPure2 = false;
    }
    joinLiterals(p);
    if (p->nKind == krvAPTNType_strConst) {
        p->nEvalKind = KRV_EOP_STR;
        return true;
    }
    p->nEvalKind = krvEvalOpKind(p);
    if (p->nEvalKind >= KRV_EOP_BINARY && p->nEvalKind <= KRV_EOP_BINARY_LAST && bPure2)
        p->nEvalFlags |= KRV_EF_OPD2_PURE;
    const krvAPTN_t *pT = p->u.opExpr.opd1;
    if (p->nEvalKind == KRV_EOP_ASSIGN && pOpd2 && !pOpd2->next && (pOpd2->nEvalFlags & KRV_EF_INT))
        p->nEvalKind = KRV_EOP_ASSIGN_INT;
    if (pT && pT->nEvalKind == KRV_EOP_LOCAL && !pT->next) {
        if ((p->nEvalKind == KRV_EOP_ASSIGN || p->nEvalKind == KRV_EOP_ASSIGN_INT) && isAppend(pT, pOpd2))
            p->nEvalKind = KRV_EOP_APPEND_LOCAL;
        else if (p->u.opExpr.nOp == KRV_OP_ADD_ASSIGN && !isIntNode(pOpd2) && pOpd2 && !pOpd2->next &&
                 (pOpd2->nEvalFlags & KRV_EF_PURE))
            p->nEvalKind = KRV_EOP_APPEND_LOCAL;
        // Updates of an elementary local.
        if (p->nEvalKind == KRV_EOP_INCDEC)
            p->nEvalKind = KRV_EOP_INCDEC_LOCAL;
        else if (p->nEvalKind == KRV_EOP_COMPOUND && isIntNode(pOpd2))
            p->nEvalKind = KRV_EOP_UPDATE_LOCAL;
        p->nEvalArg = pT->nEvalArg;
    }
    if (isIntTree(p)) {
        p->nEvalArg = krvEvalIntTreeFn(p);
        p->nEvalKind = KRV_EOP_INT_TREE;
    }
    return p->nEvalKind < KRV_EOP_ASSIGN && bPure1 && bPure2;
}

// The dense table of a switch whose integer labels lie close together.
static void buildDense(krvAPTN_t *pSwitch)
{
    free(pSwitch->u.switchStmt.ppDense);
    pSwitch->u.switchStmt.ppDense = nullptr;
    pSwitch->nEvalArg = 0;
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
    pSwitch->nEvalArg = static_cast<int32_t>(nSpan);
}

static bool prepSwitch(krvFuncInfo_t *pFunc, krvAPTN_t *p)
{
    prepNode(pFunc, p->u.switchStmt.pExpr);
    for (krvCaseGroup_t *pG = p->u.switchStmt.pGroups; pG; pG = pG->next)
        for (krvAPTN_t *q = pG->exeBodyHead; q; q = q == pG->exeBodyTail ? nullptr : q->next)
            prepNode(pFunc, q);
    buildDense(p);
    return false;
}

static const uint8_t kSimpleKinds[][2] = {
    {krvAPTNType_intConst, KRV_EOP_INT},        {krvAPTNType_floatConst, KRV_EOP_FLOAT},
    {krvAPTNType_strConst, KRV_EOP_STR},        {krvAPTNType_cidRef, KRV_EOP_CONST},
    {krvAPTNType_nullStmt, KRV_EOP_NULL_STMT},  {krvAPTNType_breakStmt, KRV_EOP_BREAK},
    {krvAPTNType_continueStmt, KRV_EOP_CONTINUE}, {krvAPTNType_gotoStmt, KRV_EOP_GOTO},
    {krvAPTNType_exitStmt, KRV_EOP_EXIT},       {krvAPTNType_emptyDim, KRV_EOP_NONE},
};

// Prepares one node and what it holds; true when evaluating it changes
// nothing (no assignment, no call).
static bool prepNode(krvFuncInfo_t *pFunc, krvAPTN_t *p)
{
    p->nEvalKind = KRV_EOP_NONE;
    p->nEvalFlags = 0;
    bool bPure = false;
    switch (p->nKind) {
    case krvAPTNType_varRef:
        bPure = prepRef(pFunc, p);
        break;
    case krvAPTNType_opExpr:
        bPure = prepOp(pFunc, p);
        break;
    case krvAPTNType_funcRef:
        prepNode(pFunc, p->u.funcRef.pRef);
        break;
    case krvAPTNType_subRange:
        bPure = prepList(pFunc, p->u.subRange.pStart);
        bPure = prepList(pFunc, p->u.subRange.pEnd) && bPure;
        break;
    case krvAPTNType_exprList:
        p->nEvalKind = KRV_EOP_LIST;
        bPure = prepList(pFunc, p->u.exprList.pFirst);
        break;
    case krvAPTNType_call:
        prepList(pFunc, p->u.call.pArgs);
        break;
    case krvAPTNType_builtinCall:
        p->nEvalKind = KRV_EOP_BUILTIN_CALL;
        prepList(pFunc, p->u.builtinCall.pArgs);
        break;
    case krvAPTNType_extCall:
        p->nEvalKind = KRV_EOP_EXT_CALL;
        prepList(pFunc, p->u.extCall.pArgs);
        break;
    case krvAPTNType_usrCall:
        p->nEvalKind = KRV_EOP_USR_CALL;
        prepList(pFunc, p->u.usrCall.pArgs);
        prepList(pFunc, p->u.usrCall.objRef);
        break;
    case krvAPTNType_exprStmt:
    case krvAPTNType_returnStmt:
    case krvAPTNType_evalStmt:
        p->nEvalKind = p->nKind == krvAPTNType_exprStmt     ? KRV_EOP_EXPR_STMT
                       : p->nKind == krvAPTNType_returnStmt ? KRV_EOP_RETURN
                                                            : KRV_EOP_EVAL;
        prepList(pFunc, p->u.exprStmt.pExpr);
        if (p->nKind == krvAPTNType_exprStmt && writesResultFirst(p->next))
            markVoid(p);
        break;
    case krvAPTNType_ifStmt:
        p->nEvalKind = KRV_EOP_IF;
        prepList(pFunc, p->u.ifStmt.pCond);
        prepList(pFunc, p->u.ifStmt.pThen);
        prepList(pFunc, p->u.ifStmt.pElse);
        break;
    case krvAPTNType_whileStmt:
    case krvAPTNType_doStmt:
        p->nEvalKind = p->nKind == krvAPTNType_whileStmt ? KRV_EOP_WHILE : KRV_EOP_DO;
        prepList(pFunc, p->u.loopStmt.pCond);
        prepList(pFunc, p->u.loopStmt.pBody);
        if (p->u.loopStmt.pCond)
            markVoidTail(p->u.loopStmt.pBody);
        break;
    case krvAPTNType_forStmt:
        p->nEvalKind = KRV_EOP_FOR;
        prepList(pFunc, p->u.forStmt.pInit);
        prepList(pFunc, p->u.forStmt.pCond);
        prepList(pFunc, p->u.forStmt.pStep);
        prepList(pFunc, p->u.forStmt.pBody);
        if (p->u.forStmt.pCond)
            markVoid(p->u.forStmt.pStep);
        if (p->u.forStmt.pStep || p->u.forStmt.pCond)
            markVoidTail(p->u.forStmt.pBody);
        break;
    case krvAPTNType_switchStmt:
        p->nEvalKind = KRV_EOP_SWITCH;
        prepSwitch(pFunc, p);
        break;
    case krvAPTNType_compoundStmt:
        p->nEvalKind = KRV_EOP_BLOCK;
        prepList(pFunc, p->u.compoundStmt.pStmts);
        break;
    default:
        for (const auto &k : kSimpleKinds)
            if (p->nKind == k[0])
                p->nEvalKind = k[1];
        bPure = true;
        break;
    }
    if (bPure)
        p->nEvalFlags |= KRV_EF_PURE;
    if (isIntNode(p, false))
        p->nEvalFlags |= KRV_EF_INT;
    return bPure;
}

static void prepFunc(krvFuncInfo_t *pFunc)
{
    if (!pFunc || pFunc->type != KRV_USR_FUNC_TYPE)
        return;
    for (krvVar_t *p = pFunc->pLocals; p; p = p->link)
        prepList(pFunc, p->pInitExpr);
    prepList(pFunc, pFunc->pBody);
}

void krvEvalPrepareTree(krvAPTN_t *pNode)
{
    prepList(nullptr, pNode);
}

void krvEvalPrepareScript(krvNamespace_t *pNs)
{
    if (!pNs)
        return;
    for (void *p : krvNsTableElems(pNs->funcs))
        prepFunc(static_cast<krvFuncInfo_t *>(p));
    for (void *p : krvNsTableElems(pNs->structs))
        for (void *f : krvNsTableElems(static_cast<krvStruct_t *>(p)->mfuncs))
            prepFunc(static_cast<krvFuncInfo_t *>(f));
    for (void *p : krvNsTableElems(pNs->nss))
        krvEvalPrepareScript(static_cast<krvNamespace_t *>(p));
}
