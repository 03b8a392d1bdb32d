// Lexer of #if conditions.
#include "constexpr/krvPPCond.h"
#include "constexpr/krvPPLexer.h"

#include "model/krvDiag.h"
#include "model/krvStrBuf.h"

#include <cctype>
#include <cstring>

void krvInitPPLexer(krvPPLexer_t *pLex, const char *pText)
{
    if (pLex == nullptr || pText == nullptr) {
        krvDebug("\"%s\" line %d function %s() get nil argument!\n", __FILE_NAME__, __LINE__, __func__);
        return;
    }
    pLex->pText = pText;
    pLex->nPos = 0;
    pLex->bEnded = 0;
}

static int endStream(krvPPLexer_t *pLex)
{
    pLex->bEnded = 1;
    return 0;
}

static int isIdentStart(int c)
{
    return isalpha(c) || c == '_';
}

static int isIdentChar(int c)
{
    return isalnum(c) || c == '_';
}

static int hexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static int lexNumber(krvPPLexer_t *pLex, krvPPToken_t *pTok)
{
    const unsigned char *p = (const unsigned char *)pLex->pText;
    size_t i = pLex->nPos;
    uint64_t v = 0;   // wraps like the integer arithmetic of the language
    if (p[i] == '0' && (p[i + 1] == 'x' || p[i + 1] == 'X')) {
        i += 2;
        for (int d; (d = hexValue(p[i])) >= 0; i++)
            v = v * 16u + (uint64_t)d;
    } else {
        for (; isdigit(p[i]); i++)
            v = v * 10u + (uint64_t)(p[i] - '0');
    }
    pLex->nPos = i;
    if (isalpha(p[i])) {
        krvParseError(201, pLex->szFile, pLex->nLine, "illegal character \"%c\" after a number", p[i]);
        return endStream(pLex);
    }
    pTok->nInt = (int64_t)v;
    return KRV_PPT_INT;
}

static int lexString(krvPPLexer_t *pLex, krvPPToken_t *pTok)
{
    const char *p = pLex->pText;
    size_t i = pLex->nPos + 1;   // after the opening quote
    krvStrBuf_t sb;
    if (krvStrBufInit(&sb) != 0)
        return endStream(pLex);
    int bOk = 1;
    while (p[i] != '\0' && p[i] != '"') {
        char c = p[i];
        if (c == '\\' && p[i + 1] != '\0') {
            char e = p[i + 1];
            char r = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == '"' ? '"' : 0;
            if (r != 0) {
                bOk = krvStrBufAddChar(&sb, r) == 0;
            } else {
                bOk = krvStrBufAddChar(&sb, c) == 0 && krvStrBufAddChar(&sb, e) == 0;
            }
            i += 2;
        } else {
            bOk = krvStrBufAddChar(&sb, c) == 0;
            i++;
        }
        if (!bOk)
            break;
    }
    if (!bOk) {
        krvError("out of memory in a condition string\n");
        krvStrBufFree(&sb);
        return endStream(pLex);
    }
    if (p[i] != '"') {
        char szShort[KRV_STRBUF_SHORT_SIZE];
        krvParseError(104, pLex->szFile, pLex->nLine, "incomplete string \"%s", krvStrBufShort(&sb, szShort));
        krvStrBufFree(&sb);
        pLex->nPos = i;
        return endStream(pLex);
    }
    pLex->nPos = i + 1;
    pTok->szStr = krvStrBufDetach(&sb);
    krvStrBufFree(&sb);
    if (pTok->szStr == nullptr)
        return endStream(pLex);
    return KRV_PPT_STR;
}

static int lexIdent(krvPPLexer_t *pLex, krvPPToken_t *pTok)
{
    const unsigned char *p = (const unsigned char *)pLex->pText;
    size_t nStart = pLex->nPos, i = nStart;
    while (isIdentChar(p[i]))
        i++;
    size_t nLen = i - nStart;
    if (nLen > KRV_PP_IDENT_MAX)
        nLen = KRV_PP_IDENT_MAX;
    pLex->nPos = i;
    pTok->szStr = strndup(pLex->pText + nStart, nLen);
    if (pTok->szStr == nullptr)
        return endStream(pLex);
    return KRV_PPT_IDENT;
}

int krvPPLex(krvPPLexer_t *pLex, krvPPToken_t *pTok)
{
    if (pLex->bEnded || pLex->pText == nullptr)
        return 0;
    const unsigned char *p = (const unsigned char *)pLex->pText;
    while (p[pLex->nPos] == ' ' || p[pLex->nPos] == '\t' || p[pLex->nPos] == '\r' || p[pLex->nPos] == '\n')
        pLex->nPos++;
    int c = p[pLex->nPos];
    if (c == '\0')
        return endStream(pLex);
    if (isIdentStart(c))
        return lexIdent(pLex, pTok);
    if (isdigit(c))
        return lexNumber(pLex, pTok);
    if (c == '"')
        return lexString(pLex, pTok);
    if (c == '\'') {
        // A quote, one character, and one more taken as the closing quote.
        if (p[pLex->nPos + 1] == '\0' || p[pLex->nPos + 2] == '\0')
            return endStream(pLex);
        pTok->nInt = p[pLex->nPos + 1];
        pLex->nPos += 3;
        return KRV_PPT_INT;
    }

    static const struct {
        char sz[3];
        int nTok;
    } kTwo[] = {
        {"::", KRV_PPT_SCOPE}, {"||", KRV_PPT_OR}, {"&&", KRV_PPT_AND}, {"!=", KRV_PPT_NE},
        {"==", KRV_PPT_EQ},    {"<<", KRV_PPT_SHL}, {">>", KRV_PPT_SHR}, {"<=", KRV_PPT_LE},
        {">=", KRV_PPT_GE},
    };
    for (const auto &t : kTwo) {
        if (c == t.sz[0] && p[pLex->nPos + 1] == (unsigned char)t.sz[1]) {
            pLex->nPos += 2;
            return t.nTok;
        }
    }
    if (strchr("%()*+-/?^~!&:<>|", c) != nullptr) {
        pLex->nPos++;
        return c;
    }
    // A single '=' or any other character ends the token stream.
    return endStream(pLex);
}
