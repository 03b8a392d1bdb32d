/* Main grammar of the script language. The actions hand their pieces to the
 * tree builders (krvParseTree.cpp, krvParseStmt.cpp) and the declaration
 * rules (krvParseDecl.cpp, krvParseFunc.cpp). There is no error recovery:
 * the first syntax error ends the parse. */

%code top {
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000
}

%code requires {
#include <cstdint>
#include "krvParseCtx.h"
}

%code provides {
int krvplex(KRVPSTYPE *pVal, krvParseCtx_t *pCtx);
void krvperror(krvParseCtx_t *pCtx, const char *szMsg);
}

%code {
#include <cstdlib>
}

%define api.prefix {krvp}
%define api.pure full
%define parse.error simple
%param {krvParseCtx_t *pCtx}

%union {
    char *sz;
    int64_t n;
    double d;
    int32_t op;
    krvAPTN_t *node;
    krvVar_t *var;
    krvNameList_t *names;
    krvFuncInfo_t *func;
    krvPDecl_t *decl;
    krvPType_t *type;
    krvPCaseGroups_t *groups;
    krvCaseLabel_t *label;
}

%token <sz> TK_IDENT TK_DOLLAR TK_STRING
%token <n> TK_INT
%token <d> TK_FLOAT
%token TK_CONST TK_VAR TK_VOID TK_IF TK_ELSE TK_WHILE TK_FOR TK_DO TK_GOTO TK_RETURN
%token TK_CONTINUE TK_BREAK TK_EVAL TK_EXIT TK_SWITCH TK_CASE TK_TAG TK_DEFAULT
%token TK_NAMESPACE TK_STRUCT
%token TK_INC TK_DEC TK_ADD_AS TK_SUB_AS TK_MUL_AS TK_DIV_AS TK_MOD_AS TK_SHR_AS TK_SHL_AS
%token TK_OR_AS TK_AND_AS TK_XOR_AS
%token TK_EQ TK_NE TK_GE TK_LE TK_SHR TK_SHL TK_ANDAND TK_OROR TK_SCOPE TK_RANGE
/* A character that starts no token: no rule accepts it, so it is reported
 * as a syntax error where it stands. */
%token TK_BADCHAR

%precedence LOWER_THAN_ELSE
%precedence TK_ELSE

%left TK_OROR
%left TK_ANDAND
%left '|'
%left '^'
%left '&'
%left TK_EQ TK_NE
%left '>' '<' TK_GE TK_LE
%left TK_SHR TK_SHL
%left '+' '-'
%left '*' '/' '%'

%type <node> expr cond bexpr unary primary ref elems elem idxs idx call args expr_list elist
%type <node> pdims pdim dims literal
%type <node> stmt ustmt stmts stmts_opt for_init for_cond
%type <names> qual tags
%type <op> assign_op
%type <var> declarator param params param_list
%type <decl> decl_list const_decl var_decl mvars fvars
%type <type> struct_type
%type <func> func_def mfuncs
%type <groups> case_groups
%type <label> labels label

%destructor { free($$); } <sz>
%destructor { krvFreeAPTN($$); } <node>
%destructor { krvFreeNameList($$); } <names>
%destructor { krvFreeVarList($$); } <var>
%destructor { krvPFreeDecl($$); } <decl>
%destructor { krvPFreeType($$); } <type>
%destructor { krvPFreeFuncList($$); } <func>
%destructor { krvPFreeGroups($$); } <groups>
%destructor { krvPFreeLabels($$); } <label>

%start script

%%

script
    : items
    ;

items
    : item
    | items item
    ;

items_opt
    : %empty
    | items
    ;

item
    : const_decl          { krvPEnterConsts(pCtx, $1); }
    | var_decl            { krvPEnterVars(pCtx, $1); }
    | func_def            { krvPEnterFunction(pCtx, $1); }
    | ns_block
    | struct_decl
    ;

ns_block
    : TK_NAMESPACE TK_IDENT { krvPEnterNamespace(pCtx, $2); } '{' items_opt '}'
                          { krvPLeaveNamespace(pCtx); free($2); }
    ;

/* ---- declarations ------------------------------------------------------ */

const_decl
    : TK_CONST decl_list ';'              { $$ = $2; }
    ;

var_decl
    : TK_VAR decl_list ';'                { $$ = krvPVarDecl(pCtx, NULL, $2); }
    | struct_type decl_list ';'           { $$ = krvPVarDecl(pCtx, $1, $2); }
    ;

struct_type
    : TK_STRUCT TK_IDENT                  { $$ = krvPType($2, NULL); }
    | TK_STRUCT qual TK_IDENT             { $$ = krvPType($3, $2); }
    ;

decl_list
    : declarator                          { $$ = krvPDeclAdd(NULL, $1); }
    | declarator '=' expr                 { $$ = krvPDeclAdd(NULL, krvPSetInit($1, $3)); }
    | decl_list ',' declarator            { $$ = krvPDeclAdd($1, $3); }
    | decl_list ',' declarator '=' expr   { $$ = krvPDeclAdd($1, krvPSetInit($3, $5)); }
    ;

declarator
    : TK_IDENT dims                       { $$ = krvPDeclarator(pCtx, $1, $2); }
    ;

dims
    : %empty                              { $$ = NULL; }
    | dims '[' expr ']'                   { $$ = krvPChain($1, $3); }
    | dims '[' expr TK_RANGE expr ']'     { $$ = krvPChain($1, krvPSubRange(pCtx, $3, $5)); }
    ;

struct_decl
    : TK_STRUCT TK_IDENT '{' mvars mfuncs '}' ';'
                                          { krvPEnterStruct(pCtx, $2, $4, $5); }
    ;

mvars
    : %empty                              { $$ = NULL; }
    | mvars var_decl                      { $$ = krvPDeclMerge($1, $2); }
    ;

mfuncs
    : %empty                              { $$ = NULL; }
    | mfuncs func_def                     { $$ = krvPFuncListAdd($1, $2); }
    ;

/* ---- functions --------------------------------------------------------- */

func_def
    : TK_IDENT { krvPFuncName(pCtx, $1); } '(' params ')' '{' fconsts fvars stmts_opt '}'
                                          { $$ = krvPFunction(pCtx, $1, $4, $8, $9); }
    ;

params
    : %empty                              { $$ = NULL; }
    | TK_VOID                             { $$ = NULL; }
    | param_list
    ;

param_list
    : param                               { $$ = $1; }
    | param_list ',' param                { $$ = krvVarListAppend($1, $3); }
    ;

param
    : TK_IDENT pdims                      { $$ = krvPParam(pCtx, NULL, 0, $1, $2); }
    | '&' TK_IDENT pdims                  { $$ = krvPParam(pCtx, NULL, 1, $2, $3); }
    | struct_type TK_IDENT pdims          { $$ = krvPParam(pCtx, $1, 0, $2, $3); }
    | struct_type '&' TK_IDENT pdims      { $$ = krvPParam(pCtx, $1, 1, $3, $4); }
    ;

pdims
    : %empty                              { $$ = NULL; }
    | pdims pdim                          { $$ = krvPChain($1, $2); }
    ;

pdim
    : '[' ']'                             { $$ = krvPEmptyDim(pCtx); }
    | '[' expr ']'                        { $$ = $2; }
    | '[' expr TK_RANGE expr ']'          { $$ = krvPSubRange(pCtx, $2, $4); }
    ;

fconsts
    : %empty
    | fconsts const_decl                  { krvPCheckLocalConsts(pCtx, $2); }
    ;

fvars
    : %empty                              { $$ = NULL; }
    | fvars var_decl                      { $$ = krvPDeclMerge($1, $2); }
    ;

/* ---- statements -------------------------------------------------------- */

stmts_opt
    : %empty                              { $$ = NULL; }
    | stmts
    ;

stmts
    : stmt                                { $$ = $1; }
    | stmts stmt                          { $$ = krvAPTNAppend($1, $2); }
    ;

stmt
    : tags ustmt                          { $$ = krvPTagStmt($2, $1); }
    ;

tags
    : %empty                              { $$ = NULL; }
    | tags TK_TAG TK_IDENT ':'            { $$ = krvPTagAdd($1, $3); }
    ;

ustmt
    : '{' stmts_opt '}'                   { $$ = krvPCompound(pCtx, $2); }
    | ';'                                 { $$ = krvPStmt(pCtx, krvAPTNType_nullStmt); }
    | expr_list ';'                       { $$ = krvPExprStmt(pCtx, krvAPTNType_exprStmt, $1); }
    | TK_IF '(' expr_list ')' stmt %prec LOWER_THAN_ELSE
                                          { $$ = krvPIf(pCtx, $3, $5, NULL); }
    | TK_IF '(' expr_list ')' stmt TK_ELSE stmt
                                          { $$ = krvPIf(pCtx, $3, $5, $7); }
    | TK_WHILE '(' expr_list ')' stmt     { $$ = krvPLoop(pCtx, krvAPTNType_whileStmt, $3, $5); }
    | TK_DO stmt TK_WHILE '(' expr_list ')' ';'
                                          { $$ = krvPLoop(pCtx, krvAPTNType_doStmt, $5, $2); }
    | TK_FOR '(' for_init for_cond ')' stmt
                                          { $$ = krvPFor(pCtx, $3, $4, NULL, $6); }
    | TK_FOR '(' for_init for_cond expr_list ')' stmt
                                          { $$ = krvPFor(pCtx, $3, $4, $5, $7); }
    | TK_RETURN ';'                       { $$ = krvPExprStmt(pCtx, krvAPTNType_returnStmt, NULL); }
    | TK_RETURN expr_list ';'             { $$ = krvPExprStmt(pCtx, krvAPTNType_returnStmt, $2); }
    | TK_CONTINUE ';'                     { $$ = krvPStmt(pCtx, krvAPTNType_continueStmt); }
    | TK_BREAK ';'                        { $$ = krvPStmt(pCtx, krvAPTNType_breakStmt); }
    | TK_GOTO TK_IDENT ';'                { $$ = krvPGoto(pCtx, $2); }
    | TK_EVAL '(' expr_list ')' ';'       { $$ = krvPExprStmt(pCtx, krvAPTNType_evalStmt, $3); }
    | TK_EXIT '(' ')' ';'                 { $$ = krvPStmt(pCtx, krvAPTNType_exitStmt); }
    | TK_SWITCH '(' expr_list ')' '{' case_groups '}'
                                          { $$ = krvPSwitch(pCtx, $3, $6); }
    ;

for_init
    : ';'                                 { $$ = krvPStmt(pCtx, krvAPTNType_nullStmt); }
    | expr_list ';'                       { $$ = $1; }
    ;

for_cond
    : ';'                                 { $$ = NULL; }
    | expr_list ';'                       { $$ = $1; }
    ;

case_groups
    : labels stmts                        { $$ = krvPGroupAdd(NULL, $1, $2); }
    | case_groups labels stmts            { $$ = krvPGroupAdd($1, $2, $3); }
    ;

labels
    : label                               { $$ = $1; }
    | labels label                        { $$ = krvPLabelAdd($1, $2); }
    ;

label
    : TK_CASE literal ':'                 { $$ = krvPLabelLiteral(pCtx, $2); }
    | TK_CASE ref ':'                     { $$ = krvPLabelRef(pCtx, $2); }
    | TK_DEFAULT ':'                      { $$ = krvPLabelDefault(pCtx); }
    ;

literal
    : TK_INT                              { $$ = krvPIntConst(pCtx, $1); }
    | TK_FLOAT                            { $$ = krvPFloatConst(pCtx, $1); }
    | TK_STRING                           { $$ = krvPStrConst(pCtx, $1); }
    ;

/* ---- expressions ------------------------------------------------------- */

expr_list
    : elist                               { $$ = krvPExprList(pCtx, $1); }
    ;

elist
    : expr                                { $$ = $1; }
    | elist ',' expr                      { $$ = krvPChain($1, $3); }
    ;

expr
    : ref assign_op expr                  { $$ = krvPBinary(pCtx, $2, $1, $3); }
    | cond
    ;

assign_op
    : '='                                 { $$ = KRV_OP_ASSIGN; }
    | TK_ADD_AS                           { $$ = KRV_OP_ADD_ASSIGN; }
    | TK_SUB_AS                           { $$ = KRV_OP_SUB_ASSIGN; }
    | TK_MUL_AS                           { $$ = KRV_OP_MUL_ASSIGN; }
    | TK_DIV_AS                           { $$ = KRV_OP_DIV_ASSIGN; }
    | TK_MOD_AS                           { $$ = KRV_OP_MOD_ASSIGN; }
    | TK_SHR_AS                           { $$ = KRV_OP_SHR_ASSIGN; }
    | TK_SHL_AS                           { $$ = KRV_OP_SHL_ASSIGN; }
    | TK_OR_AS                            { $$ = KRV_OP_BOR_ASSIGN; }
    | TK_AND_AS                           { $$ = KRV_OP_BAND_ASSIGN; }
    | TK_XOR_AS                           { $$ = KRV_OP_BXOR_ASSIGN; }
    ;

cond
    : bexpr
    | bexpr '?' expr ':' cond             { $$ = krvPCond(pCtx, $1, $3, $5); }
    ;

bexpr
    : bexpr TK_OROR bexpr                 { $$ = krvPBinary(pCtx, KRV_OP_LOR, $1, $3); }
    | bexpr TK_ANDAND bexpr               { $$ = krvPBinary(pCtx, KRV_OP_LAND, $1, $3); }
    | bexpr '|' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_BOR, $1, $3); }
    | bexpr '^' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_BXOR, $1, $3); }
    | bexpr '&' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_BAND, $1, $3); }
    | bexpr TK_EQ bexpr                   { $$ = krvPBinary(pCtx, KRV_OP_EQ, $1, $3); }
    | bexpr TK_NE bexpr                   { $$ = krvPBinary(pCtx, KRV_OP_NE, $1, $3); }
    | bexpr '>' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_GT, $1, $3); }
    | bexpr '<' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_LT, $1, $3); }
    | bexpr TK_GE bexpr                   { $$ = krvPBinary(pCtx, KRV_OP_GE, $1, $3); }
    | bexpr TK_LE bexpr                   { $$ = krvPBinary(pCtx, KRV_OP_LE, $1, $3); }
    | bexpr TK_SHR bexpr                  { $$ = krvPBinary(pCtx, KRV_OP_SHR, $1, $3); }
    | bexpr TK_SHL bexpr                  { $$ = krvPBinary(pCtx, KRV_OP_SHL, $1, $3); }
    | bexpr '+' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_ADD, $1, $3); }
    | bexpr '-' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_SUB, $1, $3); }
    | bexpr '*' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_MUL, $1, $3); }
    | bexpr '/' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_DIV, $1, $3); }
    | bexpr '%' bexpr                     { $$ = krvPBinary(pCtx, KRV_OP_MOD, $1, $3); }
    | unary
    ;

unary
    : ref TK_INC                          { $$ = krvPUnary(pCtx, KRV_OP_POST_INC, $1); }
    | ref TK_DEC                          { $$ = krvPUnary(pCtx, KRV_OP_POST_DEC, $1); }
    | TK_INC ref                          { $$ = krvPUnary(pCtx, KRV_OP_PRE_INC, $2); }
    | TK_DEC ref                          { $$ = krvPUnary(pCtx, KRV_OP_PRE_DEC, $2); }
    | '+' unary                           { $$ = krvPUnary(pCtx, KRV_OP_POS, $2); }
    | '-' unary                           { $$ = krvPUnary(pCtx, KRV_OP_NEG, $2); }
    | '!' unary                           { $$ = krvPUnary(pCtx, KRV_OP_NOT, $2); }
    | '~' unary                           { $$ = krvPUnary(pCtx, KRV_OP_BNOT, $2); }
    | primary
    ;

primary
    : ref
    | '(' elist ')'                       { $$ = krvPParen(pCtx, $2); }
    | call
    | literal
    ;

call
    : ref '(' ')'                         { $$ = krvPCall(pCtx, $1, NULL); }
    | ref '(' args ')'                    { $$ = krvPCall(pCtx, $1, $3); }
    ;

args
    : expr                                { $$ = $1; }
    | args ',' expr                       { $$ = krvPChain($1, $3); }
    ;

ref
    : elems
    | qual elems                          { $$ = krvPQualify($2, $1); }
    | TK_DOLLAR                           { $$ = krvPDollar(pCtx, $1); }
    | qual TK_DOLLAR                      { $$ = krvPQualify(krvPDollar(pCtx, $2), $1); }
    ;

elems
    : elem
    | elems '.' elem                      { $$ = krvPAddMember(pCtx, $1, $3); }
    ;

elem
    : TK_IDENT idxs                       { $$ = krvPElement(pCtx, $1, $2); }
    ;

idxs
    : %empty                              { $$ = NULL; }
    | idxs idx                            { $$ = krvPChain($1, $2); }
    ;

idx
    : '[' expr ']'                        { $$ = $2; }
    | '[' expr TK_RANGE expr ']'          { $$ = krvPSubRange(pCtx, $2, $4); }
    ;

qual
    : TK_SCOPE                            { $$ = krvPQualAdd(NULL, NULL); }
    | TK_IDENT TK_SCOPE                   { $$ = krvPQualAdd(NULL, $1); }
    | qual TK_IDENT TK_SCOPE              { $$ = krvPQualAdd($1, $2); }
    ;

%%

int krvplex(KRVPSTYPE *pVal, krvParseCtx_t *pCtx)
{
    krvTokenValue_t v;
    int nTok = krvScanNextToken(pCtx->pScan, &v);
    switch (nTok) {
    case TK_IDENT:
    case TK_DOLLAR:
    case TK_STRING:
        pVal->sz = v.sz;
        break;
    case TK_INT:
        pVal->n = v.n;
        break;
    case TK_FLOAT:
        pVal->d = v.d;
        break;
    default:
        free(v.sz);
        break;
    }
    return nTok;
}

void krvperror(krvParseCtx_t *pCtx, const char *szMsg)
{
    pCtx->nSyntaxErrors++;
    if (krvGetLastDiagId() == 0)
        krvError("\"%s\": %s at or near line %d\n", krvScanFileBase(pCtx->pScan), szMsg,
                 krvScanLine(pCtx->pScan));
}
