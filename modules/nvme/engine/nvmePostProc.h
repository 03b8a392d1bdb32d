// Completion post-processing: hooks that keep the engine's records of
// queues and namespaces in step with admin commands that completed. Each
// hook clears itself, so it runs at most once per command.
#pragma once
#include "nvmeRecords.h"

namespace kxmnvme {

// Runs the command's hook when its admin opcode has a table entry.
void nvmeRunPostProc(CmdRR *pCmd);

// The hooks a builder attaches (request words as noted).
void nvmePPCreateIOCQ(CmdRR *pCmd);     // pTarget CQ, nParam1 CQ id, nParam2 size
void nvmePPCreateIOSQ(CmdRR *pCmd);     // nParam1 SQ id, nParam2 CQ id, nParam3 size
void nvmePPDeleteIOCQ(CmdRR *pCmd);     // nParam1 CQ id
void nvmePPDeleteIOSQ(CmdRR *pCmd);     // nParam1 SQ id
void nvmePPIdentifyCntl(CmdRR *pCmd);   // pBuf data, pTarget controller
void nvmePPIdentifyNs(CmdRR *pCmd);     // pBuf data, pTarget namespace, nParam1 nsid
void nvmePPNsMgmt(CmdRR *pCmd);         // nParam1 SEL, pTarget device, nParam2 nsid, pBuf data
void nvmePPNsAttach(CmdRR *pCmd);       // pTarget controller, nParam1 nsid, nParam2 SEL, pBuf list
void nvmePPFormatNVM(CmdRR *pCmd);      // pTarget controller, nParam1 nsid, nParam2 CDW10
void nvmePPNoop(CmdRR *pCmd);

// Fills a namespace record from Identify Namespace data (4096 bytes).
void nvmeFillNsFromIdentify(NvmeNs *pNs, const uint8_t *pData);

} // namespace kxmnvme
