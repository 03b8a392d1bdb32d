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
        free(pMd->nt.tname);
        krvFreeNameList(pMd->nt.nsres);
        pMd->nt.tname = nullptr;
        pMd->pType = pType;
    }
    for (void *pElem : krvSolveTableElems(pStruct->mfuncs)) {
        krvFuncInfo_t *pMf = static_cast<krvFuncInfo_t *>(pElem);
        if (pMf->type != KRV_USR_FUNC_TYPE)
            continue;
        if (pMf->obj) {
            if (pMf->obj->nt.tname) {
                free(pMf->obj->nt.tname);
                krvFreeNameList(pMf->obj->nt.nsres);
                pMf->obj->nt.tname = nullptr;
            }
            pMf->obj->pType = pStruct;
        }
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
    for (void *pElem : krvSolveTableElems(pNs->structs))
        solveStruct(pEnv, pNs, static_cast<krvStruct_t *>(pElem));
    for (void *pElem : krvSolveTableElems(pNs->vars)) {
        krvVar_t *pVar = static_cast<krvVar_t *>(pElem);
        if (!pVar->nt.tname)
            continue;
        krvStruct_t *pType = krvFindStruct(pEnv, pNs, pVar->nt.nsres, pVar->nt.tname, pVar->nFileIdx, pVar->nLine);
        if (!pType) {
            krvSolveErrSelf(pEnv, 140, pVar->nFileIdx, pVar->nLine, "Unknown structure %s\n", pVar->nt.tname);
            continue;
        }
        free(pVar->nt.tname);
        krvFreeNameList(pVar->nt.nsres);
        pVar->nt.tname = nullptr;
        pVar->pType = pType;
    }
    for (void *pElem : krvSolveTableElems(pNs->funcs)) {
        krvFuncInfo_t *pFunc = static_cast<krvFuncInfo_t *>(pElem);
        if (pFunc->type == KRV_USR_FUNC_TYPE)
            krvSolveFunction(pEnv, pNs, pFunc);
    }
    for (void *pElem : krvSolveTableElems(pNs->nss))
        krvSolveNamespace(pEnv, static_cast<krvNamespace_t *>(pElem));
}

void krvSolveGroup(krvEnv_t *pEnv)
{
    krvSolveNamespace(pEnv, krvGlobalNs());
}
