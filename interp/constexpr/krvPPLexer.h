// Tokens of the #if condition lexer, shared by the lexer and the grammar.
#pragma once
#include <cstdint>

struct krvAPTN_t;
struct krvPPLexer_t;

// Value of the last token (and of the grammar's symbols).
union krvPPToken_t {
    int64_t nInt;          // KRV_PPT_INT
    char *szStr;           // KRV_PPT_STR, KRV_PPT_IDENT: malloc'ed, owned by the receiver
    krvAPTN_t *pNode;      // grammar: an expression
    void *pList;           // grammar: a qualification (krvNameList_t *)
};

// Token codes; single-character operators are their own character code,
// 0 is the end of the token stream.
enum krvPPTokenCode_t {
    KRV_PPT_INT = 258,
    KRV_PPT_STR = 259,
    KRV_PPT_IDENT = 260,
    KRV_PPT_SCOPE = 261,   // "::"
    KRV_PPT_OR = 262,      // "||"
    KRV_PPT_AND = 263,     // "&&"
    KRV_PPT_NE = 264,      // "!="
    KRV_PPT_EQ = 265,      // "=="
    KRV_PPT_SHL = 266,     // "<<"
    KRV_PPT_SHR = 267,     // ">>"
    KRV_PPT_LE = 268,      // "<="
    KRV_PPT_GE = 269,      // ">="
};

// Next token of the condition; its value goes to *pTok.
int krvPPLex(krvPPLexer_t *pLex, krvPPToken_t *pTok);
