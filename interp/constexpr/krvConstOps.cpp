// Constant expression evaluator: the operator rules.
#include "constexpr/krvConstEvalInt.h"

#include "model/krvAPTN.h"
#include "model/krvDiag.h"
#include "model/krvValue.h"

#include <cstring>
#include <string>

namespace {

bool isString(const krvValue_t &v)
{
    return v.type == KRV_DT_STRING;
}

// Numeric: integer, floating number or handle.
bool isNumeric(const krvValue_t &v)
{
    return v.type == KRV_DT_INTEGER || v.type == KRV_DT_FLOAT || v.type == KRV_DT_HANDLE;
}

bool isIntLike(const krvValue_t &v)
{
    return v.type == KRV_DT_INTEGER || v.type == KRV_DT_HANDLE;
}

double toDouble(const krvValue_t &v)
{
    return v.type == KRV_DT_FLOAT ? v.val.dFloat : (double)v.val.nInt;
}

// Truth of an operand of "&&" and "||".
bool isTrue(const krvValue_t &v)
{
    if (isString(v))
        return true;
    if (v.type == KRV_DT_FLOAT)
        return v.val.dFloat != 0.0;
    return v.val.uRaw != 0;
}

int64_t wrapAdd(int64_t a, int64_t b) { return (int64_t)((uint64_t)a + (uint64_t)b); }
int64_t wrapSub(int64_t a, int64_t b) { return (int64_t)((uint64_t)a - (uint64_t)b); }
int64_t wrapMul(int64_t a, int64_t b) { return (int64_t)((uint64_t)a * (uint64_t)b); }

bool isAssignment(int nOp)
{
    return (nOp >= KRV_OP_ASSIGN && nOp <= KRV_OP_BXOR_ASSIGN) || (nOp >= KRV_OP_PRE_INC && nOp <= KRV_OP_POST_DEC);
}

bool isUnary(int nOp)
{
    return nOp >= KRV_OP_POS && nOp <= KRV_OP_BNOT;
}

bool isBinary(int nOp)
{
    return (nOp >= KRV_OP_MUL && nOp <= KRV_OP_EQ) || (nOp >= KRV_OP_BAND && nOp <= KRV_OP_LOR);
}

// Cells that free their text when they go out of scope.
struct TempCell {
    krvValue_t v;
    TempCell() { v = krvValue_t{}; krvSetInt(&v, 0); }
    ~TempCell() { krvClearValue(&v); }
    TempCell(const TempCell &) = delete;
    TempCell &operator=(const TempCell &) = delete;
};

int typeError(const krvConstEvalCtx_t *pCtx, const krvAPTN_t *pNode, const char *szOp, const krvValue_t &a,
              const krvValue_t &b)
{
    if (a.type != b.type)
        krvConstError(pCtx, pNode, 203, "Not allow operator '%s' operating on a %s and a %s.", szOp,
                      krvDataTypeName(a.type), krvDataTypeName(b.type));
    else
        krvConstError(pCtx, pNode, 203, "Not allow operator '%s' operating on two %ss.", szOp,
                      krvDataTypeName(a.type));
    return 0;
}

int divideByZero(const krvConstEvalCtx_t *pCtx, const krvAPTN_t *pNode)
{
    krvConstError(pCtx, pNode, 203, "Divide by 0.");
    return 0;
}

int evalUnary(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, int nOp, const krvValue_t &a, krvValue_t *pOut)
{
    const char *szOp = krvOpForm(nOp);
    switch (nOp) {
    case KRV_OP_POS:
    case KRV_OP_NEG:
        if (isString(a)) {
            krvConstError(pCtx, pNode, 203, "Unary operator '%s' is not allowed to operate on a string (\"%s\")!",
                          szOp, a.val.pStr != nullptr ? a.val.pStr : "");
            return 0;
        }
        if (nOp == KRV_OP_POS)
            return krvSetDataByData(pOut, &a) == 0;
        if (a.type == KRV_DT_FLOAT)
            krvSetFloat(pOut, -a.val.dFloat);
        else
            krvSetInt(pOut, wrapSub(0, a.val.nInt));   // a handle gives an integer
        return 1;
    case KRV_OP_NOT:
        if (isString(a))
            krvSetInt(pOut, 0);
        else if (a.type == KRV_DT_FLOAT)
            krvSetInt(pOut, a.val.dFloat == 0.0);      // NaN gives 0
        else
            krvSetInt(pOut, a.val.uRaw == 0);
        return 1;
    default:   // KRV_OP_BNOT
        if (a.type != KRV_DT_INTEGER) {
            krvConstError(pCtx, pNode, 203, "Allow operator '%s' operating on an integer only; however it operates on a %s",
                          szOp, krvDataTypeName(a.type));
            return 0;
        }
        krvSetInt(pOut, ~a.val.nInt);
        return 1;
    }
}

// The comparisons, "==" and "!=" give the integer 1 or 0 for integers and
// floats alike; 0 for any other operator.
template <typename T>
int compare(int nOp, T x, T y, krvValue_t *pOut)
{
    switch (nOp) {
    case KRV_OP_GT: krvSetInt(pOut, x > y); return 1;
    case KRV_OP_GE: krvSetInt(pOut, x >= y); return 1;
    case KRV_OP_LT: krvSetInt(pOut, x < y); return 1;
    case KRV_OP_LE: krvSetInt(pOut, x <= y); return 1;
    case KRV_OP_EQ: krvSetInt(pOut, x == y); return 1;
    case KRV_OP_NE: krvSetInt(pOut, x != y); return 1;
    }
    return 0;
}

// '*', '/', '+', '-', comparisons, "==", "!=" on two numbers.
int evalNumeric(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, int nOp, const krvValue_t &a, const krvValue_t &b,
                krvValue_t *pOut)
{
    if (isIntLike(a) && isIntLike(b)) {
        int64_t x = a.val.nInt, y = b.val.nInt;
        switch (nOp) {
        case KRV_OP_MUL: krvSetInt(pOut, wrapMul(x, y)); return 1;
        case KRV_OP_ADD: krvSetInt(pOut, wrapAdd(x, y)); return 1;
        case KRV_OP_SUB: krvSetInt(pOut, wrapSub(x, y)); return 1;
        case KRV_OP_DIV:
            if (y == 0)
                return divideByZero(pCtx, pNode);
            // The most negative integer divided by -1 wraps to itself.
            krvSetInt(pOut, y == -1 ? wrapSub(0, x) : x / y);
            return 1;
        }
        return compare(nOp, x, y, pOut);
    }
    double x = toDouble(a), y = toDouble(b);
    switch (nOp) {
    case KRV_OP_MUL: krvSetFloat(pOut, x * y); return 1;
    case KRV_OP_ADD: krvSetFloat(pOut, x + y); return 1;
    case KRV_OP_SUB: krvSetFloat(pOut, x - y); return 1;
    case KRV_OP_DIV:
        if (y == 0.0)
            return divideByZero(pCtx, pNode);
        krvSetFloat(pOut, x / y);
        return 1;
    }
    return compare(nOp, x, y, pOut);
}

// '%', "<<", ">>", '&', '^', '|': integers only (not handles).
int evalIntegerOnly(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, int nOp, const krvValue_t &a, const krvValue_t &b,
                    krvValue_t *pOut)
{
    if (a.type != KRV_DT_INTEGER || b.type != KRV_DT_INTEGER)
        return typeError(pCtx, pNode, krvOpForm(nOp), a, b);
    int64_t x = a.val.nInt, y = b.val.nInt;
    switch (nOp) {
    case KRV_OP_MOD:
        if (y == 0)
            return divideByZero(pCtx, pNode);
        krvSetInt(pOut, y == -1 ? 0 : x % y);
        return 1;
    case KRV_OP_SHL: krvSetInt(pOut, (int64_t)((uint64_t)x << (y & 63))); return 1;
    case KRV_OP_SHR: krvSetInt(pOut, x >> (y & 63)); return 1;   // arithmetic shift
    case KRV_OP_BAND: krvSetInt(pOut, x & y); return 1;
    case KRV_OP_BXOR: krvSetInt(pOut, x ^ y); return 1;
    default: krvSetInt(pOut, x | y); return 1;
    }
}

int evalBinary(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, int nOp, const krvValue_t &a, const krvValue_t &b,
               krvValue_t *pOut)
{
    const char *szOp = krvOpForm(nOp);
    switch (nOp) {
    case KRV_OP_MOD:
    case KRV_OP_SHL:
    case KRV_OP_SHR:
    case KRV_OP_BAND:
    case KRV_OP_BXOR:
    case KRV_OP_BOR:
        return evalIntegerOnly(pCtx, pNode, nOp, a, b, pOut);
    case KRV_OP_LAND:
        krvSetInt(pOut, isTrue(a) && isTrue(b));
        return 1;
    case KRV_OP_LOR:
        krvSetInt(pOut, isTrue(a) || isTrue(b));
        return 1;
    case KRV_OP_ADD:
        if (isString(a) && isString(b)) {
            std::string s = std::string(a.val.pStr != nullptr ? a.val.pStr : "") + (b.val.pStr != nullptr ? b.val.pStr : "");
            if (krvSetStr(pOut, s.c_str()) != 0) {
                krvError("out of memory in a constant expression\n");
                return 0;
            }
            return 1;
        }
        if (isString(a) || isString(b)) {
            krvConstError(pCtx, pNode, 203, "Now allow operator '%s' operating on a %s and a %s.", szOp,
                          krvDataTypeName(a.type), krvDataTypeName(b.type));
            return 0;
        }
        break;
    case KRV_OP_EQ:
    case KRV_OP_NE:
        if (isString(a) || isString(b)) {
            bool bEqual = isString(a) && isString(b) &&
                          strcmp(a.val.pStr != nullptr ? a.val.pStr : "", b.val.pStr != nullptr ? b.val.pStr : "") == 0;
            krvSetInt(pOut, nOp == KRV_OP_EQ ? bEqual : !bEqual);
            return 1;
        }
        break;
    default:
        break;
    }
    if (!isNumeric(a) || !isNumeric(b))
        return typeError(pCtx, pNode, szOp, a, b);
    return evalNumeric(pCtx, pNode, nOp, a, b, pOut);
}

}  // namespace

int krvConstEvalOp(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, krvValue_t *pOut)
{
    int nOp = pNode->u.opExpr.nOp;
    if (isAssignment(nOp)) {
        krvConstError(pCtx, pNode, 202, "Not allow '%s' operation in a initialization expression of a constant.",
                      krvOpForm(nOp));
        return 0;
    }
    if (isUnary(nOp)) {
        TempCell a;
        if (!krvConstEvalNode(pCtx, pNode->u.opExpr.opd1, &a.v))
            return 0;
        return evalUnary(pCtx, pNode, nOp, a.v, pOut);
    }
    if (isBinary(nOp)) {
        TempCell a, b;
        if (!krvConstEvalNode(pCtx, pNode->u.opExpr.opd1, &a.v) || !krvConstEvalNode(pCtx, pNode->u.opExpr.opd2, &b.v))
            return 0;
        return evalBinary(pCtx, pNode, nOp, a.v, b.v, pOut);
    }
    if (nOp == KRV_OP_COND) {
        krvAPTN_t *pSecond = pNode->u.opExpr.opd2;
        krvAPTN_t *pThird = pSecond != nullptr ? pSecond->next : nullptr;
        TempCell c, x, y;
        if (!krvConstEvalNode(pCtx, pNode->u.opExpr.opd1, &c.v) || !krvConstEvalNode(pCtx, pSecond, &x.v) ||
            !krvConstEvalNode(pCtx, pThird, &y.v))
            return 0;
        // A string condition counts as 1; otherwise the 64-bit payload
        // decides, so a floating -0.0 selects the second operand.
        bool bFirst = isString(c.v) || c.v.val.uRaw != 0;
        return krvSetDataByData(pOut, bFirst ? &x.v : &y.v) == 0;
    }
    krvDebug("\"%s\" line %d: TODO on %d operation\n", __FILE_NAME__, __LINE__, (int)nOp);
    return 0;
}
