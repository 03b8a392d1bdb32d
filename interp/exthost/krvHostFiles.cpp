// The host file layer: a file handle is a handle header of the file kind
// followed by the C stream. Every operation tests the handle first.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "exthost/krvHostSlots.h"
#include "exthost/krvHostTable.h"

namespace {

struct krvHostFile_t {
    krvHandleHdr_t hdr;
    FILE *fp;
};

// The stream of a live file handle, or NULL.
FILE *krvFileStream(void *pFile)
{
    if (!krvIsFileHandle(pFile))
        return nullptr;
    return static_cast<krvHostFile_t *>(pFile)->fp;
}

// The formatting buffer that pfnFprintf shares between all callers; the
// lock keeps concurrent callers from writing over each other's text.
#define KRV_FPRINTF_BUF_SIZE 1024
char g_szFprintfBuf[KRV_FPRINTF_BUF_SIZE];
std::mutex g_fprintfLock;

}  // namespace

void *krvExtFopen(const char *szPath, const char *szMode)
{
    if (szPath == nullptr || szMode == nullptr)
        return nullptr;
    krvHostFile_t *pFile = static_cast<krvHostFile_t *>(malloc(sizeof(krvHostFile_t)));
    if (pFile == nullptr)
        return nullptr;
    pFile->fp = fopen(szPath, szMode);
    if (pFile->fp == nullptr) {
        free(pFile);
        return nullptr;
    }
    pFile->hdr.pSelf = pFile;
    pFile->hdr.nSig = KRV_HANDLE_SIG;
    pFile->hdr.nKind = KRV_HANDLE_KIND_FILE;
    return pFile;
}

// The stream is gone after fclose whatever its result, so the handle is
// destroyed in either case; a failed close still reports its result.
int krvExtFclose(void *pFile)
{
    FILE *fp = krvFileStream(pFile);
    if (fp == nullptr)
        return -1;
    krvHostFile_t *p = static_cast<krvHostFile_t *>(pFile);
    p->hdr.pSelf = nullptr;
    p->hdr.nSig = 0;
    p->hdr.nKind = 0;
    p->fp = nullptr;
    free(p);
    return fclose(fp);
}

size_t krvExtFwrite(const void *pBuf, size_t nSize, size_t nCount, void *pFile)
{
    FILE *fp = krvFileStream(pFile);
    if (fp == nullptr || pBuf == nullptr)
        return 0;
    return fwrite(pBuf, nSize, nCount, fp);
}

size_t krvExtFread(void *pBuf, size_t nSize, size_t nCount, void *pFile)
{
    FILE *fp = krvFileStream(pFile);
    if (fp == nullptr || pBuf == nullptr)
        return 0;
    return fread(pBuf, nSize, nCount, fp);
}

// Writes at most the first 1023 characters of the formatted text; returns
// the full formatted length, or -1 (nothing written) on a formatting error
// or an invalid handle.
int krvExtFprintf(void *pFile, const char *szFormat, ...)
{
    FILE *fp = krvFileStream(pFile);
    if (fp == nullptr || szFormat == nullptr)
        return -1;
    std::lock_guard<std::mutex> guard(g_fprintfLock);
    va_list ap;
    va_start(ap, szFormat);
    int n = vsnprintf(g_szFprintfBuf, sizeof(g_szFprintfBuf), szFormat, ap);
    va_end(ap);
    if (n < 0)
        return -1;
    size_t nWrite = static_cast<size_t>(n) < sizeof(g_szFprintfBuf) ? static_cast<size_t>(n)
                                                                     : sizeof(g_szFprintfBuf) - 1;
    fwrite(g_szFprintfBuf, 1, nWrite, fp);
    return n;
}

int krvExtFflush(void *pFile)
{
    FILE *fp = krvFileStream(pFile);
    return fp ? fflush(fp) : -1;
}

int krvExtFseek(void *pFile, int64_t nOffset, int nOrigin)
{
    FILE *fp = krvFileStream(pFile);
    if (fp == nullptr)
        return -1;
    int whence;
    switch (nOrigin) {
    case 0: whence = SEEK_SET; break;
    case 1: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default: return -1;
    }
    return fseeko(fp, static_cast<off_t>(nOffset), whence);
}

// A position that does not fit the 32-bit result is reported as -1.
int32_t krvExtFtell(void *pFile)
{
    FILE *fp = krvFileStream(pFile);
    if (fp == nullptr)
        return -1;
    off_t pos = ftello(fp);
    if (pos < 0 || pos > INT32_MAX)
        return -1;
    return static_cast<int32_t>(pos);
}

void krvExtRewind(void *pFile)
{
    FILE *fp = krvFileStream(pFile);
    if (fp)
        rewind(fp);
}
