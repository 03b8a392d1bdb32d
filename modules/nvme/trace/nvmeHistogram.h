// Execution-time histograms summed over one or more SQs: the full table,
// the QoS table and the cumulative lookup.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "nvmeRecords.h"
#include "nvmeTextOut.h"

namespace kxmnvme {

// QoS percentages: index 1-99 that many percent, 100-104 99.9 to 99.99999,
// 105 100 %. Any other index is a fatal internal error.
constexpr int NVME_QOS_IDX_NUM = 105;
double QoSIdxToPercentage(int nIdx);
// The percentage's text in the QoS table ("1.0" ... "99.99999", "100.00000").
const char *nvmeQoSText(int nIdx, char *sz, size_t nSize);

// Bins and completed-command count of a set of SQs.
struct NvmeHistSum {
    std::vector<uint64_t> bins = std::vector<uint64_t>(NVME_HIST_BINS);
    uint64_t nTotal = 0;        // sum of the opcode completion counters

    void add(const NvmeSQ *pSQ);
};

// The SQs a controller-wide histogram sums: every SQ of the controller, or
// only its I/O SQs.
NvmeHistSum nvmeHistSumCntl(NvmeCntl *pCntl, bool bIOOnly);

// Mode 0: QoS table; mode 2: full table with every bin; other modes above
// 0: full table with the bins that have a count.
void nvmeHistDump(const NvmeHistSum &sum, int64_t nMode, NvmeTextOut &out);
// The time (us) of the first bin at which the accumulated percentage reaches
// each of the n percentages; 0 for a percentage that is never reached.
void nvmeHistCumu(const NvmeHistSum &sum, const double *pPct, int64_t *pUs, size_t n);

} // namespace kxmnvme
