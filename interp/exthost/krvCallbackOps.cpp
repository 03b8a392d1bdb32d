// Script callbacks: a module names a script function f(n, v[]), receives a
// callback for it and runs it with a count and an array of values, on its
// own thread if it likes. Each callback is an environment derived from the
// script group's main environment with an evaluation stack of its own.
#include <atomic>
#include <new>

#include "model/krvArrDesc.h"
#include "exthost/krvExtCall.h"
#include "model/krvNameList.h"
#include "model/krvNamespace.h"

namespace {

struct krvCallback_t {
    krvEnv_t *pEnv;                // derived environment; entry function set
    std::atomic<bool> bRunning{false};
};

// The user function a qualified name names: the first element of the
// parsed list is the function, the others the namespace path.
krvFuncInfo_t *findUsrFunc(const char *szQualifiedName)
{
    if (!szQualifiedName || !*szQualifiedName)
        return nullptr;
    krvNameList_t *pList = krvParseQName(szQualifiedName);
    if (!pList)
        return nullptr;
    krvNamespace_t *pNs = krvFindNsByQual(pList->next);
    krvFuncInfo_t *pFunc = pNs ? krvFindUsrFunc(pNs, pList->szName) : nullptr;
    krvFreeNameList(pList);
    return pFunc && pFunc->type == KRV_USR_FUNC_TYPE ? pFunc : nullptr;
}

// f(n, v[]): n neither an array nor a structure; v a one-dimensional array
// of elementary values.
bool hasCallbackShape(const krvFuncInfo_t *pFunc)
{
    const krvVar_t *p1 = pFunc->pParams;
    const krvVar_t *p2 = p1 ? p1->link : nullptr;
    if (!p2 || p2->link || pFunc->obj)
        return false;
    if (KRV_IS_VAR_ARRAY(p1->dbd) || p1->pType)
        return false;
    return KRV_IS_VAR_ARRAY(p2->dbd) && !p2->pType && krvDescDims(p2->arrSize.pSizes) == 1;
}

// The main environment of the running script group.
krvEnv_t *groupEnv(void)
{
    krvEnv_t *pEnv = krvEnvTableFirst();
    while (pEnv && pEnv->pDerivedFrom)
        pEnv = pEnv->pDerivedFrom;
    return pEnv;
}

} // namespace

void *krvCallbackNew(const char *szQualifiedName)
{
    krvFuncInfo_t *pFunc = findUsrFunc(szQualifiedName);
    krvEnv_t *pGroup = groupEnv();
    if (!pFunc || !hasCallbackShape(pFunc) || !pGroup)
        return nullptr;
    auto *pCb = new (std::nothrow) krvCallback_t;
    if (!pCb)
        return nullptr;
    pCb->pEnv = krvNewDerivedEnv(pGroup);
    if (!pCb->pEnv || krvEvalStateInit(pCb->pEnv) != 0) {
        if (pCb->pEnv)
            krvFreeEnv(pCb->pEnv);
        delete pCb;
        return nullptr;
    }
    pCb->pEnv->pEval->pEntryFunc = pFunc;
    krvEvalShareCells();     // the module may run it on a thread of its own
    return pCb;
}

int krvCallbackRun(void *pCallback, int32_t nCount, krvValue_t *pCells, krvValue_t *pResult)
{
    auto *pCb = static_cast<krvCallback_t *>(pCallback);
    if (!pCb)
        return 0;
    // One evaluation stack per callback: a second thread may not enter it.
    if (pCb->bRunning.exchange(true, std::memory_order_acquire))
        return 0;
    if (nCount < 0 || !pCells)
        nCount = 0;
    krvValue_t local;
    local.type = KRV_DT_INTEGER;
    local.val.uRaw = 0;
    krvValue_t *pRes = pResult ? pResult : &local;
    uint32_t fl = 0;
    krvRunArgs_t args{};
    args.nCount = nCount;
    args.pValues = pCells;
    krvEvalRunTask(pCb->pEnv, pRes, &fl, KRV_RUN_CALLBACK, &args);
    krvClearValue(&local);
    pCb->bRunning.store(false, std::memory_order_release);
    return 1;
}

int krvCallbackFree(void *pCallback)
{
    auto *pCb = static_cast<krvCallback_t *>(pCallback);
    if (!pCb)
        return 0;
    krvEvalStateFree(pCb->pEnv);
    krvFreeEnv(pCb->pEnv);
    delete pCb;
    return 1;
}
