// State of one parse of a script group, shared by the grammar's actions,
// the tree builders and the declaration rules.
#pragma once
#include <cstdint>

#include "krvScanner.h"
#include "model/krvModel.h"

struct krvParseCtx_t {
    krvEnv_t *pEnv;
    krvScanner_t *pScan;
    int nSyntaxErrors;
    int nNsOverflow;                 // namespace blocks nested past the stack (not entered)
    void *pDepths;                   // nesting depth of expression trees being built (krvParseTree.cpp)
};

// Deepest expression tree the parser builds; a deeper one ends the parse
// (the later phases walk trees recursively).
#define KRV_P_EXPR_DEPTH_MAX 4000

void krvPDepthsInit(krvParseCtx_t *pCtx);
void krvPDepthsFree(krvParseCtx_t *pCtx);

// Lists the grammar hands up before they become records.
struct krvPDecl_t {                  // declarators of one declaration
    krvVar_t *pHead;                 // chained through link
};

struct krvPCaseGroups_t {            // case groups of a switch, in order
    krvCaseGroup_t *pHead;
    krvCaseGroup_t *pTail;
};

// Position of a node made now: the current file and line.
uint16_t krvPCurFile(const krvParseCtx_t *pCtx);
int32_t krvPCurLine(const krvParseCtx_t *pCtx);

// Reports a parse diagnostic at the current file and line.
void krvPError(krvParseCtx_t *pCtx, int nId, const char *szFmt, ...) __attribute__((format(printf, 3, 4)));
// A report that stops the parse (out of memory and the like).
void krvPOutOfMemory(krvParseCtx_t *pCtx);

// ---- expression trees (krvParseTree.cpp) --------------------------------
krvAPTN_t *krvPIntConst(krvParseCtx_t *pCtx, int64_t n);
krvAPTN_t *krvPFloatConst(krvParseCtx_t *pCtx, double d);
krvAPTN_t *krvPStrConst(krvParseCtx_t *pCtx, char *sz);                 // takes sz
krvAPTN_t *krvPUnary(krvParseCtx_t *pCtx, int32_t nOp, krvAPTN_t *pOpd);
krvAPTN_t *krvPBinary(krvParseCtx_t *pCtx, int32_t nOp, krvAPTN_t *pLeft, krvAPTN_t *pRight);
krvAPTN_t *krvPCond(krvParseCtx_t *pCtx, krvAPTN_t *pCond, krvAPTN_t *pThen, krvAPTN_t *pElse);
krvAPTN_t *krvPSubRange(krvParseCtx_t *pCtx, krvAPTN_t *pStart, krvAPTN_t *pEnd);
krvAPTN_t *krvPEmptyDim(krvParseCtx_t *pCtx);
// Element of a reference: name (taken) with its index expressions.
krvAPTN_t *krvPElement(krvParseCtx_t *pCtx, char *szName, krvAPTN_t *pIndexes);
// Appends a further ".member" element to a reference's member chain.
krvAPTN_t *krvPAddMember(krvParseCtx_t *pCtx, krvAPTN_t *pRef, krvAPTN_t *pElem);
// Sets the qualification of a reference (taken).
krvAPTN_t *krvPQualify(krvAPTN_t *pRef, krvNameList_t *pQual);
// Dollar name reference (name taken).
krvAPTN_t *krvPDollar(krvParseCtx_t *pCtx, char *szName);
krvAPTN_t *krvPCall(krvParseCtx_t *pCtx, krvAPTN_t *pCallee, krvAPTN_t *pArgs);
// Chains pNext after the list pHead (through next, tail kept in the head).
krvAPTN_t *krvPChain(krvAPTN_t *pHead, krvAPTN_t *pNext);
// One expression, or an expression list node (kind 9) over two or more.
krvAPTN_t *krvPExprList(krvParseCtx_t *pCtx, krvAPTN_t *pChain);
// "(" expression-list ")": the expression, or unary plus over a list.
krvAPTN_t *krvPParen(krvParseCtx_t *pCtx, krvAPTN_t *pChain);
// Qualification lists: "::" gives an empty first name.
krvNameList_t *krvPQualAdd(krvNameList_t *pQual, char *szName);       // takes szName

// ---- statements (krvParseStmt.cpp) ----------------------------------------
krvAPTN_t *krvPStmt(krvParseCtx_t *pCtx, int32_t nKind);
krvAPTN_t *krvPExprStmt(krvParseCtx_t *pCtx, int32_t nKind, krvAPTN_t *pExpr);
krvAPTN_t *krvPIf(krvParseCtx_t *pCtx, krvAPTN_t *pCond, krvAPTN_t *pThen, krvAPTN_t *pElse);
krvAPTN_t *krvPLoop(krvParseCtx_t *pCtx, int32_t nKind, krvAPTN_t *pCond, krvAPTN_t *pBody);
krvAPTN_t *krvPFor(krvParseCtx_t *pCtx, krvAPTN_t *pInit, krvAPTN_t *pCond, krvAPTN_t *pStep, krvAPTN_t *pBody);
krvAPTN_t *krvPGoto(krvParseCtx_t *pCtx, char *szTag);
krvAPTN_t *krvPCompound(krvParseCtx_t *pCtx, krvAPTN_t *pStmts);
krvAPTN_t *krvPSwitch(krvParseCtx_t *pCtx, krvAPTN_t *pExpr, krvPCaseGroups_t *pGroups);
// Gives a statement its tag list (taken; duplicates kept once).
krvAPTN_t *krvPTagStmt(krvAPTN_t *pStmt, krvNameList_t *pTags);
krvNameList_t *krvPTagAdd(krvNameList_t *pTags, char *szName);         // takes szName
// Case labels and groups.
krvCaseLabel_t *krvPLabelLiteral(krvParseCtx_t *pCtx, krvAPTN_t *pLiteral);   // frees the node
krvCaseLabel_t *krvPLabelRef(krvParseCtx_t *pCtx, krvAPTN_t *pRef);
krvCaseLabel_t *krvPLabelDefault(krvParseCtx_t *pCtx);
krvCaseLabel_t *krvPLabelAdd(krvCaseLabel_t *pLabels, krvCaseLabel_t *pLabel);
krvPCaseGroups_t *krvPGroupAdd(krvPCaseGroups_t *pGroups, krvCaseLabel_t *pLabels, krvAPTN_t *pStmts);
void krvPFreeGroups(krvPCaseGroups_t *pGroups);
void krvPFreeLabels(krvCaseLabel_t *pLabels);

// ---- declarations (krvParseDecl.cpp) ------------------------------------
// A declarator: name (taken) with its size expressions.
krvVar_t *krvPDeclarator(krvParseCtx_t *pCtx, char *szName, krvAPTN_t *pSizes);
krvVar_t *krvPSetInit(krvVar_t *pVar, krvAPTN_t *pInit);
krvPDecl_t *krvPDeclAdd(krvPDecl_t *pDecl, krvVar_t *pVar);
krvPDecl_t *krvPDeclMerge(krvPDecl_t *pFirst, krvPDecl_t *pSecond);    // takes both
void krvPFreeDecl(krvPDecl_t *pDecl);
// Structure type of a declaration (type name and qualification taken).
struct krvPType_t {
    char *szName;
    krvNameList_t *pQual;
};
krvPType_t *krvPType(char *szName, krvNameList_t *pQual);
void krvPFreeType(krvPType_t *pType);
// Variable declaration: gives every declarator the structure type (when
// pType is set; freed) and fixes the array sizes. Returns the declarators.
krvPDecl_t *krvPVarDecl(krvParseCtx_t *pCtx, krvPType_t *pType, krvPDecl_t *pDecl);
// Constant declaration at item level: checked and entered.
void krvPEnterConsts(krvParseCtx_t *pCtx, krvPDecl_t *pDecl);
// Constant declaration in a function body: checked, then dropped.
void krvPCheckLocalConsts(krvParseCtx_t *pCtx, krvPDecl_t *pDecl);
// Variable declaration at item level: entered in the current namespace.
void krvPEnterVars(krvParseCtx_t *pCtx, krvPDecl_t *pDecl);
// Parameter: name taken, dimensions (kind 14 for "[]"), by-reference flag,
// structure type (taken).
krvVar_t *krvPParam(krvParseCtx_t *pCtx, krvPType_t *pType, int bRef, char *szName, krvAPTN_t *pDims);
// Namespace blocks.
void krvPEnterNamespace(krvParseCtx_t *pCtx, const char *szName);
void krvPLeaveNamespace(krvParseCtx_t *pCtx);

// ---- functions and structures (krvParseFunc.cpp) ---------------------------
void krvPFuncName(krvParseCtx_t *pCtx, const char *szName);    // NULL clears it
// Builds the function record at its closing "}" (name taken).
krvFuncInfo_t *krvPFunction(krvParseCtx_t *pCtx, char *szName, krvVar_t *pParams, krvPDecl_t *pLocals,
                            krvAPTN_t *pStmts);
// Enters a function defined at item level in the current namespace.
void krvPEnterFunction(krvParseCtx_t *pCtx, krvFuncInfo_t *pFunc);
// Member functions of a structure, chained through link.
krvFuncInfo_t *krvPFuncListAdd(krvFuncInfo_t *pFuncs, krvFuncInfo_t *pFunc);
void krvPFreeFuncList(krvFuncInfo_t *pFuncs);
// Structure declaration at its closing "};" (name, members, functions taken).
void krvPEnterStruct(krvParseCtx_t *pCtx, char *szName, krvPDecl_t *pMembers, krvFuncInfo_t *pFuncs);
