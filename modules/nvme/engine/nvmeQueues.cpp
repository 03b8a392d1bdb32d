#include "nvmeQueues.h"

#include <cstring>

#include "nvmeCmdPool.h"
#include "nvmeEngine.h"
#include "nvmewire/Registers.h"

namespace kxmnvme {

namespace {

// A zeroed, page-aligned ring of nBytes; false when the platform has none.
bool allocRing(NvmeEngine &eng, NvmeCntl *pCntl, size_t nBytes, kxmplat::DmaBuffer *pBuf)
{
    kxmplat::Platform *pPlat = eng.platform();
    if (!pPlat || !pCntl->device() || pPlat->dmaAllocPageAligned(pCntl->device(), nBytes, pBuf) != 0)
        return false;
    memset(pBuf->pHost, 0, nBytes);
    return true;
}

void freeRing(NvmeEngine &eng, NvmeCntl *pCntl, kxmplat::DmaBuffer *pBuf)
{
    if (pBuf->pHost && eng.platform() && pCntl->device())
        eng.platform()->dmaFree(pCntl->device(), pBuf);
    *pBuf = kxmplat::DmaBuffer{};
}

} // namespace

NvmeCQ *nvmeAllocCQ(NvmeEngine &eng, NvmeCntl *pCntl, uint16_t qID, uint32_t nSize)
{
    NvmeCQ *pCQ = new (std::nothrow) NvmeCQ;
    if (!pCQ)
        return nullptr;
    const size_t nBytes = static_cast<size_t>(nSize) * 16;
    if (!allocRing(eng, pCntl, nBytes, &pCQ->qBuf)) {
        eng.log.log("Error: fail to allocate DMA buffer (%d bytes) for CQ!\n", static_cast<int>(nBytes));
        delete pCQ;
        return nullptr;
    }
    pCQ->nSize = nSize;
    pCQ->qID = qID;
    pCQ->nPhase = 1;
    pCQ->nCQyHDBL = nvmewire::cqHeadDoorbell(qID, pCntl->nDbStride);
    pCQ->pEntries = pCQ->qBuf.pHost;
    pCQ->nRingBytes = nBytes;
    return pCQ;
}

NvmeSQ *nvmeAllocSQ(NvmeEngine &eng, NvmeCntl *pCntl, uint16_t qID, uint32_t nSize)
{
    NvmeSQ *pSQ = new (std::nothrow) NvmeSQ;
    if (!pSQ)
        return nullptr;
    pSQ->qID = qID;
    pSQ->pCntl = pCntl;
    pSQ->nSize = nSize;
    pSQ->nSQyTDBL = nvmewire::sqTailDoorbell(qID, pCntl->nDbStride);
    const size_t nBytes = static_cast<size_t>(nSize) * 64;
    if (!allocRing(eng, pCntl, nBytes, &pSQ->qBuf)) {
        eng.log.log("Error: fail to allocate DMA buffer (%d bytes) for SQ!\n", static_cast<int>(nBytes));
        delete pSQ;
        return nullptr;
    }
    pSQ->pEntries = pSQ->qBuf.pHost;
    pSQ->nRingBytes = nBytes;
    pSQ->pQCmdTraceMgr = new (std::nothrow) NvmeCmdTraceMgr;
    pSQ->pHist = new (std::nothrow) std::atomic<uint64_t>[NVME_HIST_BINS]();
    pSQ->pQCmdRscMgr = pSQ->pQCmdTraceMgr && pSQ->pHist ? nvmeCmdPoolCreate(eng, pSQ, nSize) : nullptr;
    if (!pSQ->pQCmdRscMgr) {
        delete pSQ->pQCmdTraceMgr;
        delete[] pSQ->pHist;
        freeRing(eng, pCntl, &pSQ->qBuf);
        delete pSQ;
        return nullptr;
    }
    eng.registry.add(&pSQ->hdr, NVME_KIND_SQ);
    return pSQ;
}

bool nvmeResizeCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ, uint32_t nNewSize)
{
    const size_t nBytes = static_cast<size_t>(nNewSize) * 16;
    if (nBytes > pCQ->nRingBytes) {
        kxmplat::DmaBuffer buf;
        if (!allocRing(eng, pCntl, nBytes, &buf))
            return false;
        freeRing(eng, pCntl, &pCQ->qBuf);
        pCQ->qBuf = buf;
        pCQ->pEntries = buf.pHost;
        pCQ->nRingBytes = nBytes;
    }
    pCQ->nSize = nNewSize;
    return true;
}

bool nvmeResizeSQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSQ *pSQ, uint32_t nNewSize)
{
    const size_t nBytes = static_cast<size_t>(nNewSize) * 64;
    if (nBytes > pSQ->nRingBytes) {
        kxmplat::DmaBuffer buf;
        if (!allocRing(eng, pCntl, nBytes, &buf))
            return false;
        CmdRscMgr *pPool = nvmeCmdPoolCreate(eng, pSQ, nNewSize);
        if (!pPool) {
            freeRing(eng, pCntl, &buf);
            return false;
        }
        freeRing(eng, pCntl, &pSQ->qBuf);
        nvmeCmdPoolDestroy(eng, pSQ->pQCmdRscMgr);
        pSQ->qBuf = buf;
        pSQ->pEntries = buf.pHost;
        pSQ->nRingBytes = nBytes;
        pSQ->pQCmdRscMgr = pPool;
    }
    pSQ->nSize = nNewSize;
    return true;
}

void nvmeFreeCQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCQ *pCQ)
{
    if (!pCQ)
        return;
    freeRing(eng, pCntl, &pCQ->qBuf);
    delete pCQ;
}

void nvmeFreeSQ(NvmeEngine &eng, NvmeCntl *pCntl, NvmeSQ *pSQ)
{
    if (!pSQ)
        return;
    eng.registry.remove(&pSQ->hdr);
    nvmeCmdPoolDestroy(eng, pSQ->pQCmdRscMgr);
    delete pSQ->pQCmdTraceMgr;
    delete[] pSQ->pHist;
    freeRing(eng, pCntl, &pSQ->qBuf);
    delete pSQ;
}

} // namespace kxmnvme
