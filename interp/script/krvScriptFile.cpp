// Script file layer: the open rule and the plain line reader; encrypted
// files are read by krvEncReader.
#include "script/krvScriptFile.h"

#include "script/krvEncReader.h"
#include "script/krvScriptKey.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

struct krvScriptFile_t {
    int bEncrypted;
    FILE *pStream;              // plain text
    krvEncReader_t *pEnc;       // encrypted
    char szError[128];
};

// The path's extension is the text after its last '.', unless that '.' is
// the first character of the path (or belongs to a directory name).
static int hasEncExtension(const char *pPath)
{
    const char *pDot = strrchr(pPath, '.');
    if (pDot == nullptr || pDot == pPath || strchr(pDot, '/') != nullptr)
        return 0;
    return strcmp(pDot + 1, "enc") == 0;
}

// A file exists when it can be opened for reading; a directory does not
// count as a script file. Anything else that is not a regular file (a
// device, a pipe, a socket) is not opened at all: it may never end, or
// block the open itself.
static int fileExists(const char *pPath)
{
    struct stat st;
    if (stat(pPath, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    FILE *p = fopen(pPath, "r");
    if (p == nullptr)
        return 0;
    fclose(p);
    return 1;
}

int krvScriptNotRegular(const char *pPath)
{
    struct stat st;
    return pPath != nullptr && stat(pPath, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

int krvScriptIsEncrypted(const char *pPath)
{
    if (pPath == nullptr || !hasEncExtension(pPath))
        return 0;
    FILE *p = fopen(pPath, "rb");
    if (p == nullptr)
        return 0;
    unsigned char hdr[KRV_ENC_HDR_SIZE];
    int bOk = fread(hdr, 1, sizeof hdr, p) == sizeof hdr && krvEncHeaderValid(hdr);
    fclose(p);
    krvEncWipe(hdr, sizeof hdr);
    return bOk;
}

static krvScriptFile_t *openEncrypted(const char *pPath)
{
    krvEncReader_t *pEnc = krvEncReaderOpen(pPath);
    if (pEnc == nullptr)
        return nullptr;
    krvScriptFile_t *pFile = (krvScriptFile_t *)calloc(1, sizeof *pFile);
    if (pFile == nullptr) {
        krvEncReaderClose(pEnc);
        return nullptr;
    }
    pFile->bEncrypted = 1;
    pFile->pEnc = pEnc;
    return pFile;
}

static krvScriptFile_t *openPlain(const char *pPath)
{
    FILE *pStream = fopen(pPath, "r");
    if (pStream == nullptr)
        return nullptr;
    krvScriptFile_t *pFile = (krvScriptFile_t *)calloc(1, sizeof *pFile);
    if (pFile == nullptr) {
        fclose(pStream);
        return nullptr;
    }
    pFile->pStream = pStream;
    return pFile;
}

krvScriptFile_t *krvScriptOpen(const char *pPath)
{
    if (pPath == nullptr || pPath[0] == '\0' || krvScriptNotRegular(pPath))
        return nullptr;
    if (fileExists(pPath))
        return krvScriptIsEncrypted(pPath) ? openEncrypted(pPath) : openPlain(pPath);
    if (hasEncExtension(pPath))
        return nullptr;     // no second ".enc"

    size_t nLen = strlen(pPath);
    char *pEncPath = (char *)malloc(nLen + 5);
    if (pEncPath == nullptr)
        return nullptr;
    snprintf(pEncPath, nLen + 5, "%s.enc", pPath);
    krvScriptFile_t *pFile = nullptr;
    if (fileExists(pEncPath) && krvScriptIsEncrypted(pEncPath))
        pFile = openEncrypted(pEncPath);
    free(pEncPath);
    return pFile;
}

int krvScriptReadLine(krvScriptFile_t *pFile, char *pBuf)
{
    if (pFile == nullptr || pBuf == nullptr)
        return -1;
    pFile->szError[0] = '\0';
    if (pFile->bEncrypted)
        return krvEncReaderLine(pFile->pEnc, pBuf, KRV_SCRIPT_LINE_SIZE, pFile->szError);

    // Up to the line feed, or 4095 bytes; a NUL byte is a character like
    // any other and arrives as KRV_SCRIPT_NUL_STANDIN.
    FILE *pStream = pFile->pStream;
    size_t n = 0;
    int c = EOF;
    flockfile(pStream);
    while (n < KRV_SCRIPT_LINE_SIZE - 1 && (c = getc_unlocked(pStream)) != EOF) {
        if (c == '\n')
            break;
        pBuf[n++] = c == '\0' ? KRV_SCRIPT_NUL_STANDIN : static_cast<char>(c);
    }
    bool bError = c == EOF && ferror(pStream);
    funlockfile(pStream);
    pBuf[n] = '\0';
    if (bError) {
        pBuf[0] = '\0';
        snprintf(pFile->szError, sizeof pFile->szError, "cannot read script: %s", strerror(errno));
        return -1;
    }
    if (n == 0 && c == EOF)
        return 0;
    while (n > 0 && (pBuf[n - 1] == '\r' || pBuf[n - 1] == '\n'))
        pBuf[--n] = '\0';
    return 1;
}

const char *krvScriptLastError(const krvScriptFile_t *pFile)
{
    return pFile == nullptr ? "no script file" : pFile->szError;
}

int krvScriptFileIsEncrypted(const krvScriptFile_t *pFile)
{
    return pFile != nullptr && pFile->bEncrypted;
}

void krvScriptClose(krvScriptFile_t *pFile)
{
    if (pFile == nullptr)
        return;
    if (pFile->bEncrypted)
        krvEncReaderClose(pFile->pEnc);
    else if (pFile->pStream != nullptr)
        fclose(pFile->pStream);
    krvEncWipe(pFile, sizeof *pFile);
    free(pFile);
}
