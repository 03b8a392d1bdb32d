#include "modelBuild.h"

#include "testConsole.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string &ModelFixtureBase::out()
{
    return testConsole::text();
}

ModelFixtureBase::ModelFixtureBase()
{
    testConsole::install();
    krvInitModel();
    krvSetLastDiagId(0);
    m_pEnv = krvNewEnv("/tmp/t.krv");
    m_pEnv->phase = 'S';
}

ModelFixtureBase::~ModelFixtureBase()
{
    krvFreeModel();
    krvFreeEnv(m_pEnv);
    krvSetHostFuncs(nullptr);
    krvSetLastDiagId(0);
}

static int32_t *sizes(int nDim1, int nDim2, bool bFlex = false, bool bRef = false)
{
    int n = nDim2 ? 2 : 1;
    int32_t *p = krvArrSizesAlloc(n, bRef ? 1 : 0, bFlex ? 1 : 0);
    if (!bFlex) {
        krvArrSizesApplyDim(p, 1, nDim1);
        if (nDim2)
            krvArrSizesApplyDim(p, 2, nDim2);
        if (bRef)
            krvArrSizesFillRefCopy(p);
    }
    return p;
}

krvVar_t *addMember(krvStruct_t *pS, const char *szName, krvStruct_t *pType, int nDim1, int nDim2)
{
    krvVar_t *v = krvNewVar(szName, 0, 3);
    v->isMember = 1;
    v->pMemberOf = pS;
    v->pType = pType;
    if (nDim1) {
        v->dbd = KRV_DBD_FIXARR;
        v->arrSize.pSizes = sizes(nDim1, nDim2);
    }
    pS->pMembers = krvVarListAppend(pS->pMembers, v);
    return v;
}

krvStruct_t *addStruct(krvNamespace_t *pNs, const char *szName)
{
    krvStruct_t *s = krvNewStruct(szName);
    krvAddStruct(pNs, s);
    return s;
}

krvVar_t *addGlobal(krvNamespace_t *pNs, const char *szName, krvStruct_t *pType, int nDim1)
{
    krvVar_t *v = krvNewVar(szName, 0, 2);
    v->isGlobal = 1;
    v->pType = pType;
    if (nDim1) {
        v->dbd = KRV_DBD_FIXARR;
        v->arrSize.pSizes = sizes(nDim1, 0);
    }
    krvAddVar(pNs, v);
    return v;
}

krvFuncInfo_t *addFunc(krvNamespace_t *pNs, const char *szName)
{
    krvFuncInfo_t *f = krvNewUsrFunc(szName, 0, 5);
    krvAddUsrFunc(pNs, f);
    return f;
}

static uint16_t nextSlot(krvFuncInfo_t *pF)
{
    return ++pF->nAutoVarNum;
}

krvVar_t *addParam(krvFuncInfo_t *pF, const char *szName, uint8_t dbd, int nDims)
{
    krvVar_t *v = krvNewVar(szName, 0, 5);
    v->dbd = dbd;
    v->stoffset = nextSlot(pF);
    if (KRV_IS_VAR_ARRAY(dbd))
        v->arrSize.pSizes = sizes(nDims == 2 ? 1 : 4, nDims == 2 ? 1 : 0, KRV_IS_VAR_VSARR(dbd), KRV_IS_VAR_REF(dbd));
    pF->pParams = krvVarListAppend(pF->pParams, v);
    return v;
}

krvVar_t *addLocal(krvFuncInfo_t *pF, const char *szName, int nDim1)
{
    krvVar_t *v = krvNewVar(szName, 0, 6);
    v->stoffset = nextSlot(pF);
    if (nDim1) {
        v->dbd = KRV_DBD_FIXARR;
        v->arrSize.pSizes = sizes(nDim1, 0);
    }
    pF->pLocals = krvVarListAppend(pF->pLocals, v);
    return v;
}

void addStmt(krvFuncInfo_t *pF, krvAPTN_t *pStmt)
{
    pF->pBody = krvAPTNAppend(pF->pBody, pStmt);
}

krvAPTN_t *ref(const char *szName, krvAPTN_t *pIndexes)
{
    krvAPTN_t *p = krvNewAPTN(krvAPTNType_varRef, 0, 1);
    p->u.varRef.szName = strdup(szName);
    if (pIndexes)
        pIndexes->tail = nullptr;
    p->u.varRef.pIndexes = pIndexes;
    return p;
}

krvAPTN_t *intc(int64_t n, int nLine)
{
    krvAPTN_t *p = krvNewAPTN(krvAPTNType_intConst, 0, nLine);
    p->u.nIntConst = n;
    return p;
}

krvAPTN_t *call(const char *szName, krvAPTN_t *pArgs, int nLine)
{
    krvAPTN_t *p = krvNewAPTN(krvAPTNType_call, 0, nLine);
    p->u.call.pCallee = ref(szName);
    if (pArgs)
        pArgs->tail = nullptr;
    p->u.call.pArgs = pArgs;
    return p;
}

krvAPTN_t *chain(krvAPTN_t *a, krvAPTN_t *b)
{
    krvAPTN_t *p = a;
    while (p->next)
        p = p->next;
    p->next = b;
    return a;
}

krvAPTN_t *exprStmt(krvAPTN_t *pExpr, int nLine)
{
    krvAPTN_t *p = krvNewAPTN(krvAPTNType_exprStmt, 0, nLine);
    p->u.exprStmt.pExpr = pExpr;
    return p;
}

krvAPTN_t *stmt(int32_t nKind, int nLine)
{
    return krvNewAPTN(nKind, 0, nLine);
}

krvAPTN_t *gotoStmt(const char *szTag, int nLine)
{
    krvAPTN_t *p = krvNewAPTN(krvAPTNType_gotoStmt, 0, nLine);
    p->u.gotoStmt.szTagName = strdup(szTag);
    return p;
}

krvAPTN_t *tagged(krvAPTN_t *pStmt, const char *szTag)
{
    pStmt->pTags = krvNameListAppend(pStmt->pTags, szTag);
    return pStmt;
}

krvAPTN_t *binop(int32_t nOp, krvAPTN_t *a, krvAPTN_t *b)
{
    krvAPTN_t *p = krvNewAPTN(krvAPTNType_opExpr, 0, a ? a->nLine : 1);
    p->u.opExpr.nOp = nOp;
    p->u.opExpr.opd1 = a;
    p->u.opExpr.opd2 = b;
    return p;
}
