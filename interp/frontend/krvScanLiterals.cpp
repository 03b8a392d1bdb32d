// Literals of the scanner: integer and floating constants, character
// constants and strings, with their errors (104, 105, 106, 201).
#include "krvScanner.h"
#include "krvGrammar.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return (tolower(static_cast<unsigned char>(c)) - 'a') + 10;
}

int krvScanNumber(krvScanner_t *pSc, krvTokenValue_t *pVal)
{
    const char *L = pSc->szLine;
    uint64_t v = 0;   // no overflow checks: the value wraps
    if (L[pSc->nPos] == '0' && (L[pSc->nPos + 1] == 'x' || L[pSc->nPos + 1] == 'X') &&
        isxdigit(static_cast<unsigned char>(L[pSc->nPos + 2]))) {
        krvScanTokAdd(pSc, L[pSc->nPos++]);
        krvScanTokAdd(pSc, L[pSc->nPos++]);
        while (isxdigit(static_cast<unsigned char>(L[pSc->nPos]))) {
            v = v * 16u + static_cast<uint64_t>(hexValue(L[pSc->nPos]));
            krvScanTokAdd(pSc, L[pSc->nPos++]);
        }
    } else {
        std::string num;
        while (isdigit(static_cast<unsigned char>(L[pSc->nPos]))) {
            v = v * 10u + static_cast<uint64_t>(L[pSc->nPos] - '0');
            num += L[pSc->nPos];
            krvScanTokAdd(pSc, L[pSc->nPos++]);
        }
        if (L[pSc->nPos] == '.' && L[pSc->nPos + 1] != '.') {
            num += '.';
            krvScanTokAdd(pSc, L[pSc->nPos++]);
            while (isdigit(static_cast<unsigned char>(L[pSc->nPos]))) {
                num += L[pSc->nPos];
                krvScanTokAdd(pSc, L[pSc->nPos++]);
            }
            if (L[pSc->nPos] == 'f' || L[pSc->nPos] == 'F')
                krvScanTokAdd(pSc, L[pSc->nPos++]);
            pVal->d = strtod(num.c_str(), nullptr);
            return TK_FLOAT;
        }
    }
    pVal->n = static_cast<int64_t>(v);
    if (isalpha(static_cast<unsigned char>(L[pSc->nPos]))) {
        char c = L[pSc->nPos++];
        krvScanError(pSc, 201, "illegal character \"%c\" after a number", c);
    }
    return TK_INT;
}

// Code of a character after a backslash, or -1.
static int escapeCode(char c)
{
    switch (c) {
    case '"': return 34;
    case '\'': return 39;
    case '?': return 63;
    case '\\': return 92;
    case 'a': return 7;
    case 'b': return 8;
    case 'e': return 27;
    case 'f': return 12;
    case 'n': return 10;
    case 'r': return 13;
    case 't': return 9;
    case 'v': return 11;
    default: return -1;
    }
}

int krvScanCharConst(krvScanner_t *pSc, krvTokenValue_t *pVal)
{
    const char *L = pSc->szLine;
    std::string body;
    pVal->n = 0;
    krvScanTokAdd(pSc, L[pSc->nPos++]);
    for (;;) {
        if (pSc->nPos >= pSc->nLen) {
            krvScanError(pSc, 105, "Incomplete character literal %s", pSc->szTok);
            return TK_INT;
        }
        char c = L[pSc->nPos];
        if (c == '\'') {
            krvScanTokAdd(pSc, c);
            pSc->nPos++;
            break;
        }
        if (c == '\\') {
            if (pSc->nPos + 1 >= pSc->nLen) {
                krvScanTokAdd(pSc, c);
                pSc->nPos++;
                krvScanError(pSc, 105, "Incomplete character literal %s", pSc->szTok);
                return TK_INT;
            }
            body += c;
            krvScanTokAdd(pSc, c);
            pSc->nPos++;
            c = L[pSc->nPos];
        }
        body += c;
        krvScanTokAdd(pSc, c);
        pSc->nPos++;
    }
    if (body.size() == 1 && body[0] != '\\') {
        pVal->n = static_cast<unsigned char>(body[0]);
        return TK_INT;
    }
    if (body.size() == 2 && body[0] == '\\' && escapeCode(body[1]) >= 0) {
        pVal->n = escapeCode(body[1]);
        return TK_INT;
    }
    if (body.size() >= 2 && body[0] == '\\' &&
        body.find_first_not_of("0123456789", 1) == std::string::npos) {
        uint64_t v = 0;
        for (size_t i = 1; i < body.size() && v < 256; i++)
            v = v * 10u + static_cast<uint64_t>(body[i] - '0');
        if (v >= 256) {
            krvScanError(pSc, 106, "Incorrect character literal value %s", pSc->szTok);
            return TK_INT;
        }
        pVal->n = static_cast<int64_t>(v);
        return TK_INT;
    }
    krvScanError(pSc, 106, "Incorrect character literal format %s", pSc->szTok);
    return TK_INT;
}

static void reportIncomplete(krvScanner_t *pSc, const std::string &s)
{
    char szShort[64];
    krvScanShortText(s.c_str(), szShort, sizeof(szShort));
    krvScanError(pSc, 104, "incomplete string \"%s", szShort);
}

int krvScanString(krvScanner_t *pSc, krvTokenValue_t *pVal)
{
    std::string s;
    krvScanTokAdd(pSc, pSc->szLine[pSc->nPos++]);
    for (;;) {
        const char *L = pSc->szLine;
        if (pSc->nPos >= pSc->nLen) {
            reportIncomplete(pSc, s);
            pSc->nPos = pSc->nLen;   // the string is dropped; go on with the next line
            return 0;
        }
        char c = L[pSc->nPos];
        if (c == '"') {
            krvScanTokAdd(pSc, c);
            pSc->nPos++;
            break;
        }
        if (c != '\\') {
            s += c;
            krvScanTokAdd(pSc, c);
            pSc->nPos++;
            continue;
        }
        if (pSc->nPos + 1 >= pSc->nLen) {
            // A backslash at the end of the line continues the string.
            if (!krvScanReadLine(pSc)) {
                reportIncomplete(pSc, s);
                return 0;
            }
            continue;
        }
        char n = L[pSc->nPos + 1];
        krvScanTokAdd(pSc, c);
        krvScanTokAdd(pSc, n);
        pSc->nPos += 2;
        switch (n) {
        case '"': s += '"'; break;
        case '\\': s += '\\'; break;
        case 'n': s += '\n'; break;
        case 't': s += '\t'; break;
        case 'r': s += '\r'; break;
        default:
            s += c;
            s += n;
            break;
        }
    }
    char *p = static_cast<char *>(malloc(s.size() + 1));
    if (!p)
        return 0;
    memcpy(p, s.c_str(), s.size() + 1);
    pVal->sz = p;
    return TK_STRING;
}
