// Hand-built records for the trace tests: SQs with a trace ring and bins,
// a controller with an event ring, a fixed time base and text capture.
#pragma once
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "nvmeRecords.h"
#include "nvmeTextOut.h"
#include "nvmeTime.h"

namespace kxmnvme::test {

// 2026-12-08 04:21:49 UTC, and a counter reading taken at that moment.
constexpr time_t kCalendar = 1796703709;
constexpr sysTimeVal_t kCounter = 1000000000000ll;

inline NvmeTimeBase fixedBase()
{
    setenv("TZ", "UTC", 1);
    tzset();
    NvmeTimeBase b;
    b.tCalendar = kCalendar;
    b.nCalendarUs = 0;
    b.nCounter = kCounter;
    return b;
}

// The counter reading nUs microseconds after the base.
inline sysTimeVal_t at(int64_t nUs)
{
    return kCounter + nUs * 1000;
}

inline nvmewire::Sqe sqe(uint8_t nOpc, uint16_t nCid, uint32_t nNsid = 0, uint32_t nCdw10 = 0)
{
    nvmewire::Sqe e{};
    e.setOpc(nOpc);
    e.setCid(nCid);
    e.setNsid(nNsid);
    e.setCdw10(nCdw10);
    return e;
}

struct TestSQ {
    NvmeSQ sq;
    explicit TestSQ(uint16_t qID, uint8_t nState = NVME_SQ_ACTIVE)
    {
        sq.qID = qID;
        sq.nState = nState;
        sq.pQCmdTraceMgr = new NvmeCmdTraceMgr;
        sq.pHist = new std::atomic<uint64_t>[NVME_HIST_BINS]();
    }
    ~TestSQ()
    {
        delete sq.pQCmdTraceMgr;
        delete[] sq.pHist;
    }
    TestSQ(const TestSQ &) = delete;
    TestSQ &operator=(const TestSQ &) = delete;
};

struct TestCntl {
    std::unique_ptr<NvmeCntl> p = std::make_unique<NvmeCntl>();
    TestCntl() { p->pSEvtTraceMgr = new NvmeEvtTraceMgr; }
    ~TestCntl() { delete p->pSEvtTraceMgr; }
};

// Everything written through the writer that fn is given.
template <typename Fn>
std::string capture(Fn fn)
{
    std::string text;
    {
        NvmeTextOut out([&](const char *sz, size_t n) { text.append(sz, n); });
        fn(out);
    }
    return text;
}

inline const char *kTraceHeader =
    "                                           Command C\n"
    "                                               /   P Execution\n"
    " No.          Start Timestamp  Q  CID        Event L Time (us)      CDW0     CDW1     CDW2     CDW3     CDW4"
    "     CDW5     CDW6     CDW7     CDW8     CDW9    CDW10    CDW11    CDW12    CDW13    CDW14    CDW15 Status\n"
    "---- ------------------------ -- ---- ------------ - ---------- -------- -------- -------- -------- --------"
    " -------- -------- -------- -------- -------- -------- -------- -------- -------- -------- -------- ------\n";

} // namespace kxmnvme::test
