// Token loop of the scanner: blanks, comments, identifiers and keywords,
// dollar names, the predefined names, operators and punctuation. Literals
// are in krvScanLiterals.cpp, directives in krvPreproc.cpp.
#include "krvScanner.h"
#include "krvGrammar.hpp"
#include "krvScanModel.h"
#include "sysPath.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct krvKeyword_t {
    const char *sz;
    int nToken;
};

static const krvKeyword_t s_aKeywords[] = {
    {"const", TK_CONST},   {"var", TK_VAR},         {"void", TK_VOID},         {"if", TK_IF},
    {"else", TK_ELSE},     {"while", TK_WHILE},     {"for", TK_FOR},           {"do", TK_DO},
    {"goto", TK_GOTO},     {"return", TK_RETURN},   {"continue", TK_CONTINUE}, {"break", TK_BREAK},
    {"eval", TK_EVAL},     {"exit", TK_EXIT},       {"switch", TK_SWITCH},     {"case", TK_CASE},
    {"tag", TK_TAG},       {"default", TK_DEFAULT}, {"namespace", TK_NAMESPACE}, {"struct", TK_STRUCT},
};

void krvScanTokReset(krvScanner_t *pSc)
{
    pSc->nTokLen = 0;
    pSc->szTok[0] = '\0';
}

void krvScanTokAdd(krvScanner_t *pSc, char c)
{
    if (pSc->nTokLen >= KRV_SCAN_TOKEN_MAX)
        return;
    pSc->szTok[pSc->nTokLen++] = c;
    if (pSc->nTokLen == KRV_SCAN_TOKEN_MAX) {
        pSc->szTok[KRV_SCAN_TOKEN_MAX - 3] = '.';
        pSc->szTok[KRV_SCAN_TOKEN_MAX - 2] = '.';
        pSc->szTok[KRV_SCAN_TOKEN_MAX - 1] = '.';
    }
    pSc->szTok[pSc->nTokLen] = '\0';
}

void krvScanError(krvScanner_t *pSc, int nId, const char *szFmt, ...)
{
    char szMsg[512];
    va_list ap;
    va_start(ap, szFmt);
    vsnprintf(szMsg, sizeof(szMsg), szFmt, ap);
    va_end(ap);
    krvScanReportAt(pSc, nId, krvScanFileBase(pSc), krvScanLine(pSc), "%s", szMsg);
}

void krvScanShortText(const char *sz, char *pOut, int nOutSize)
{
    size_t n = strlen(sz);
    if (n > 32)
        snprintf(pOut, static_cast<size_t>(nOutSize), "%.6s...%s", sz, sz + n - 6);
    else
        snprintf(pOut, static_cast<size_t>(nOutSize), "%s", sz);
}

static bool isIdStart(int c)
{
    return isalpha(c) || c == '_';
}

static bool isIdChar(int c)
{
    return isalnum(c) || c == '_';
}

// "//" comment: the rest of the line; a line that ends in '\' carries the
// comment into the next line.
static void skipLineComment(krvScanner_t *pSc)
{
    for (;;) {
        bool bCont = pSc->nLen > 0 && pSc->szLine[pSc->nLen - 1] == '\\';
        pSc->nPos = pSc->nLen;
        if (!bCont)
            return;
        if (!krvScanReadLine(pSc))
            return;   // the end of the input is seen by the token loop
    }
}

// "/*" comment up to the next "*/". An input that ends inside it is
// reported at the line where the comment opened and ends the token stream
// (an included file's open comment would otherwise swallow nothing and
// vanish unnoticed). Returns 0 then.
static int skipBlockComment(krvScanner_t *pSc)
{
    int nOpenLine = krvScanLine(pSc);
    pSc->nPos += 2;
    for (;;) {
        const char *pEnd = strstr(pSc->szLine + pSc->nPos, "*/");
        if (pEnd) {
            pSc->nPos = static_cast<int>(pEnd - pSc->szLine) + 2;
            return 1;
        }
        if (!krvScanReadLine(pSc)) {
            if (!pSc->bEnded)
                krvScanReportAt(pSc, 107, krvScanFileBase(pSc), nOpenLine, "unterminated comment");
            pSc->bEnded = 1;
            return 0;
        }
    }
}

static int scanIdentifier(krvScanner_t *pSc, krvTokenValue_t *pVal)
{
    while (pSc->nPos < pSc->nLen && isIdChar(static_cast<unsigned char>(pSc->szLine[pSc->nPos])))
        krvScanTokAdd(pSc, pSc->szLine[pSc->nPos++]);
    for (const krvKeyword_t &k : s_aKeywords)
        if (strcmp(k.sz, pSc->szTok) == 0)
            return k.nToken;
    if (strcmp(pSc->szTok, "__LINE__") == 0) {
        pVal->n = krvScanLine(pSc);
        return TK_INT;
    }
    if (strcmp(pSc->szTok, "__FILE__") == 0) {
        pVal->sz = strdup(krvScanFileBase(pSc));
        return pVal->sz ? TK_STRING : 0;
    }
    if (strcmp(pSc->szTok, "__PATH__") == 0) {
        const krvScanInput_t *pIn = pSc->apInputs[pSc->nDepth];
        char szDir[SYS_PATH_MAX] = "";
        const char *pSlash = strrchr(pIn->szPath, '/');
        if (pSlash) {
            size_t n = static_cast<size_t>(pSlash - pIn->szPath);
            if (n >= sizeof(szDir))
                n = sizeof(szDir) - 1;
            memcpy(szDir, pIn->szPath, n);
            szDir[n] = '\0';
        }
        pVal->sz = strdup(szDir);
        return pVal->sz ? TK_STRING : 0;
    }
    if (strcmp(pSc->szTok, "__FUNCTION__") == 0) {
        pVal->sz = strdup(pSc->szFuncName ? pSc->szFuncName : "");
        return pVal->sz ? TK_STRING : 0;
    }
    pVal->sz = strdup(pSc->szTok);
    return pVal->sz ? TK_IDENT : 0;
}

// Operators and punctuation, longest match first.
static int scanOperator(krvScanner_t *pSc)
{
    struct Op {
        const char *sz;
        int nToken;
    };
    static const Op s_aOps[] = {
        {">>=", TK_SHR_AS}, {"<<=", TK_SHL_AS}, {"++", TK_INC},     {"+=", TK_ADD_AS}, {"--", TK_DEC},
        {"-=", TK_SUB_AS},  {"*=", TK_MUL_AS},  {"/=", TK_DIV_AS},  {"%=", TK_MOD_AS}, {"==", TK_EQ},
        {"!=", TK_NE},      {">=", TK_GE},      {">>", TK_SHR},     {"<=", TK_LE},     {"<<", TK_SHL},
        {"&&", TK_ANDAND},  {"&=", TK_AND_AS},  {"||", TK_OROR},    {"|=", TK_OR_AS},  {"^=", TK_XOR_AS},
        {"::", TK_SCOPE},   {"..", TK_RANGE},
    };
    const char *p = pSc->szLine + pSc->nPos;
    for (const Op &op : s_aOps) {
        size_t n = strlen(op.sz);
        if (strncmp(p, op.sz, n) == 0) {
            for (size_t i = 0; i < n; i++)
                krvScanTokAdd(pSc, p[i]);
            pSc->nPos += static_cast<int>(n);
            return op.nToken;
        }
    }
    if (strchr("+-*/%=!~><&|^?:.{}[]();,", *p) && *p != '\0') {
        krvScanTokAdd(pSc, *p);
        pSc->nPos++;
        return static_cast<unsigned char>(*p);
    }
    return 0;
}

int krvScanNextToken(krvScanner_t *pSc, krvTokenValue_t *pVal)
{
    pVal->sz = nullptr;
    pVal->n = 0;
    pVal->d = 0.0;
    while (!pSc->bEnded) {
        if (pSc->nPos >= pSc->nLen) {
            if (!krvScanReadLine(pSc) && !krvScanEndOfInput(pSc))
                break;
            continue;
        }
        char c = pSc->szLine[pSc->nPos];
        if (c == ' ' || c == '\t') {
            pSc->nPos++;
            continue;
        }
        krvScanTokReset(pSc);
        if (c == '/' && pSc->szLine[pSc->nPos + 1] == '/') {
            skipLineComment(pSc);
            continue;
        }
        if (c == '/' && pSc->szLine[pSc->nPos + 1] == '*') {
            skipBlockComment(pSc);
            continue;
        }
        if (c == '#') {
            krvScanDirective(pSc);
            continue;
        }
        unsigned char uc = static_cast<unsigned char>(c);
        if (isIdStart(uc))
            return scanIdentifier(pSc, pVal);
        if (isdigit(uc))
            return krvScanNumber(pSc, pVal);
        if (c == '\'')
            return krvScanCharConst(pSc, pVal);
        if (c == '"') {
            int nTok = krvScanString(pSc, pVal);
            if (nTok)
                return nTok;
            continue;   // dropped after error 104
        }
        if (c == '$') {
            if (!isdigit(static_cast<unsigned char>(pSc->szLine[pSc->nPos + 1]))) {
                pSc->nPos++;
                return TK_BADCHAR;   // like an unknown character
            }
            krvScanTokAdd(pSc, pSc->szLine[pSc->nPos++]);
            krvScanTokAdd(pSc, pSc->szLine[pSc->nPos++]);
            while (pSc->nPos < pSc->nLen && isIdChar(static_cast<unsigned char>(pSc->szLine[pSc->nPos])))
                krvScanTokAdd(pSc, pSc->szLine[pSc->nPos++]);
            pVal->sz = strdup(pSc->szTok);
            return pVal->sz ? TK_DOLLAR : 0;
        }
        int nTok = scanOperator(pSc);
        if (nTok)
            return nTok;
        // A character that starts no token: the parser reports it as a
        // syntax error at this line rather than silently ignoring the rest.
        pSc->nPos++;
        return TK_BADCHAR;
    }
    pSc->bEnded = 1;
    return 0;
}
