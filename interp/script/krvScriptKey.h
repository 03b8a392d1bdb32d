// Key material of encrypted script files.
//
// An encrypted script starts with a 512-byte header:
//
//   offset   0, 24 bytes   header bytes (tag-covered, used by the derivation)
//   offset  24, 32 bytes   material of the integrity key
//   offset  56, 436 bytes  header bytes (derivation tables, tag-covered)
//   offset 492, 20 bytes   integrity tag: HMAC-SHA1 over bytes 0..491
//   offset 512             AES-128-CBC ciphertext, whole 16-byte blocks
//
// This unit is the only place that knows how the integrity key is altered
// and how the AES key and initial chaining value come out of the header.
// The reader (krvEncReader.cpp) and the encoder (krvScriptEncode.cpp, used
// by the krvenc tool) both go through it, so they cannot drift apart.
//
// Note: the key is derived from the file itself. This keeps a script from
// being read or edited casually; it is not confidentiality against anyone
// who holds this program.
#pragma once
#include <cstddef>

#define KRV_ENC_HDR_SIZE 512
#define KRV_ENC_TAGKEY_OFFSET 24
#define KRV_ENC_TAGKEY_SIZE 32
#define KRV_ENC_TAG_OFFSET 492
#define KRV_ENC_TAG_SIZE 20
#define KRV_ENC_BLOCK 16

// Computes the integrity tag of a header (only bytes 0..491 are covered).
// Returns 1 on success, 0 when the crypto library fails.
int krvEncHeaderTag(const unsigned char *pHdr, unsigned char *pTag);

// 1 when bytes 492..511 of the header hold the right tag, else 0.
int krvEncHeaderValid(const unsigned char *pHdr);

// Derives the 16-byte AES key and the 16-byte initial chaining value from a
// complete header (tag included). Callers wipe both when done.
void krvEncDeriveKeyIV(const unsigned char *pHdr, unsigned char *pKey, unsigned char *pIV);

// Overwrites key material so that the compiler cannot drop the stores.
void krvEncWipe(void *p, size_t n);
