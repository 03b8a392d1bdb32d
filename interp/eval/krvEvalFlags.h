// The exception-flag word checks shared by the statement evaluators and
// the goto search.
#pragma once
#include <cstdint>

#include "eval/krvEvalInt.h"

// Reports a flag word with more than one bit set and stops the program.
[[noreturn]] void krvEvalMultipleBits(const char *szSrc, const char *szFunc, int nLine, uint32_t fl);

// What a loop does with the flags its body left.
enum krvLoopStep_t { KRV_LOOP_ON, KRV_LOOP_LEAVE_OK, KRV_LOOP_LEAVE_FAIL };
static inline krvLoopStep_t krvEvalLoopFlags(uint32_t *pFl, const char *szSrc, const char *szFunc, int nLine)
{
    switch (*pFl) {
    case 0:
        return KRV_LOOP_ON;
    case KRV_XCPT_EXIT:
        return KRV_LOOP_LEAVE_FAIL;
    case KRV_XCPT_RETURN:
    case KRV_XCPT_GOTO:
        return KRV_LOOP_LEAVE_OK;
    case KRV_XCPT_BREAK:
        *pFl = 0;
        return KRV_LOOP_LEAVE_OK;
    case KRV_XCPT_CONTINUE:
        *pFl = 0;
        return KRV_LOOP_ON;
    default:
        krvEvalMultipleBits(szSrc, szFunc, nLine, *pFl);
    }
}

// The same for the statements of a switch body: continue and goto are
// passed on to the enclosing statements.
static inline krvLoopStep_t krvEvalSwitchFlags(uint32_t *pFl, const char *szSrc, const char *szFunc, int nLine)
{
    switch (*pFl) {
    case 0:
        return KRV_LOOP_ON;
    case KRV_XCPT_EXIT:
        return KRV_LOOP_LEAVE_FAIL;
    case KRV_XCPT_RETURN:
    case KRV_XCPT_CONTINUE:
    case KRV_XCPT_GOTO:
        return KRV_LOOP_LEAVE_OK;
    case KRV_XCPT_BREAK:
        *pFl = 0;
        return KRV_LOOP_LEAVE_OK;
    default:
        krvEvalMultipleBits(szSrc, szFunc, nLine, *pFl);
    }
}

// Runs a statement list: stops at a failure (0) or at a flag (1, kept).
static inline int krvEvalList(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pList, const char **pszTag,
                              krvValue_t *pResult, uint32_t *pFl)
{
    for (krvAPTN_t *p = pList; p; p = p->next) {
        if (!krvEvalStmt(pEnv, pFunc, p, pszTag, pResult, pFl))
            return 0;
        if (*pFl)
            return 1;
    }
    return 1;
}

// The switch group a value selects (its default when no label matches,
// NULL when there is none). 1, or 0 after a report.
int krvEvalSwitchPick(krvEnv_t *pEnv, krvAPTN_t *pSwitch, const krvValue_t *pValue, krvCaseGroup_t **ppGroup);
