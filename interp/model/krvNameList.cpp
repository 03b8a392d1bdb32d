// Name lists and the qualified-name parse.
#include "model/krvNameList.h"

#include <cstdlib>
#include <cstring>

krvNameList_t *krvNewNameList(const char *sz, krvNameList_t *pNext)
{
    krvNameList_t *p = static_cast<krvNameList_t *>(calloc(1, sizeof(krvNameList_t)));
    if (!p)
        return nullptr;
    p->szName = strdup(sz ? sz : "");
    if (!p->szName) {
        free(p);
        return nullptr;
    }
    p->next = pNext;
    return p;
}

krvNameList_t *krvNameListAppend(krvNameList_t *pHead, const char *sz)
{
    krvNameList_t *pNew = krvNewNameList(sz, nullptr);
    if (!pNew)
        return nullptr;
    if (!pHead)
        return pNew;
    krvNameList_t *p = pHead;
    while (p->next)
        p = p->next;
    p->next = pNew;
    return pHead;
}

krvNameList_t *krvCopyNameList(const krvNameList_t *p)
{
    krvNameList_t *pHead = nullptr;
    krvNameList_t **ppTail = &pHead;
    for (; p; p = p->next) {
        krvNameList_t *pNew = krvNewNameList(p->szName, nullptr);
        if (!pNew) {
            krvFreeNameList(pHead);
            return nullptr;
        }
        *ppTail = pNew;
        ppTail = &pNew->next;
    }
    return pHead;
}

int krvNameListContains(const krvNameList_t *p, const char *sz)
{
    for (; p; p = p->next) {
        if (p->szName && sz && strcmp(p->szName, sz) == 0)
            return 1;
    }
    return 0;
}

void krvFreeNameList(krvNameList_t *p)
{
    while (p) {
        krvNameList_t *pNext = p->next;
        free(p->szName);
        free(p);
        p = pNext;
    }
}

krvNameList_t *krvParseQName(const char *szText)
{
    if (!szText)
        return nullptr;
    size_t nLen = strlen(szText);
    if (nLen == 0 || nLen > KRV_QNAME_MAX)
        return nullptr;

    // Split into components; check the separators on the way.
    char aComp[KRV_QNAME_MAX + 1];
    krvNameList_t *pQual = nullptr;     // components in source order
    size_t nStart = 0;
    size_t i = 0;
    while (true) {
        if (i < nLen && (szText[i] == ' ' || szText[i] == '\t' || szText[i] == '\n' || szText[i] == '\r' ||
                         szText[i] == '\f' || szText[i] == '\v')) {
            krvFreeNameList(pQual);
            return nullptr;
        }
        if (i < nLen && szText[i] == ':') {
            if (i + 1 >= nLen || szText[i + 1] != ':') {
                krvFreeNameList(pQual);
                return nullptr;
            }
        }
        bool bSep = i < nLen && szText[i] == ':';
        if (i == nLen || bSep) {
            size_t nComp = i - nStart;
            // Only a leading "::" may give an empty component.
            if (nComp == 0 && !(nStart == 0 && bSep)) {
                krvFreeNameList(pQual);
                return nullptr;
            }
            memcpy(aComp, szText + nStart, nComp);
            aComp[nComp] = '\0';
            krvNameList_t *pNew = krvNameListAppend(pQual, aComp);
            if (!pNew) {
                krvFreeNameList(pQual);
                return nullptr;
            }
            pQual = pNew;
            if (i == nLen)
                break;
            i += 2;
            nStart = i;
            continue;
        }
        i++;
    }

    // Move the last component to the front.
    if (!pQual->next)
        return pQual;
    krvNameList_t *pPrev = pQual;
    while (pPrev->next->next)
        pPrev = pPrev->next;
    krvNameList_t *pLast = pPrev->next;
    pPrev->next = nullptr;
    pLast->next = pQual;
    return pLast;
}
