// Controller bring-up: the disable/enable register sequence, admin and I/O
// queue creation (or reuse after a reset), and the identify pass that fills
// the controller and namespace records. The same procedure serves the first
// initialisation and every re-initialisation after a reset.
#pragma once
#include <cstdint>

#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

// Sizes and counts of a bring-up, normalised (see nvmeNormalizeInitParams);
// the values used are written back.
struct NvmeInitParams {
    uint32_t nASQSize = 16;
    uint32_t nACQSize = 16;
    int64_t nIOSQNum = 0;
    uint32_t nIOSQSize = 0;
    uint32_t nIOSQNumPerIOCQ = 2;
    uint32_t nIOCQSize = 0;
    uint32_t nIOCQNumPerPCCT = 4;
};

// Defaults when a script leaves a value 0: 16 I/O queue pairs (fewer when
// the controller grants fewer) of 1,024 entries (capped by CAP.MQES).
constexpr int64_t NVME_DEF_IOSQ_NUM = 16;
constexpr uint32_t NVME_DEF_IOQ_SIZE = 1024;

// A queue size as initialisation uses it: 0 -> nDefault, 1 and 2 -> 2,
// otherwise the nearest power of two (ties go up).
uint32_t nvmeNormalizeQSize(int64_t nSize, uint32_t nDefault);
// The script's raw values, normalised.
NvmeInitParams nvmeNormalizeInitParams(int64_t nASQ, int64_t nACQ, int64_t nIOSQNum, int64_t nIOSQSize,
                                       int64_t nIOSQNumPerIOCQ, int64_t nIOCQSize, int64_t nIOCQNumPerPCCT);

// How many I/O SQs and CQs a bring-up creates: as many SQs as wanted and
// granted, nPerCQ of them on each CQ; when the controller grants fewer CQs
// than that needs, more SQs share each CQ.
struct NvmeQueueCounts {
    uint32_t nSQ = 0;
    uint32_t nCQ = 0;
    uint32_t nPerCQ = 1;
};
NvmeQueueCounts nvmeChooseQueueCounts(uint32_t nMaxSQ, uint32_t nMaxCQ, int64_t nWantSQ, uint32_t nPerCQ);

// EC_NONE or EC_TIMEOUT.
int32_t nvmeDisableCntl(NvmeEngine &eng, NvmeCntl *pCntl);
int32_t nvmeEnableCntl(NvmeEngine &eng, NvmeCntl *pCntl);

// The whole bring-up of one function (physical or virtual); bAdminOnly for
// initA. EC_NONE (state 17) or the failing step's code.
int32_t nvmeInitCntl(NvmeEngine &eng, NvmeCntl *pCntl, bool bAdminOnly, NvmeInitParams &params);

} // namespace kxmnvme
