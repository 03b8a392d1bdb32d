// String accumulation buffer for texts being scanned: starts at 32 bytes,
// grows by half its size when full, always NUL-terminated.
#pragma once
#include <cstddef>

#define KRV_STRBUF_INITIAL 32
#define KRV_STRBUF_SHORT_SIZE 16

struct krvStrBuf_t {
    char *pBuf;
    size_t nSize;     // bytes allocated
    size_t nLen;      // characters held (excluding the terminator)
};

int krvStrBufInit(krvStrBuf_t *pSb);                     // 0, or -1 when out of memory
int krvStrBufAddChar(krvStrBuf_t *pSb, char c);          // 0, or -1 (buffer unchanged)
int krvStrBufAdd(krvStrBuf_t *pSb, const char *p, size_t n);
void krvStrBufReset(krvStrBuf_t *pSb);                   // empty text, storage kept
char *krvStrBufDetach(krvStrBuf_t *pSb);                 // heap copy of the text (NULL: no memory)
void krvStrBufFree(krvStrBuf_t *pSb);
// Display form: a text of up to 32 characters is shown as it is (the
// buffer itself is returned); a longer one as its first 6 characters, "..."
// and its last 6, written into szOut (16 bytes).
const char *krvStrBufShort(const krvStrBuf_t *pSb, char szOut[KRV_STRBUF_SHORT_SIZE]);
