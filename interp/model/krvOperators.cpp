// Printable forms of the operator codes.
#include "model/krvAPTN.h"
#include "model/krvDiag.h"

const char *krvOpForm(int32_t nOp)
{
    switch (nOp) {
    case KRV_OP_POS:
    case KRV_OP_ADD:
        return "+";
    case KRV_OP_NEG:
    case KRV_OP_SUB:
        return "-";
    case KRV_OP_NOT: return "!";
    case KRV_OP_BNOT: return "~";
    case KRV_OP_MUL: return "*";
    case KRV_OP_DIV: return "/";
    case KRV_OP_MOD: return "%";
    case KRV_OP_SHR: return ">>";
    case KRV_OP_SHL: return "<<";
    case KRV_OP_GT: return ">";
    case KRV_OP_GE: return ">=";
    case KRV_OP_LT: return "<";
    case KRV_OP_LE: return "<=";
    case KRV_OP_NE: return "!=";
    case KRV_OP_EQ: return "==";
    case KRV_OP_BAND: return "&";
    case KRV_OP_BXOR: return "^";
    case KRV_OP_BOR: return "|";
    case KRV_OP_LAND: return "&&";
    case KRV_OP_LOR: return "||";
    case KRV_OP_COND: return "? :";
    case KRV_OP_ASSIGN: return "=";
    case KRV_OP_ADD_ASSIGN: return "+=";
    case KRV_OP_SUB_ASSIGN: return "-=";
    case KRV_OP_MUL_ASSIGN: return "*=";
    case KRV_OP_DIV_ASSIGN: return "/=";
    case KRV_OP_MOD_ASSIGN: return "%=";
    case KRV_OP_SHR_ASSIGN: return ">>=";
    case KRV_OP_SHL_ASSIGN: return "<<=";
    case KRV_OP_BOR_ASSIGN: return "|=";
    case KRV_OP_BAND_ASSIGN: return "&=";
    case KRV_OP_BXOR_ASSIGN: return "^=";
    case KRV_OP_PRE_INC:
    case KRV_OP_POST_INC:
        return "++";
    case KRV_OP_PRE_DEC:
    case KRV_OP_POST_DEC:
        return "--";
    default:
        krvDebug("\"%s\" line %d: TODO: add operator %d\n", "krvOperators", __LINE__, nOp);
        return "???";
    }
}
