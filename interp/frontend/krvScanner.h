// Scanner of a script group: reads the group line by line through a stack
// of open inputs (script files, module text in memory), turns the text into
// tokens for the main grammar and carries out the preprocessor directives
// (#include, #load, #if/#elif/#else/#endif) in the same pass.
#pragma once
#include <cstdint>

struct krvEnv_t;
struct krvScriptFile_t;

#define KRV_SCAN_LINE_SIZE 4100      // line buffer
#define KRV_SCAN_READ_MAX 4095       // characters taken per line read
#define KRV_SCAN_TOKEN_MAX 128       // token text, "..." in 126..128 when cut
#define KRV_SCAN_STACK_SIZE 32       // inputs: the main file and 31 nested ones
#define KRV_SCAN_COND_SIZE 64        // open #if blocks per input
#define KRV_SCAN_DIRNAME_SIZE 512    // file name word of #include / #load

// States of an open #if block.
#define KRV_COND_SKIP_TRY 0          // no branch taken yet: skip, a later branch may start
#define KRV_COND_ACTIVE 1            // the current branch is scanned
#define KRV_COND_SKIP_ALL 2          // skip up to the matching #endif

struct krvCondEntry_t {
    int nLine;                       // line of the #if
    int nState;
};

// One open input. Depth 0 is the main file.
struct krvScanInput_t {
    krvScriptFile_t *pFile;          // a script file, or NULL for text in memory
    const char *pMem;                // text in memory (not owned)
    uint64_t nMemPos;
    int nLine;                       // lines read so far
    char *szPath;                    // path (owned); for module text "<module>.krv"
    char *szBase;                    // base name (owned)
    krvCondEntry_t aCond[KRV_SCAN_COND_SIZE];
    int nCond;
};

// Value of the last token for the parser.
struct krvTokenValue_t {
    char *sz;                        // identifier, dollar name, string (malloc'ed, receiver owns)
    int64_t n;                       // integer and character constants
    double d;                        // floating constants
};

struct krvScanner_t {
    krvEnv_t *pEnv;
    krvScanInput_t *apInputs[KRV_SCAN_STACK_SIZE];
    int nDepth;                      // index of the input being read
    char szLine[KRV_SCAN_LINE_SIZE];
    int nLen;                        // characters in szLine
    int nPos;                        // read position in szLine
    char szTok[KRV_SCAN_TOKEN_MAX + 1];
    int nTokLen;
    int bEnded;                      // the token stream has ended
    char *szFuncName;                // function being defined (for __FUNCTION__)
    // Hook called when an input is pushed or popped, so that the parser's
    // file stack follows the scanner (1 on success for a push).
    int (*pfnPushFile)(void *pArg, const char *szPath);
    void (*pfnPopFile)(void *pArg);
    void *pHookArg;
};

// Prepares the scanner on the opened main input (the scanner takes it over
// and closes it in krvScanFree). szPath is the main file's path.
int krvScanInit(krvScanner_t *pSc, krvEnv_t *pEnv, krvScriptFile_t *pMain, const char *szPath);
// Same, on text in memory (tests and fuzzing); the text must outlive the scan.
int krvScanInitText(krvScanner_t *pSc, krvEnv_t *pEnv, const char *szText, const char *szName);
// Closes every input still open and frees the scanner's own memory.
void krvScanFree(krvScanner_t *pSc);

// Next token: the token code (0 at the end of the stream) with its value.
int krvScanNextToken(krvScanner_t *pSc, krvTokenValue_t *pVal);

// Function whose definition is being read; NULL clears it.
void krvScanSetFuncName(krvScanner_t *pSc, const char *szName);

// Current line and base name of the input being read (for diagnostics).
int krvScanLine(const krvScanner_t *pSc);
const char *krvScanFileBase(const krvScanner_t *pSc);

// Internal pieces shared by the scanner's units -----------------------------

// Reads the next line of the current input into szLine. 1 for a line, 0 at
// its end (a read error is reported and counts as the end).
int krvScanReadLine(krvScanner_t *pSc);
// Opens a file (1) or module text (pMem set) as a new input above the current
// one. Returns 1 when pushed, 0 after reporting why not.
int krvScanPushInput(krvScanner_t *pSc, krvScriptFile_t *pFile, const char *pMem, const char *szPath);
// Ends the current input: reports #if blocks left open in it and, unless it
// is the main file, resumes the input below it. Returns 0 when the token
// stream has ended, 1 when scanning goes on.
int krvScanEndOfInput(krvScanner_t *pSc);

// Handles a '#' at the read position (directive or conditional inclusion).
void krvScanDirective(krvScanner_t *pSc);

// Reports a parse diagnostic at the current file and line.
void krvScanError(krvScanner_t *pSc, int nId, const char *szFmt, ...) __attribute__((format(printf, 3, 4)));

// Token text collection.
void krvScanTokReset(krvScanner_t *pSc);
void krvScanTokAdd(krvScanner_t *pSc, char c);

// Literals; the read position is at the literal's first character.
int krvScanNumber(krvScanner_t *pSc, krvTokenValue_t *pVal);
int krvScanCharConst(krvScanner_t *pSc, krvTokenValue_t *pVal);
// Returns the string token, or 0 when the string was dropped (error 104).
int krvScanString(krvScanner_t *pSc, krvTokenValue_t *pVal);

// Shortened display form of a long text: the first 6 characters, "...",
// the last 6 when it is longer than 32 characters, else the text itself.
void krvScanShortText(const char *sz, char *pOut, int nOutSize);
