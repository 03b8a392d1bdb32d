// Recording under load: two submitters open and close trace slots on their
// own SQs (each under its queue lock, as the builders do) and count
// histogram bins, while a third thread dumps and sums the controller's
// view. Run under ThreadSanitizer by the threads label.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TraceFixture.h"
#include "nvmeHistogram.h"
#include "nvmeTrace.h"
#include "nvmeTraceDump.h"

namespace kxmnvme::test {
namespace {

TEST(TraceConcurrency, SubmittersAndDumper)
{
    const NvmeTimeBase base = fixedBase();
    TestCntl c;
    TestSQ sq1(1), sq2(2);
    c.p->pSQs[1] = &sq1.sq;
    c.p->pSQs[2] = &sq2.sq;
    constexpr uint32_t kCmds = 30000;   // three turns of each ring
    std::atomic<bool> bDone{false};

    auto submitter = [&](NvmeSQ *pSQ) {
        for (uint32_t i = 0; i < kCmds; i++) {
            const sysTimeVal_t tStart = sysTimeNow();
            pSQ->qLock.acquire();
            NvmeCmdTraceRec *pRec = nvmeTraceOpen(pSQ, sqe(0x02, uint16_t(i), 1), 0, tStart);
            pSQ->qLock.release();
            // Completion, as the poller stamps it (without the queue lock).
            const sysTimeVal_t tEnd = sysTimeNow();
            pSQ->aComplCnt[0x02].fetch_add(1, std::memory_order_relaxed);
            nvmeHistAdd(pSQ, nvmeExeTimeUs(tStart, tEnd));
            nvmeTraceClose(pRec, tStart, tEnd, i, 0);
        }
    };
    size_t nDumps = 0;
    std::thread dumper([&] {
        while (!bDone.load()) {
            const std::string text =
                capture([&](NvmeTextOut &out) { nvmeDumpTraceCntl(base, c.p.get(), 500, out); });
            EXPECT_EQ(text.find("Unknown"), std::string::npos);
            (void)nvmeHistSumCntl(c.p.get(), true);
            nDumps++;
        }
    });
    std::thread t1(submitter, &sq1.sq), t2(submitter, &sq2.sq);
    const sysTimeVal_t tEvt = sysTimeNow();
    NvmeEvtTraceRec *pEvt = nvmeEvtTraceOpen(c.p.get(), NVME_EVT_CNTL_RST, 0, tEvt);
    nvmeEvtTraceClose(pEvt, tEvt, sysTimeNow(), false);
    t1.join();
    t2.join();
    bDone = true;
    dumper.join();
    EXPECT_GT(nDumps, 0u);

    // Every command was counted and every slot of both rings completed.
    const NvmeHistSum sum = nvmeHistSumCntl(c.p.get(), true);
    EXPECT_EQ(sum.nTotal, 2u * kCmds);
    uint64_t nBinned = 0;
    for (uint64_t n : sum.bins)
        nBinned += n;
    EXPECT_EQ(nBinned, 2u * kCmds);
    const std::string text = capture([&](NvmeTextOut &out) { nvmeDumpTraceCntl(base, c.p.get(), 0, out); });
    EXPECT_EQ(text.find("*"), std::string::npos);
    size_t nRows = 0;
    for (char ch : text)
        nRows += ch == '\n';
    EXPECT_EQ(nRows, 4u + 1u + 2u * NVME_CMD_TRACE_NUM);
}

} // namespace
} // namespace kxmnvme::test
