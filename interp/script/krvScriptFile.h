// Script file layer: opens a script path as plain text or as an encrypted
// script and reads it line by line, so that the scanner need not know
// which form a file is stored in.
#pragma once

#define KRV_SCRIPT_LINE_SIZE 4096   // line buffer of krvScriptReadLine
#define KRV_SCRIPT_NUL_STANDIN '\x7f' // a NUL byte of a plain script, as read

struct krvScriptFile_t;

// Opens a script: the file at the path itself (encrypted when it passes the
// encrypted-file test, else plain text), or, when there is no such file and
// the path does not end in ".enc", the encrypted file "<path>.enc".
// Returns NULL when neither can be opened; a path that names anything but
// a regular file (or a directory) is never opened (krvScriptNotRegular).
krvScriptFile_t *krvScriptOpen(const char *pPath);

// 1 when the path exists but is neither a regular file nor a directory (a
// device, a pipe, a socket...), so that a caller can say why it was refused.
int krvScriptNotRegular(const char *pPath);

// Reads the next line into pBuf (KRV_SCRIPT_LINE_SIZE bytes) without its
// trailing carriage returns and line feeds. A NUL byte in a plain file is
// delivered as KRV_SCRIPT_NUL_STANDIN, a character that starts no token, so
// the scanner reports it where it stands (the text stays a C string).
// Plain files deliver at most 4095 characters per call (a longer physical
// line arrives in pieces); an encrypted line longer than that is rejected.
// Returns 1 for a line, 0 at the end of the input, -1 on an error
// (krvScriptLastError tells which).
int krvScriptReadLine(krvScriptFile_t *pFile, char *pBuf);

// Text of the last error of krvScriptReadLine ("" when there was none).
const char *krvScriptLastError(const krvScriptFile_t *pFile);

// 1 when the script file is the encrypted form, else 0.
int krvScriptFileIsEncrypted(const krvScriptFile_t *pFile);

// Closes the file; key material of an encrypted reader is wiped.
void krvScriptClose(krvScriptFile_t *pFile);

// The encrypted-file test: the path ends in ".enc", the file holds at least
// a full header and the header's integrity tag is right. 1 or 0.
int krvScriptIsEncrypted(const char *pPath);
