// Resets, power events, shutdown notification, virtual functions and the
// module's teardown. Each action is a script event: a record taken from the
// controller's event pool and logged in its event trace ring.
#pragma once
#include <cstdint>

#include "nvmeRecords.h"
#include "nvmeTrace.h"

namespace kxmnvme {

class NvmeEngine;

constexpr uint32_t NVME_CNTL_DOWN = 34;

// State 34, pollers stopped and joined, SQs deleted, CQs invalid (only for
// an initialised controller).
void nvmeTakeDown(NvmeEngine &eng, NvmeCntl *pCntl);

// Each returns an error code; events that rescan ends come back in *ppEvt.
int32_t nvmeFlReset(NvmeEngine &eng, NvmeCntl *pCntl);
int32_t nvmeCntlReset(NvmeEngine &eng, NvmeCntl *pCntl);
int32_t nvmeNvmSsReset(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSEvt **ppEvt);
int32_t nvmeHotReset(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSEvt **ppEvt);
int32_t nvmePowerOff(NvmeEngine &eng, NvmeCntl *pCntl);
int32_t nvmePowerOn(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSEvt **ppEvt);
int32_t nvmeRescan(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSEvt *pEvt);
int32_t nvmeShutdownNotify(NvmeEngine &eng, NvmeCntl *pCntl, uint32_t nShn, int64_t nLimitUs);
// n > 0 enables n virtual functions (*pEnabled: how many), 0 disables them.
int32_t nvmeEnableVF(NvmeEngine &eng, NvmeCntl *pCntl, int64_t n, int64_t *pEnabled);
// put: every initialised controller down, then the platform closed.
void nvmePut(NvmeEngine &eng);

} // namespace kxmnvme
