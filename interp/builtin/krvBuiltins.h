// The handlers of the built-in functions other than the task ones.
#pragma once
#include <cstdint>

#include "builtin/krvBuiltinTable.h"

int krvBuiFunc_print(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                     uint32_t *pFlXcptFlags);
int krvBuiFunc_printh(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                      uint32_t *pFlXcptFlags);
int krvBuiFunc_backtrace(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                         uint32_t *pFlXcptFlags);
int krvBuiFunc_sleep(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                     uint32_t *pFlXcptFlags);
int krvBuiFunc_scan(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                    uint32_t *pFlXcptFlags);
int krvBuiFunc_intsize(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                       uint32_t *pFlXcptFlags);
int krvBuiFunc_isstring(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pCall, krvValue_t *pResult,
                        uint32_t *pFlXcptFlags);

// Evaluates one argument of a built-in call into *pValue: 1 with the value
// (the caller clears it), or 0 with nothing held when the evaluation failed
// or the script is exiting.
int krvBuiEvalArg(krvEnv_t *pEnv, krvFuncInfo_t *pCurFunc, krvAPTN_t *pArg, krvValue_t *pValue,
                  uint32_t *pFlXcptFlags);

// Writes a string the way print shows it: the text is its own format, so
// "%%" gives one percent sign; any other '%' is printed as it stands.
void krvBuiPrintFormatText(const char *szText);
