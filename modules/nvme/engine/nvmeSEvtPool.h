// Script event records: a pool of NVME_SEVT_NUM per controller, handed out
// for resets, power events and shutdown notifications.
#pragma once
#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

NvmeSEvtRscMgr *nvmeSEvtPoolCreate(NvmeEngine &eng);
void nvmeSEvtPoolDestroy(NvmeEngine &eng, NvmeSEvtRscMgr *pMgr);
// The head record when it has a successor (one record is always kept
// back), or null.
NvmeSEvt *nvmeSEvtTake(NvmeSEvtRscMgr *pMgr);
void nvmeSEvtGiveBack(NvmeSEvtRscMgr *pMgr, NvmeSEvt *pEvt);

} // namespace kxmnvme
