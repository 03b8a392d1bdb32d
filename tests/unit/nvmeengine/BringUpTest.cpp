// Bring-up: queue counts and sizes chosen from what the controller grants,
// the records and pollers it leaves, namespaces bound, and a second
// bring-up after the controller went down reusing every queue.
#include "EngineFixture.h"
#include "nvmeCmdPool.h"
#include "nvmeInit.h"

namespace kxmnvme::test {

class BringUp : public EngineFixture {};

TEST(InitParams, SizesAreNormalised)
{
    EXPECT_EQ(nvmeNormalizeQSize(0, 16), 16u);
    EXPECT_EQ(nvmeNormalizeQSize(1, 16), 2u);
    EXPECT_EQ(nvmeNormalizeQSize(3, 16), 4u);
    EXPECT_EQ(nvmeNormalizeQSize(5, 16), 4u);
    EXPECT_EQ(nvmeNormalizeQSize(6, 16), 8u);
    EXPECT_EQ(nvmeNormalizeQSize(12, 16), 16u);
    EXPECT_EQ(nvmeNormalizeQSize(5000, 16), 4096u);
    EXPECT_EQ(nvmeNormalizeQSize(-7, 16), 2u);
    const NvmeInitParams p = nvmeNormalizeInitParams(0, 0, -3, 0, 1, 0, 0);
    EXPECT_EQ(p.nASQSize, 16u);
    EXPECT_EQ(p.nIOSQNum, 1);
    EXPECT_EQ(p.nIOSQNumPerIOCQ, 1u);
    EXPECT_EQ(p.nIOCQNumPerPCCT, 4u);
}

TEST(InitParams, QueueCountsFollowWhatTheControllerGrants)
{
    // 4 SQs and 4 CQs granted, 8 SQs asked with 2 per CQ: 4 SQs on 2 CQs.
    NvmeQueueCounts n = nvmeChooseQueueCounts(4, 4, 8, 2);
    EXPECT_EQ(n.nSQ, 4u);
    EXPECT_EQ(n.nCQ, 2u);
    EXPECT_EQ(n.nPerCQ, 2u);
    // Fewer CQs than wanted: more SQs share each CQ.
    n = nvmeChooseQueueCounts(16, 3, 16, 2);
    EXPECT_EQ(n.nSQ, 16u);
    EXPECT_EQ(n.nCQ, 3u);
    EXPECT_EQ(n.nPerCQ, 6u);
    // No CQ granted: no SQ either; more wanted than the engine holds.
    EXPECT_EQ(nvmeChooseQueueCounts(8, 0, 8, 1).nSQ, 0u);
    EXPECT_EQ(nvmeChooseQueueCounts(1000, 1000, 1000, 1).nSQ, NVME_MAX_IOSQ_NUM);
}

TEST_F(BringUp, QueuesFollowWhatTheControllerGrants)
{
    startEngine(simOneController(6, 64));
    NvmeCntl *pCntl = cntl();
    NvmeInitParams p = nvmeNormalizeInitParams(5, 0, 8, 500, 2, 0, 2);
    ASSERT_EQ(nvmeInitCntl(*pEng, pCntl, false, p), EC_NONE);
    EXPECT_EQ(pCntl->nState, NVME_CNTL_INITED);
    EXPECT_EQ(p.nASQSize, 4u);
    EXPECT_EQ(p.nACQSize, 16u);
    EXPECT_EQ(p.nIOSQNum, 6);          // 8 asked, 6 granted
    EXPECT_EQ(p.nIOSQSize, 64u);       // capped by CAP.MQES
    EXPECT_EQ(p.nIOCQSize, 64u);
    EXPECT_EQ(pCntl->nMaxIOSQNum, 6u);
    EXPECT_EQ(pCntl->nIOSQNum, 6u);
    EXPECT_EQ(pCntl->nIOCQNum, 3u);
    for (uint16_t id = 1; id <= 6; id++) {
        NvmeSQ *pSQ = pCntl->pSQs[id];
        ASSERT_NE(pSQ, nullptr);
        EXPECT_EQ(pSQ->nState, NVME_SQ_ACTIVE);
        EXPECT_EQ(pSQ->cqID, (id - 1) / 2 + 1);
        EXPECT_EQ(pSQ->nSQyTDBL, 0x1000u + 2 * id * 4);
        const NvmeCQ *pCQ = pCntl->pCQs[pSQ->cqID];
        EXPECT_TRUE((pCQ->attachedSQs[0] >> id) & 1);
        EXPECT_EQ(pSQ->pDefNs, pCntl->usedNs.front());
        EXPECT_TRUE(pSQ->qLock.try_acquire());   // every creation let its lock go
        pSQ->qLock.release();
    }
    // Two CQs per I/O poller: CQs 1-2 on one thread, CQ 3 on the next.
    EXPECT_EQ(pCntl->pCQs[1]->pPoller, pCntl->pCQs[2]->pPoller);
    EXPECT_NE(pCntl->pCQs[3]->pPoller, pCntl->pCQs[1]->pPoller);
    EXPECT_TRUE(pCntl->pollers[0].thread.joinable());
    EXPECT_EQ(pCntl->pSQs[0]->nFlags & NVME_SQF_NOT_POLLING, 0);

    // Identify data and the namespace.
    EXPECT_EQ(pCntl->CNTLID, pCntl->nCntlIdCopy);
    EXPECT_STRNE(pCntl->szModel, "");
    ASSERT_EQ(pCntl->nUsedNSsNum(), 1u);
    const NvmeNs *pNs = pCntl->usedNs.front();
    EXPECT_EQ(pNs->nsid, 1u);
    EXPECT_EQ(pNs->nLbaSize, 512u);
    EXPECT_EQ(pNs->nCapBytes, 64u << 20);
    EXPECT_EQ(pCntl->pDev->namespaces[1], pNs);
    EXPECT_TRUE(pEng->registry.is(pNs, NVME_KIND_NS));
    // The admin queue is idle and every record went back.
    EXPECT_EQ(pCntl->pSQs[0]->nHead, pCntl->pSQs[0]->nTail);
    EXPECT_EQ(nvmeCmdPoolFreeNum(pCntl->pSQs[0]->pQCmdRscMgr), pCntl->pSQs[0]->pQCmdRscMgr->nCount);
}

TEST_F(BringUp, SecondBringUpReusesAndGrowsQueues)
{
    startEngine(simOneController(4, 1024));
    NvmeCntl *pCntl = cntl();
    NvmeInitParams p = nvmeNormalizeInitParams(16, 16, 4, 64, 1, 64, 0);
    ASSERT_EQ(nvmeInitCntl(*pEng, pCntl, false, p), EC_NONE);
    NvmeSQ *aSQ[5];
    NvmeCQ *aCQ[5];
    for (int i = 0; i <= 4; i++) {
        aSQ[i] = pCntl->pSQs[i];
        aCQ[i] = pCntl->pCQs[i];
    }
    void *pOldRing = aSQ[1]->pEntries;

    // As after a controller-level reset: down, then up again with larger
    // I/O queues.
    pCntl->nState = 2;
    NvmeInitParams p2 = nvmeNormalizeInitParams(16, 16, 4, 256, 1, 256, 0);
    ASSERT_EQ(nvmeInitCntl(*pEng, pCntl, false, p2), EC_NONE);
    for (int i = 0; i <= 4; i++) {
        EXPECT_EQ(pCntl->pSQs[i], aSQ[i]);
        EXPECT_EQ(pCntl->pCQs[i], aCQ[i]);
    }
    EXPECT_EQ(aSQ[1]->nSize, 256u);
    EXPECT_NE(aSQ[1]->pEntries, pOldRing);
    EXPECT_EQ(aSQ[1]->pQCmdRscMgr->nCount, 4096u);
    EXPECT_EQ(pCntl->nIOSQNum, 4u);
    EXPECT_EQ(pCntl->nIOCQNum, 4u);
    // Namespaces were rebuilt from fresh identify data.
    ASSERT_EQ(pCntl->nUsedNSsNum(), 1u);
    EXPECT_TRUE(pEng->registry.is(pCntl->usedNs.front(), NVME_KIND_NS));
    EXPECT_EQ(pCntl->pDev->namespaces[1], pCntl->usedNs.front());
    EXPECT_EQ(pCntl->usedNs.front()->users.size(), 1u);
    size_t nBinds = 0;
    for (size_t at = 0; (at = log.sText.find("bind namespace 1 with CNTLID", at)) != std::string::npos; at++)
        nBinds++;
    EXPECT_EQ(nBinds, 2u);
    EXPECT_EQ(aSQ[4]->pDefNs, pCntl->usedNs.front());
}

TEST_F(BringUp, AdminOnlyAndRefusedAdminSizes)
{
    startEngine(simOneController(4, 1024));
    NvmeCntl *pCntl = cntl();
    NvmeInitParams p = nvmeNormalizeInitParams(8192, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(nvmeInitCntl(*pEng, pCntl, true, p), EC_ADMQ_SIZE);
    EXPECT_NE(pCntl->nState, NVME_CNTL_INITED);
    p = nvmeNormalizeInitParams(2, 4, 0, 0, 0, 0, 0);
    ASSERT_EQ(nvmeInitCntl(*pEng, pCntl, true, p), EC_NONE);
    EXPECT_EQ(p.nASQSize, 2u);
    EXPECT_EQ(p.nACQSize, 4u);
    EXPECT_EQ(pCntl->nIOSQNum, 0u);
    EXPECT_EQ(pCntl->pSQs[1], nullptr);
    EXPECT_EQ(pCntl->nMaxIOSQNum, 4u);
}

} // namespace kxmnvme::test
