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
NVME_HANDLER(nvmeFnGetSQHandle);

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

// nvmeMiscFuncs.cpp
NVME_HANDLER(nvmeFnStrerror);
NVME_HANDLER(nvmeFnExeInit);
NVME_HANDLER(nvmeFnExeDump);

} // namespace kxmnvme
