// Host services that let a module call back into script functions. The
// name lookup is done here; creating, running and freeing a callback are
// the operations of krvCallbackOps.cpp (tests may put others in their place).
#include "exthost/krvExtCall.h"
#include "exthost/krvHostSlots.h"
#include "exthost/krvHostTable.h"
#include "model/krvNameList.h"
#include "model/krvNamespace.h"

namespace {
const krvCallbackOps_t kCallbackOps = {krvCallbackNew, krvCallbackRun, krvCallbackFree};
krvCallbackOps_t g_callbackOps = kCallbackOps;
}

void krvSetCallbackOps(const krvCallbackOps_t *pOps)
{
    g_callbackOps = pOps ? *pOps : kCallbackOps;
}

int32_t krvExtGetUsrFuncParamNum(const char *szQualifiedName)
{
    if (szQualifiedName == nullptr || *szQualifiedName == '\0')
        return -1;
    krvNameList_t *pList = krvParseQName(szQualifiedName);
    if (pList == nullptr)
        return -1;
    int32_t nParams = -1;
    krvNamespace_t *pNs = krvFindNsByQual(pList->next);
    krvFuncInfo_t *pFunc = pNs ? krvFindUsrFunc(pNs, pList->szName) : nullptr;
    if (pFunc) {
        nParams = 0;
        for (const krvVar_t *p = pFunc->pParams; p; p = p->link)
            nParams++;
    }
    krvFreeNameList(pList);
    return nParams;
}

void *krvExtNewCallback(const char *szQualifiedName)
{
    if (szQualifiedName == nullptr || g_callbackOps.pfnNew == nullptr)
        return nullptr;
    return g_callbackOps.pfnNew(szQualifiedName);
}

int krvExtRunCallback(void *pCallback, int32_t nCount, krvValue_t *pCells, krvValue_t *pResult)
{
    if (pCallback == nullptr || g_callbackOps.pfnRun == nullptr)
        return 0;
    return g_callbackOps.pfnRun(pCallback, nCount, pCells, pResult);
}

int krvExtFreeCallback(void *pCallback)
{
    if (pCallback == nullptr || g_callbackOps.pfnFree == nullptr)
        return 0;
    return g_callbackOps.pfnFree(pCallback);
}
