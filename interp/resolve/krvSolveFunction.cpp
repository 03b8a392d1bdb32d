// User functions: the signature rules of main, parameter and local types,
// the body, and the gotos still pending at its end.
#include <cstring>

#include "resolve/krvSolveInternal.h"

static void mainRule(krvEnv_t *pEnv, int nId, const krvVar_t *pAt, int nFileIdx, int nLine, const char *szText)
{
    if (pAt) {
        nFileIdx = pAt->nFileIdx;
        nLine = pAt->nLine;
    }
    krvParseError(nId, krvSolveFile(pEnv, nFileIdx), nLine, "%s", szText);
    krvSolveCountError(pEnv);
}

static void checkMainSignature(krvEnv_t *pEnv, const krvFuncInfo_t *pFunc)
{
    int nParams = 0;
    for (const krvVar_t *p = pFunc->pParams; p; p = p->link)
        nParams++;
    if (nParams != 0 && nParams != 2)
        mainRule(pEnv, 258, nullptr, pFunc->nFileIdx, pFunc->nLine,
                 "Illegal number of parameters. Number of parameters should be 0 or 2. API should be main() or "
                 "main(argc, argv[])");
    const krvVar_t *pFirst = pFunc->pParams;
    if (pFirst) {
        if (KRV_IS_VAR_ARRAY(pFirst->dbd))
            mainRule(pEnv, 259, pFirst, 0, 0,
                     "Illegal parameter. The 1st parameter of main function should be an elementary variable");
        if (krvVarIsStructTyped(pFirst))
            mainRule(pEnv, 259, pFirst, 0, 0,
                     "Illegal parameter. The 1st parameter of main function should not be a struct-type parameter");
        if (KRV_IS_VAR_REF(pFirst->dbd))
            mainRule(pEnv, 259, pFirst, 0, 0,
                     "Illegal parameter. The 1st parameter of main function should not be call-by-reference");
    }
    const krvVar_t *pSecond = pFirst ? pFirst->link : nullptr;
    if (pSecond) {
        if (!KRV_IS_VAR_VSARR(pSecond->dbd) || krvVarDims(pSecond->dbd, pSecond->arrSize.pSizes) != 1)
            mainRule(pEnv, 259, pSecond, 0, 0,
                     "Illegal parameter. The 2nd parameter of main function should be a 1-dimension flexible-size "
                     "array");
        if (KRV_IS_VAR_REF(pSecond->dbd))
            mainRule(pEnv, 259, pSecond, 0, 0,
                     "Illegal parameter. The 2nd parameter of main function should not be call-by-reference");
        if (krvVarIsStructTyped(pSecond))
            mainRule(pEnv, 259, pSecond, 0, 0,
                     "Illegal parameter. The 2nd parameter of main function should not be a struct-type parameter");
    }
}

// Binds the structure type of a parameter or local; reports an unknown one.
static void solveVarType(krvEnv_t *pEnv, krvNamespace_t *pNs, krvVar_t *pVar)
{
    if (!pVar->nt.tname)
        return;
    krvStruct_t *pType =
        krvFindStruct(pEnv, pNs, pVar->nt.nsres, pVar->nt.tname, pVar->nFileIdx, pVar->nLine);
    if (!pType) {
        std::string sName = krvNsResText(pVar->nt.nsres) + pVar->nt.tname;
        krvSolveErrSelf(pEnv, 140, pVar->nFileIdx, pVar->nLine, "Unknown structure %s\n", sName.c_str());
        return;
    }
    krvSolveBindType(pVar, pType);
}

void krvSolveFunction(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc)
{
    if (!pFunc || pFunc->type != KRV_USR_FUNC_TYPE)
        return;
    krvTagTable_t tags;
    if (!pFunc->obj && pFunc->pNamespace == krvGlobalNs() && pFunc->szName && strcmp(pFunc->szName, "main") == 0) {
        checkMainSignature(pEnv, pFunc);
        if (pEnv && !pEnv->pMainFunc)
            pEnv->pMainFunc = pFunc;
    }
    for (krvVar_t *p = pFunc->pParams; p; p = p->link)
        solveVarType(pEnv, pNs, p);
    for (krvVar_t *p = pFunc->pLocals; p; p = p->link) {
        solveVarType(pEnv, pNs, p);
        if (p->pInitExpr)
            krvSolveExpr(pEnv, pNs, pFunc, p->pInitExpr, 0);
    }
    for (krvAPTN_t *p = pFunc->pBody; p; p = p->next)
        krvSolveAPTN(pEnv, pNs, pFunc, p, &tags, 0);
    for (krvAPTN_t *pGoto : tags.gotos) {
        const char *szTag = pGoto->u.gotoStmt.szTagName ? pGoto->u.gotoStmt.szTagName : "";
        bool bFound = false;
        for (const krvAPTN_t *pStmt : tags.tagged)
            for (const krvNameList_t *p = pStmt->pTags; p && !bFound; p = p->next)
                bFound = p->szName && strcmp(p->szName, szTag) == 0;
        if (!bFound)
            krvSolveErrAt(pEnv, 214, pGoto, 1, "go to an undeclared tag %s", szTag);
    }
}
