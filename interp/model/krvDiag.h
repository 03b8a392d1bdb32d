// Diagnostic reports, the last diagnostic id and internal assertions. All
// output goes through the host function record (krvHost()).
#pragma once
#include <cstdint>

struct krvEnv_t;
struct krvAPTN_t;

// Message body of a positioned report and whole line, in characters;
// longer texts are cut.
#define KRV_DIAG_MSG_MAX 256
#define KRV_DIAG_LINE_MAX 512

int krvGetLastDiagId(void);
void krvSetLastDiagId(int nId);

// "Error %c%3d: %s line %d: <message>\n" with the environment's phase
// letter and the base name of the node's file and its line; sets the last
// diagnostic id.
void krvErrorAt(int nId, const krvEnv_t *pEnv, const krvAPTN_t *pNode, const char *szFmt, ...)
    __attribute__((format(printf, 4, 5)));
// The same at an explicit file index and line.
void krvErrorAtPos(int nId, const krvEnv_t *pEnv, int nFileIdx, int nLine, const char *szFmt, ...)
    __attribute__((format(printf, 5, 6)));
// "Error P%3d: %s line %d: <message>\n"; sets the last diagnostic id.
void krvParseError(int nId, const char *szFile, int nLine, const char *szFmt, ...)
    __attribute__((format(printf, 4, 5)));
void krvError(const char *szFmt, ...) __attribute__((format(printf, 1, 2)));    // "Error " + text
void krvWarning(const char *szFmt, ...) __attribute__((format(printf, 1, 2)));  // "Warning: " + text
void krvDebug(const char *szFmt, ...) __attribute__((format(printf, 1, 2)));    // "Debug: " + text
void krvPrint(const char *szFmt, ...) __attribute__((format(printf, 1, 2)));    // text as is

// A path as a diagnostic shows it: as it is up to KRV_DIAG_PATH_SHOWN
// characters, else its first and last characters around "...", so that
// the report keeps its closing quote and line end. pOut holds at least
// KRV_DIAG_PATH_SHOWN + 1 bytes; returns pOut.
#define KRV_DIAG_PATH_SHOWN 160
const char *krvDiagShortPath(const char *szPath, char *pOut);

// Base name of a file of the environment's group ("" when unknown).
const char *krvEnvFileName(const krvEnv_t *pEnv, int nFileIdx);

// "\"%s\" line %d: assertion (%s) fail\n", then the program stops.
[[noreturn]] void krvAssertFail(const char *szFile, int nLine, const char *szCond);
// "\"%s\" line %d: fatal error; please debug\n" and an optional detail
// line, then the program stops.
[[noreturn]] void krvFatal(const char *szFile, int nLine, const char *szDetailFmt, ...)
    __attribute__((format(printf, 3, 4)));

#define KRV_ASSERT(cond) \
    do { \
        if (!(cond)) krvAssertFail(__FILE__, __LINE__, #cond); \
    } while (0)
