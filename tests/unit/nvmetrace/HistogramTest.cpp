// Execution-time histograms: bins, the full table, the QoS table and the
// cumulative lookup, summed over SQs.
#include <gtest/gtest.h>

#include <cmath>

#include "TraceFixture.h"
#include "nvmeHistogram.h"
#include "nvmeTrace.h"

namespace kxmnvme::test {
namespace {

const char *kFullHeader = "  Exe-Time(us),         Count,       Percent,    Acc. Count,  Acc. Percent\n";
const char *kQoSHeader = "  Acc. Percent,  ExeTime (us)\n";

// Completions of one opcode on an SQ, each with its execution time.
void complete(NvmeSQ &sq, std::initializer_list<int64_t> times)
{
    for (int64_t t : times) {
        sq.aComplCnt[0x02].fetch_add(1);
        nvmeHistAdd(&sq, t);
    }
}

std::string dump(const NvmeHistSum &sum, int64_t nMode)
{
    return capture([&](NvmeTextOut &out) { nvmeHistDump(sum, nMode, out); });
}

// The QoS table as it must read when row i (1-based) shows us[i].
std::string qosTable(const std::vector<int64_t> &us)
{
    static const char *kHigh[] = {"99.9", "99.99", "99.999", "99.9999", "99.99999", "100.00000"};
    std::string s = kQoSHeader;
    char sz[64];
    for (int i = 1; i <= 105; i++) {
        const std::string pct = i < 100 ? std::to_string(i) + ".0" : kHigh[i - 100];
        snprintf(sz, sizeof sz, "  %12s,  %12lld\n", pct.c_str(), static_cast<long long>(us[i]));
        s += sz;
    }
    return s;
}

TEST(Histogram, BinsOfTheThreeRanges)
{
    TestSQ t(1);
    const int64_t times[] = {0, 9999, 10000, 10999, 9999999, 10000000, 255999999, 256000000, -1};
    const int32_t bins[] = {0, 9999, 10010, 10010, 19999, 20010, 20255, -1, -1};
    for (size_t i = 0; i < std::size(times); i++) {
        EXPECT_EQ(nvmeHistBin(times[i]), bins[i]) << times[i];
        nvmeHistAdd(&t.sq, times[i]);
    }
    uint64_t nSum = 0;
    for (uint32_t i = 0; i < NVME_HIST_BINS; i++)
        nSum += t.sq.pHist[i].load();
    EXPECT_EQ(nSum, 7u);   // the last two are not counted
    EXPECT_EQ(t.sq.pHist[10010].load(), 2u);
}

// Only 3 us completions: mode 1 prints one row; mode 2 prints every bin up
// to the one that reaches the total.
TEST(Histogram, FullTableOfThreeMicroseconds)
{
    TestSQ t(1);
    complete(t.sq, {3, 3, 3, 3, 3});
    NvmeHistSum sum;
    sum.add(&t.sq);
    EXPECT_EQ(dump(sum, 1), std::string(kFullHeader) +
                                "             3,             5,     100.00000,             5,     100.00000\n");
    EXPECT_EQ(dump(sum, 2), std::string(kFullHeader) +
                                "             1,             0,       0.00000,             0,       0.00000\n"
                                "             2,             0,       0.00000,             0,       0.00000\n"
                                "             3,             5,     100.00000,             5,     100.00000\n");

    // A total the bins never reach (a completion of 0 us is not in the
    // table): the accumulated percentage is held at 99.99999 rather than
    // rounded up to 100.
    TestSQ big(2);
    big.sq.pHist[3] = 100000000;
    big.sq.aComplCnt[0] = 100000001;
    NvmeHistSum bigSum;
    bigSum.add(&big.sq);
    EXPECT_EQ(dump(bigSum, 1), std::string(kFullHeader) +
                                   "             3,     100000000,     100.00000,     100000000,      99.99999\n");

    // Nothing completed: no rows in mode 1, zeros in the QoS table.
    TestSQ empty(3);
    NvmeHistSum none;
    none.add(&empty.sq);
    EXPECT_EQ(dump(none, 1), kFullHeader);
    EXPECT_EQ(dump(none, 0), qosTable(std::vector<int64_t>(106, 0)));
}

TEST(Histogram, QoSTable)
{
    // Every completion took 12 ms (bin 12,000 us): every row shows 12000.
    TestSQ t(1);
    complete(t.sq, {12000, 12400, 12999, 12000});
    NvmeHistSum sum;
    sum.add(&t.sq);
    EXPECT_EQ(dump(sum, 0), qosTable(std::vector<int64_t>(106, 12000)));

    // 25 % at 5 us, 75 % by 30 s, the last completion too long to count:
    // the rows above 75 % are never reached and show 0.
    TestSQ u(2);
    complete(u.sq, {5, 30100000, 30999999, 300000000});
    NvmeHistSum partial;
    partial.add(&u.sq);
    std::vector<int64_t> us(106, 0);
    for (int i = 1; i <= 25; i++)
        us[i] = 5;
    for (int i = 26; i <= 75; i++)
        us[i] = 30000000;
    EXPECT_EQ(dump(partial, 0), qosTable(us));
    // Mode 1 of the same: every counted bin, the table never reaches 100 %.
    EXPECT_EQ(dump(partial, 1), std::string(kFullHeader) +
                                    "             5,             1,      25.00000,             1,      25.00000\n"
                                    "      30000000,             2,      50.00000,             3,      75.00000\n");
}

// The cumulative lookup over a controller's SQs (all, or the I/O SQs only),
// with percentages in any order, unreachable ones and a NaN.
TEST(Histogram, CumulativeLookup)
{
    TestCntl c;
    TestSQ adm(0), io(1);
    c.p->pSQs[0] = &adm.sq;
    c.p->pSQs[1] = &io.sq;
    complete(adm.sq, {4, 4});
    complete(io.sq, {5, 20500, 30000000, 30700000});

    const double pctIO[] = {75, 25, 50, 100, 10, 0, 101, NAN};
    int64_t usIO[std::size(pctIO)];
    nvmeHistCumu(nvmeHistSumCntl(c.p.get(), true), pctIO, usIO, std::size(pctIO));
    const int64_t wantIO[] = {30000000, 5, 20000, 30000000, 5, 1, 0, 0};
    for (size_t i = 0; i < std::size(pctIO); i++)
        EXPECT_EQ(usIO[i], wantIO[i]) << "percentage " << pctIO[i];

    const double pctAll[] = {25, 50, 60, 99.99999, 100};
    int64_t usAll[std::size(pctAll)];
    const NvmeHistSum all = nvmeHistSumCntl(c.p.get(), false);
    EXPECT_EQ(all.nTotal, 6u);
    nvmeHistCumu(all, pctAll, usAll, std::size(pctAll));
    const int64_t wantAll[] = {4, 5, 20000, 30000000, 30000000};
    for (size_t i = 0; i < std::size(pctAll); i++)
        EXPECT_EQ(usAll[i], wantAll[i]) << "percentage " << pctAll[i];

    EXPECT_DOUBLE_EQ(QoSIdxToPercentage(1), 1.0);
    EXPECT_DOUBLE_EQ(QoSIdxToPercentage(104), 99.99999);
    EXPECT_DOUBLE_EQ(QoSIdxToPercentage(105), 100.0);
}

} // namespace
} // namespace kxmnvme::test
