// Shared helpers of the resolution phase: reports, name texts, the tag
// table, table walks and reference-shape helpers.
#pragma once
#include <string>
#include <vector>

#include "resolve/krvSolve.h"

struct krvTagTable_t {
    std::vector<krvAPTN_t *> tagged;     // statements with tags, in order
    std::vector<krvAPTN_t *> gotos;      // gotos whose target was not yet seen
};

// ---- reports --------------------------------------------------------------
// Node report ("Error %c%3d: <file> line <n>: <text>\n"): sets the last
// diagnostic id; bCount also adds to the group's error count.
void krvSolveErrAt(krvEnv_t *pEnv, int nId, const krvAPTN_t *pNode, int bCount, const char *szFmt, ...)
    __attribute__((format(printf, 5, 6)));
void krvSolveErrAtPos(krvEnv_t *pEnv, int nId, int nFileIdx, int nLine, int bCount, const char *szFmt, ...)
    __attribute__((format(printf, 6, 7)));
// Self-prefixed message ("Error %c%d: <file> line <n>: <text>"; the text
// carries its own newline): counts an error, leaves the last id alone.
void krvSolveErrSelf(krvEnv_t *pEnv, int nId, int nFileIdx, int nLine, const char *szFmt, ...)
    __attribute__((format(printf, 5, 6)));
// Internal inconsistency: "Debug: \"<file>\" line <n>: <text>\n"; counts.
void krvSolveInternalErr(krvEnv_t *pEnv, int nFileIdx, int nLine, const char *szText);
void krvSolveCountError(krvEnv_t *pEnv);
const char *krvSolveFile(const krvEnv_t *pEnv, int nFileIdx);

// ---- name texts -------------------------------------------------------------
// Qualification: every name followed by "::" ("" for none).
std::string krvNsResText(const krvNameList_t *pNsRes);
// Member chain from pMember on: ".a.b".
std::string krvMemberText(const krvAPTN_t *pMember);
// A reference as shown in shape messages: name, "[]" per index, then
// ".member" (with "[]" per index for every member but the last).
std::string krvRefShapeText(const krvAPTN_t *pRef);

// ---- references -------------------------------------------------------------
int krvIndexCount(const krvAPTN_t *pIndexes);
int krvVarDims(uint8_t dbd, const int32_t *pSizes);
// Structure-typed declaration (resolved or not).
bool krvVarIsStructTyped(const krvVar_t *pVar);
// Its resolved type, NULL while only the name is known.
krvStruct_t *krvVarStructType(const krvVar_t *pVar);
// Gives a variable its structure type, releasing the written type name
// first (its qualification list shares the word that pType takes).
void krvSolveBindType(krvVar_t *pVar, krvStruct_t *pType);

// Resolves an expression (kinds 1 to 13) with the reference-shape checks of
// a plain value use.
void krvSolveExpr(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pExpr, int bInLoop);
// Resolves a plain reference used as a value: lookup plus the shape checks.
void krvSolveValueRef(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pRef);
// Argument checks of the three call kinds.
void krvSolveBuiltinArgs(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall,
                         int bInLoop);
void krvSolveExtArgs(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall,
                     int bInLoop);
void krvSolveUsrArgs(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall,
                     int bInLoop);
