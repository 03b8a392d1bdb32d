// Record rules: command pools, queue resizing, the handle registry, and
// what scan leaves in the records.
#include <set>

#include "EngineFixture.h"
#include "nvmeCmdPool.h"
#include "nvmeQueues.h"

namespace kxmnvme::test {

class Records : public EngineFixture {};

TEST_F(Records, CommandPoolsKeepTheirLastRecordAndSizeByQueue)
{
    startEngine(simOneController(4, 1024));
    EXPECT_EQ(nvmeCmdPoolCount(16), 4096u);
    EXPECT_EQ(nvmeCmdPoolCount(2048), 4096u);
    EXPECT_EQ(nvmeCmdPoolCount(4000), 8096u);
    EXPECT_EQ(nvmeCmdPoolCount(8192), 12288u);
    EXPECT_EQ(nvmeCmdPoolCount(10000), 10000u);

    NvmeSQ *pSQ = nvmeAllocSQ(*pEng, cntl(), 3, 16);
    ASSERT_NE(pSQ, nullptr);
    CmdRscMgr *pPool = pSQ->pQCmdRscMgr;
    EXPECT_EQ(pPool->nCount, 4096u);
    EXPECT_EQ(nvmeCmdFind(pPool, 4096), nullptr);
    std::set<uint16_t> cids;
    CmdRR *pFirst = nullptr;
    for (CmdRR *p; (p = nvmeCmdTake(pPool));) {
        EXPECT_TRUE(cids.insert(p->nCID).second);
        EXPECT_EQ(nvmeCmdFind(pPool, p->nCID), p);
        EXPECT_EQ(p->nSQId, 3);
        EXPECT_TRUE(pEng->registry.is(p, NVME_KIND_CMD));
        if (!pFirst)
            pFirst = p;
    }
    EXPECT_EQ(cids.size(), 4095u);   // the last record stays in the list
    EXPECT_EQ(nvmeCmdPoolFreeNum(pPool), 1u);
    nvmeCmdGiveBack(pPool, pFirst);
    nvmeCmdGiveBack(pPool, pFirst);  // twice: entered once
    EXPECT_EQ(nvmeCmdPoolFreeNum(pPool), 2u);
    nvmeCmdPoolReset(pPool);
    EXPECT_EQ(nvmeCmdPoolFreeNum(pPool), 4096u);

    // Growing the ring brings a pool sized for it; the old records are no
    // command handles any more.
    CmdRR *pOld = &pPool->pRecs[5];
    ASSERT_TRUE(nvmeResizeSQ(*pEng, cntl(), pSQ, 4000));
    EXPECT_EQ(pSQ->pQCmdRscMgr->nCount, 8096u);
    EXPECT_FALSE(pEng->registry.is(pOld, NVME_KIND_CMD));
    EXPECT_TRUE(pEng->registry.is(pSQ, NVME_KIND_SQ));
    nvmeFreeSQ(*pEng, cntl(), pSQ);
    EXPECT_FALSE(pEng->registry.is(pSQ, NVME_KIND_SQ));
}

TEST_F(Records, QueuesNeverShrinkTheirRings)
{
    startEngine(simOneController(4, 1024));
    NvmeCQ *pCQ = nvmeAllocCQ(*pEng, cntl(), 2, 64);
    ASSERT_NE(pCQ, nullptr);
    EXPECT_EQ(pCQ->nCQyHDBL, 0x1000u + 5 * cntl()->nDbStride);
    void *pRing = pCQ->pEntries;
    ASSERT_TRUE(nvmeResizeCQ(*pEng, cntl(), pCQ, 16));
    EXPECT_EQ(pCQ->nSize, 16u);
    EXPECT_EQ(pCQ->pEntries, pRing);
    ASSERT_TRUE(nvmeResizeCQ(*pEng, cntl(), pCQ, 64));
    EXPECT_EQ(pCQ->pEntries, pRing);
    ASSERT_TRUE(nvmeResizeCQ(*pEng, cntl(), pCQ, 256));
    EXPECT_NE(pCQ->pEntries, pRing);
    EXPECT_EQ(pCQ->qBuf.nBusAddr % 4096, 0u);
    nvmeFreeCQ(*pEng, cntl(), pCQ);
}

TEST_F(Records, RegistryAcceptsOnlyLiveRecordsOfTheirKind)
{
    startEngine(simOneController(4, 1024));
    NvmeCntl *pCntl = cntl();
    EXPECT_TRUE(pEng->registry.is(pCntl, NVME_KIND_CNTL));
    EXPECT_FALSE(pEng->registry.is(pCntl, NVME_KIND_SQ));
    EXPECT_FALSE(pEng->registry.is(reinterpret_cast<char *>(pCntl) + 8, NVME_KIND_CNTL));
    EXPECT_FALSE(pEng->registry.is(nullptr, NVME_KIND_CNTL));
    // Event records are one run: every record, and nothing between them.
    NvmeSEvt *pEvt = &pCntl->pSEvtRscMgr->recs[17];
    EXPECT_TRUE(pEng->registry.is(pEvt, NVME_KIND_EVT));
    EXPECT_FALSE(pEng->registry.is(reinterpret_cast<char *>(pEvt) + 1, NVME_KIND_EVT));
    EXPECT_FALSE(pEng->registry.is(&pCntl->pSEvtRscMgr->recs[NVME_SEVT_NUM], NVME_KIND_EVT));
    EXPECT_EQ(pCntl->hdr.pSelf, pCntl);
    EXPECT_EQ(pCntl->hdr.nSig, NVME_HANDLE_SIG);

    // What scan decoded from CAP and saved from configuration space.
    EXPECT_EQ(pCntl->nMaxQSize, 1024u);
    EXPECT_EQ(pCntl->nPageSize, 4096u);
    EXPECT_EQ(pCntl->nDbStride, 4u);
    EXPECT_NE(pCntl->savedCfg.nBackupCfgReg_BAR0, 0u);
    EXPECT_EQ(pCntl->nClassCode, 0x010802u);
    EXPECT_NE(log.sText.find("1 devices scanned!"), std::string::npos);
    EXPECT_NE(log.sText.find("\tnPageSize           = 4096\n"), std::string::npos);

    // After the teardown nothing is live any more.
    const NvmeCntl *pGone = pCntl;
    pEng->shutdown();
    EXPECT_FALSE(pEng->registry.is(pGone, NVME_KIND_CNTL));
    EXPECT_EQ(pEng->registry.runCount(), 0u);
    EXPECT_EQ(pEng->platform(), nullptr);
}

} // namespace kxmnvme::test
