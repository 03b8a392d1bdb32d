// dumpTrace rows of one SQ and of a controller, cleanTrace, and the time
// stamp forms.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "TraceFixture.h"
#include "nvmeTrace.h"
#include "nvmeTraceDump.h"

namespace kxmnvme::test {
namespace {

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string s; std::getline(in, s);)
        v.push_back(s);
    return v;
}

const char *kZeros8 = " 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000";

// 10,005 Writes through a ring of 10,000: the oldest five are overwritten,
// late completions of overwritten commands leave the new slot alone, the
// newest commands are unfinished, and a row limit keeps the newest rows.
TEST(TraceDump, RingWrapRowLimitAndUnfinishedRows)
{
    const NvmeTimeBase base = fixedBase();
    TestSQ t(3);
    std::vector<NvmeCmdTraceRec *> recs;
    for (uint32_t i = 0; i < 10005; i++) {
        NvmeCmdTraceRec *pRec = nvmeTraceOpen(&t.sq, sqe(0x01, uint16_t(i), 1, i), 0, at(1000 + i));
        ASSERT_NE(pRec, nullptr);
        recs.push_back(pRec);
        if (i < 10000)
            nvmeTraceClose(pRec, at(1000 + i), at(1000 + i + 25), 0, 0);
    }
    EXPECT_EQ(recs[10000], recs[0]);   // the ring wrapped onto slot 0
    // A late completion stamp for the command that slot 0 held before.
    nvmeTraceClose(recs[0], at(1000), at(1100), 0xAB, 0x0002);
    // The newest command completes with an error status.
    nvmeTraceClose(recs[10004], at(11004), at(11004 + 123456), 0, 0x4002);

    std::string text = capture([&](NvmeTextOut &out) { nvmeDumpTraceSQ(base, &t.sq, 3, out); });
    const std::string newest3 = std::string(kTraceHeader) +
                        "0001 26/12/08 04:21:49.011004  3 2714        Write 1     123456 27140001 00000001" +
                        kZeros8 + " 00002714 00000000 00000000 00000000 00000000 00000000  4002h\n" +
                        "0002 26/12/08 04:21:49.011003  3 2713        Write 0 ********** 27130001 00000001" +
                        kZeros8 + " 00002713 00000000 00000000 00000000 00000000 00000000  ****\n" +
                        "0003 26/12/08 04:21:49.011002  3 2712        Write 0 ********** 27120001 00000001" +
                        kZeros8 + " 00002712 00000000 00000000 00000000 00000000 00000000  ****\n";
    EXPECT_EQ(text, newest3);

    // A queue lock that stays held (an I/O SQ whose Create I/O SQ command
    // the script has not checked yet) does not make the dump wait forever.
    t.sq.qLock.acquire();
    text = capture([&](NvmeTextOut &out) { nvmeDumpTraceSQ(base, &t.sq, 1, out); });
    t.sq.qLock.release();
    EXPECT_EQ(text, newest3.substr(0, newest3.find("0002 ")));

    // Without a limit: a full turn of the ring, ending at the oldest
    // command still held (number 5); slot 0 (command 10000) is unfinished.
    text = capture([&](NvmeTextOut &out) { nvmeDumpTraceSQ(base, &t.sq, 0, out); });
    const std::vector<std::string> v = lines(text);
    ASSERT_EQ(v.size(), 4u + 10000u);
    EXPECT_EQ(v[4 + 4], "0005 26/12/08 04:21:49.011000  3 2710        Write 0 ********** 27100001 00000001" +
                            std::string(kZeros8) +
                            " 00002710 00000000 00000000 00000000 00000000 00000000  ****");
    EXPECT_EQ(v[4 + 5], "0006 26/12/08 04:21:49.010999  3 270F        Write 1         25 270F0001 00000001" +
                            std::string(kZeros8) +
                            " 0000270F 00000000 00000000 00000000 00000000 00000000  0000h");
    EXPECT_EQ(v.back(), "10000 26/12/08 04:21:49.001005  3 0005        Write 1         25 00050001 00000001" +
                            std::string(kZeros8) +
                            " 00000005 00000000 00000000 00000000 00000000 00000000  0000h");

    // cleanTrace empties the ring; recording starts again at its first slot.
    nvmeCleanTraceSQ(&t.sq);
    EXPECT_EQ(capture([&](NvmeTextOut &out) { nvmeDumpTraceSQ(base, &t.sq, 0, out); }), kTraceHeader);
    NvmeCmdTraceRec *pRec = nvmeTraceOpen(&t.sq, sqe(0x00, 7), 0, at(5));
    EXPECT_EQ(pRec, recs[0]);
    nvmeTraceClose(pRec, at(5), at(5), 0, 0);
    EXPECT_EQ(capture([&](NvmeTextOut &out) { nvmeDumpTraceSQ(base, &t.sq, 0, out); }),
              std::string(kTraceHeader) + "0001 26/12/08 04:21:49.000005  3 0007        Flush 1          0 00070000" +
                  " 00000000" + kZeros8 + " 00000000 00000000 00000000 00000000 00000000 00000000  0000h\n");
}

// A controller's view: its event ring merged with the rings of its SQs,
// newest first; equal start times go to the event ring, then to the lower
// SQ id; a deleted SQ is not shown.
TEST(TraceDump, ControllerMergeWithEvents)
{
    const NvmeTimeBase base = fixedBase();
    TestCntl c;
    TestSQ adm(0), io1(1, NVME_SQ_DELETED), io2(2);
    c.p->pSQs[0] = &adm.sq;
    c.p->pSQs[1] = &io1.sq;
    c.p->pSQs[2] = &io2.sq;

    NvmeCmdTraceRec *p = nvmeTraceOpen(&adm.sq, sqe(0x06, 1, 0, 1), 0, at(100));   // Identify
    nvmeTraceClose(p, at(100), at(150), 0x1234, 0);
    nvmeTraceOpen(&adm.sq, sqe(0x02, 2, 0xFFFFFFFF, 0x007F0002), 0, at(300));   // Get Log Page, pending
    p = nvmeTraceOpen(&io2.sq, sqe(0x7D, 0x11, 1), 2, at(50));                    // Zone Append
    nvmeTraceClose(p, at(50), at(57), 0, 0);
    p = nvmeTraceOpen(&io2.sq, sqe(0x02, 0x10, 1, 8), 0, at(300));                // Read
    nvmeTraceClose(p, at(300), at(1300), 0, 0x0281);
    nvmeTraceOpen(&io1.sq, sqe(0x01, 9, 1), 0, at(400));                          // deleted SQ

    NvmeEvtTraceRec *e = nvmeEvtTraceOpen(c.p.get(), NVME_EVT_POWER_ON, 0, at(1));
    nvmeEvtTraceClose(e, at(1), at(3), false);
    e = nvmeEvtTraceOpen(c.p.get(), NVME_EVT_NVMSS_RST, 0, at(5));
    nvmeEvtTraceClose(e, at(5), at(1239), true);   // no "Time Out" for this kind
    nvmeEvtTraceOpen(c.p.get(), 99, 0, at(10));
    nvmeEvtTraceOpen(c.p.get(), NVME_EVT_FL_RST, 0, at(20));
    e = nvmeEvtTraceOpen(c.p.get(), NVME_EVT_SHUTDOWN_NTF, 1, at(200));
    nvmeEvtTraceClose(e, at(200), at(250), true);
    nvmeEvtTraceOpen(c.p.get(), NVME_EVT_POWER_OFF, 0, at(300));

    const std::string sZ5 = " 00000000 00000000 00000000 00000000 00000000";
    const std::string expected =
        std::string(kTraceHeader) +
        "0001 26/12/08 04:21:49.000300            Power Off\n"
        "0002 26/12/08 04:21:49.000300  0 0002 Get Log Page 0 ********** 00020002 FFFFFFFF" + kZeros8 +
        " 007F0002" + sZ5 + "  ****\n" +
        "0003 26/12/08 04:21:49.000300  2 0010         Read 1       1000 00100002 00000001" + kZeros8 +
        " 00000008" + sZ5 + "  0281h\n" +
        "0004 26/12/08 04:21:49.000200         Shutdown Ntf           50 Time Out CC.SHN:1\n"
        "0005 26/12/08 04:21:49.000100  0 0001     Identify 1         50 00010006 00000000" + kZeros8 +
        " 00000001" + sZ5 + "  0000h\n" +
        "0006 26/12/08 04:21:49.000050  2 0011    Zn Append 1          7 0011007D 00000001" + kZeros8 +
        " 00000000" + sZ5 + "  0000h\n" +
        "0007 26/12/08 04:21:49.000020               FL Rst   **********\n"
        "0008 26/12/08 04:21:49.000010              Unknown\n"
        "0009 26/12/08 04:21:49.000005           NVM SS Rst         1234\n"
        "0010 26/12/08 04:21:49.000001             Power On            2\n";
    EXPECT_EQ(capture([&](NvmeTextOut &out) { nvmeDumpTraceCntl(base, c.p.get(), 0, out); }), expected);

    // A row limit cuts the merged view after the newest rows.
    const std::string limited = capture([&](NvmeTextOut &out) { nvmeDumpTraceCntl(base, c.p.get(), 4, out); });
    EXPECT_EQ(limited, expected.substr(0, expected.find("0005 ")));

    // cleanTrace on the controller empties the event ring and every SQ's.
    nvmeCleanTraceCntl(c.p.get());
    EXPECT_EQ(capture([&](NvmeTextOut &out) { nvmeDumpTraceCntl(base, c.p.get(), 0, out); }), kTraceHeader);
    EXPECT_EQ(capture([&](NvmeTextOut &out) { nvmeDumpTraceSQ(base, &io1.sq, 0, out); }), kTraceHeader);
}

// The four text forms of a time stamp; microseconds carry into the seconds
// and the date.
TEST(TraceDump, TimeStampForms)
{
    NvmeTimeBase base = fixedBase();
    base.nCalendarUs = 999999;
    char sz[64];
    const sysTimeVal_t tv = at(20 * 3600 * 1000000ll - 4 * 1000000ll + 123457);   // 20 h later, 4 s less
    EXPECT_STREQ(nvmeTimeStampText(sz, sizeof sz, base, tv, NVME_TS_TRACE), "26/12/09 00:21:46.123456");
    EXPECT_STREQ(nvmeTimeStampText(sz, sizeof sz, base, tv, NVME_TS_LOG), "26/12/09 00:21:46.123");
    EXPECT_STREQ(nvmeTimeStampText(sz, sizeof sz, base, tv, NVME_TS_DATE), "2026/12/09 00:21:46");
    EXPECT_STREQ(nvmeTimeStampText(sz, sizeof sz, base, tv, NVME_TS_FILE), "2026-12-09_002146");
    // Before the base (a value taken before the module was loaded).
    EXPECT_STREQ(nvmeTimeStampText(sz, sizeof sz, base, at(-2000000), NVME_TS_TRACE), "26/12/08 04:21:47.999999");
}

} // namespace
} // namespace kxmnvme::test
