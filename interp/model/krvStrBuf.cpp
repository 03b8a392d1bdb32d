// String accumulation buffer.
#include "model/krvStrBuf.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

int krvStrBufInit(krvStrBuf_t *pSb)
{
    pSb->pBuf = static_cast<char *>(malloc(KRV_STRBUF_INITIAL));
    pSb->nLen = 0;
    if (!pSb->pBuf) {
        pSb->nSize = 0;
        return -1;
    }
    pSb->nSize = KRV_STRBUF_INITIAL;
    pSb->pBuf[0] = '\0';
    return 0;
}

// Makes room for n more characters and the terminator.
static int reserve(krvStrBuf_t *pSb, size_t n)
{
    if (!pSb->pBuf && krvStrBufInit(pSb) != 0)
        return -1;
    if (n > SIZE_MAX / 2 - pSb->nLen)
        return -1;
    size_t nNeed = pSb->nLen + n + 1;
    if (nNeed <= pSb->nSize)
        return 0;
    size_t nNew = pSb->nSize;
    while (nNew < nNeed)
        nNew += nNew / 2;
    char *p = static_cast<char *>(realloc(pSb->pBuf, nNew));
    if (!p)
        return -1;
    pSb->pBuf = p;
    pSb->nSize = nNew;
    return 0;
}

int krvStrBufAddChar(krvStrBuf_t *pSb, char c)
{
    return krvStrBufAdd(pSb, &c, 1);
}

int krvStrBufAdd(krvStrBuf_t *pSb, const char *p, size_t n)
{
    if (reserve(pSb, n) != 0)
        return -1;
    memcpy(pSb->pBuf + pSb->nLen, p, n);
    pSb->nLen += n;
    pSb->pBuf[pSb->nLen] = '\0';
    return 0;
}

void krvStrBufReset(krvStrBuf_t *pSb)
{
    pSb->nLen = 0;
    if (pSb->pBuf)
        pSb->pBuf[0] = '\0';
}

char *krvStrBufDetach(krvStrBuf_t *pSb)
{
    return strdup(pSb->pBuf ? pSb->pBuf : "");
}

void krvStrBufFree(krvStrBuf_t *pSb)
{
    free(pSb->pBuf);
    pSb->pBuf = nullptr;
    pSb->nSize = 0;
    pSb->nLen = 0;
}

const char *krvStrBufShort(const krvStrBuf_t *pSb, char szOut[KRV_STRBUF_SHORT_SIZE])
{
    if (!pSb->pBuf)
        return "";
    if (pSb->nLen <= 32)
        return pSb->pBuf;
    memcpy(szOut, pSb->pBuf, 6);
    memcpy(szOut + 6, "...", 3);
    memcpy(szOut + 9, pSb->pBuf + pSb->nLen - 6, 6);
    szOut[15] = '\0';
    return szOut;
}
