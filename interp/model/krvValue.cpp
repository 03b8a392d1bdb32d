// Value cells: arrays, stores, copies, type names, hashing and equality.
#include "model/krvValue.h"

#include <cstdlib>
#include <cstring>

#include "model/krvDiag.h"
#include "sysHash.h"

// Source name printed by this unit's debug messages.
static const char *const kSrc = "krvTool";

krvValue_t *krvAllocValues(int n)
{
    if (n < 1)
        return nullptr;
    // calloc leaves every cell an integer 0 once the type is set.
    krvValue_t *p = static_cast<krvValue_t *>(calloc(static_cast<size_t>(n), sizeof(krvValue_t)));
    if (!p)
        return nullptr;
    for (int i = 0; i < n; i++)
        p[i].type = KRV_DT_INTEGER;
    return p;
}

void krvFreeValues(krvValue_t *pCells, int n)
{
    if (n <= 0)
        krvFatal(kSrc, __LINE__, "nSize = %d\n", n);
    if (!pCells)
        return;
    for (int i = 0; i < n; i++) {
        if (pCells[i].type == KRV_DT_STRING)
            free(pCells[i].val.pStr);
    }
    free(pCells);
}

static void dropText(krvValue_t *pCell)
{
    if (pCell->type == KRV_DT_STRING) {
        char *p = pCell->val.pStr;
        pCell->type = KRV_DT_INTEGER;
        pCell->val.uRaw = 0;
        free(p);
    }
}

void krvClearValue(krvValue_t *pCell)
{
    dropText(pCell);
    pCell->type = KRV_DT_INTEGER;
    pCell->val.uRaw = 0;
}

void krvSetInt(krvValue_t *pCell, int64_t n)
{
    dropText(pCell);
    pCell->type = KRV_DT_INTEGER;
    pCell->val.nInt = n;
}

void krvSetFloat(krvValue_t *pCell, double d)
{
    dropText(pCell);
    pCell->type = KRV_DT_FLOAT;
    pCell->val.dFloat = d;
}

int krvSetStr(krvValue_t *pCell, const char *sz)
{
    // Copy first: sz may be the cell's own text.
    char *pCopy = strdup(sz ? sz : "");
    dropText(pCell);
    if (!pCopy) {
        pCell->type = KRV_DT_INTEGER;
        pCell->val.uRaw = 0;
        return -1;
    }
    pCell->type = KRV_DT_STRING;
    pCell->val.pStr = pCopy;
    return 0;
}

void krvSetHandle(krvValue_t *pCell, void *p)
{
    dropText(pCell);
    pCell->type = KRV_DT_HANDLE;
    pCell->val.pHandle = p;
}

int krvSetDataByData(krvValue_t *pDst, const krvValue_t *pSrc)
{
    if (pDst == pSrc)
        return 0;
    switch (pSrc->type) {
    case KRV_DT_INTEGER:
        krvSetInt(pDst, pSrc->val.nInt);
        return 0;
    case KRV_DT_FLOAT:
        krvSetFloat(pDst, pSrc->val.dFloat);
        return 0;
    case KRV_DT_STRING:
        return krvSetStr(pDst, pSrc->val.pStr);
    case KRV_DT_HANDLE:
        krvSetHandle(pDst, pSrc->val.pHandle);
        return 0;
    default:
        krvDebug("\"%s\" line %d %s(): to process data type %d\n", kSrc, __LINE__, "krvSetDataByData",
                 static_cast<int>(pSrc->type));
        return -1;
    }
}

const char *krvDataTypeName(int32_t nType)
{
    switch (nType) {
    case KRV_DT_INTEGER:
        return "integer";
    case KRV_DT_FLOAT:
        return "floating number";
    case KRV_DT_STRING:
        return "string";
    case KRV_DT_HANDLE:
        return "handle";
    default:
        return "unknown";
    }
}

const char *krvOrdinalSuffix(int64_t n)
{
    switch (n) {
    case 1:
        return "st";
    case 2:
        return "nd";
    case 3:
        return "rd";
    default:
        return "th";
    }
}

uint32_t krvValueHash(const void *pKey)
{
    const krvValue_t *p = static_cast<const krvValue_t *>(pKey);
    if (!p)
        return 0;
    if (KRV_DT_IS_INTLIKE(p->type))
        return static_cast<uint32_t>(p->val.uRaw >> 32) + static_cast<uint32_t>(p->val.uRaw);
    if (p->type == KRV_DT_STRING)
        return sysHashStr(p->val.pStr);
    krvDebug("\"%s\" line %d: hash for data type %d\n", kSrc, __LINE__, static_cast<int>(p->type));
    return 0;
}

int krvValueCompare(const void *pA, const void *pB)
{
    const krvValue_t *a = static_cast<const krvValue_t *>(pA);
    const krvValue_t *b = static_cast<const krvValue_t *>(pB);
    if (!a || !b)
        return a == b;
    if (a->type != b->type)
        return 0;
    if (KRV_DT_IS_INTLIKE(a->type))
        return a->val.uRaw == b->val.uRaw;
    if (a->type == KRV_DT_STRING) {
        if (!a->val.pStr || !b->val.pStr)
            return a->val.pStr == b->val.pStr;
        return strcmp(a->val.pStr, b->val.pStr) == 0;
    }
    krvDebug("\"%s\" line %d: compare for data type %d\n", kSrc, __LINE__, static_cast<int>(a->type));
    return 0;
}
