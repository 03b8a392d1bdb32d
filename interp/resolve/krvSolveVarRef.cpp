// Variable references: lookup, the index rules of the variable itself and
// of its member chain, and the result record for the callers.
#include <cstdlib>
#include <cstring>

#include "resolve/krvSolveInternal.h"

static krvVar_t *findInList(krvVar_t *pList, const char *szName)
{
    for (; pList; pList = pList->link)
        if (pList->szName && strcmp(pList->szName, szName) == 0)
            return pList;
    return nullptr;
}

static bool hasSubRange(const krvAPTN_t *pIndexes)
{
    for (; pIndexes; pIndexes = pIndexes->next)
        if (pIndexes->nKind == krvAPTNType_subRange)
            return true;
    return false;
}

static void solveIndexes(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pIndexes)
{
    for (krvAPTN_t *p = pIndexes; p; p = p->next) {
        if (p->nKind == krvAPTNType_subRange) {
            krvSolveExpr(pEnv, pNs, pFunc, p->u.subRange.pStart, 0);
            krvSolveExpr(pEnv, pNs, pFunc, p->u.subRange.pEnd, 0);
        } else {
            krvSolveExpr(pEnv, pNs, pFunc, p, 0);
        }
    }
}

// A member datum found by an unqualified name inside a member function:
// the reference becomes obj.<name>[...] followed by the chain it had.
static int moveToObject(krvAPTN_t *pRef)
{
    krvAPTN_t *pMember = krvNewAPTN(krvAPTNType_varRef, pRef->nFileIdx, pRef->nLine);
    char *szObj = strdup(KRV_OBJ_NAME_FOR_MFUNC);
    if (!pMember || !szObj) {
        free(pMember);
        free(szObj);
        return -1;
    }
    pMember->u.varRef.szName = pRef->u.varRef.szName;
    pMember->u.varRef.pIndexes = pRef->u.varRef.pIndexes;
    pMember->u.varRef.pMember = pRef->u.varRef.pMember;
    pRef->u.varRef.szName = szObj;
    pRef->u.varRef.pIndexes = nullptr;
    pRef->u.varRef.pMember = pMember;
    return 0;
}

// Lookup without a qualification: object, parameters, locals, member data
// of the object's structure, then the namespaces outward (constants first).
static krvVar_t *lookupPlain(krvNamespace_t *pNs, krvFuncInfo_t *pFunc, const char *szName, bool *pIsCid,
                             bool *pIsMember)
{
    *pIsCid = false;
    *pIsMember = false;
    if (pFunc && pFunc->type == KRV_USR_FUNC_TYPE) {
        if (pFunc->obj && pFunc->obj->szName && strcmp(pFunc->obj->szName, szName) == 0)
            return pFunc->obj;
        if (krvVar_t *p = findInList(pFunc->pParams, szName))
            return p;
        if (krvVar_t *p = findInList(pFunc->pLocals, szName))
            return p;
        if (pFunc->obj) {
            if (krvStruct_t *pType = krvVarStructType(pFunc->obj))
                if (krvVar_t *p = findInList(pType->pMembers, szName)) {
                    *pIsMember = true;
                    return p;
                }
        }
    }
    for (krvNamespace_t *p = pNs ? pNs : krvGlobalNs(); p; p = p->parent) {
        if (krvVar_t *pC = krvFindConst(p, szName)) {
            *pIsCid = true;
            return pC;
        }
        if (krvVar_t *pV = krvFindVar(p, szName))
            return pV;
    }
    return nullptr;
}

// Index rules of the variable named first.
static int checkTopIndexes(krvEnv_t *pEnv, krvAPTN_t *pRef, const krvVar_t *pVar)
{
    const char *szName = pRef->u.varRef.szName;
    krvAPTN_t *pIndexes = pRef->u.varRef.pIndexes;
    krvAPTN_t *pMember = pRef->u.varRef.pMember;
    int nDims = krvVarDims(pVar->dbd, pVar->arrSize.pSizes);
    int nIdx = krvIndexCount(pIndexes);
    bool bArray = KRV_IS_VAR_ARRAY(pVar->dbd);
    int rc = 0;
    if (nIdx == 0) {
        if (pMember && bArray) {
            krvSolveErrAt(pEnv, 205, pRef, 1, "Should specify array index(s) between %s and .%s", szName,
                          pMember->u.varRef.szName);
            rc = 205;
        }
        return rc;
    }
    if (!bArray) {
        krvSolveErrAt(pEnv, 205, pRef, 1, "Redundant array index(s) after %s", szName);
        return 205;
    }
    if (pMember) {
        if (hasSubRange(pIndexes)) {
            krvSolveErrSelf(pEnv, 205, pRef->nFileIdx, pRef->nLine,
                            "Illegal to specify sub-range index(s) between %s and %s\n", szName,
                            pMember->u.varRef.szName);
            rc = 205;
        }
        if (nIdx != nDims) {
            krvSolveErrSelf(pEnv, 205, pRef->nFileIdx, pRef->nLine, "%s array indexs are specified to '%s'\n",
                            nIdx > nDims ? "Too many" : "Insufficient", szName);
            rc = 205;
        }
        return rc;
    }
    bool bRange = false;
    int nPos = 0;
    for (krvAPTN_t *p = pIndexes; p; p = p->next) {
        nPos++;
        if (p->nKind == krvAPTNType_subRange) {
            bRange = true;
        } else if (bRange) {
            krvSolveErrSelf(pEnv, 205, p->nFileIdx, p->nLine, "The %d-%s index to %s should be a sub-range index\n",
                            nPos, krvOrdinalSuffix(nPos), szName);
            rc = 205;
        }
    }
    if (nIdx > nDims) {
        krvSolveErrSelf(pEnv, 205, pRef->nFileIdx, pRef->nLine, "Too many array indexs are specified to '%s'\n",
                        szName);
        rc = 205;
    }
    return rc;
}

// Member chain: every member found in the structure before it, indexes
// checked; fills the last element's data into *pLast.
static int solveMembers(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pRef,
                        krvStruct_t *pType, const krvVar_t **ppLast, krvAPTN_t **ppLastNode)
{
    krvAPTN_t *pMember = pRef->u.varRef.pMember;
    const char *szName = pRef->u.varRef.szName;
    if (!pType) {
        krvSolveErrSelf(pEnv, 120, pRef->nFileIdx, pRef->nLine,
                        "%s.%s: %s is not a structure variable, but refer to member data %s\n", szName,
                        pMember->u.varRef.szName, szName, pMember->u.varRef.szName);
        return 120;
    }
    std::string sPath = szName;
    int rc = 0;
    for (; pMember; pMember = pMember->u.varRef.pMember) {
        const char *szMember = pMember->u.varRef.szName;
        krvVar_t *pMd = findInList(pType->pMembers, szMember);
        if (!pMd) {
            krvSolveErrSelf(pEnv, 142, pMember->nFileIdx, pMember->nLine, "%s: undeclared member data %s in struct %s\n",
                            sPath.c_str(), szMember, pType->szName);
            return 142;
        }
        pMember->u.varRef.pVarPtr = pMd;
        krvAPTN_t *pIndexes = pMember->u.varRef.pIndexes;
        int nDims = krvVarDims(pMd->dbd, pMd->arrSize.pSizes);
        int nIdx = krvIndexCount(pIndexes);
        bool bArray = KRV_IS_VAR_ARRAY(pMd->dbd);
        krvAPTN_t *pNext = pMember->u.varRef.pMember;
        if (pNext) {
            if (hasSubRange(pIndexes)) {
                krvSolveErrSelf(pEnv, 205, pMember->nFileIdx, pMember->nLine,
                                "Illegal to specify sub-range index(s) after %s\n", szMember);
                rc = 205;
            } else if (bArray && nIdx == 0) {
                krvSolveErrSelf(pEnv, 209, pMember->nFileIdx, pMember->nLine, "Missing array index(s) after %s\n",
                                szMember);
                rc = 209;
            } else if (nIdx != nDims) {
                krvSolveErrSelf(pEnv, 205, pMember->nFileIdx, pMember->nLine,
                                "Array index(s) specified to %s mismatch to the member data variable\n", szMember);
                rc = 205;
            }
            solveIndexes(pEnv, pNs, pFunc, pIndexes);
            krvStruct_t *pNextType = krvVarStructType(pMd);
            if (!pNextType) {
                krvSolveErrSelf(pEnv, 120, pMember->nFileIdx, pMember->nLine,
                                "%s: refer member data %s to a non-structure variable %s\n",
                                (sPath + "." + szMember).c_str(), pNext->u.varRef.szName, szMember);
                return 120;
            }
            pType = pNextType;
            sPath += ".";
            sPath += szMember;
            continue;
        }
        if (nIdx > 0 && !bArray) {
            krvSolveErrSelf(pEnv, 205, pMember->nFileIdx, pMember->nLine, "Redundant array index(s) after %s\n",
                            szMember);
            rc = 205;
        } else if (nIdx > nDims) {
            krvSolveErrSelf(pEnv, 205, pMember->nFileIdx, pMember->nLine, "Too many index(s) specified to %s\n",
                            szMember);
            rc = 205;
        }
        solveIndexes(pEnv, pNs, pFunc, pIndexes);
        *ppLast = pMd;
        *ppLastNode = pMember;
    }
    return rc;
}

int krvSolveVarRef(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pRef,
                   krvVarrInfo_t *pInfo)
{
    krvVarrInfo_t info{};
    if (pInfo)
        *pInfo = info;
    if (!pRef || pRef->nKind != krvAPTNType_varRef || !pRef->u.varRef.szName)
        return 122;
    const char *szName = pRef->u.varRef.szName;
    krvNameList_t *pNsRes = pRef->u.varRef.pNsRes;
    krvVar_t *pVar = nullptr;
    bool bCid = false;
    if (pNsRes) {
        krvNamespace_t *pTarget = krvFindNsByQual(pNsRes);
        if (!pTarget) {
            krvSolveErrAt(pEnv, 400, pRef, 1, "Unknown namespace \"%s\"", krvNsResText(pNsRes).c_str());
            return 400;
        }
        if ((pVar = krvFindConst(pTarget, szName)) != nullptr)
            bCid = true;
        else
            pVar = krvFindVar(pTarget, szName);
        if (!pVar) {
            krvSolveErrAt(pEnv, 122, pRef, 1, "Unknown variable \"%s%s\"", krvNsResText(pNsRes).c_str(), szName);
            return 122;
        }
    } else {
        bool bMember = false;
        pVar = lookupPlain(pNs, pFunc, szName, &bCid, &bMember);
        if (!pVar) {
            krvSolveErrAt(pEnv, 120, pRef, 1, "refer to an unknown variable '%s%s'", szName,
                          krvMemberText(pRef->u.varRef.pMember).c_str());
            return 120;
        }
        if (bMember) {
            if (moveToObject(pRef) != 0) {
                krvSolveInternalErr(pEnv, pRef->nFileIdx, pRef->nLine, "out of memory");
                return 122;
            }
            szName = pRef->u.varRef.szName;
            pVar = pFunc->obj;
        }
    }

    if (bCid) {
        if (pRef->u.varRef.pMember) {
            krvSolveErrAt(pEnv, 122, pRef, 1, "Incorrect variable reference");
            krvSolveErrSelf(pEnv, 122, pRef->nFileIdx, pRef->nLine, "%s is a named constant with postfixed %s!\n",
                            szName, krvMemberText(pRef->u.varRef.pMember).c_str());
            return 122;
        }
        if (pRef->u.varRef.pIndexes) {
            krvSolveErrAt(pEnv, 205, pRef, 1, "Redundant array index(s) after %s", szName);
            return 205;
        }
        pRef->nKind = krvAPTNType_cidRef;
        pRef->u.varRef.pVarPtr = nullptr;
        pRef->u.varRef.pCid = pVar;
        info.isCid = 1;
        info.pTopVarPtr = pVar;
        info.pBtnVarRef = pRef;
        if (pInfo)
            *pInfo = info;
        return 0;
    }

    pRef->u.varRef.pVarPtr = pVar;
    int rc = checkTopIndexes(pEnv, pRef, pVar);
    solveIndexes(pEnv, pNs, pFunc, pRef->u.varRef.pIndexes);
    const krvVar_t *pLast = pVar;
    krvAPTN_t *pLastNode = pRef;
    if (pRef->u.varRef.pMember) {
        int rcM = solveMembers(pEnv, pNs, pFunc, pRef, krvVarStructType(pVar), &pLast, &pLastNode);
        if (rcM != 0) {
            if (rc == 0)
                rc = rcM;
            if (rcM == 120 || rcM == 142)
                return rc;
        }
    }
    info.pTopVarPtr = pVar;
    info.pBtnVarRef = pLastNode;
    info.dbd = pLast->dbd;
    info.pType = krvVarStructType(pLast);
    info.pASizes = KRV_IS_VAR_ARRAY(pLast->dbd) ? pLast->arrSize.pSizes : nullptr;
    info.pIndexes = pLastNode->u.varRef.pIndexes;
    if (pInfo)
        *pInfo = info;
    return rc;
}
