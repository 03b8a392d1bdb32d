// Calls by name: member-function calls, calls on the implicit object, and
// the outward search through namespaces (built-ins at the global level,
// then extension and user functions).
#include <cstdlib>
#include <cstring>

#include "builtin/krvBuiltinTable.h"
#include "resolve/krvSolveInternal.h"

// Turns a call node into one of kind nKind: the union is cleared and the
// argument chain, which the new kind keeps, is returned.
static krvAPTN_t *recastCall(krvAPTN_t *pCall, int32_t nKind)
{
    krvAPTN_t *pArgs = pCall->u.call.pArgs;
    memset(&pCall->u, 0, sizeof pCall->u);
    pCall->nKind = nKind;
    return pArgs;
}

// Rewrites a kind-10 node into a user call (kind 13) holding the name,
// qualification and object reference given (all taken).
static void becomeUsrCall(krvAPTN_t *pCall, char *szName, krvNameList_t *pNsRes, krvFuncInfo_t *pFuncPtr,
                          krvAPTN_t *pObjRef)
{
    pCall->u.usrCall.pArgs = recastCall(pCall, krvAPTNType_usrCall);
    pCall->u.usrCall.szName = szName;
    pCall->u.usrCall.pNsRes = pNsRes;
    pCall->u.usrCall.pFuncPtr = pFuncPtr;
    pCall->u.usrCall.objRef = pObjRef;
}

static int countArgs(const krvAPTN_t *pArgs)
{
    int n = 0;
    for (; pArgs; pArgs = pArgs->next)
        n++;
    return n;
}

// a.b.f(x): the last member names the function, the rest is the object.
static void solveMemberCall(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall)
{
    krvAPTN_t *pObj = pCall->u.call.pCallee;
    krvAPTN_t *pPrev = pObj;
    while (pPrev->u.varRef.pMember->u.varRef.pMember)
        pPrev = pPrev->u.varRef.pMember;
    krvAPTN_t *pFuncNode = pPrev->u.varRef.pMember;
    pPrev->u.varRef.pMember = nullptr;
    char *szFunc = pFuncNode->u.varRef.szName;
    pFuncNode->u.varRef.szName = nullptr;
    if (pFuncNode->u.varRef.pIndexes)
        krvSolveErrAt(pEnv, 200, pFuncNode, 1, "Syntax error; unexpected '[' after \"%s\"", szFunc);
    krvFreeAPTN(pFuncNode);

    std::string sPath = krvNsResText(pObj->u.varRef.pNsRes);
    std::string sName = pObj->u.varRef.szName ? pObj->u.varRef.szName : "";
    std::string sMembers = krvMemberText(pObj->u.varRef.pMember);
    krvFuncInfo_t *pTarget = nullptr;
    krvVarrInfo_t info;
    if (krvSolveVarRef(pEnv, pNs, pFunc, pObj, &info) == 0) {
        if (info.isCid) {
            krvSolveErrAt(pEnv, 123, pObj, 1, "\"%s%s\" is a named constant but not an object variable",
                          sPath.c_str(), sName.c_str());
        } else if (!info.pType) {
            krvSolveErrAt(pEnv, 123, pObj, 1, "Variable \"%s%s%s\" is not an object variable", sPath.c_str(),
                          sName.c_str(), sMembers.c_str());
        } else {
            bool bOk = true;
            if (KRV_IS_VAR_ARRAY(info.dbd)) {
                bool bRange = false;
                for (krvAPTN_t *p = info.pIndexes; p; p = p->next)
                    bRange = bRange || p->nKind == krvAPTNType_subRange;
                int nIdx = krvIndexCount(info.pIndexes);
                int nDims = krvVarDims(info.dbd, info.pASizes);
                if (bRange) {
                    krvSolveErrSelf(pEnv, 205, pObj->nFileIdx, pObj->nLine,
                                    "Illegal to refer to an object; array index sub-range is specified\n");
                    bOk = false;
                } else if (nIdx != nDims) {
                    krvSolveErrSelf(pEnv, 205, pObj->nFileIdx, pObj->nLine, "%s array indexs are specified\n",
                                    nIdx > nDims ? "Too many" : "Insufficient");
                    bOk = false;
                }
            }
            if (bOk)
                pTarget = krvFindMemberFunc(info.pType, szFunc);
        }
    }
    becomeUsrCall(pCall, szFunc, nullptr, pTarget, pObj);
}

// The implicit object of a member function, as a reference bound to it.
static krvAPTN_t *newObjRef(krvFuncInfo_t *pFunc, const krvAPTN_t *pAt)
{
    krvAPTN_t *p = krvNewAPTN(krvAPTNType_varRef, pAt->nFileIdx, pAt->nLine);
    if (!p)
        return nullptr;
    p->u.varRef.szName = strdup(KRV_OBJ_NAME_FOR_MFUNC);
    if (!p->u.varRef.szName) {
        free(p);
        return nullptr;
    }
    p->u.varRef.pVarPtr = pFunc->obj;
    return p;
}

void krvSolveCall(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, int bInLoop)
{
    krvAPTN_t *pCallee = pCall->u.call.pCallee;
    if (!pCallee || pCallee->nKind != krvAPTNType_varRef || !pCallee->u.varRef.szName) {
        krvSolveInternalErr(pEnv, pCall->nFileIdx, pCall->nLine, "call without a function name");
        return;
    }
    if (pCallee->u.varRef.pMember) {
        solveMemberCall(pEnv, pNs, pFunc, pCall);
        krvSolveUsrArgs(pEnv, pNs, pFunc, pCall, bInLoop);
        return;
    }
    if (pCallee->u.varRef.pIndexes) {
        krvSolveErrAt(pEnv, 200, pCallee, 1, "Syntax error; unexpected '[' after \"%s\"", pCallee->u.varRef.szName);
        krvFreeAPTN(pCallee->u.varRef.pIndexes);
        pCallee->u.varRef.pIndexes = nullptr;
    }

    const char *szName = pCallee->u.varRef.szName;
    krvNameList_t *pNsRes = pCallee->u.varRef.pNsRes;
    if (!pNsRes && pFunc && pFunc->obj) {
        if (krvStruct_t *pType = krvVarStructType(pFunc->obj)) {
            if (krvFuncInfo_t *pMf = krvFindMemberFunc(pType, szName)) {
                krvAPTN_t *pObj = newObjRef(pFunc, pCallee);
                if (pObj) {
                    char *szOwn = pCallee->u.varRef.szName;
                    pCallee->u.varRef.szName = nullptr;
                    krvFreeAPTN(pCallee);
                    becomeUsrCall(pCall, szOwn, nullptr, pMf, pObj);
                    krvSolveUsrArgs(pEnv, pNs, pFunc, pCall, bInLoop);
                    return;
                }
            }
        }
    }

    krvNamespace_t *pStart = pNs ? pNs : krvGlobalNs();
    bool bNsKnown = true;
    if (pNsRes) {
        pStart = krvFindNsByQual(pNsRes);
        if (!pStart) {
            krvSolveErrSelf(pEnv, 400, pCallee->nFileIdx, pCallee->nLine, "unknown namespace \"%s\"\n",
                            krvNsResText(pNsRes).c_str());
            bNsKnown = false;
        }
    }
    int nBuiltin = -1;
    krvFuncInfo_t *pFound = nullptr;
    for (krvNamespace_t *p = pStart; bNsKnown && p; p = p->parent) {
        if (!p->parent) {
            nBuiltin = krvBuiFindByName(szName);
            if (nBuiltin >= 0)
                break;
        }
        if ((pFound = krvFindFunc(p, szName)) != nullptr)
            break;
    }

    if (nBuiltin >= 0) {
        krvFreeAPTN(pCallee);
        pCall->u.builtinCall.pArgs = recastCall(pCall, krvAPTNType_builtinCall);
        pCall->u.builtinCall.nFuncId = nBuiltin;
        krvSolveBuiltinArgs(pEnv, pNs, pFunc, pCall, bInLoop);
        return;
    }
    if (pFound && pFound->type == KRV_EXT_FUNC_TYPE) {
        krvFreeAPTN(pCallee);
        krvAPTN_t *pArgs = recastCall(pCall, krvAPTNType_extCall);
        pCall->u.extCall.pArgs = pArgs;
        pCall->u.extCall.pFunc = pFound;
        pCall->u.extCall.nArgNum = countArgs(pArgs);
        krvSolveExtArgs(pEnv, pNs, pFunc, pCall, bInLoop);
        return;
    }
    char *szOwn = pCallee->u.varRef.szName;
    pCallee->u.varRef.szName = nullptr;
    pCallee->u.varRef.pNsRes = nullptr;
    krvFreeAPTN(pCallee);
    becomeUsrCall(pCall, szOwn, pNsRes, pFound, nullptr);
    if (!bNsKnown) {
        // The unknown namespace was reported; the arguments are still visited.
        for (krvAPTN_t *p = pCall->u.usrCall.pArgs; p; p = p->next)
            if (p->nKind != krvAPTNType_varRef)
                krvSolveExpr(pEnv, pNs, pFunc, p, bInLoop);
        return;
    }
    krvSolveUsrArgs(pEnv, pNs, pFunc, pCall, bInLoop);
}
