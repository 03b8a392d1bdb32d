// The evaluation state of one running task: the chunked evaluation stack of
// frame slots, the backtrace stack of active user calls, the task's flag
// word and result cell, and the native stack bound that deep recursion is
// checked against.
#pragma once
#include <cstdint>

#include "model/krvModel.h"

#define KRV_STACK_CHUNK_NUM 128
#define KRV_STACK_CHUNK_SLOTS 1024
#define KRV_STACK_CHUNK_SHIFT 10
#define KRV_STACK_SLOT_MAX (KRV_STACK_CHUNK_NUM * KRV_STACK_CHUNK_SLOTS)
#define KRV_BACKTRACE_MAX 65536

// Exception-flag word bits.
#define KRV_XCPT_EXIT 1u
#define KRV_XCPT_RETURN 2u
#define KRV_XCPT_BREAK 4u
#define KRV_XCPT_CONTINUE 8u
#define KRV_XCPT_GOTO 16u

// Run-time error ids of the evaluator.
#define KRV_RTE_OPERATOR 203
#define KRV_RTE_RANGE 204
#define KRV_RTE_INDEX 205
#define KRV_RTE_DIVIDE 211
#define KRV_RTE_SWITCH 212
#define KRV_RTE_DEPTH 215
#define KRV_RTE_ARGUMENT 256

// One frame slot. The slot owns its cells (nCells of them) unless the
// reference bit is set, and its size descriptor when bOwnSizes is set (a
// by-reference array slot owns the view descriptor made for it).
struct krvSlot_t {
    uint8_t dbd;                   // KRV_DBD_UNKNOWN while never used
    uint8_t bOwnSizes;
    uint16_t nSpare;
    int32_t nCells;                // cells owned (0 for a reference)
    krvStruct_t *pType;
    krvValue_t *pData;
    int32_t *pASizes;              // plain descriptor, or a view (reference arrays)
};
static_assert(sizeof(krvSlot_t) == 32, "stack slot is 32 bytes");

// The chunks are laid out one after the other in one reserved address
// range (pSlotBase, nSlotMax slots), so a frame's slots are
// contiguous; a chunk's memory is made ready when it is first needed.
struct krvEvalState_t {
    krvSlot_t *pChunks[KRV_STACK_CHUNK_NUM];
    krvSlot_t *pSlotBase;          // reserved range, NULL until the first chunk
    int32_t top;                   // first slot above every frame in use
    int32_t nFrameTop;             // slots of the running activation end here
    int32_t nLastAlloc;            // one past the last allocated slot
    krvAPTN_t **ppBacktrace;       // KRV_BACKTRACE_MAX entries, made on first use
    int32_t nBtDepth;
    uint32_t flXcpt;               // the task's flag word
    krvValue_t result;             // the task's result cell
    krvFuncInfo_t *pEntryFunc;     // main or the task function
    krvAPTN_t *pEntryCall;         // artificial call node of the entry (backtrace entry 0)
    const char *pNativeLimit;      // lowest safe native stack address (NULL: unchecked)
    int32_t nSlotMax;              // slots the reserved range holds (KRV_STACK_SLOT_MAX, less for a task)
    int32_t nBtMax;                // entries of the backtrace stack (KRV_BACKTRACE_MAX, less for a task)
};

// Makes the activation whose slots end at nFrameTop the running one: its
// slot nFrameTop goes to the environment's pEvalFrame, one load away from
// every operation.
static inline void krvEvalSetFrame(krvEnv_t *pEnv, int32_t nFrameTop)
{
    krvEvalState_t *pSt = pEnv->pEval;
    pSt->nFrameTop = nFrameTop;
    pEnv->pEvalFrame = pSt->pSlotBase + nFrameTop;
}

// Slot idx of the stack; the chunk must exist.
static inline krvSlot_t *krvEvalSlot(krvEvalState_t *pSt, int32_t idx)
{
    return pSt->pSlotBase + idx;
}
