#include "nvmeEngine.h"

#include <string>

#include "nvmeBuf.h"
#include "nvmeNsLinks.h"
#include "nvmePollers.h"
#include "nvmeQueues.h"
#include "nvmeSEvtPool.h"

namespace kxmnvme {

NvmeEngine::NvmeEngine() : timeBase(NvmeTimeBase::now()), log(timeBase) {}

NvmeEngine::~NvmeEngine()
{
    shutdown();
}

bool NvmeEngine::openPlatform()
{
    if (m_bClosed)
        return false;
    if (m_pPlatform)
        return true;
    std::string sErr;
    m_pPlatform = kxmplat::Platform::open(&sErr);
    if (!m_pPlatform) {
        log.log("Error: the device platform cannot be opened: %s\n", sErr.c_str());
        return false;
    }
    return true;
}

NvmeCntl *NvmeEngine::newCntl()
{
    NvmeCntl *pCntl = new NvmeCntl;
    pCntl->pEng = this;
    for (CqPoller &p : pCntl->pollers)
        p.pCntl = pCntl;
    registry.add(&pCntl->hdr, NVME_KIND_CNTL);
    return pCntl;
}

void NvmeEngine::freeCntl(NvmeCntl *pCntl)
{
    if (!pCntl)
        return;
    registry.remove(&pCntl->hdr);
    nvmeStopPollers(pCntl);
    if (pCntl->pUnmatchedCallback && pfnFreeCallback)
        pfnFreeCallback(pCntl->pUnmatchedCallback);
    pCntl->pUnmatchedCallback = nullptr;
    for (uint32_t q = 0; q <= NVME_MAX_IOSQ_NUM; q++) {
        nvmeFreeSQ(*this, pCntl, pCntl->pSQs[q]);
        nvmeFreeCQ(*this, pCntl, pCntl->pCQs[q]);
    }
    nvmeSEvtPoolDestroy(*this, pCntl->pSEvtRscMgr);
    delete pCntl->pSEvtTraceMgr;
    delete pCntl->pVFInfo;
    if (pCntl->uFuncHandle) {
        if (platform() && pCntl->uFuncHandle->pDevice)
            m_pPlatform->closeDevice(pCntl->uFuncHandle->pDevice);
        delete pCntl->uFuncHandle;
    }
    delete pCntl;
}

void NvmeEngine::closePlatform()
{
    if (m_pPlatform && !m_bClosed)
        m_pPlatform->close();
    m_bClosed = true;
}

void NvmeEngine::shutdown()
{
    for (NvmeHandleHdr *pHdr : registry.runsOf(NVME_KIND_BUF))
        nvmeBufFreeOn(registry, reinterpret_cast<NvmeBuf *>(pHdr));
    // Pollers first, on every controller, before any record goes away.
    for (NvmeDev *pDev : devs)
        if (pDev)
            for (NvmeCntl *pCntl : pDev->cntls)
                if (pCntl)
                    for (CqPoller &p : pCntl->pollers)
                        p.bStop.store(1);
    for (NvmeDev *&pDev : devs) {
        if (!pDev)
            continue;
        // Virtual functions before their physical function.
        for (int i = NVME_MAX_FUNC_NUM - 1; i >= 0; i--) {
            freeCntl(pDev->cntls[i]);
            pDev->cntls[i] = nullptr;
        }
        for (NvmeNs *&pNs : pDev->namespaces) {
            nvmeFreeNs(*this, pNs);
            pNs = nullptr;
        }
        delete pDev;
        pDev = nullptr;
    }
    nDevNum = 0;
    closePlatform();
    m_pPlatform.reset();
}

} // namespace kxmnvme
