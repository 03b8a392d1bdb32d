// The evaluation stack: chunks made on demand, slot release, tear-down, and
// the state that holds them.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#include "eval/krvEval.h"

std::atomic<bool> g_krvEvalCellsShared{false};

namespace {
#define KRV_CELL_LOCK_STRIPES 64
std::mutex g_cellLocks[KRV_CELL_LOCK_STRIPES];
} // namespace

void krvEvalShareCells(void)
{
    g_krvEvalCellsShared.store(true, std::memory_order_relaxed);
}

std::mutex &krvEvalCellLock(const krvValue_t *pCell)
{
    // Cells are 16 bytes: neighbours go to different stripes.
    return g_cellLocks[(reinterpret_cast<uintptr_t>(pCell) >> 4) % KRV_CELL_LOCK_STRIPES];
}

int krvEvalStateInit(krvEnv_t *pEnv)
{
    if (!pEnv)
        return -1;
    if (pEnv->pEval)
        return 0;
    auto *pSt = static_cast<krvEvalState_t *>(calloc(1, sizeof(krvEvalState_t)));
    if (!pSt)
        return -1;
    pSt->result.type = KRV_DT_INTEGER;
    pSt->nSlotMax = KRV_STACK_SLOT_MAX;
    pSt->nBtMax = KRV_BACKTRACE_MAX;
    pEnv->pEval = pSt;
    return 0;
}

void krvEvalStateSetLimits(krvEnv_t *pEnv, int32_t nSlots, int32_t nCalls)
{
    krvEvalState_t *pSt = pEnv ? pEnv->pEval : nullptr;
    if (!pSt || pSt->pSlotBase || pSt->ppBacktrace)
        return;
    nSlots -= nSlots % KRV_STACK_CHUNK_SLOTS;
    if (nSlots >= KRV_STACK_CHUNK_SLOTS && nSlots < KRV_STACK_SLOT_MAX)
        pSt->nSlotMax = nSlots;
    if (nCalls > 0 && nCalls < KRV_BACKTRACE_MAX)
        pSt->nBtMax = nCalls;
}

void krvEvalSlotRelease(krvSlot_t *pSlot)
{
    if (!KRV_IS_VAR_REF(pSlot->dbd) && pSlot->pData && pSlot->nCells > 0)
        krvFreeValues(pSlot->pData, pSlot->nCells);
    if (pSlot->bOwnSizes)
        free(pSlot->pASizes);
    memset(pSlot, 0, sizeof *pSlot);
    pSlot->dbd = KRV_DBD_UNKNOWN;
}

void krvEvalStateFree(krvEnv_t *pEnv)
{
    if (!pEnv || !pEnv->pEval)
        return;
    krvEvalState_t *pSt = pEnv->pEval;
    for (int c = 0; c < KRV_STACK_CHUNK_NUM; c++) {
        krvSlot_t *pChunk = pSt->pChunks[c];
        if (!pChunk)
            continue;
        for (int i = 0; i < KRV_STACK_CHUNK_SLOTS; i++)
            if (pChunk[i].dbd != KRV_DBD_UNKNOWN || pChunk[i].pData || pChunk[i].pASizes)
                krvEvalSlotRelease(&pChunk[i]);
    }
    if (pSt->pSlotBase)
        munmap(pSt->pSlotBase, sizeof(krvSlot_t) * static_cast<size_t>(pSt->nSlotMax));
    free(pSt->ppBacktrace);
    krvClearValue(&pSt->result);
    if (pSt->pEntryCall)
        krvFreeAPTN(pSt->pEntryCall);
    free(pSt);
    pEnv->pEval = nullptr;
}

int krvEvalStackGrow(krvEnv_t *pEnv, int32_t nEnd, const krvAPTN_t *pAt)
{
    krvEvalState_t *pSt = pEnv->pEval;
    if (nEnd > pSt->nSlotMax) {
        krvErrorAt(KRV_RTE_DEPTH, pEnv, pAt,
                   "Evaluation stack overflow; the calls need more than %d slots for parameters and locals.",
                   pSt->nSlotMax);
        return -1;
    }
    if (!pSt->pSlotBase) {
        void *p = mmap(nullptr, sizeof(krvSlot_t) * static_cast<size_t>(pSt->nSlotMax), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) {
            krvErrorAt(KRV_RTE_DEPTH, pEnv, pAt, "Evaluation stack overflow; out of memory (%s).", strerror(errno));
            return -1;
        }
        pSt->pSlotBase = static_cast<krvSlot_t *>(p);
    }
    while (pSt->nLastAlloc < nEnd) {
        int c = pSt->nLastAlloc >> KRV_STACK_CHUNK_SHIFT;
        krvSlot_t *pChunk = pSt->pSlotBase + static_cast<size_t>(c) * KRV_STACK_CHUNK_SLOTS;
        for (int i = 0; i < KRV_STACK_CHUNK_SLOTS; i++)
            pChunk[i].dbd = KRV_DBD_UNKNOWN;
        pSt->pChunks[c] = pChunk;
        pSt->nLastAlloc += KRV_STACK_CHUNK_SLOTS;
    }
    return 0;
}
