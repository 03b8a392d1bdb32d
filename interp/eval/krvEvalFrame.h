// Frame set-up shared by user calls and entry activations.
#pragma once
#include "eval/krvEvalInt.h"

// Gives slot pSlot exactly nCells fresh cells (integer 0) that it owns,
// reusing what it holds when the count matches. 0, or -1 out of memory.
int krvEvalSlotOwnCells(krvSlot_t *pSlot, int32_t nCells);
// Gives slot pSlot one cell of its own for an elementary value, keeping the
// one it has when it is already such a slot. false when out of memory.
bool krvEvalSlotMakeElementary(krvSlot_t *pSlot);
static inline bool krvEvalSlotElementary(krvSlot_t *pSlot)
{
    if (pSlot->dbd == KRV_DBD_ELEMENT && !pSlot->pType && pSlot->nCells == 1 && pSlot->pData) [[likely]]
        return true;
    return krvEvalSlotMakeElementary(pSlot);
}
// Sets up the locals of pFunc for a frame ending at nFrameTop (step of the
// call sequence before top is raised). 1, or 0 after a report.
int krvEvalSetupLocals(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, int32_t nFrameTop, const krvAPTN_t *pAt);
// Runs the initialisers of the elementary locals (frame already raised).
int krvEvalInitLocals(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, uint32_t *pFl);
// Reports a call nested deeper than the native stack allows; 1 when it did.
__attribute__((cold)) int krvEvalNativeStackExhausted(krvEnv_t *pEnv, const krvAPTN_t *pAt);
static inline int krvEvalNativeStackLow(krvEnv_t *pEnv, const krvAPTN_t *pAt)
{
    const char *pLimit = pEnv->pEval->pNativeLimit;
    if (pLimit && static_cast<const char *>(__builtin_frame_address(0)) < pLimit) [[unlikely]]
        return krvEvalNativeStackExhausted(pEnv, pAt);
    return 0;
}

// The body loop of an activation: runs the statements from pFirst, handles
// return and (krvEvalBodyResume) the goto search. 1 or 0.
static inline int krvEvalFuncBody(krvEnv_t *pEnv, krvFuncInfo_t *pFunc, krvAPTN_t *pFirst, krvValue_t *pResult,
                                  uint32_t *pFl)
{
    const char *szTag = nullptr;
    for (krvAPTN_t *p = pFirst; p; p = p->next) {
        if (!krvEvalStmt(pEnv, pFunc, p, &szTag, pResult, pFl))
            return 0;
        if (*pFl) {
            if (*pFl == KRV_XCPT_RETURN) {
                *pFl = 0;
                return 1;
            }
            return krvEvalBodyResume(pEnv, pFunc, pFirst, p, szTag, pResult, pFl);
        }
    }
    return 1;
}
