/* Grammar of #if / #elif conditions. Binding from tightest to loosest:
 * unary - ! ~ +;  * / %;  + -;  <= >=;  < > << >>;  == !=;  &;  ^;  |;
 * && || (one level);  ? : (left-associative). All binary levels are
 * left-associative. */
%define api.prefix {krvPPCond}
%define api.pure full
%define api.value.type {union krvPPToken_t}
%param {krvPPCondCtx_t *pCtx}

%code requires {
#include "constexpr/krvPPLexer.h"
#include "constexpr/krvPPCond.h"
struct krvPPCondCtx_t;
// The value union is plain data, so the parser stack may grow (200 entries
// doubling up to 10000) by copying.
#define KRVPPCONDSTYPE_IS_TRIVIAL 1
}

%code {
#include "model/krvAPTN.h"
#include "model/krvDiag.h"
#include "model/krvNameList.h"

#include <algorithm>
#include <cstdlib>

#include "constexpr/krvConstExpr.h"

struct krvPPCondCtx_t {
    krvPPLexer_t lex;
    krvAPTN_t *pTree;
    int nErrors;
    int bReported;         // the error that ends the parse has been reported already
};

static int krvPPCondlex(KRVPPCONDSTYPE *pVal, krvPPCondCtx_t *pCtx)
{
    return krvPPLex(&pCtx->lex, pVal);
}

static void krvPPConderror(krvPPCondCtx_t *pCtx, const char *szMsg)
{
    pCtx->nErrors++;
    if (krvGetLastDiagId() == 0 && !pCtx->bReported)
        krvError("\"%s\": (preprocessor) %s at or near line %d\n", pCtx->lex.szFile, szMsg, pCtx->lex.nLine);
}

// Node builders. Each takes over its operands: on failure they are freed
// and NULL comes back.
static krvAPTN_t *newNode(krvPPCondCtx_t *pCtx, int nKind)
{
    return krvNewAPTN(nKind, pCtx->lex.nFileIdx, pCtx->lex.nLine);
}

static krvAPTN_t *mkInt(krvPPCondCtx_t *pCtx, int64_t n)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_intConst);
    if (p != nullptr)
        p->u.nIntConst = n;
    return p;
}

static krvAPTN_t *mkStr(krvPPCondCtx_t *pCtx, char *sz)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_strConst);
    if (p == nullptr) {
        free(sz);
        return nullptr;
    }
    p->u.szStrConst = sz;
    return p;
}

static krvAPTN_t *mkRef(krvPPCondCtx_t *pCtx, krvNameList_t *pQual, char *szName)
{
    krvAPTN_t *p = newNode(pCtx, krvAPTNType_cidRef);
    if (p == nullptr) {
        krvFreeNameList(pQual);
        free(szName);
        return nullptr;
    }
    p->u.varRef.szName = szName;
    p->u.varRef.pNsRes = pQual;
    return p;
}

// Depth of an operand while the tree is built: kept in the node's evaluator
// argument, which only the evaluator's preparation writes (a condition's
// nodes never reach it). A leaf counts 1.
static int depthOf(const krvAPTN_t *p)
{
    return p == nullptr ? 0 : (p->nKind == krvAPTNType_opExpr ? p->nEvalArg : 1);
}

static krvAPTN_t *mkOp(krvPPCondCtx_t *pCtx, int nOp, krvAPTN_t *pA, krvAPTN_t *pB, krvAPTN_t *pC = nullptr)
{
    int nDepth = 1 + std::max(depthOf(pA), std::max(depthOf(pB), depthOf(pC)));
    krvAPTN_t *p = nDepth > KRV_CONST_EXPR_DEPTH_MAX ? nullptr : newNode(pCtx, krvAPTNType_opExpr);
    if (p == nullptr) {
        krvFreeAPTN(pA);
        krvFreeAPTN(pB);
        krvFreeAPTN(pC);
        if (nDepth > KRV_CONST_EXPR_DEPTH_MAX) {
            // Refused while it is built, before the tree can grow any deeper;
            // the parse then ends as out of memory, which is not reported again.
            if (krvGetLastDiagId() == 0 && !pCtx->bReported)
                krvError("\"%s\": (preprocessor) condition nested too deeply (more than %d levels) at or near line %d\n",
                         pCtx->lex.szFile, KRV_CONST_EXPR_DEPTH_MAX, pCtx->lex.nLine);
            pCtx->bReported = 1;
        }
        return nullptr;
    }
    p->nEvalArg = nDepth;
    p->u.opExpr.nOp = nOp;
    p->u.opExpr.opd1 = pA;
    p->u.opExpr.opd2 = pB;
    if (pC != nullptr)
        pB->next = pC;       // "? :": the third operand follows the second
    return p;
}

// Adds a qualifier to a qualification (taking over szName).
static krvNameList_t *addQual(krvNameList_t *pQual, char *szName)
{
    krvNameList_t *pNew = pQual == nullptr ? krvNewNameList(szName, nullptr) : krvNameListAppend(pQual, szName);
    free(szName);
    if (pNew == nullptr)
        krvFreeNameList(pQual);
    return pNew;
}

#define NODE(dst, expr) do { if (((dst) = (expr)) == nullptr) YYNOMEM; } while (0)
}

%token <nInt> PPT_INT 258
%token <szStr> PPT_STR 259
%token <szStr> PPT_IDENT 260
%token PPT_SCOPE 261 PPT_OR 262 PPT_AND 263 PPT_NE 264 PPT_EQ 265
%token PPT_SHL 266 PPT_SHR 267 PPT_LE 268 PPT_GE 269

%type <pNode> expr name
%type <pList> qual

%destructor { free($$); } <szStr>
%destructor { krvFreeAPTN($$); } <pNode>
%destructor { krvFreeNameList((krvNameList_t *)$$); } <pList>

%left '?' ':'
%left PPT_OR PPT_AND
%left '|'
%left '^'
%left '&'
%left PPT_EQ PPT_NE
%left '<' '>' PPT_SHL PPT_SHR
%left PPT_LE PPT_GE
%left '+' '-'
%left '*' '/' '%'
%precedence UNARY

%%

condition
    : expr                       { pCtx->pTree = $1; }
    ;

expr
    : PPT_INT                    { NODE($$, mkInt(pCtx, $1)); }
    | PPT_STR                    { NODE($$, mkStr(pCtx, $1)); }
    | name                       { $$ = $1; }
    | '(' expr ')'               { $$ = $2; }
    | '+' expr %prec UNARY       { $$ = $2; }
    | '-' expr %prec UNARY       { NODE($$, mkOp(pCtx, KRV_OP_NEG, $2, nullptr)); }
    | '!' expr %prec UNARY       { NODE($$, mkOp(pCtx, KRV_OP_NOT, $2, nullptr)); }
    | '~' expr %prec UNARY       { NODE($$, mkOp(pCtx, KRV_OP_BNOT, $2, nullptr)); }
    | expr '*' expr              { NODE($$, mkOp(pCtx, KRV_OP_MUL, $1, $3)); }
    | expr '/' expr              { NODE($$, mkOp(pCtx, KRV_OP_DIV, $1, $3)); }
    | expr '%' expr              { NODE($$, mkOp(pCtx, KRV_OP_MOD, $1, $3)); }
    | expr '+' expr              { NODE($$, mkOp(pCtx, KRV_OP_ADD, $1, $3)); }
    | expr '-' expr              { NODE($$, mkOp(pCtx, KRV_OP_SUB, $1, $3)); }
    | expr PPT_LE expr           { NODE($$, mkOp(pCtx, KRV_OP_LE, $1, $3)); }
    | expr PPT_GE expr           { NODE($$, mkOp(pCtx, KRV_OP_GE, $1, $3)); }
    | expr '<' expr              { NODE($$, mkOp(pCtx, KRV_OP_LT, $1, $3)); }
    | expr '>' expr              { NODE($$, mkOp(pCtx, KRV_OP_GT, $1, $3)); }
    | expr PPT_SHL expr          { NODE($$, mkOp(pCtx, KRV_OP_SHL, $1, $3)); }
    | expr PPT_SHR expr          { NODE($$, mkOp(pCtx, KRV_OP_SHR, $1, $3)); }
    | expr PPT_EQ expr           { NODE($$, mkOp(pCtx, KRV_OP_EQ, $1, $3)); }
    | expr PPT_NE expr           { NODE($$, mkOp(pCtx, KRV_OP_NE, $1, $3)); }
    | expr '&' expr              { NODE($$, mkOp(pCtx, KRV_OP_BAND, $1, $3)); }
    | expr '^' expr              { NODE($$, mkOp(pCtx, KRV_OP_BXOR, $1, $3)); }
    | expr '|' expr              { NODE($$, mkOp(pCtx, KRV_OP_BOR, $1, $3)); }
    | expr PPT_AND expr          { NODE($$, mkOp(pCtx, KRV_OP_LAND, $1, $3)); }
    | expr PPT_OR expr           { NODE($$, mkOp(pCtx, KRV_OP_LOR, $1, $3)); }
    | expr '?' expr ':' expr     { NODE($$, mkOp(pCtx, KRV_OP_COND, $1, $3, $5)); }
    ;

name
    : PPT_IDENT                  { NODE($$, mkRef(pCtx, nullptr, $1)); }
    | qual PPT_IDENT             { NODE($$, mkRef(pCtx, (krvNameList_t *)$1, $2)); }
    ;

qual
    : PPT_SCOPE                  { if (($$ = krvNewNameList("", nullptr)) == nullptr) YYNOMEM; }
    | PPT_IDENT PPT_SCOPE        { if (($$ = addQual(nullptr, $1)) == nullptr) YYNOMEM; }
    | qual PPT_IDENT PPT_SCOPE   { if (($$ = addQual((krvNameList_t *)$1, $2)) == nullptr) YYNOMEM; }
    ;

%%

static_assert((int)PPT_INT == (int)KRV_PPT_INT &&
              (int)PPT_STR == (int)KRV_PPT_STR &&
              (int)PPT_IDENT == (int)KRV_PPT_IDENT &&
              (int)PPT_SCOPE == (int)KRV_PPT_SCOPE &&
              (int)PPT_OR == (int)KRV_PPT_OR &&
              (int)PPT_AND == (int)KRV_PPT_AND &&
              (int)PPT_NE == (int)KRV_PPT_NE &&
              (int)PPT_EQ == (int)KRV_PPT_EQ &&
              (int)PPT_SHL == (int)KRV_PPT_SHL &&
              (int)PPT_SHR == (int)KRV_PPT_SHR &&
              (int)PPT_LE == (int)KRV_PPT_LE &&
              (int)PPT_GE == (int)KRV_PPT_GE,
              "lexer and grammar agree on the token codes");

int krvPPParseCondAt(const char *pText, const char *szFile, uint16_t nFileIdx, int32_t nLine,
                     krvAPTN_t **ppTree)
{
    krvPPCondCtx_t ctx{};
    ctx.lex.szFile = szFile != nullptr ? szFile : "";
    ctx.lex.nFileIdx = nFileIdx;
    ctx.lex.nLine = nLine;
    krvInitPPLexer(&ctx.lex, pText);
    int rc = krvPPCondparse(&ctx);
    if (rc != 0 && ctx.nErrors == 0)
        ctx.nErrors = 1;
    if (ctx.nErrors != 0) {
        krvFreeAPTN(ctx.pTree);
        ctx.pTree = nullptr;
    }
    if (ppTree != nullptr)
        *ppTree = ctx.pTree;
    else
        krvFreeAPTN(ctx.pTree);
    return ctx.nErrors;
}

int krvPPParseCond(const char *pText, krvAPTN_t **ppTree)
{
    return krvPPParseCondAt(pText, "", 0, 0, ppTree);
}
