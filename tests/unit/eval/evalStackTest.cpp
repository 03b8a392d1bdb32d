// The evaluation stack: chunks made on demand with every slot undetermined,
// the slot limit, slot release, and tear-down of slots still holding data.
#include <gtest/gtest.h>

#include "eval/krvEval.h"
#include "eval/krvEvalFrame.h"

namespace {

struct StackFixture : ::testing::Test {
    krvEnv_t *pEnv = nullptr;
    krvAPTN_t *pAt = nullptr;
    void SetUp() override
    {
        pEnv = krvNewEnv("/tmp/stack.krv");
        pEnv->phase = 'R';
        pAt = krvNewAPTN(krvAPTNType_usrCall, 0, 3);
        ASSERT_EQ(krvEvalStateInit(pEnv), 0);
    }
    void TearDown() override
    {
        krvEvalStateFree(pEnv);
        EXPECT_EQ(pEnv->pEval, nullptr);
        krvFreeAPTN(pAt);
        krvFreeEnv(pEnv);
        krvSetLastDiagId(0);
    }
};

TEST_F(StackFixture, ChunksAreMadeOnDemand)
{
    krvEvalState_t *pSt = pEnv->pEval;
    EXPECT_EQ(pSt->top, 0);
    EXPECT_EQ(pSt->nLastAlloc, 0);
    ASSERT_EQ(krvEvalStackReserve(pEnv, 10, pAt), 0);
    EXPECT_EQ(pSt->nLastAlloc, KRV_STACK_CHUNK_SLOTS);
    EXPECT_NE(pSt->pChunks[0], nullptr);
    EXPECT_EQ(pSt->pChunks[1], nullptr);
    EXPECT_EQ(krvEvalSlot(pSt, 0)->dbd, KRV_DBD_UNKNOWN);
    EXPECT_EQ(krvEvalSlot(pSt, KRV_STACK_CHUNK_SLOTS - 1)->dbd, KRV_DBD_UNKNOWN);
    ASSERT_EQ(krvEvalStackReserve(pEnv, KRV_STACK_CHUNK_SLOTS + 1, pAt), 0);
    EXPECT_EQ(pSt->nLastAlloc, 2 * KRV_STACK_CHUNK_SLOTS);
    // Slots of consecutive chunks follow each other.
    EXPECT_EQ(krvEvalSlot(pSt, KRV_STACK_CHUNK_SLOTS), krvEvalSlot(pSt, KRV_STACK_CHUNK_SLOTS - 1) + 1);
}

TEST_F(StackFixture, TheLastSlotIsTheLimit)
{
    ASSERT_EQ(krvEvalStackReserve(pEnv, KRV_STACK_SLOT_MAX, pAt), 0);
    EXPECT_EQ(pEnv->pEval->pChunks[KRV_STACK_CHUNK_NUM - 1] != nullptr, true);
    EXPECT_EQ(krvEvalStackReserve(pEnv, KRV_STACK_SLOT_MAX + 1, pAt), -1);
    EXPECT_EQ(krvGetLastDiagId(), KRV_RTE_DEPTH);
}

TEST_F(StackFixture, SlotsOwningCellsAndSizesAreReleased)
{
    ASSERT_EQ(krvEvalStackReserve(pEnv, 4, pAt), 0);
    krvSlot_t *pSlot = krvEvalSlot(pEnv->pEval, 1);
    ASSERT_EQ(krvEvalSlotOwnCells(pSlot, 3), 0);
    krvSetStr(&pSlot->pData[2], "left behind");
    pSlot->pASizes = krvArrSizesAlloc(1, 0, 0);
    pSlot->bOwnSizes = 1;
    // Reused with the same count: the cells are reset, the text freed.
    ASSERT_EQ(krvEvalSlotOwnCells(pSlot, 3), 0);
    EXPECT_EQ(pSlot->pData[2].type, KRV_DT_INTEGER);
    krvSetStr(&pSlot->pData[0], "freed by the tear-down");
    krvSlot_t *pRef = krvEvalSlot(pEnv->pEval, 2);
    pRef->dbd = KRV_DBD_ELEMENT_REF;
    pRef->pData = pSlot->pData;      // a reference: not freed through this slot
    krvEvalSlotRelease(pRef);
    EXPECT_EQ(pRef->dbd, KRV_DBD_UNKNOWN);
    EXPECT_EQ(pRef->pData, nullptr);
    EXPECT_EQ(pSlot->pData[0].type, KRV_DT_STRING);
}

}  // namespace
