// Reader of encrypted script files.
#include "script/krvEncReader.h"

#include "script/krvScriptKey.h"

#include <cstdlib>
#include <cstring>

#include <openssl/evp.h>

#define KRV_ENC_SLOTS 4

struct krvEncReader_t {
    krvEncReader_t *pCheck;                // points at the reader itself while open
    FILE *pStream;                         // binary stream, after the header
    EVP_CIPHER_CTX *pCipher;               // AES-128-CBC decryption: round keys, chaining value
    unsigned char ring[KRV_ENC_SLOTS][KRV_ENC_BLOCK];
    int nReadSlot;                         // slot being read
    int nLastSlot;                         // last filled slot
    int nPos;                              // read position in the slot; 16 = used up
    int bEnd;                              // the stream gave a short read
    int bFailed;                           // a line was rejected; no further lines
};

krvEncReader_t *krvEncReaderOpen(const char *pPath)
{
    FILE *pStream = fopen(pPath, "rb");
    if (pStream == nullptr)
        return nullptr;

    unsigned char hdr[KRV_ENC_HDR_SIZE];
    if (fread(hdr, 1, sizeof hdr, pStream) != sizeof hdr) {
        fclose(pStream);
        return nullptr;
    }
    krvEncReader_t *pRd = (krvEncReader_t *)calloc(1, sizeof *pRd);
    if (pRd == nullptr) {
        fclose(pStream);
        return nullptr;
    }
    unsigned char key[16], iv[16];
    krvEncDeriveKeyIV(hdr, key, iv);
    krvEncWipe(hdr, sizeof hdr);

    pRd->pCipher = EVP_CIPHER_CTX_new();
    int bOk = pRd->pCipher != nullptr &&
              EVP_DecryptInit_ex(pRd->pCipher, EVP_aes_128_cbc(), nullptr, key, iv) == 1 &&
              EVP_CIPHER_CTX_set_padding(pRd->pCipher, 0) == 1;
    krvEncWipe(key, sizeof key);
    krvEncWipe(iv, sizeof iv);

    pRd->pCheck = pRd;
    pRd->pStream = pStream;
    pRd->nReadSlot = KRV_ENC_SLOTS - 1;
    pRd->nLastSlot = KRV_ENC_SLOTS - 1;
    pRd->nPos = KRV_ENC_BLOCK;
    if (!bOk) {
        krvEncReaderClose(pRd);
        return nullptr;
    }
    return pRd;
}

// Decrypts blocks into the free slots after the last filled one, stopping
// before the slot being read. A short read ends the input; its bytes (a
// trailing partial block) are dropped.
static void refill(krvEncReader_t *pRd)
{
    while (!pRd->bEnd && (pRd->nLastSlot + 1) % KRV_ENC_SLOTS != pRd->nReadSlot) {
        unsigned char cipher[KRV_ENC_BLOCK];
        if (fread(cipher, 1, sizeof cipher, pRd->pStream) != sizeof cipher) {
            pRd->bEnd = 1;
            break;
        }
        int nSlot = (pRd->nLastSlot + 1) % KRV_ENC_SLOTS;
        int nOut = 0;
        if (EVP_DecryptUpdate(pRd->pCipher, pRd->ring[nSlot], &nOut, cipher, sizeof cipher) != 1 ||
            nOut != KRV_ENC_BLOCK) {
            pRd->bEnd = 1;
            break;
        }
        pRd->nLastSlot = nSlot;
    }
}

// Next decrypted byte, or -1 at the end of the input.
static int nextByte(krvEncReader_t *pRd)
{
    if (pRd->nPos == KRV_ENC_BLOCK) {
        if (pRd->nReadSlot == pRd->nLastSlot) {
            refill(pRd);
            if (pRd->nReadSlot == pRd->nLastSlot)
                return -1;
        }
        pRd->nReadSlot = (pRd->nReadSlot + 1) % KRV_ENC_SLOTS;
        pRd->nPos = 0;
    }
    return pRd->ring[pRd->nReadSlot][pRd->nPos++];
}

int krvEncReaderLine(krvEncReader_t *pRd, char *pBuf, int nBufSize, char *pErr)
{
    if (pRd == nullptr || pRd->pCheck != pRd || nBufSize < 2) {
        snprintf(pErr, 128, "invalid encrypted script reader");
        return -1;
    }
    if (pRd->bFailed) {
        snprintf(pErr, 128, "encrypted script reading stopped after an error");
        return -1;
    }
    int nLen = 0;        // characters of text kept
    int nRaw = 0;        // characters of the line read so far
    int bNul = 0;        // a NUL has ended the text
    int bAnyText = 0;    // the line holds something besides padding
    int c;
    while ((c = nextByte(pRd)) >= 0) {
        if (c == '\n') {
            bAnyText = 1;
            break;
        }
        if (++nRaw > nBufSize - 1) {
            pRd->bFailed = 1;
            pBuf[0] = '\0';
            snprintf(pErr, 128, "line longer than %d characters in an encrypted script", nBufSize - 1);
            return -1;
        }
        if (c == '\0') {
            bNul = 1;
            continue;
        }
        bAnyText = 1;
        if (!bNul)
            pBuf[nLen++] = (char)c;
    }
    pBuf[nLen] = '\0';
    // At the end, a rest made of NUL bytes only is the zero padding of the
    // last block, not a line.
    if (c < 0 && !bAnyText)
        return 0;
    while (nLen > 0 && (pBuf[nLen - 1] == '\r' || pBuf[nLen - 1] == '\n'))
        pBuf[--nLen] = '\0';
    return 1;
}

void krvEncReaderClose(krvEncReader_t *pRd)
{
    if (pRd == nullptr || pRd->pCheck != pRd)
        return;
    if (pRd->pStream != nullptr)
        fclose(pRd->pStream);
    EVP_CIPHER_CTX_free(pRd->pCipher); // wipes the expanded keys and chaining value
    krvEncWipe(pRd, sizeof *pRd);
    free(pRd);
}
