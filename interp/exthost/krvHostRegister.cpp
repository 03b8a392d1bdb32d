// Host services that register a module's namespaces, functions, variables
// and constants into the object model.
#include "exthost/krvHostSlots.h"
#include "model/krvNamespace.h"

static krvNamespace_t *krvNsOrRoot(void *pNs)
{
    return pNs ? static_cast<krvNamespace_t *>(pNs) : krvGlobalNs();
}

void *krvExtGetRootNs(void)
{
    return krvGlobalNs();
}

void *krvExtAddNs(void *pParentNs, const char *szName)
{
    if (pParentNs == nullptr || szName == nullptr)
        return nullptr;
    return krvCreateNs(static_cast<krvNamespace_t *>(pParentNs), szName);
}

// Registers an extension function descriptor. Refused (0) besides a
// duplicate name: a missing namespace, name or handler, more than
// KRV_EXT_MAX_ARGS arguments or a minimum above the maximum (the call
// marshals into KRV_EXT_MAX_ARGS cells), and an argument that is claimed by
// more than one of the three masks (its kind would be ambiguous).
static int krvExtRegisterFunc(void *pNs, const char *szName, void *pfnHandler, int isCtx, uint8_t minArgNum,
                              uint8_t maxArgNum, uint32_t refMask, uint32_t arrMask, uint32_t structMask)
{
    if (pNs == nullptr || szName == nullptr || *szName == '\0' || pfnHandler == nullptr)
        return 0;
    if (maxArgNum > KRV_EXT_MAX_ARGS || minArgNum > maxArgNum)
        return 0;
    if ((refMask & arrMask) || (refMask & structMask) || (arrMask & structMask))
        return 0;
    krvNamespace_t *ns = static_cast<krvNamespace_t *>(pNs);
    if (krvFindFunc(ns, szName) != nullptr)
        return 0;
    krvFuncInfo_t *pFunc = krvNewExtFunc(szName);
    if (pFunc == nullptr)
        return 0;
    pFunc->isCtx = static_cast<uint8_t>(isCtx);
    pFunc->minArgNum = minArgNum;
    pFunc->maxArgNum = maxArgNum;
    pFunc->refMask = refMask;
    pFunc->arrMask = arrMask;
    pFunc->structMask = structMask;
    pFunc->pHandler = pfnHandler;
    if (krvAddExtFunc(ns, pFunc) != 0) {
        krvFreeFunc(pFunc);
        return 0;
    }
    return 1;
}

int krvExtAddFunc(void *pNs, const char *szName, krvExtHandler_t pfnHandler, uint8_t minArgNum, uint8_t maxArgNum,
                  uint32_t refMask, uint32_t arrMask, uint32_t structMask)
{
    return krvExtRegisterFunc(pNs, szName, reinterpret_cast<void *>(pfnHandler), 0, minArgNum, maxArgNum,
                              refMask, arrMask, structMask);
}

int krvExtAddCtxFunc(void *pNs, const char *szName, krvExtCtxHandler_t pfnHandler, uint8_t minArgNum,
                     uint8_t maxArgNum, uint32_t refMask, uint32_t arrMask, uint32_t structMask)
{
    return krvExtRegisterFunc(pNs, szName, reinterpret_cast<void *>(pfnHandler), 1, minArgNum, maxArgNum,
                              refMask, arrMask, structMask);
}

int krvExtAddVar(void *pNs, const char *szName)
{
    if (szName == nullptr || *szName == '\0')
        return 0;
    return krvCreateGlobalIntVar(szName, krvNsOrRoot(pNs)) != nullptr;
}

// The first cell of a namespace variable; NULL when there is no such
// variable or it has no storage yet (script variables get theirs after
// parsing).
static krvValue_t *krvVarCell(void *pNs, const char *szName)
{
    if (szName == nullptr)
        return nullptr;
    krvVar_t *pVar = krvFindVar(krvNsOrRoot(pNs), szName);
    return pVar ? pVar->pData : nullptr;
}

// Stores into a cell found by krvVarCell or krvConstCell; 0 when there is none.
static int setCellInt(krvValue_t *pCell, int64_t nValue)
{
    if (pCell == nullptr)
        return 0;
    krvSetInt(pCell, nValue);
    return 1;
}

static int setCellStr(krvValue_t *pCell, const char *szText)
{
    if (pCell == nullptr)
        return 0;
    return krvSetStr(pCell, szText ? szText : "") == 0;
}

int krvExtSetVarInt(void *pNs, const char *szName, int64_t nValue)
{
    return setCellInt(krvVarCell(pNs, szName), nValue);
}

int krvExtSetVarStr(void *pNs, const char *szName, const char *szText)
{
    return setCellStr(krvVarCell(pNs, szName), szText);
}

static int krvExtAddConst(void *pNs, const char *szName, const krvValue_t *pValue)
{
    if (szName == nullptr || *szName == '\0')
        return 0;
    krvNamespace_t *ns = krvNsOrRoot(pNs);
    if (krvFindConst(ns, szName) != nullptr || krvFindVar(ns, szName) != nullptr)
        return 0;
    krvVar_t *pConst = krvNewConst(szName, pValue, 0, 0);
    if (pConst == nullptr)
        return 0;
    if (krvAddConst(ns, pConst) != 0) {
        krvFreeVar(pConst);
        return 0;
    }
    return 1;
}

int krvExtAddIntConst(void *pNs, const char *szName, int64_t nValue)
{
    krvValue_t value{};
    value.type = KRV_DT_INTEGER;
    value.val.nInt = nValue;
    return krvExtAddConst(pNs, szName, &value);
}

int krvExtAddStrConst(void *pNs, const char *szName, const char *szText)
{
    krvValue_t value{};
    value.type = KRV_DT_STRING;
    value.val.pStr = const_cast<char *>(szText ? szText : "");   // copied by krvNewConst
    return krvExtAddConst(pNs, szName, &value);
}

static krvValue_t *krvConstCell(void *pNs, const char *szName)
{
    if (szName == nullptr)
        return nullptr;
    krvVar_t *pConst = krvFindConst(krvNsOrRoot(pNs), szName);
    return pConst ? pConst->pData : nullptr;
}

int krvExtSetConstInt(void *pNs, const char *szName, int64_t nValue)
{
    return setCellInt(krvConstCell(pNs, szName), nValue);
}

int krvExtSetConstStr(void *pNs, const char *szName, const char *szText)
{
    return setCellStr(krvConstCell(pNs, szName), szText);
}
