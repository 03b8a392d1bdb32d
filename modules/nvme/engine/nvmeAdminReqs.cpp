#include "nvmeAdminReqs.h"

#include "nvmePostProc.h"
#include "nvmewire/Opcodes.h"

namespace kxmnvme {

NvmeCmdReq nvmeReqGetFeatures(uint32_t nCdw10, uint32_t nCdw11)
{
    NvmeCmdReq r;
    r.cmd = nvmewire::Sqe::make(nvmewire::ADMIN_GET_FEATURES);
    r.cmd.setCdw10(nCdw10);
    r.cmd.setCdw11(nCdw11);
    return r;
}

NvmeCmdReq nvmeReqSetFeatures(uint32_t nCdw10, uint32_t nCdw11)
{
    NvmeCmdReq r;
    r.cmd = nvmewire::Sqe::make(nvmewire::ADMIN_SET_FEATURES);
    r.cmd.setCdw10(nCdw10);
    r.cmd.setCdw11(nCdw11);
    return r;
}

NvmeCmdReq nvmeReqCreateIOCQ(NvmeCQ *pCQ, uint16_t qID, uint32_t nSize)
{
    NvmeCmdReq r;
    r.cmd = nvmewire::Sqe::make(nvmewire::ADMIN_CREATE_CQ);
    r.cmd.setPrp1(pCQ->qBuf.nBusAddr);
    r.cmd.setCdw10(((nSize - 1) << 16) | qID);
    r.cmd.setCdw11(1);   // PC = 1, IEN = 0, IV = 0
    r.pp.pfnHook = nvmePPCreateIOCQ;
    r.pp.pTarget = pCQ;
    r.pp.nParam1 = qID;
    r.pp.nParam2 = nSize;
    return r;
}

NvmeCmdReq nvmeReqCreateIOSQ(NvmeSQ *pSQ, uint16_t qID, uint32_t nSize, uint16_t cqID, uint32_t nPrio,
                             uint16_t nNvmSetId)
{
    NvmeCmdReq r;
    r.cmd = nvmewire::Sqe::make(nvmewire::ADMIN_CREATE_SQ);
    r.cmd.setPrp1(pSQ->qBuf.nBusAddr);
    r.cmd.setCdw10(((nSize - 1) << 16) | qID);
    r.cmd.setCdw11((static_cast<uint32_t>(cqID) << 16) | ((nPrio & 3) << 1) | 1);   // PC = 1
    r.cmd.setCdw12(nNvmSetId);
    r.pp.pfnHook = nvmePPCreateIOSQ;
    r.pp.nParam1 = qID;
    r.pp.nParam2 = cqID;
    r.pp.nParam3 = nSize;
    return r;
}

NvmeCmdReq nvmeReqIdentify(uint32_t nCns, uint32_t nNsid, uint16_t nCntId, NvmeBuf *pBuf)
{
    NvmeCmdReq r;
    r.cmd = nvmewire::Sqe::make(nvmewire::ADMIN_IDENTIFY, nNsid);
    r.cmd.setCdw10((static_cast<uint32_t>(nCntId) << 16) | (nCns & 0xFF));
    r.pBuf = pBuf;
    r.nXferLen = 4096;
    return r;
}

} // namespace kxmnvme
