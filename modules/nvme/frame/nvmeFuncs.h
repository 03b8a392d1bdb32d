// Handlers of the module's script functions, by family. Each family's file
// holds its handlers; nvmeRegister.cpp lists them in registration order.
#pragma once
#include "korvel_ext.h"

namespace kxmnvme {

#define NVME_HANDLER(name) int32_t name(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)

// nvmeScanFuncs.cpp
NVME_HANDLER(nvmeFnScan);

// nvmeDevQueryFuncs.cpp: devices, functions and their configuration.
NVME_HANDLER(nvmeFnGetDevNum);
NVME_HANDLER(nvmeFnGetFuncNum);
NVME_HANDLER(nvmeFnGetCntlHandle);
NVME_HANDLER(nvmeFnGetCNTLID);
NVME_HANDLER(nvmeFnGetDevNo);
NVME_HANDLER(nvmeFnSupportVF);
NVME_HANDLER(nvmeFnGetMaxVFNum);
NVME_HANDLER(nvmeFnReadPCIConfig8);
NVME_HANDLER(nvmeFnReadPCIConfig16);
NVME_HANDLER(nvmeFnReadPCIConfig32);
NVME_HANDLER(nvmeFnReadCntlReg32);
NVME_HANDLER(nvmeFnWriteCntlReg32);

// nvmeQueueQueryFuncs.cpp: queues, namespaces, attributes and counters.
NVME_HANDLER(nvmeFnGetCntlHandleBySQHandle);
NVME_HANDLER(nvmeFnGetPageSize);
NVME_HANDLER(nvmeFnGetNsNum);
NVME_HANDLER(nvmeFnGetMaxIOSQNum);
NVME_HANDLER(nvmeFnGetMaxIOCQNum);
NVME_HANDLER(nvmeFnGetMaxIOQSize);
NVME_HANDLER(nvmeFnGetIOSQNum);
NVME_HANDLER(nvmeFnGetIOCQNum);
NVME_HANDLER(nvmeFnGetNextNsId);
NVME_HANDLER(nvmeFnGetNsIds);
NVME_HANDLER(nvmeFnGetNsHandle);
NVME_HANDLER(nvmeFnSetNsAttr);
NVME_HANDLER(nvmeFnGetNextIOSQId);
NVME_HANDLER(nvmeFnGetNextIOCQId);
NVME_HANDLER(nvmeFnGetPairedIOCQId);
NVME_HANDLER(nvmeFnGetNextPairedIOSQId);
NVME_HANDLER(nvmeFnGetSQHandle);
NVME_HANDLER(nvmeFnGetSQId);
NVME_HANDLER(nvmeFnGetSQSize);
NVME_HANDLER(nvmeFnIsSQFull);
NVME_HANDLER(nvmeFnIsSQEmpty);
NVME_HANDLER(nvmeFnSetSQAttr);
NVME_HANDLER(nvmeFnGetAllCmdIssueNum);
NVME_HANDLER(nvmeFnGetAllCmdComplNum);
NVME_HANDLER(nvmeFnGetAllIOSQCmdIssueNum);
NVME_HANDLER(nvmeFnGetAllIOSQCmdComplNum);
NVME_HANDLER(nvmeFnGetSQCmdIssueNum);
NVME_HANDLER(nvmeFnGetSQCmdComplNum);

// nvmeResetFuncs.cpp: resets, power, shutdown, virtual functions, put.
NVME_HANDLER(nvmeFnFlReset);
NVME_HANDLER(nvmeFnCntlReset);
NVME_HANDLER(nvmeFnPowerOffEvent);
NVME_HANDLER(nvmeFnNVMSSReset);
NVME_HANDLER(nvmeFnPCIeHotReset);
NVME_HANDLER(nvmeFnPowerOnEvent);
NVME_HANDLER(nvmeFnRescan);
NVME_HANDLER(nvmeFnShutdownNotify);
NVME_HANDLER(nvmeFnEnableVF);
NVME_HANDLER(nvmeFnPut);

// nvmeIntegrityFuncs.cpp
NVME_HANDLER(nvmeFnCheckIntegrity);
NVME_HANDLER(nvmeFnDumpHandleInfo);

// nvmeInitFuncs.cpp
NVME_HANDLER(nvmeFnInit);
NVME_HANDLER(nvmeFnInitA);

// nvmeCmdFuncs.cpp: commands as scripts see them.
NVME_HANDLER(nvmeFnPspp);
NVME_HANDLER(nvmeFnPspp2);
NVME_HANDLER(nvmeFnGetCId);
NVME_HANDLER(nvmeFnGetCDWs);
NVME_HANDLER(nvmeFnSetCMDTO);
NVME_HANDLER(nvmeFnGetCMDTO);
// nvmeTraceFuncs.cpp: command trace and execution-time histograms.
NVME_HANDLER(nvmeFnDumpTrace);
NVME_HANDLER(nvmeFnCleanTrace);
NVME_HANDLER(nvmeFnGetCmdExeTimeCumuHistogram);
NVME_HANDLER(nvmeFnDumpCmdExeTimeHistogram);

// nvmeMiscFuncs.cpp
NVME_HANDLER(nvmeFnStrerror);
NVME_HANDLER(nvmeFnExeInit);
NVME_HANDLER(nvmeFnExeDump);

} // namespace kxmnvme
