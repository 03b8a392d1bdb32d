// The integer path of side-effect-free expressions: literals, constants and
// hinted references combined by operators, computed without value cells.
// Anything else (another type, a division the general rules must judge)
// gives up, and the caller evaluates the expression the general way.
#include "eval/krvEvalInt.h"

__attribute__((always_inline)) static inline int leaf(krvEnv_t *pEnv, const krvAPTN_t *p, int64_t *pOut)
{
    switch (p->nKind) {
    case krvAPTNType_intConst:
        *pOut = p->u.nIntConst;
        return 1;
    case krvAPTNType_varRef: {
        const krvValue_t *pCell = krvEvalPlainCell(pEnv, p);
        if (!pCell)
            pCell = krvEvalFastElem(pEnv, p);
        if (!pCell || pCell->type != KRV_DT_INTEGER)
            return 0;
        *pOut = pCell->val.nInt;
        return 1;
    }
    case krvAPTNType_cidRef: {
        if (p->nHint == KRV_HINT_CONSTINT) {
            *pOut = p->nHintArg;
            return 1;
        }
        const krvVar_t *pCid = p->u.varRef.pCid;
        if (!pCid || !pCid->pData || pCid->pData->type != KRV_DT_INTEGER)
            return 0;
        *pOut = pCid->pData->val.nInt;
        return 1;
    }
    case krvAPTNType_opExpr:
        return krvEvalPureTry(pEnv, p, pOut);
    default:
        return 0;
    }
}

int krvEvalPureInt(krvEnv_t *pEnv, const krvAPTN_t *pNode, int64_t *pOut)
{
    int64_t x, y;
    if (!leaf(pEnv, pNode->u.opExpr.opd1, &x))
        return 0;
    uint64_t ux = static_cast<uint64_t>(x);
    int32_t nOp = pNode->u.opExpr.nOp;
    if (nOp >= KRV_OP_MUL && nOp <= KRV_OP_BOR)
        goto binary;
    switch (nOp) {
    case KRV_OP_POS: *pOut = x; return 1;
    case KRV_OP_NEG: *pOut = static_cast<int64_t>(0 - ux); return 1;
    case KRV_OP_NOT: *pOut = x == 0; return 1;
    case KRV_OP_BNOT: *pOut = ~x; return 1;
    case KRV_OP_LAND:
        if (x == 0) {
            *pOut = 0;
            return 1;
        }
        if (!leaf(pEnv, pNode->u.opExpr.opd2, &y))
            return 0;
        *pOut = y != 0;
        return 1;
    case KRV_OP_LOR:
        if (x != 0) {
            *pOut = 1;
            return 1;
        }
        if (!leaf(pEnv, pNode->u.opExpr.opd2, &y))
            return 0;
        *pOut = y != 0;
        return 1;
    default:
        break;
    }
    return 0;
binary:
    if (!leaf(pEnv, pNode->u.opExpr.opd2, &y))
        return 0;
    uint64_t uy = static_cast<uint64_t>(y);
    switch (nOp) {
    case KRV_OP_ADD: *pOut = static_cast<int64_t>(ux + uy); return 1;
    case KRV_OP_SUB: *pOut = static_cast<int64_t>(ux - uy); return 1;
    case KRV_OP_MUL: *pOut = static_cast<int64_t>(ux * uy); return 1;
    case KRV_OP_LT: *pOut = x < y; return 1;
    case KRV_OP_LE: *pOut = x <= y; return 1;
    case KRV_OP_GT: *pOut = x > y; return 1;
    case KRV_OP_GE: *pOut = x >= y; return 1;
    case KRV_OP_EQ: *pOut = x == y; return 1;
    case KRV_OP_NE: *pOut = x != y; return 1;
    case KRV_OP_BAND: *pOut = x & y; return 1;
    case KRV_OP_BOR: *pOut = x | y; return 1;
    case KRV_OP_BXOR: *pOut = x ^ y; return 1;
    case KRV_OP_SHR: *pOut = x >> (y & 63); return 1;
    case KRV_OP_SHL: *pOut = static_cast<int64_t>(ux << (y & 63)); return 1;
    case KRV_OP_DIV:
        if (y <= 0)
            return 0;
        *pOut = x / y;
        return 1;
    case KRV_OP_MOD:
        if (y <= 0)
            return 0;
        *pOut = x % y;
        return 1;
    default:
        return 0;
    }
}
