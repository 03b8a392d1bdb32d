// Constant expression evaluator: node kinds and constant references.
#include "constexpr/krvConstExpr.h"
#include "constexpr/krvConstEvalInt.h"

#include "model/krvAPTN.h"
#include "model/krvDiag.h"
#include "model/krvEnv.h"
#include "model/krvNamespace.h"
#include "model/krvValue.h"

#include <cstdarg>
#include <cstdio>
#include <string>

void krvConstError(const krvConstEvalCtx_t *pCtx, const krvAPTN_t *pNode, int nId, const char *szFmt, ...)
{
    char szMsg[KRV_DIAG_MSG_MAX];
    va_list ap;
    va_start(ap, szFmt);
    vsnprintf(szMsg, sizeof szMsg, szFmt, ap);
    va_end(ap);
    const char *szFile = pCtx->peee != nullptr ? krvEnvFileName(pCtx->peee, pNode->nFileIdx) : "";
    krvParseError(nId, szFile, pNode->nLine, "%s", szMsg);
}

// The constant a reference names: unqualified, in the given namespace or
// the nearest enclosing one that has it; qualified, in the namespace the
// qualification leads to from the global one.
static int evalRef(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, krvValue_t *pOut)
{
    const char *szName = pNode->u.varRef.szName != nullptr ? pNode->u.varRef.szName : "";
    const krvNameList_t *pQual = pNode->u.varRef.pNsRes;
    krvVar_t *pConst = nullptr;
    if (pQual == nullptr) {
        for (krvNamespace_t *pNs = pCtx->pNs != nullptr ? pCtx->pNs : krvGlobalNs(); pNs != nullptr && pConst == nullptr;
             pNs = pNs->parent)
            pConst = krvFindConst(pNs, szName);
    } else {
        krvNamespace_t *pNs = krvFindNsByQual(pQual);
        if (pNs == nullptr) {
            std::string text;
            for (const krvNameList_t *p = pQual; p != nullptr; p = p->next)
                text += std::string(p->szName != nullptr ? p->szName : "") + "::";
            krvConstError(pCtx, pNode, 400, "unknown namespace \"%s\"", text.c_str());
            return 0;
        }
        pConst = krvFindConst(pNs, szName);
    }
    if (pConst == nullptr || pConst->pData == nullptr) {
        krvConstError(pCtx, pNode, 100, "unknown constant identifier \"%s\"", szName);
        return 0;
    }
    return krvSetDataByData(pOut, pConst->pData) == 0;
}

int krvConstEvalNode(krvConstEvalCtx_t *pCtx, krvAPTN_t *pNode, krvValue_t *pOut)
{
    if (pNode == nullptr) {
        krvDebug("\"%s\" line %d in %s(): TODO for expr type %d\n", __FILE_NAME__, __LINE__, __func__, 0);
        return 0;
    }
    if (pCtx->nDepth >= KRV_CONST_EXPR_DEPTH_MAX) {
        krvConstError(pCtx, pNode, 203, "Constant expression nested too deeply (more than %d levels).",
                      KRV_CONST_EXPR_DEPTH_MAX);
        return 0;
    }
    pCtx->nDepth++;
    int bOk = 0;
    switch (pNode->nKind) {
    case krvAPTNType_intConst:
        krvSetInt(pOut, pNode->u.nIntConst);
        bOk = 1;
        break;
    case krvAPTNType_floatConst:
        krvSetFloat(pOut, pNode->u.dFloatConst);
        bOk = 1;
        break;
    case krvAPTNType_strConst:
        bOk = krvSetStr(pOut, pNode->u.szStrConst != nullptr ? pNode->u.szStrConst : "") == 0;
        if (!bOk)
            krvError("out of memory in a constant expression\n");
        break;
    case krvAPTNType_varRef:
    case krvAPTNType_cidRef:
        bOk = evalRef(pCtx, pNode, pOut);
        break;
    case krvAPTNType_opExpr:
        bOk = krvConstEvalOp(pCtx, pNode, pOut);
        break;
    case krvAPTNType_exprList:
        krvConstError(pCtx, pNode, 204, "illegal array size expression;\n        expression list is not allowed");
        break;
    case krvAPTNType_call:
    case krvAPTNType_builtinCall:
    case krvAPTNType_extCall:
    case krvAPTNType_usrCall:
        krvConstError(pCtx, pNode, 103, "A function call is not allowed in a constant expression.");
        break;
    default:
        krvDebug("\"%s\" line %d in %s(): TODO for expr type %d\n", __FILE_NAME__, __LINE__, __func__,
                 (int)pNode->nKind);
        break;
    }
    pCtx->nDepth--;
    return bOk;
}

int krvEvalPPConstExpr(krvEnv_t *peee, krvNamespace_t *pNs, krvAPTN_t *pTree, krvValue_t *pResult)
{
    if (pResult == nullptr)
        return 0;
    krvConstEvalCtx_t ctx{peee, pNs, 0};
    krvValue_t v{};
    krvSetInt(&v, 0);
    if (!krvConstEvalNode(&ctx, pTree, &v)) {
        krvClearValue(&v);
        return 0;
    }
    krvClearValue(pResult);
    *pResult = v;    // the result takes over the text of a string
    return 1;
}
