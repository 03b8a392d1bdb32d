// Encoder of encrypted script files.
#include "script/krvScriptEncode.h"

#include "script/krvScriptKey.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <openssl/evp.h>

int krvEncRandom(unsigned char *pBuf, size_t nLen)
{
    size_t nDone = 0;
    while (nDone < nLen) {
        ssize_t n = getrandom(pBuf + nDone, nLen - nDone, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        nDone += (size_t)n;
    }
    if (nDone == nLen)
        return 1;

    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    while (nDone < nLen) {
        ssize_t n = read(fd, pBuf + nDone, nLen - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        nDone += (size_t)n;
    }
    close(fd);
    return nDone == nLen;
}

unsigned char *krvEncEncode(const unsigned char *pText, size_t nLen, size_t *pOutLen)
{
    size_t nBody = (nLen + KRV_ENC_BLOCK - 1) / KRV_ENC_BLOCK * KRV_ENC_BLOCK;
    if (nBody > 0x7FFFFFF0u) // the cipher interface counts in int
        return nullptr;
    size_t nTotal = KRV_ENC_HDR_SIZE + nBody;
    unsigned char *pOut = (unsigned char *)calloc(1, nTotal);
    if (pOut == nullptr)
        return nullptr;

    unsigned char key[16], iv[16];
    unsigned char *pPlain = nullptr;
    EVP_CIPHER_CTX *pCtx = nullptr;
    int bOk = 0;
    int nOut = 0;

    if (!krvEncRandom(pOut, KRV_ENC_HDR_SIZE))
        goto done;
    // The tag covers bytes 0..491; the derivation reads the whole header,
    // tag included, so the tag goes in first.
    if (!krvEncHeaderTag(pOut, pOut + KRV_ENC_TAG_OFFSET))
        goto done;
    krvEncDeriveKeyIV(pOut, key, iv);

    if (nBody == 0) {
        bOk = 1;
        goto done;
    }
    pPlain = (unsigned char *)calloc(1, nBody); // zero padding of the last block
    if (pPlain == nullptr)
        goto done;
    memcpy(pPlain, pText, nLen);

    pCtx = EVP_CIPHER_CTX_new();
    if (pCtx == nullptr || EVP_EncryptInit_ex(pCtx, EVP_aes_128_cbc(), nullptr, key, iv) != 1 ||
        EVP_CIPHER_CTX_set_padding(pCtx, 0) != 1 ||
        EVP_EncryptUpdate(pCtx, pOut + KRV_ENC_HDR_SIZE, &nOut, pPlain, (int)nBody) != 1 ||
        (size_t)nOut != nBody)
        goto done;
    bOk = 1;

done:
    krvEncWipe(key, sizeof key);
    krvEncWipe(iv, sizeof iv);
    if (pPlain != nullptr) {
        krvEncWipe(pPlain, nBody);
        free(pPlain);
    }
    EVP_CIPHER_CTX_free(pCtx);
    if (!bOk) {
        free(pOut);
        return nullptr;
    }
    *pOutLen = nTotal;
    return pOut;
}
