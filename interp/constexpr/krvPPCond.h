// The condition of an #if / #elif line: a small lexer and grammar of their
// own that turn the condition text into an expression tree for
// krvEvalPPConstExpr.
#pragma once
#include <cstddef>
#include <cstdint>

struct krvAPTN_t;

#define KRV_PP_IDENT_MAX 511   // longest identifier of a condition

// Lexer state: the condition text (already joined across continued lines),
// the read position, and the position of the #if line for the nodes and the
// error reports.
struct krvPPLexer_t {
    const char *pText;
    size_t nPos;
    int bEnded;                // the token stream has ended (end of text or an error)
    const char *szFile;        // base name of the file holding the condition
    uint16_t nFileIdx;
    int32_t nLine;
};

// Installs a condition text and resets the read position. A NULL text is
// reported and ignored.
void krvInitPPLexer(krvPPLexer_t *pLex, const char *pText);

// Parses a condition. *ppTree receives the expression tree (the caller
// frees it with krvFreeAPTN), or NULL when the text has a syntax error.
// Returns the number of syntax errors; the first one is printed as
// "Error \"<file>\": (preprocessor) syntax error at or near line <n>" unless
// a diagnostic has already been reported. Nodes carry nFileIdx and nLine;
// errors name szFile.
int krvPPParseCondAt(const char *pText, const char *szFile, uint16_t nFileIdx, int32_t nLine,
                     krvAPTN_t **ppTree);
// The same without a position (file "", index 0, line 0).
int krvPPParseCond(const char *pText, krvAPTN_t **ppTree);
