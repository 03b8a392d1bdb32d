// Name and reference resolution of a parsed script group: binds every name
// to its declaration, rewrites calls and references into their final node
// kinds, checks arguments, reference shapes, tags, gotos and switch labels.
// Errors are reported and counted in the group's file information; the
// phase never stops early.
#pragma once
#include <cstdint>

#include "model/krvModel.h"

// What a resolved reference designates, taken from the last element of its
// path (the reference itself or its last member node).
struct krvVarrInfo_t {
    int isCid;                     // a named constant
    krvVar_t *pTopVarPtr;          // the variable or constant named first
    krvAPTN_t *pBtnVarRef;         // last node of the path
    uint8_t dbd;                   // dbd of the last element
    krvStruct_t *pType;            // its structure type, NULL when elementary
    int32_t *pASizes;              // its array sizes, NULL when not an array
    krvAPTN_t *pIndexes;           // its index list
};

// Tagged statements and pending gotos of one user function.
struct krvTagTable_t;

void krvSolveGroup(krvEnv_t *pEnv);
void krvSolveNamespace(krvEnv_t *pEnv, krvNamespace_t *pNs);
void krvSolveFunction(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc);
// One node and its children; bInLoop is 1 inside a loop body or a case body.
void krvSolveAPTN(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pNode,
                  krvTagTable_t *pTags, int bInLoop);
// Returns 0, or the code of the error it reported.
int krvSolveVarRef(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pRef,
                   krvVarrInfo_t *pInfo);
// Turns a kind-10 call into a built-in, extension or user call and checks it.
void krvSolveCall(krvEnv_t *pEnv, krvNamespace_t *pNs, krvFuncInfo_t *pFunc, krvAPTN_t *pCall, int bInLoop);
// Structure type named by a qualification and a name: with a qualification
// in that namespace only (an unknown namespace is reported at the given
// position), without one in pNs and then each enclosing namespace.
krvStruct_t *krvFindStruct(krvEnv_t *pEnv, krvNamespace_t *pNs, const krvNameList_t *pNsRes,
                           const char *szTypeName, int nFileIdx, int nLine);
