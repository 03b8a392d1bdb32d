// Fatal errors of the support library: the message goes to standard output,
// every open stream is flushed and the process ends at once.
#pragma once

[[noreturn]] void sysFatal(const char *pFmt, ...) __attribute__((format(printf, 1, 2)));

// Prints "\"FILE\" line N: assertion (EXPR) fail" and ends the process.
[[noreturn]] void sysAssertFail(const char *pFile, int nLine, const char *pExpr);

#define SYS_ASSERT(file, expr) \
    do { if (!(expr)) sysAssertFail((file), __LINE__, #expr); } while (0)
