// Key material of encrypted script files: integrity key alteration, the
// header tag and the derivation of the AES key and chaining value.
#include "script/krvScriptKey.h"

#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace {

// The four header bytes that are altered before the tag is computed, and
// the values they are combined with. The values come out of a short
// generator at run time rather than sitting in the binary as a table.
const int kAlteredPos[4] = {1, 3, 28, 30};

unsigned char alterValue(int nWhich)
{
    unsigned v = 0x5Du;
    for (int k = 0; k <= nWhich * 3 + 1; k++)
        v = (v * 197u + 91u) & 0xFFu;
    return (unsigned char)(v | 0x11u); // never 0: every altered byte changes
}

}  // namespace

void krvEncWipe(void *p, size_t n)
{
    OPENSSL_cleanse(p, n);
}

int krvEncHeaderTag(const unsigned char *pHdr, unsigned char *pTag)
{
    unsigned char copy[KRV_ENC_HDR_SIZE];
    memcpy(copy, pHdr, sizeof copy);
    for (int i = 0; i < 4; i++)
        copy[kAlteredPos[i]] ^= alterValue(i);

    unsigned int nLen = 0;
    unsigned char *pOut = HMAC(EVP_sha1(), copy + KRV_ENC_TAGKEY_OFFSET, KRV_ENC_TAGKEY_SIZE, copy,
                               KRV_ENC_TAG_OFFSET, pTag, &nLen);
    krvEncWipe(copy, sizeof copy);
    return pOut != nullptr && nLen == KRV_ENC_TAG_SIZE;
}

int krvEncHeaderValid(const unsigned char *pHdr)
{
    unsigned char tag[KRV_ENC_TAG_SIZE];
    if (!krvEncHeaderTag(pHdr, tag))
        return 0;
    int bOk = CRYPTO_memcmp(tag, pHdr + KRV_ENC_TAG_OFFSET, KRV_ENC_TAG_SIZE) == 0;
    krvEncWipe(tag, sizeof tag);
    return bOk;
}

// The first 256 header bytes form table A and the last 256 table B. Each
// output byte is the end of a chain of look-ups that alternates between the
// tables; the running index carries from one output byte to the next, so
// every output byte depends on the ones before it.
void krvEncDeriveKeyIV(const unsigned char *pHdr, unsigned char *pKey, unsigned char *pIV)
{
    const unsigned char *pA = pHdr;
    const unsigned char *pB = pHdr + 256;

    unsigned char a = pA[0x3C];
    for (unsigned i = 0; i < 16; i++) {
        a = pB[(a + i * 29u + 7u) & 0xFFu];
        unsigned char b = pA[a];
        unsigned char c = pB[(b ^ (i * 11u)) & 0xFFu];
        pKey[i] = (unsigned char)(pA[c] ^ b);
    }
    a = pB[a ^ 0xC3u];
    for (unsigned i = 0; i < 16; i++) {
        a = pA[(a + i * 53u + 101u) & 0xFFu];
        unsigned char b = pB[a];
        unsigned char c = pA[(b + i * 5u) & 0xFFu];
        pIV[i] = (unsigned char)(pB[c] ^ a);
    }
}
