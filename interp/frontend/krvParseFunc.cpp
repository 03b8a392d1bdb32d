// Function definitions and structure declarations: the records built at
// their closing brace, duplicate checks, frame slot numbering, the main
// function, member functions and their object variable.
#include "krvParseCtx.h"

#include <cstdlib>
#include <cstring>

void krvPFuncName(krvParseCtx_t *pCtx, const char *szName)
{
    krvScanSetFuncName(pCtx->pScan, szName);
}

static krvVar_t *findInList(krvVar_t *pHead, const krvVar_t *pStop, const char *szName)
{
    for (krvVar_t *p = pHead; p && p != pStop; p = p->link)
        if (strcmp(p->szName, szName) == 0)
            return p;
    return nullptr;
}

krvFuncInfo_t *krvPFunction(krvParseCtx_t *pCtx, char *szName, krvVar_t *pParams, krvPDecl_t *pLocals,
                            krvAPTN_t *pStmts)
{
    krvVar_t *pLocalList = pLocals ? pLocals->pHead : nullptr;
    free(pLocals);
    krvPFuncName(pCtx, nullptr);
    krvFuncInfo_t *pFunc = krvNewUsrFunc(szName, krvPCurFile(pCtx), krvPCurLine(pCtx));
    free(szName);
    if (!pFunc) {
        krvPOutOfMemory(pCtx);
        krvFreeVarList(pParams);
        krvFreeVarList(pLocalList);
        krvFreeAPTN(pStmts);
        return nullptr;
    }
    pFunc->pParams = pParams;
    pFunc->pLocals = pLocalList;
    pFunc->pBody = pStmts;
    pFunc->nLine = krvFuncLine(pFunc, krvPCurLine(pCtx));

    // Duplicate names: reported, the function is built all the same.
    for (krvVar_t *p = pParams; p; p = p->link)
        if (findInList(pParams, p, p->szName))
            krvPError(pCtx, 121, "Redeclare parameter \"%s\".", p->szName);
    for (krvVar_t *p = pLocalList; p; p = p->link) {
        krvVar_t *pParam = findInList(pParams, nullptr, p->szName);
        if (pParam)
            krvParseError(121, krvEnvFileName(pCtx->pEnv, p->nFileIdx), p->nLine,
                          "Variable name \"%s\" conflicts to the parameter at line %d.", p->szName, pParam->nLine);
        else if (findInList(pLocalList, p, p->szName))
            krvPError(pCtx, 121, "Redeclare variable \"%s\"", p->szName);
    }

    // Frame slots: the parameters from 1, then the locals.
    unsigned nSlot = 0;
    for (krvVar_t *p = pParams; p; p = p->link) {
        p->stoffset = static_cast<uint16_t>(++nSlot);
        p->isGlobal = 0;
        p->isMember = 0;
    }
    for (krvVar_t *p = pLocalList; p; p = p->link) {
        p->stoffset = static_cast<uint16_t>(++nSlot);
        p->isGlobal = 0;
        p->isMember = 0;
    }
    if (nSlot >= 0xFFFF)
        krvPError(pCtx, 303, "function \"%s\" has more than %d parameters and local variables", pFunc->szName, 0xFFFE);
    pFunc->nAutoVarNum = static_cast<uint16_t>(nSlot);
    return pFunc;
}

void krvPEnterFunction(krvParseCtx_t *pCtx, krvFuncInfo_t *pFunc)
{
    if (!pFunc)
        return;
    krvNamespace_t *pNs = pCtx->pEnv->finfo->pCurNs;
    bool bMain = pNs == krvGlobalNs() && strcmp(pFunc->szName, "main") == 0;
    if (bMain && pCtx->pEnv->pMainFunc)
        krvDebug("\"%s\" line %d : TODO error handling!\n", krvScanFileBase(pCtx->pScan), krvPCurLine(pCtx));
    if (krvAddUsrFunc(pNs, pFunc) != 0) {
        krvPError(pCtx, 251, "Redeclare function \"%s\".", pFunc->szName);
        krvDebug("\"%s\" line %d: %s\n", krvScanFileBase(pCtx->pScan), krvPCurLine(pCtx), "free the function structure");
        krvFreeFunc(pFunc);
        return;
    }
    // Only a function that is really entered can become main.
    if (bMain && !pCtx->pEnv->pMainFunc)
        pCtx->pEnv->pMainFunc = pFunc;
}

krvFuncInfo_t *krvPFuncListAdd(krvFuncInfo_t *pFuncs, krvFuncInfo_t *pFunc)
{
    if (!pFunc)
        return pFuncs;
    if (!pFuncs)
        return pFunc;
    krvFuncInfo_t *pLast = pFuncs;
    while (pLast->link)
        pLast = pLast->link;
    pLast->link = pFunc;
    return pFuncs;
}

void krvPFreeFuncList(krvFuncInfo_t *pFuncs)
{
    while (pFuncs) {
        krvFuncInfo_t *pNext = pFuncs->link;
        pFuncs->link = nullptr;
        krvFreeFunc(pFuncs);
        pFuncs = pNext;
    }
}

void krvPEnterStruct(krvParseCtx_t *pCtx, char *szName, krvPDecl_t *pMembers, krvFuncInfo_t *pFuncs)
{
    krvNamespace_t *pNs = pCtx->pEnv->finfo->pCurNs;
    krvVar_t *pMemberList = pMembers ? pMembers->pHead : nullptr;
    free(pMembers);
    if (krvFindStruct(pNs, szName)) {
        krvPError(pCtx, 141, "Redefine structure \"%s\"", szName);
        krvDebug("\"%s\" line %d: %s\n", krvScanFileBase(pCtx->pScan), krvPCurLine(pCtx),
                 "need to free structure declaration");
        free(szName);
        krvFreeVarList(pMemberList);
        krvPFreeFuncList(pFuncs);
        return;
    }
    krvStruct_t *pStruct = krvNewStruct(szName);
    char *szQName = pStruct ? krvQualifiedName(pNs, szName) : nullptr;
    free(szName);
    if (!pStruct || !szQName) {
        krvPOutOfMemory(pCtx);
        free(szQName);
        if (pStruct)
            krvFreeStruct(pStruct);
        krvFreeVarList(pMemberList);
        krvPFreeFuncList(pFuncs);
        return;
    }
    pStruct->szQName = szQName;
    pStruct->pNamespace = pNs;
    pStruct->nSize = KRV_STRUCT_SIZE_TBD;
    pStruct->pMembers = pMemberList;
    for (krvVar_t *p = pMemberList; p; p = p->link) {
        p->isMember = 1;
        p->isGlobal = 0;
        p->pMemberOf = pStruct;
    }
    while (pFuncs) {
        krvFuncInfo_t *pFunc = pFuncs;
        pFuncs = pFuncs->link;
        pFunc->link = nullptr;
        if (krvFindMemberFunc(pStruct, pFunc->szName)) {
            krvPError(pCtx, 251, "Redefine member function \"%s\"", pFunc->szName);
            krvDebug("\"%s\" line %d: %s\n", krvScanFileBase(pCtx->pScan), krvPCurLine(pCtx), "need to free pfunc");
            krvFreeFunc(pFunc);
            continue;
        }
        krvVar_t *pObj = krvNewVar(KRV_OBJ_NAME_FOR_MFUNC, pFunc->nFileIdx, pFunc->nLine);
        if (!pObj) {
            krvPOutOfMemory(pCtx);
            krvFreeFunc(pFunc);
            continue;
        }
        pObj->isGlobal = 0;
        pObj->dbd = KRV_DBD_ELEMENT;
        pObj->stoffset = 1;
        pObj->pType = pStruct;
        pFunc->obj = pObj;
        pFunc->nAutoVarNum++;
        for (krvVar_t *p = pFunc->pParams; p; p = p->link)
            p->stoffset++;
        for (krvVar_t *p = pFunc->pLocals; p; p = p->link)
            p->stoffset++;
        pFunc->pNamespace = pNs;
        if (krvAddMemberFunc(pStruct, pFunc) != 0) {
            krvPOutOfMemory(pCtx);
            krvFreeFunc(pFunc);
        }
    }
    if (krvAddStruct(pNs, pStruct) != 0) {
        krvPOutOfMemory(pCtx);
        krvFreeStruct(pStruct);
    }
}
