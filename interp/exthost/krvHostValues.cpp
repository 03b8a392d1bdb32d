// Host services that read a handler's arguments and store values into cells.
#include "exthost/krvHostSlots.h"

// The argument cell i, or NULL for a null vector or an index outside the
// argument vector.
static const krvValue_t *krvArgCell(const krvValue_t *pArgs, int32_t i)
{
    if (pArgs == nullptr || i < 0 || i >= KRV_EXT_MAX_ARGS)
        return nullptr;
    return &pArgs[i];
}

int32_t krvExtGetArgType(const krvValue_t *pArgs, int32_t i)
{
    const krvValue_t *p = krvArgCell(pArgs, i);
    return p ? p->type : 0;
}

const char *krvExtGetTypeName(int32_t nType)
{
    return krvDataTypeName(nType);
}

int64_t krvExtGetArgInt(const krvValue_t *pArgs, int32_t i)
{
    const krvValue_t *p = krvArgCell(pArgs, i);
    return p ? p->val.nInt : 0;
}

double krvExtGetArgFloat(const krvValue_t *pArgs, int32_t i)
{
    const krvValue_t *p = krvArgCell(pArgs, i);
    return p ? p->val.dFloat : 0.0;
}

const char *krvExtGetArgStr(const krvValue_t *pArgs, int32_t i)
{
    const krvValue_t *p = krvArgCell(pArgs, i);
    return p ? p->val.pStr : nullptr;
}

void *krvExtGetArgHandle(const krvValue_t *pArgs, int32_t i)
{
    const krvValue_t *p = krvArgCell(pArgs, i);
    return p ? p->val.pHandle : nullptr;
}

void krvExtSetInt(krvValue_t *pCell, int64_t nValue)
{
    if (pCell)
        krvSetInt(pCell, nValue);
}

void krvExtSetFloat(krvValue_t *pCell, double dValue)
{
    if (pCell)
        krvSetFloat(pCell, dValue);
}

// A null text stores the empty string; out of memory leaves integer 0.
void krvExtSetStr(krvValue_t *pCell, const char *szText)
{
    if (pCell)
        krvSetStr(pCell, szText ? szText : "");
}

void krvExtSetHandle(krvValue_t *pCell, void *pHandle)
{
    if (pCell)
        krvSetHandle(pCell, pHandle);
}

void krvExtSetDataByData(krvValue_t *pDst, const krvValue_t *pSrc)
{
    if (pDst && pSrc && pDst != pSrc)
        krvSetDataByData(pDst, pSrc);
}
