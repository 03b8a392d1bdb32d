#include "nvmePollers.h"

#include <chrono>
#include <cstring>

#include "nvmeCmdPool.h"
#include "nvmeEngine.h"
#include "nvmePostProc.h"
#include "nvmeTrace.h"

namespace kxmnvme {

namespace {

// Entries taken from one I/O CQ before the next CQ gets its turn.
constexpr uint32_t kIoBurst = 17;
// A poller keeps looking this long after its last completion before it
// slows down; with nothing outstanding it then sleeps until woken.
constexpr auto kSpinWindow = std::chrono::microseconds(2000);
// With commands outstanding but none completing (a withheld or very slow
// command), it looks this often.
constexpr auto kSlowPoll = std::chrono::microseconds(50);
// A sleeping poller still looks this often for completions nobody waits for.
constexpr auto kIdleWait = std::chrono::milliseconds(100);
// The admin poller sleeps this long after a pass that found nothing.
constexpr auto kAdminSleep = std::chrono::microseconds(100);

uint16_t statusPhaseAt(const NvmeCQ *pCQ, uint32_t nIdx)
{
    const uint16_t *p = reinterpret_cast<const uint16_t *>(static_cast<const char *>(pCQ->pEntries) +
                                                           static_cast<size_t>(nIdx) * 16 + 14);
    return __atomic_load_n(p, __ATOMIC_ACQUIRE);
}

void runUnmatched(NvmeEngine &eng, NvmeCntl *pCntl, const NvmeCQ *pCQ, const nvmewire::Cqe &e)
{
    if (!pCntl->pUnmatchedCallback || !eng.pfnRunCallback)
        return;
    const int64_t aVals[8] = {pCntl->pDev ? pCntl->pDev->nDevNo : 0, pCntl->nFuncId, pCQ->qID, 0,
                              e.dw[0], e.dw[1], e.dw[2], e.dw[3]};
    eng.pfnRunCallback(pCntl->pUnmatchedCallback, aVals);
}

// The SQ an entry belongs to, or null: SQ 0 on the admin CQ; on an I/O CQ
// an existing I/O SQ attached to it.
NvmeSQ *sqOf(NvmeCntl *pCntl, const NvmeCQ *pCQ, bool bAdmin, uint16_t nSQId)
{
    if (bAdmin ? nSQId != 0
               : (nSQId == 0 || nSQId > NVME_MAX_IOSQ_NUM || !((pCQ->attachedSQs[nSQId / 64] >> (nSQId % 64)) & 1)))
        return nullptr;
    NvmeSQ *pSQ = pCntl->pSQs[nSQId];
    return pSQ && pSQ->pQCmdRscMgr ? pSQ : nullptr;
}

// Stores the completion into its command record and publishes it; in
// poller mode post-processes (admin) and recycles the record.
void complete(NvmeSQ *pSQ, CmdRR *pCmd, const nvmewire::Cqe &e, bool bAdmin)
{
    const sysTimeVal_t tNow = sysTimeNow();
    pSQ->aComplCnt[pCmd->cmd.opc()].fetch_add(1, std::memory_order_relaxed);
    pCmd->cqe = e;
    pCmd->nStatus = e.status();
    pCmd->tComplete = tNow;
    nvmeHistAdd(pSQ, sysTimeElapsedUs(pCmd->tSubmit, tNow));
    if (pCmd->pTrace)
        nvmeTraceClose(pCmd->pTrace, pCmd->tSubmit, tNow, e.dw0(), static_cast<uint16_t>(e.status() & 0x7FFF));
    __atomic_store_n(&pSQ->nHead, static_cast<uint32_t>(e.sqhd()) % (pSQ->nSize ? pSQ->nSize : 1),
                     __ATOMIC_RELAXED);
    const bool bPollerMode = pSQ->nFlags & NVME_SQF_NOT_POLLING;
    pCmd->bCompleted.store(1, std::memory_order_release);
    if (bPollerMode) {
        if (bAdmin)
            nvmeRunPostProc(pCmd);
        nvmeCmdGiveBack(pSQ->pQCmdRscMgr, pCmd);
    }
}

// What a poller does after a pass that took nothing: keep looking while
// its last completion is recent (spinning with yields for I/O, in steps of
// 100 us for the admin queue), look every 50 us while commands are
// outstanding but slow, and otherwise sleep until a builder wakes it.
void idle(CqPoller *pPoller, bool bAdmin, std::chrono::steady_clock::time_point &tLast)
{
    const auto tIdle = std::chrono::steady_clock::now() - tLast;
    if (tIdle < kSpinWindow) {
        if (bAdmin)
            std::this_thread::sleep_for(kAdminSleep);
        else
            std::this_thread::yield();
    } else if (pPoller->nInFlight.load(std::memory_order_relaxed) > 0) {
        std::this_thread::sleep_for(bAdmin ? kAdminSleep : kSlowPoll);
    } else {
        std::unique_lock<std::mutex> w(pPoller->wakeLock);
        pPoller->bSleeping.store(true);
        // Re-check after announcing the sleep: a builder that counted a
        // command before seeing the flag has its command found here.
        if (pPoller->nInFlight.load() == 0 && !pPoller->bStop.load())
            pPoller->wake.wait_for(w, kIdleWait);
        pPoller->bSleeping.store(false);
        tLast = std::chrono::steady_clock::now();
    }
}

void adminLoop(NvmeEngine *pEng, CqPoller *pPoller)
{
    auto tLast = std::chrono::steady_clock::now();
    while (!pPoller->bStop.load(std::memory_order_acquire)) {
        uint32_t nTaken = 0;
        {
            std::lock_guard<std::mutex> g(pPoller->lock);
            if (pPoller->pCQs)
                nTaken = nvmeReapCQ(*pEng, pPoller->pCntl, pPoller->pCQs, true, 0);
        }
        if (nTaken)
            tLast = std::chrono::steady_clock::now();
        else
            idle(pPoller, true, tLast);
    }
}

void ioLoop(NvmeEngine *pEng, CqPoller *pPoller)
{
    auto tLast = std::chrono::steady_clock::now();
    while (!pPoller->bStop.load(std::memory_order_acquire)) {
        uint32_t nTaken = 0;
        {
            std::lock_guard<std::mutex> g(pPoller->lock);
            for (NvmeCQ *pCQ = pPoller->pCQs; pCQ; pCQ = pCQ->pNext)
                nTaken += nvmeReapCQ(*pEng, pPoller->pCntl, pCQ, false, kIoBurst);
        }
        if (nTaken)
            tLast = std::chrono::steady_clock::now();
        else
            idle(pPoller, false, tLast);
    }
}

void startThread(NvmeEngine &eng, CqPoller *pPoller, bool bAdmin)
{
    if (pPoller->thread.joinable())
        return;
    pPoller->bStop.store(0);
    pPoller->thread = std::thread(bAdmin ? adminLoop : ioLoop, &eng, pPoller);
}

// Links pCQ at the head of the poller's list unless it is there already.
void linkCQ(CqPoller *pPoller, NvmeCQ *pCQ)
{
    std::lock_guard<std::mutex> g(pPoller->lock);
    for (NvmeCQ *p = pPoller->pCQs; p; p = p->pNext)
        if (p == pCQ)
            return;
    pCQ->pNext = pPoller->pCQs;
    pPoller->pCQs = pCQ;
    pPoller->nCQNum++;
    pCQ->pPoller = pPoller;
}

} // namespace

CqPoller *nvmePollerOfSQ(NvmeSQ *pSQ)
{
    NvmeCntl *pCntl = pSQ->pCntl;
    if (!pCntl || pSQ->cqID > NVME_MAX_IOSQ_NUM)
        return nullptr;
    NvmeCQ *pCQ = pCntl->pCQs[pSQ->cqID];
    return pCQ ? pCQ->pPoller.load() : nullptr;
}

void nvmePollerKick(CqPoller *pPoller)
{
    if (pPoller->bSleeping.load()) {
        std::lock_guard<std::mutex> w(pPoller->wakeLock);
        pPoller->wake.notify_one();
    }
}

void nvmeAttachAdminCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ)
{
    CqPoller *pPoller = &pCntl->pollers[0];
    linkCQ(pPoller, pCQ);
    startThread(eng, pPoller, true);
}

void nvmeAttachIOCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ)
{
    CqPoller *pChosen = nullptr;
    CqPoller *pLeast = nullptr;
    for (uint32_t i = 1; i <= NVME_MAX_IOSQ_NUM; i++) {
        CqPoller *p = &pCntl->pollers[i];
        if (!p->thread.joinable() || p->nCQNum < pCntl->nIOCQNumPerPCCT) {
            pChosen = p;
            break;
        }
        if (!pLeast || p->nCQNum < pLeast->nCQNum)
            pLeast = p;
    }
    if (!pChosen)
        pChosen = pLeast;
    linkCQ(pChosen, pCQ);
    startThread(eng, pChosen, false);
}

void nvmeDetachCQ(NvmeCQ *pCQ)
{
    CqPoller *pPoller = pCQ->pPoller;
    if (!pPoller)
        return;
    std::lock_guard<std::mutex> g(pPoller->lock);
    for (NvmeCQ **pp = &pPoller->pCQs; *pp; pp = &(*pp)->pNext) {
        if (*pp == pCQ) {
            *pp = pCQ->pNext;
            pPoller->nCQNum--;
            break;
        }
    }
    pCQ->pNext = nullptr;
    pCQ->pPoller = nullptr;
}

void nvmeStopPollers(NvmeCntl *pCntl)
{
    for (CqPoller &p : pCntl->pollers)
        p.bStop.store(1, std::memory_order_release);
    for (CqPoller &p : pCntl->pollers) {
        if (!p.thread.joinable())
            continue;
        nvmePollerKick(&p);
        p.thread.join();
        p.thread = std::thread();
    }
}

void nvmeResetPollers(NvmeCntl *pCntl)
{
    nvmeStopPollers(pCntl);
    for (CqPoller &p : pCntl->pollers) {
        p.pCQs = nullptr;
        p.nCQNum = 0;
        p.nInFlight.store(0);
    }
    for (NvmeCQ *pCQ : pCntl->pCQs)
        if (pCQ) {
            pCQ->pNext = nullptr;
            pCQ->pPoller = nullptr;
        }
}

uint32_t nvmeReapCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ, bool bAdmin, uint32_t nMax)
{
    if (!pCQ->pEntries || pCQ->nSize == 0)
        return 0;
    uint32_t nTaken = 0;
    CqPoller *pPoller = pCQ->pPoller;
    while ((nMax == 0 || nTaken < nMax) && (statusPhaseAt(pCQ, pCQ->nHead) & 1) == pCQ->nPhase) {
        nvmewire::Cqe e;
        memcpy(&e, static_cast<const char *>(pCQ->pEntries) + static_cast<size_t>(pCQ->nHead) * 16, 16);
        if (++pCQ->nHead == pCQ->nSize) {
            pCQ->nHead = 0;
            pCQ->nPhase ^= 1;
        }
        nTaken++;
        NvmeSQ *pSQ = sqOf(pCntl, pCQ, bAdmin, e.sqid());
        CmdRR *pCmd = pSQ ? nvmeCmdFind(pSQ->pQCmdRscMgr, e.cid()) : nullptr;
        if (pCmd) {
            if (pPoller && pPoller->nInFlight.load(std::memory_order_relaxed) > 0)
                pPoller->nInFlight.fetch_sub(1, std::memory_order_relaxed);
            complete(pSQ, pCmd, e, bAdmin);
        } else {
            runUnmatched(eng, pCntl, pCQ, e);
        }
    }
    if (nTaken && eng.platform())
        eng.platform()->mmioWrite32(pCntl->device(), pCQ->nCQyHDBL, pCQ->nHead);
    return nTaken;
}

} // namespace kxmnvme
