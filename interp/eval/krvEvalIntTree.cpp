// Integer trees: expressions made of operators over integer literals,
// constants and elementary variables, evaluated straight into a machine
// integer while every value they read is an integer. Nothing in such a
// tree changes anything or reports anything, so when a value is of another
// type (or a division by 0 comes up) the caller evaluates the tree again by
// the general operations, which apply the rules for that type.
//
// Every operator node has a function of its own, made for its operator and
// for what its operands are (an integer literal, an elementary local, a
// constant, a tree, or anything else), so the common shapes read their
// operands without a call. == and != never fail and compare values of any
// type: their operands may also be string literals, and locals and
// constants holding any value.
#include <array>

#include "eval/krvEvalArith.h"

namespace {

inline bool intCell(const krvValue_t *pCell, int64_t *pn)
{
    if (!pCell || pCell->type != KRV_DT_INTEGER)
        return false;
    *pn = pCell->val.nInt;
    return true;
}

} // namespace

bool krvEvalIntOther(const krvSlot_t *pFrame, const krvAPTN_t *p, int64_t *pn)
{
    switch (p->nEvalKind) {
    case KRV_EOP_INT:
        *pn = p->u.nIntConst;
        return true;
    case KRV_EOP_LOCAL:
        return intCell(pFrame[-p->nEvalArg].pData, pn);
    case KRV_EOP_GLOBAL:
        return intCell(p->u.varRef.pVarPtr->pData, pn);
    case KRV_EOP_CONST:
        return p->u.varRef.pCid && intCell(p->u.varRef.pCid->pData, pn);
    case KRV_EOP_OBJ_MEMBER: {
        const krvValue_t *pObj = pFrame[-p->nEvalArg].pData;
        return pObj && intCell(pObj + p->u.varRef.pMember->u.varRef.pVarPtr->nMbrOffset, pn);
    }
    case KRV_EOP_ELEM: {
        krvElemBase_t b = krvEvalElemBase(pFrame, p);
        int64_t nIdx;
        if (!b.pBase || !krvEvalIntNode(pFrame, p->u.varRef.pIndexes, &nIdx))
            return false;
        krvStruct_t *pType;
        int32_t nSize;
        return intCell(krvEvalElemPick(b, p, nIdx, &pType, &nSize), pn);
    }
    case KRV_EOP_INT_TREE:
        return krvEvalIntTree(pFrame, p, pn);
    default:
        return false;
    }
}

namespace {

// Operand classes.
enum { OPD_INT, OPD_LOCAL, OPD_CONST, OPD_TREE, OPD_ANY, OPD_STR, OPD_CLASSES };

template <int K> inline bool operand(const krvSlot_t *pFrame, const krvAPTN_t *p, int64_t *pn)
{
    if constexpr (K == OPD_INT) {
        (void)pFrame;
        *pn = p->u.nIntConst;
        return true;
    } else if constexpr (K == OPD_LOCAL) {
        return intCell(pFrame[-p->nEvalArg].pData, pn);
    } else if constexpr (K == OPD_CONST) {
        return p->u.varRef.pCid && intCell(p->u.varRef.pCid->pData, pn);
    } else if constexpr (K == OPD_TREE) {
        return krvEvalIntTree(pFrame, p, pn);
    } else if constexpr (K == OPD_ANY) {
        return krvEvalIntOther(pFrame, p, pn);
    } else {
        (void)pFrame, (void)p, (void)pn;
        return false;                      // a string literal (only == and != have them)
    }
}

// The value of an operand of == or !=, which compare values of any type: a
// local's or a constant's cell, a string literal, or an integer in *pTmp.
template <int K> inline const krvValue_t *value(const krvSlot_t *pFrame, const krvAPTN_t *p, krvValue_t *pTmp)
{
    if constexpr (K == OPD_LOCAL) {
        return pFrame[-p->nEvalArg].pData;
    } else if constexpr (K == OPD_CONST) {
        return p->u.varRef.pCid ? p->u.varRef.pCid->pData : nullptr;
    } else if constexpr (K == OPD_STR) {
        pTmp->type = KRV_DT_STRING;
        pTmp->val.pStr = p->u.szStrConst;
        return p->u.szStrConst ? pTmp : nullptr;
    } else {
        pTmp->type = KRV_DT_INTEGER;
        return operand<K>(pFrame, p, &pTmp->val.nInt) ? pTmp : nullptr;
    }
}

template <int32_t nOp, int KA, int KB> bool binary(const krvSlot_t *pFrame, const krvAPTN_t *p, int64_t *pn)
{
    if constexpr (nOp == KRV_OP_EQ || nOp == KRV_OP_NE) {
        krvValue_t ta, tb;
        const krvValue_t *pA = value<KA>(pFrame, p->u.opExpr.opd1, &ta);
        const krvValue_t *pB = pA ? value<KB>(pFrame, p->u.opExpr.opd2, &tb) : nullptr;
        if (!pB)
            return false;
        *pn = krvEvalEquals(pA, pB) == (nOp == KRV_OP_EQ);
        return true;
    } else {
        int64_t a, b;
        return operand<KA>(pFrame, p->u.opExpr.opd1, &a) && operand<KB>(pFrame, p->u.opExpr.opd2, &b) &&
               krvEvalIntCompute(nOp, a, b, pn);
    }
}

bool unary(const krvSlot_t *pFrame, const krvAPTN_t *p, int64_t *pn)
{
    int64_t a;
    if (!krvEvalIntNode(pFrame, p->u.opExpr.opd1, &a))
        return false;
    switch (p->u.opExpr.nOp) {
    case KRV_OP_POS: *pn = a; return true;
    case KRV_OP_NEG: *pn = static_cast<int64_t>(0 - static_cast<uint64_t>(a)); return true;
    case KRV_OP_NOT: *pn = a == 0; return true;
    case KRV_OP_BNOT: *pn = ~a; return true;
    default: return false;
    }
}

// && and ||: the value 0 or 1, the second operand only when it decides.
template <bool bAnd> bool logic(const krvSlot_t *pFrame, const krvAPTN_t *p, int64_t *pn)
{
    int64_t a, b;
    if (!krvEvalIntNode(pFrame, p->u.opExpr.opd1, &a))
        return false;
    if ((a != 0) != bAnd) {
        *pn = bAnd ? 0 : 1;
        return true;
    }
    if (!krvEvalIntNode(pFrame, p->u.opExpr.opd2, &b))
        return false;
    *pn = b != 0;
    return true;
}

bool cond(const krvSlot_t *pFrame, const krvAPTN_t *p, int64_t *pn)
{
    int64_t a;
    return krvEvalIntNode(pFrame, p->u.opExpr.opd1, &a) &&
           krvEvalIntNode(pFrame, a ? p->u.opExpr.opd2 : p->u.opExpr.opd2->next, pn);
}

// The table: the binary operators first (operator, class of operand 1,
// class of operand 2), then the others.
constexpr int kBinOps = KRV_OP_BOR - KRV_OP_MUL + 1;
constexpr int kBinFns = kBinOps * OPD_CLASSES * OPD_CLASSES;
enum { FN_UNARY = kBinFns, FN_AND, FN_OR, FN_COND, FN_COUNT };
static_assert(FN_COUNT == KRV_EVAL_INT_FNS, "integer tree functions");

constexpr int binIndex(int32_t nOp, int ka, int kb)
{
    return ((nOp - KRV_OP_MUL) * OPD_CLASSES + ka) * OPD_CLASSES + kb;
}

template <int32_t nOp, int KA> constexpr void fillB(std::array<krvEvalIntFn_t, FN_COUNT> &t)
{
    t[binIndex(nOp, KA, OPD_INT)] = binary<nOp, KA, OPD_INT>;
    t[binIndex(nOp, KA, OPD_LOCAL)] = binary<nOp, KA, OPD_LOCAL>;
    t[binIndex(nOp, KA, OPD_CONST)] = binary<nOp, KA, OPD_CONST>;
    t[binIndex(nOp, KA, OPD_TREE)] = binary<nOp, KA, OPD_TREE>;
    t[binIndex(nOp, KA, OPD_ANY)] = binary<nOp, KA, OPD_ANY>;
    t[binIndex(nOp, KA, OPD_STR)] = binary<nOp, KA, OPD_STR>;
}

template <int32_t nOp> constexpr void fillOp(std::array<krvEvalIntFn_t, FN_COUNT> &t)
{
    fillB<nOp, OPD_INT>(t);
    fillB<nOp, OPD_LOCAL>(t);
    fillB<nOp, OPD_CONST>(t);
    fillB<nOp, OPD_TREE>(t);
    fillB<nOp, OPD_ANY>(t);
    fillB<nOp, OPD_STR>(t);
}

template <int32_t... nOps> constexpr std::array<krvEvalIntFn_t, FN_COUNT> buildTable()
{
    std::array<krvEvalIntFn_t, FN_COUNT> t{};
    (fillOp<nOps>(t), ...);
    t[FN_UNARY] = unary;
    t[FN_AND] = logic<true>;
    t[FN_OR] = logic<false>;
    t[FN_COND] = cond;
    return t;
}

} // namespace

// Every code from KRV_OP_MUL to KRV_OP_BOR (18 has no operator: its
// functions give false, and the general operation reports it).
constinit const std::array<krvEvalIntFn_t, KRV_EVAL_INT_FNS> g_krvEvalIntFns =
    buildTable<5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21>();

namespace {
static_assert(KRV_OP_MUL == 5 && KRV_OP_BOR == 21, "operator codes");

int opdClass(const krvAPTN_t *p)
{
    switch (p->nEvalKind) {
    case KRV_EOP_INT: return OPD_INT;
    case KRV_EOP_LOCAL: return OPD_LOCAL;
    case KRV_EOP_CONST: return OPD_CONST;
    case KRV_EOP_INT_TREE: return OPD_TREE;
    case KRV_EOP_STR: return OPD_STR;
    default: return OPD_ANY;
    }
}

} // namespace


int32_t krvEvalIntTreeFn(const krvAPTN_t *p)
{
    switch (p->nEvalKind) {
    case KRV_EOP_UNARY: return FN_UNARY;
    case KRV_EOP_AND: return FN_AND;
    case KRV_EOP_OR: return FN_OR;
    case KRV_EOP_COND: return FN_COND;
    default:
        return binIndex(p->u.opExpr.nOp, opdClass(p->u.opExpr.opd1), opdClass(p->u.opExpr.opd2));
    }
}

int krvEvalIntoGeneral(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pNode, krvValue_t *pResult, uint32_t *pFl)
{
    // An integer tree has been tried already.
    if (pNode->nEvalKind == KRV_EOP_INT_TREE && (pNode->nEvalFlags & KRV_EF_INT) && !krvEvalCellsShared())
        return krvEvalGeneral(pEnv, pFunc, pNode, pResult, pFl);
    return krvEvalValue(pEnv, pFunc, pNode, pResult, pFl);
}
