// Command record pools: one per SQ, CID = index of the record.
#pragma once
#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

// Records for an SQ of nSQSize entries: 4096 up to 2,048 entries, the size
// plus 4096 up to 8,192, the size itself above that.
uint32_t nvmeCmdPoolCount(uint32_t nSQSize);

// A pool for pSQ with every record free and registered as a command handle.
CmdRscMgr *nvmeCmdPoolCreate(NvmeEngine &eng, NvmeSQ *pSQ, uint32_t nSQSize);
void nvmeCmdPoolDestroy(NvmeEngine &eng, CmdRscMgr *pMgr);

// The head record when it has a successor (the list keeps its last record),
// reset for a new command; null when the pool is exhausted.
CmdRR *nvmeCmdTake(CmdRscMgr *pMgr);
// Marks the record free and appends it at the tail.
void nvmeCmdGiveBack(CmdRscMgr *pMgr, CmdRR *pCmd);
// The record with that CID, or null.
CmdRR *nvmeCmdFind(CmdRscMgr *pMgr, uint32_t nCID);
// Every record in use goes back to the free list (queue reused after a reset).
void nvmeCmdPoolReset(CmdRscMgr *pMgr);
// Records in the free list.
uint32_t nvmeCmdPoolFreeNum(CmdRscMgr *pMgr);

} // namespace kxmnvme
