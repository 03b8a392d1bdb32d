// Completion pollers: poller [0] serves the admin CQ of a controller,
// pollers [1] and up its I/O CQs. A poller consumes completion entries by
// their phase tag, matches each to its command record by SQ id and CID,
// stamps, counts and traces it, and (in poller mode) post-processes and
// recycles the record.
//
// While commands complete an I/O poller spins (yielding between empty
// passes, so the controller and the script keep their CPU) and the admin
// poller looks every 100 us; after a short idle window with nothing
// outstanding either sleeps until a builder wakes it, so no poller burns a
// core on an idle machine.
#pragma once
#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

// The poller that serves the SQ's CQ, or null.
CqPoller *nvmePollerOfSQ(NvmeSQ *pSQ);
// Wakes the poller if it sleeps (after a command was sent to it).
void nvmePollerKick(CqPoller *pPoller);

// Adds the admin CQ to poller [0] and starts its thread if needed.
void nvmeAttachAdminCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ);
// Gives an I/O CQ to the first poller with room (no thread yet, or fewer
// than nIOCQNumPerPCCT CQs); when every poller is full, to the one with
// the fewest CQs. Starts the poller's thread if needed.
void nvmeAttachIOCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ);
// Unlinks the CQ from its poller.
void nvmeDetachCQ(NvmeCQ *pCQ);
// Sets every poller's stop flag and joins its thread; CQ lists are kept.
void nvmeStopPollers(NvmeCntl *pCntl);

// Consumes at most nMax entries of pCQ (all new ones when nMax is 0) and
// writes its head doorbell when it took any; returns the number taken.
// Called by the CQ's poller under its mutex.
uint32_t nvmeReapCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ, bool bAdmin, uint32_t nMax);

} // namespace kxmnvme
