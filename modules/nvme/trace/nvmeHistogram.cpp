#include "nvmeHistogram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "sysFatal.h"

namespace kxmnvme {

namespace {

// The bins the tables walk, in order, with the time each stands for: the
// us bins from 1 (bin 0 is neither shown nor counted), the ms bins from
// 10 ms, the s bins from 10 s.
template <typename Fn>
void forEachBin(Fn fn)
{
    for (uint32_t i = 1; i < NVME_HIST_US_BINS; i++)
        if (!fn(i, static_cast<int64_t>(i)))
            return;
    for (uint32_t i = 10; i < NVME_HIST_MS_BINS; i++)
        if (!fn(NVME_HIST_US_BINS + i, static_cast<int64_t>(i) * 1000))
            return;
    for (uint32_t i = 10; i < NVME_HIST_S_BINS; i++)
        if (!fn(NVME_HIST_US_BINS + NVME_HIST_MS_BINS + i, static_cast<int64_t>(i) * 1000000))
            return;
}

// Share of nCount in nTotal, in percent (0 when there is nothing at all).
double percentOf(uint64_t nCount, uint64_t nTotal)
{
    return nTotal ? static_cast<double>(nCount) * 100.0 / static_cast<double>(nTotal) : 0.0;
}

void fullTable(const NvmeHistSum &sum, bool bEveryBin, NvmeTextOut &out)
{
    out.put("  Exe-Time(us),         Count,       Percent,    Acc. Count,  Acc. Percent\n");
    uint64_t nAcc = 0;
    forEachBin([&](uint32_t nBin, int64_t nUs) {
        const uint64_t nCount = sum.bins[nBin];
        nAcc += nCount;
        if (!bEveryBin && nCount == 0)
            return true;
        char szPct[32], szAccPct[32];
        snprintf(szPct, sizeof szPct, "%3.5f", percentOf(nCount, sum.nTotal));
        out.put("  %12lld,  %12llu,  %12s,  %12llu,", static_cast<long long>(nUs),
                static_cast<unsigned long long>(nCount), szPct, static_cast<unsigned long long>(nAcc));
        const double dAccPct = percentOf(nAcc, sum.nTotal);
        if (dAccPct > 99.99999 && nAcc < sum.nTotal) {
            out.put("      99.99999\n");
        } else {
            snprintf(szAccPct, sizeof szAccPct, "%3.5f", dAccPct);
            out.put("  %12s\n", szAccPct);
        }
        return nAcc < sum.nTotal;
    });
}

void qosTable(const NvmeHistSum &sum, NvmeTextOut &out)
{
    int64_t aUs[NVME_QOS_IDX_NUM + 1] = {};
    int nIdx = 1;
    if (sum.nTotal) {
        uint64_t nAcc = 0;
        forEachBin([&](uint32_t nBin, int64_t nUs) {
            nAcc += sum.bins[nBin];
            const double dAccPct = percentOf(nAcc, sum.nTotal);
            while (nIdx < NVME_QOS_IDX_NUM && dAccPct >= QoSIdxToPercentage(nIdx))
                aUs[nIdx++] = nUs;
            if (nIdx == NVME_QOS_IDX_NUM && nAcc == sum.nTotal)
                aUs[nIdx++] = nUs;
            return nIdx <= NVME_QOS_IDX_NUM;
        });
    }
    out.put("  Acc. Percent,  ExeTime (us)\n");
    for (int i = 1; i <= NVME_QOS_IDX_NUM; i++) {
        char sz[32];
        out.put("  %12s,  %12lld\n", nvmeQoSText(i, sz, sizeof sz), static_cast<long long>(aUs[i]));
    }
}

} // namespace

double QoSIdxToPercentage(int nIdx)
{
    static const double kHigh[] = {99.9, 99.99, 99.999, 99.9999, 99.99999, 100.0};
    if (nIdx >= 1 && nIdx <= 99)
        return nIdx;
    if (nIdx >= 100 && nIdx <= NVME_QOS_IDX_NUM)
        return kHigh[nIdx - 100];
    sysFatal("\"%s\" %s() line %d: idx = %d is out of bound\n", "nvmeTrace", "QoSIdxToPercentage", __LINE__, nIdx);
}

const char *nvmeQoSText(int nIdx, char *sz, size_t nSize)
{
    // 1.0 ... 99.0, then 99.9 with one more decimal per index, 100.00000.
    const int nDecimals = nIdx < 100 ? 1 : nIdx < NVME_QOS_IDX_NUM ? nIdx - 99 : 5;
    snprintf(sz, nSize, "%.*f", nDecimals, QoSIdxToPercentage(nIdx));
    return sz;
}

void NvmeHistSum::add(const NvmeSQ *pSQ)
{
    if (!pSQ)
        return;
    if (pSQ->pHist)
        for (uint32_t i = 0; i < NVME_HIST_BINS; i++)
            bins[i] += pSQ->pHist[i].load(std::memory_order_relaxed);
    for (const auto &n : pSQ->aComplCnt)
        nTotal += n.load(std::memory_order_relaxed);
}

NvmeHistSum nvmeHistSumCntl(NvmeCntl *pCntl, bool bIOOnly)
{
    NvmeSQ *apSQs[NVME_MAX_IOSQ_NUM + 1];
    {
        std::lock_guard<std::recursive_mutex> guard(pCntl->lock);
        std::copy(std::begin(pCntl->pSQs), std::end(pCntl->pSQs), apSQs);
    }
    NvmeHistSum sum;
    for (uint32_t i = bIOOnly ? 1 : 0; i <= NVME_MAX_IOSQ_NUM; i++)
        sum.add(apSQs[i]);
    return sum;
}

void nvmeHistDump(const NvmeHistSum &sum, int64_t nMode, NvmeTextOut &out)
{
    if (nMode >= 1)
        fullTable(sum, nMode == 2, out);
    else
        qosTable(sum, out);
}

void nvmeHistCumu(const NvmeHistSum &sum, const double *pPct, int64_t *pUs, size_t n)
{
    // Walk the bins once with the percentages in ascending order; each gets
    // the first bin that reaches it, whatever order the caller gave. A NaN
    // is never reached.
    std::vector<size_t> order;
    order.reserve(n);
    for (size_t i = 0; i < n; i++)
        if (!std::isnan(pPct[i]))
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return pPct[a] < pPct[b]; });
    std::fill(pUs, pUs + n, 0);
    if (!sum.nTotal || n == 0)
        return;
    size_t k = 0;
    const size_t nSorted = order.size();
    uint64_t nAcc = 0;
    forEachBin([&](uint32_t nBin, int64_t nUs) {
        nAcc += sum.bins[nBin];
        const double dAccPct = percentOf(nAcc, sum.nTotal);
        while (k < nSorted && dAccPct >= pPct[order[k]])
            pUs[order[k++]] = nUs;
        return k < nSorted;
    });
}

} // namespace kxmnvme
