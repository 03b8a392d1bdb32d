// The whole group: namespaces in order (structures with their member
// functions, variable types, functions, child namespaces).
#include <cstdlib>
#include <cstring>

#include "resolve/krvSolveInternal.h"

static krvVar_t *findMember(krvStruct_t *pStruct, const char *szName)
{
    for (krvVar_t *p = pStruct->pMembers; p; p = p->link)
        if (p->szName && szName && strcmp(p->szName, szName) == 0)
            return p;
    return nullptr;
}

static void solveStruct(krvEnv_t *pEnv, krvNamespace_t *pNs, krvStruct_t *pStruct)
{
    krvNamespace_t *pHome = pStruct->pNamespace ? pStruct->pNamespace : pNs;
    for (krvVar_t *pMd = pStruct->pMembers; pMd; pMd = pMd->link) {
        if (!pMd->nt.tname)
            continue;
        krvStruct_t *pType = krvFindStruct(pEnv, pHome, pMd->nt.nsres, pMd->nt.tname, pMd->nFileIdx, pMd->nLine);
        if (!pType) {
            std::string sName = krvNsResText(pMd->nt.nsres) + pMd->nt.tname;
            krvPrint("unknown type %s", sName.c_str());
            krvDebug("\"%s\" line %d: %s\n", krvSolveFile(pEnv, pMd->nFileIdx), pMd->nLine, "add proper error message");
            krvSetLastDiagId(1);
            krvSolveCountError(pEnv);
            continue;
        }
        krvSolveBindType(pMd, pType);
    }
    for (void *pElem : krvNsTableElems(pStruct->mfuncs)) {
        krvFuncInfo_t *pMf = static_cast<krvFuncInfo_t *>(pElem);
        if (pMf->type != KRV_USR_FUNC_TYPE)
            continue;
        if (pMf->obj)
            krvSolveBindType(pMf->obj, pStruct);
        for (krvVar_t *p = pMf->pParams; p; p = p->link)
            if (findMember(pStruct, p->szName))
                krvSolveErrSelf(pEnv, 121, p->nFileIdx, p->nLine, "Parameter %s conflict to member data!\n", p->szName);
        for (krvVar_t *p = pMf->pLocals; p; p = p->link)
            if (findMember(pStruct, p->szName))
                krvSolveErrSelf(pEnv, 121, p->nFileIdx, p->nLine, "Local variable %s conflict to member data!\n",
                                p->szName);
        krvSolveFunction(pEnv, pHome, pMf);
    }
}

void krvSolveNamespace(krvEnv_t *pEnv, krvNamespace_t *pNs)
{
    if (!pNs)
        return;
    for (void *pElem : krvNsTableElems(pNs->structs))
        solveStruct(pEnv, pNs, static_cast<krvStruct_t *>(pElem));
    for (void *pElem : krvNsTableElems(pNs->vars)) {
        krvVar_t *pVar = static_cast<krvVar_t *>(pElem);
        if (!pVar->nt.tname)
            continue;
        krvStruct_t *pType = krvFindStruct(pEnv, pNs, pVar->nt.nsres, pVar->nt.tname, pVar->nFileIdx, pVar->nLine);
        if (!pType) {
            krvSolveErrSelf(pEnv, 140, pVar->nFileIdx, pVar->nLine, "Unknown structure %s\n", pVar->nt.tname);
            continue;
        }
        krvSolveBindType(pVar, pType);
    }
    for (void *pElem : krvNsTableElems(pNs->funcs)) {
        krvFuncInfo_t *pFunc = static_cast<krvFuncInfo_t *>(pElem);
        if (pFunc->type == KRV_USR_FUNC_TYPE)
            krvSolveFunction(pEnv, pNs, pFunc);
    }
    for (void *pElem : krvNsTableElems(pNs->nss))
        krvSolveNamespace(pEnv, static_cast<krvNamespace_t *>(pElem));
}

// Structure types are bound quietly across the whole group before any code
// is resolved, so that code may use variables, parameters and structures of
// namespaces that the walk reaches later. Names that cannot be bound here
// keep their type name and are reported by the walk itself.
static void bindQuietly(krvNamespace_t *pNs, krvVar_t *pVar)
{
    if (!pVar || !pVar->nt.tname)
        return;
    krvStruct_t *pType = nullptr;
    if (pVar->nt.nsres) {
        if (krvNamespace_t *pTarget = krvFindNsByQual(pVar->nt.nsres))
            pType = krvFindStruct(pTarget, pVar->nt.tname);
    } else {
        for (krvNamespace_t *p = pNs; p && !pType; p = p->parent)
            pType = krvFindStruct(p, pVar->nt.tname);
    }
    if (!pType)
        return;
    krvSolveBindType(pVar, pType);
}

static void bindFuncQuietly(krvNamespace_t *pNs, krvFuncInfo_t *pFunc)
{
    if (pFunc->type != KRV_USR_FUNC_TYPE)
        return;
    for (krvVar_t *p = pFunc->pParams; p; p = p->link)
        bindQuietly(pNs, p);
    for (krvVar_t *p = pFunc->pLocals; p; p = p->link)
        bindQuietly(pNs, p);
}

static void bindNamespaceQuietly(krvNamespace_t *pNs)
{
    for (void *pElem : krvNsTableElems(pNs->structs)) {
        krvStruct_t *pStruct = static_cast<krvStruct_t *>(pElem);
        krvNamespace_t *pHome = pStruct->pNamespace ? pStruct->pNamespace : pNs;
        for (krvVar_t *pMd = pStruct->pMembers; pMd; pMd = pMd->link)
            bindQuietly(pHome, pMd);
        for (void *pMf : krvNsTableElems(pStruct->mfuncs))
            bindFuncQuietly(pHome, static_cast<krvFuncInfo_t *>(pMf));
    }
    for (void *pElem : krvNsTableElems(pNs->vars))
        bindQuietly(pNs, static_cast<krvVar_t *>(pElem));
    for (void *pElem : krvNsTableElems(pNs->funcs))
        bindFuncQuietly(pNs, static_cast<krvFuncInfo_t *>(pElem));
    for (void *pElem : krvNsTableElems(pNs->nss))
        bindNamespaceQuietly(static_cast<krvNamespace_t *>(pElem));
}

void krvSolveGroup(krvEnv_t *pEnv)
{
    bindNamespaceQuietly(krvGlobalNs());
    krvSolveNamespace(pEnv, krvGlobalNs());
}
