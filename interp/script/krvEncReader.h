// Reader of encrypted script files: decrypts the text through a ring of
// four 16-byte slots, up to three blocks ahead of the one being read.
#pragma once
#include <cstdio>

struct krvEncReader_t;

// Opens the reader on an encrypted script (the header test is the caller's
// business). Returns NULL when the file cannot be read or the cipher cannot
// be set up.
krvEncReader_t *krvEncReaderOpen(const char *pPath);

// Reads the next line into pBuf (nBufSize bytes; at most nBufSize-1
// characters) without its trailing carriage returns and line feeds.
// Returns 1 for a line, 0 at the end, -1 when the line does not fit or the
// file cannot be read; pErr (at least 128 bytes) then tells why.
int krvEncReaderLine(krvEncReader_t *pRd, char *pBuf, int nBufSize, char *pErr);

// Closes the reader if it is one (its check field points at itself) and
// wipes all of its state, key material included.
void krvEncReaderClose(krvEncReader_t *pRd);
