// Submission and completion: a full queue, tail wrap, the completion
// check's grace and time-out bit, completions that match no command, and
// pollers finishing commands in poller mode while tasks submit together.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "EngineFixture.h"
#include "SimBackend.h"
#include "nvmeCmdCheck.h"
#include "nvmeCmdPool.h"
#include "nvmeInit.h"
#include "nvmeSubmit.h"
#include "nvmesim/Controller.h"
#include "nvmewire/Opcodes.h"

namespace kxmnvme::test {

namespace {

NvmeCmdReq getFeaturesReq()
{
    NvmeCmdReq r;
    r.cmd = nvmewire::Sqe::make(nvmewire::ADMIN_GET_FEATURES);
    r.cmd.setCdw10(0x07);
    return r;
}

NvmeCmdReq flushReq()
{
    NvmeCmdReq r;
    r.cmd = nvmewire::Sqe::make(nvmewire::NVM_FLUSH, 1);
    return r;
}

template <typename Pred>
bool waitFor(Pred pred, int nMs = 5000)
{
    for (int i = 0; i < nMs && !pred(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

} // namespace

class Submission : public EngineFixture {
protected:
    void bringUp(int nIOSQ)
    {
        startEngine(simOneController(4, 1024));
        NvmeInitParams p = nvmeNormalizeInitParams(16, 16, nIOSQ, 64, 1, 64, 0);
        ASSERT_EQ(nvmeInitCntl(*pEng, cntl(), false, p), EC_NONE);
        pSim = kxmplat::simControllerOf(pEng->platform(), cntl()->device());
        ASSERT_NE(pSim, nullptr);
    }
    nvmesim::Controller *pSim = nullptr;
};

TEST_F(Submission, FullQueueTailWrapAndTimeOuts)
{
    bringUp(1);
    NvmeSQ *pASQ = cntl()->pSQs[0];
    pSim->faults().setWithholdCompletions(true);
    pEng->nCmdTimeoutUs = 2000;
    std::vector<CmdRR *> cmds;
    for (int i = 0; i < 15; i++) {
        CmdRR *p = nullptr;
        ASSERT_EQ(nvmeSubmit(*pEng, pASQ, getFeaturesReq(), &p), EC_NONE) << i;
        cmds.push_back(p);
    }
    const uint32_t nTail = pASQ->nTail;
    CmdRR *pNone = nullptr;
    EXPECT_EQ(nvmeSubmit(*pEng, pASQ, getFeaturesReq(), &pNone), EC_SQ_FULL);
    EXPECT_EQ(pNone, nullptr);
    EXPECT_EQ(pASQ->nTail, nTail);
    // The tail went round the ring: 15 commands from any start on 16 slots.
    EXPECT_EQ((nTail + 1) % 16, pASQ->nHead);

    // Sixteen unanswered checks say 0 even past the time-out; the 17th 2.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(nvmeCmdCheck(*pEng, cmds[0]), 0) << i;
    EXPECT_EQ(nvmeCmdCheck(*pEng, cmds[0]), NVME_CMD_TO);

    // Late completions carry both bits; the queue drains.
    pSim->faults().setWithholdCompletions(false);
    pSim->faults().releaseWithheld();
    int64_t nExeUs = 0;
    uint32_t aDw[4] = {};
    ASSERT_TRUE(waitFor([&] { return cmds[0]->bCompleted.load(); }));
    const int64_t nWord = nvmeCmdCheck(*pEng, cmds[0], &nExeUs, aDw);
    EXPECT_EQ(nWord & 3, 3);
    EXPECT_EQ((nWord >> 16) & 0x7FFF, 0);
    EXPECT_EQ(static_cast<uint32_t>(static_cast<uint64_t>(nWord) >> 32), aDw[0]);
    EXPECT_GT(nExeUs, 2000);
    for (size_t i = 1; i < cmds.size(); i++)
        EXPECT_NE(nvmeCmdWait(*pEng, cmds[i]) & NVME_CMD_CPL, 0);
    EXPECT_EQ(pASQ->nHead, pASQ->nTail);
    EXPECT_EQ(nvmeCmdPoolFreeNum(pASQ->pQCmdRscMgr), pASQ->pQCmdRscMgr->nCount);
    EXPECT_EQ(pASQ->aIssueCnt[nvmewire::ADMIN_GET_FEATURES], pASQ->aComplCnt[nvmewire::ADMIN_GET_FEATURES].load());
}

TEST_F(Submission, UnmatchedCompletionsReachTheCallback)
{
    bringUp(1);
    static std::atomic<int> s_nCalls{0};
    static int64_t s_aVals[8];
    s_nCalls = 0;
    int nToken = 0;
    cntl()->pUnmatchedCallback = &nToken;
    pEng->pfnRunCallback = [](void *, const int64_t aVals[8]) {
        for (int i = 0; i < 8; i++)
            s_aVals[i] = aVals[i];
        s_nCalls++;
    };
    pSim->faults().injectBogusCid(true, nvmewire::ADMIN_GET_FEATURES, 1);
    CmdRR *pCmd = nullptr;
    ASSERT_EQ(nvmeSubmit(*pEng, cntl()->pSQs[0], getFeaturesReq(), &pCmd), EC_NONE);
    ASSERT_TRUE(waitFor([] { return s_nCalls.load() == 1; }));
    EXPECT_EQ(s_aVals[0], 0);               // device
    EXPECT_EQ(s_aVals[1], 0);               // function
    EXPECT_EQ(s_aVals[2], 0);               // CQ
    EXPECT_NE(s_aVals[7] & 0xFFFF, pCmd->nCID);
    EXPECT_EQ(nvmeCmdCheck(*pEng, pCmd), 0);   // never completes
    cntl()->pUnmatchedCallback = nullptr;
}

TEST_F(Submission, PollersFinishCommandsOfTasksInPollerMode)
{
    bringUp(2);
    NvmeCntl *pCntl = cntl();
    for (int q = 1; q <= 2; q++)
        pCntl->pSQs[q]->nFlags |= NVME_SQF_NOT_POLLING;
    constexpr int kPerTask = 3000;
    std::vector<std::thread> tasks;
    for (int t = 0; t < 4; t++)
        tasks.emplace_back([&, t] {
            NvmeSQ *pSQ = pCntl->pSQs[1 + t % 2];
            for (int i = 0; i < kPerTask; i++) {
                CmdRR *p = nullptr;
                while (nvmeSubmit(*pEng, pSQ, flushReq(), &p) == EC_SQ_FULL)
                    std::this_thread::yield();
            }
        });
    for (std::thread &t : tasks)
        t.join();
    for (int q = 1; q <= 2; q++) {
        NvmeSQ *pSQ = pCntl->pSQs[q];
        ASSERT_TRUE(waitFor([&] { return pSQ->aComplCnt[nvmewire::NVM_FLUSH].load() == 2 * kPerTask; }));
        EXPECT_EQ(pSQ->aIssueCnt[nvmewire::NVM_FLUSH], 2u * kPerTask);
        uint64_t nBinned = 0;
        for (uint32_t b = 0; b < NVME_HIST_BINS; b++)
            nBinned += pSQ->pHist[b].load();
        EXPECT_EQ(nBinned, 2u * kPerTask);
        ASSERT_TRUE(waitFor([&] { return nvmeCmdPoolFreeNum(pSQ->pQCmdRscMgr) == pSQ->pQCmdRscMgr->nCount; }));
    }
    // With nothing outstanding the I/O poller goes to sleep.
    CqPoller *pPoller = pCntl->pCQs[1]->pPoller;
    EXPECT_TRUE(waitFor([&] { return pPoller->bSleeping.load(); }));
}

} // namespace kxmnvme::test
