// Marshalling of one call into a module: the argument kinds taken from the
// function's masks, and the temporary reference records that show the
// module exactly the array window or structure element the script passed.
#pragma once
#include <cstdint>

#include "eval/krvEval.h"
#include "exthost/krvExtApi.h"

// Kind of argument i (from 0) of an extension function.
#define KRV_EXT_ARG_VALUE 0
#define KRV_EXT_ARG_REF 1
#define KRV_EXT_ARG_ARRAY 2
#define KRV_EXT_ARG_STRUCT 4
int krvExtArgKind(const krvFuncInfo_t *pExt, int i);

// A temporary reference record: a variable-reference node bound to a
// temporary variable descriptor. The descriptor's name is borrowed; its
// size vector (arrays) is owned and freed by krvExtTempRefClear.
struct krvExtTempRef_t {
    krvAPTN_t node;
    krvVar_t var;
};
void krvExtTempRefClear(krvExtTempRef_t *pRef);

// Fills pRef so that its variable describes the array window an argument
// names (the whole array, a sub-array or a sub-range); 1, or 0 after a
// report.
int krvExtArrayRef(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg, krvExtTempRef_t *pRef, uint32_t *pFl);
// The same for the structure element an argument names.
int krvExtStructRef(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg, krvExtTempRef_t *pRef, uint32_t *pFl);
// Address of the value cell a by-reference argument names; NULL after a
// report.
krvValue_t *krvExtRefCell(krvEnv_t *pEnv, krvFuncInfo_t *pCur, krvAPTN_t *pArg, uint32_t *pFl);
