// Calls from scripts into module functions, and the script callbacks that
// modules run.
#pragma once
#include <cstdint>

#include "eval/krvEval.h"

// Carries out a call node of an extension function: marshals the
// arguments, runs the handler on the calling thread, reports a failing
// status as run-time error 253. 1 on success, 0 when the call failed.
int krvEvalCallExtFunc(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                       uint32_t *pFlXcptFlags);

// Script callbacks (slots 95 to 97 of the host service table).
void *krvCallbackNew(const char *szQualifiedName);
int krvCallbackRun(void *pCallback, int32_t nCount, krvValue_t *pCells, krvValue_t *pResult);
int krvCallbackFree(void *pCallback);
