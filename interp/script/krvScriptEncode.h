// Turns a plain script text into the encrypted script form that
// krvScriptOpen reads (used by the krvenc tool and by tests).
#pragma once
#include <cstddef>

// Fills a buffer from the system's random source (getrandom, falling back
// to /dev/urandom). Returns 1 on success, 0 when no random bytes could be had.
int krvEncRandom(unsigned char *pBuf, size_t nLen);

// Encrypts nLen bytes of script text: a fresh random header with its
// integrity tag, then the text in AES-128-CBC with the last block padded
// with zero bytes. Returns a malloc'ed buffer of *pOutLen bytes (free()),
// or NULL when the random source or the crypto library fails.
unsigned char *krvEncEncode(const unsigned char *pText, size_t nLen, size_t *pOutLen);
