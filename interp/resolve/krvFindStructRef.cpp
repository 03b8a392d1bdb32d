// Structure types named in declarations: qualified or searched outward.
#include "resolve/krvSolveInternal.h"

krvStruct_t *krvFindStruct(krvEnv_t *pEnv, krvNamespace_t *pNs, const krvNameList_t *pNsRes,
                           const char *szTypeName, int nFileIdx, int nLine)
{
    if (!szTypeName)
        return nullptr;
    if (pNsRes) {
        krvNamespace_t *pTarget = krvFindNsByQual(pNsRes);
        if (!pTarget) {
            krvSolveErrSelf(pEnv, 400, nFileIdx, nLine, "Unknown namespace %s\n", krvNsResText(pNsRes).c_str());
            return nullptr;
        }
        return krvFindStruct(pTarget, szTypeName);
    }
    for (krvNamespace_t *p = pNs ? pNs : krvGlobalNs(); p; p = p->parent)
        if (krvStruct_t *pStruct = krvFindStruct(p, szTypeName))
            return pStruct;
    return nullptr;
}
