// Free operations of variables, structures, functions and namespaces.
#include <cstdlib>

#include "model/krvAPTN.h"
#include "model/krvDiag.h"
#include "model/krvNamespace.h"
#include "model/krvNsTable.h"

// Empties a name table: the table goes first, then every record it held.
template <typename T>
static void freeTable(sysHashSetting_t **ppTable, void (*pfnFree)(T *))
{
    std::vector<void *> v = krvNsTableElems(*ppTable);
    krvNsTableFree(ppTable);
    for (void *p : v)
        pfnFree(static_cast<T *>(p));
}

void krvFreeVar(krvVar_t *pVar)
{
    if (!pVar)
        return;
    if (pVar->nt.tname) {
        // Unresolved: the type word still holds the qualification list.
        krvFreeNameList(pVar->nt.nsres);
        free(pVar->nt.tname);
    }
    if (!pVar->isMember && pVar->pData) {
        // Cells of a by-reference or flexible array belong to someone else.
        if (!KRV_IS_VAR_REF(pVar->dbd) && !KRV_IS_VAR_VSARR(pVar->dbd)) {
            if (!pVar->isGlobal)
                krvAssertFail("krvFreeVar", __LINE__, "pOneVar->isGlobal");
            int64_t nCells = krvVarCellCount(pVar);
            krvFreeValues(pVar->pData, nCells > 0 ? static_cast<int>(nCells) : 1);
        }
    }
    krvFreeAPTN(pVar->pInitExpr);
    if (pVar->dbd == KRV_DBD_ARRAY_TBA)
        krvFreeAPTN(pVar->arrSize.pSizeExprs);
    else
        free(pVar->arrSize.pSizes);
    free(pVar->szName);
    free(pVar);
}

void krvFreeVarList(krvVar_t *pHead)
{
    while (pHead) {
        krvVar_t *pNext = pHead->link;
        krvFreeVar(pHead);
        pHead = pNext;
    }
}

void krvFreeFunc(krvFuncInfo_t *pFunc)
{
    if (!pFunc)
        return;
    if (pFunc->type == KRV_USR_FUNC_TYPE) {
        krvFreeVar(pFunc->obj);
        krvFreeVarList(pFunc->pParams);
        krvFreeVarList(pFunc->pLocals);
        krvFreeAPTN(pFunc->pBody);
    }
    free(pFunc->szName);
    free(pFunc);
}

void krvFreeStruct(krvStruct_t *pStruct)
{
    if (!pStruct)
        return;
    krvFreeVarList(pStruct->pMembers);
    freeTable(&pStruct->mfuncs, krvFreeFunc);
    free(pStruct->szQName);
    free(pStruct->szName);
    free(pStruct);
}

// First pass: every variable and constant of the tree, while the structure
// records their cell counts depend on are still there.
static void freeVarsDeep(krvNamespace_t *pNs)
{
    for (void *p : krvNsTableElems(pNs->nss))
        freeVarsDeep(static_cast<krvNamespace_t *>(p));
    freeTable(&pNs->vars, krvFreeVar);
    freeTable(&pNs->consts, krvFreeVar);
}

// Second pass: functions, structures, child namespaces, the record.
static void freeRestDeep(krvNamespace_t *pNs)
{
    freeTable(&pNs->funcs, krvFreeFunc);
    freeTable(&pNs->structs, krvFreeStruct);
    freeTable(&pNs->nss, freeRestDeep);
    free(pNs->szName);
    pNs->szName = nullptr;
    if (pNs != krvGlobalNs())
        free(pNs);
}

void krvFreeNamespace(krvNamespace_t *pNs)
{
    if (!pNs)
        return;
    freeVarsDeep(pNs);
    freeRestDeep(pNs);
}
