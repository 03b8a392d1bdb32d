#include "nvmeInit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "nvmeAdminReqs.h"
#include "nvmeBufEngine.h"
#include "nvmeCmdCheck.h"
#include "nvmeCmdPool.h"
#include "nvmeEngine.h"
#include "nvmeNsLinks.h"
#include "nvmePciCfg.h"
#include "nvmePollers.h"
#include "nvmePostProc.h"
#include "nvmeQueues.h"
#include "nvmewire/Registers.h"

namespace kxmnvme {

namespace {

const char kUnit[] = "nvmeInitQ";

uint32_t readReg(NvmeEngine &eng, NvmeCntl *pCntl, uint32_t nOff)
{
    return eng.platform()->mmioRead32(pCntl->device(), nOff);
}

void writeReg(NvmeEngine &eng, NvmeCntl *pCntl, uint32_t nOff, uint32_t nValue)
{
    eng.platform()->mmioWrite32(pCntl->device(), nOff, nValue);
}

// Polls CSTS.RDY every nStepUs until it equals bReady or CAP.TO passed.
int32_t waitReady(NvmeEngine &eng, NvmeCntl *pCntl, bool bReady, int nStepUs)
{
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::microseconds(int64_t(pCntl->nTimeout) * 500000);
    while (true) {
        const uint32_t nCsts = readReg(eng, pCntl, nvmewire::REG_CSTS);
        // A function that reads all ones is gone: it will not get ready.
        if (nCsts != 0xFFFFFFFFu && ((nCsts & nvmewire::CSTS_RDY) != 0) == bReady)
            return EC_NONE;
        if (std::chrono::steady_clock::now() >= tEnd)
            return EC_TIMEOUT;
        std::this_thread::sleep_for(std::chrono::microseconds(nStepUs));
    }
}

// Submits a request on the admin SQ (taking its lock) and waits for it.
// The word, or 0 when it could not be sent.
int64_t adminCmd(NvmeEngine &eng, NvmeCntl *pCntl, const NvmeCmdReq &req, CmdRR **ppCmd = nullptr)
{
    NvmeSQ *pASQ = pCntl->pSQs[0];
    CmdRR *pCmd = nullptr;
    pASQ->qLock.acquire();
    const int32_t nErr = nvmeBuildCmd(eng, pASQ, req, &pCmd);
    pASQ->qLock.release();
    if (nErr != EC_NONE)
        return 0;
    if (ppCmd)
        *ppCmd = pCmd;
    return nvmeCmdWait(eng, pCmd);
}

// Empties a reused queue: zeroed ring, head and tail 0, records back.
void resetSQ(NvmeSQ *pSQ)
{
    memset(pSQ->pEntries, 0, pSQ->nRingBytes);
    pSQ->nHead = 0;
    pSQ->nTail = 0;
    nvmeCmdPoolReset(pSQ->pQCmdRscMgr);
}

void resetCQ(NvmeCQ *pCQ)
{
    memset(pCQ->pEntries, 0, pCQ->nRingBytes);
    pCQ->nHead = 0;
    pCQ->nPhase = 1;
}

// Resizes a reused queue; a failed resize keeps the old size.
template <typename Q, typename Resize>
void resizeReused(NvmeEngine &eng, NvmeCntl *pCntl, Q *pQ, uint32_t nSize, const char *szFunc, Resize resize)
{
    if (!resize(eng, pCntl, pQ, nSize))
        eng.log.log("Error %d: %s: run out of DMA buffer\n", EC_DMA_ALLOC, szFunc);
}

int32_t setupAdminQueues(NvmeEngine &eng, NvmeCntl *pCntl, uint32_t nASQ, uint32_t nACQ, bool bFirst)
{
    nvmewire::Cc cc{readReg(eng, pCntl, nvmewire::REG_CC)};
    cc = cc.withMps(pCntl->nPageSize_expOf2 - 12).withIosqes(6).withIocqes(4);
    writeReg(eng, pCntl, nvmewire::REG_CC, cc.raw);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (nASQ > 4096 || nACQ > 4096)
        return EC_ADMQ_SIZE;
    const uint32_t nCsts = readReg(eng, pCntl, nvmewire::REG_CSTS);
    if (nCsts & nvmewire::CSTS_RDY) {
        printf("\"%s\" line %d: controller is not disabled\n", kUnit, __LINE__);
        printf("\"%s\" line %d: CSTS = %08X\n", kUnit, __LINE__, nCsts);
        return EC_CNTL_STS;
    }
    NvmeCQ *pACQ = pCntl->pCQs[0];
    NvmeSQ *pASQ = pCntl->pSQs[0];
    if (bFirst || !pACQ || !pASQ) {
        if (!pACQ && !(pACQ = pCntl->pCQs[0] = nvmeAllocCQ(eng, pCntl, 0, nACQ)))
            return EC_DMA_ALLOC;
        if (!pASQ && !(pASQ = pCntl->pSQs[0] = nvmeAllocSQ(eng, pCntl, 0, nASQ)))
            return EC_DMA_ALLOC;
    }
    resizeReused(eng, pCntl, pACQ, nACQ, "initAdminQ", nvmeResizeCQ);
    resizeReused(eng, pCntl, pASQ, nASQ, "initAdminQ", nvmeResizeSQ);
    resetCQ(pACQ);
    pACQ->bValid = 1;
    resetSQ(pASQ);
    pASQ->cqID = 0;
    pASQ->pDefNs = nullptr;
    pASQ->nFlags &= static_cast<uint8_t>(~NVME_SQF_NOT_POLLING);
    pASQ->nState = NVME_SQ_ACTIVE;

    writeReg(eng, pCntl, nvmewire::REG_AQA, ((pACQ->nSize - 1) << 16) | (pASQ->nSize - 1));
    writeReg(eng, pCntl, nvmewire::REG_ASQ, static_cast<uint32_t>(pASQ->qBuf.nBusAddr));
    writeReg(eng, pCntl, nvmewire::REG_ASQ + 4, static_cast<uint32_t>(pASQ->qBuf.nBusAddr >> 32));
    writeReg(eng, pCntl, nvmewire::REG_ACQ, static_cast<uint32_t>(pACQ->qBuf.nBusAddr));
    writeReg(eng, pCntl, nvmewire::REG_ACQ + 4, static_cast<uint32_t>(pACQ->qBuf.nBusAddr >> 32));
    nvmeAttachAdminCQ(eng, pCntl, pACQ);
    nvmeEnableCntl(eng, pCntl);

    CmdRR *pCmd = nullptr;
    const int64_t nWord = adminCmd(eng, pCntl, nvmeReqGetFeatures(0x107), &pCmd);
    const uint32_t nDw0 = static_cast<uint32_t>(static_cast<uint64_t>(nWord) >> 32);
    if ((nWord & NVME_CMD_CPL) && ((nWord >> 16) & 0x7FFF) == 0) {
        pCntl->nMaxIOSQNum = (nDw0 & 0xFFFF) + 1;
        pCntl->nMaxIOCQNum = (nDw0 >> 16) + 1;
    } else {
        pCntl->nMaxIOSQNum = 0;
        pCntl->nMaxIOCQNum = 0;
    }
    pCntl->nIOSQNum = 0;
    pCntl->nIOCQNum = 0;
    return EC_NONE;
}

int32_t setupAllQueues(NvmeEngine &eng, NvmeCntl *pCntl, bool bFirst, NvmeInitParams &p)
{
    int32_t nErr = setupAdminQueues(eng, pCntl, p.nASQSize, p.nACQSize, bFirst);
    if (nErr != EC_NONE) {
        printf("Error: fail to create Admin SQ/CQ! with error code as %d\n", nErr);
        return nErr;
    }
    const NvmeQueueCounts n = nvmeChooseQueueCounts(pCntl->nMaxIOSQNum, pCntl->nMaxIOCQNum, p.nIOSQNum,
                                                    p.nIOSQNumPerIOCQ);
    const uint32_t nSQ = n.nSQ;
    const uint32_t nCQ = n.nCQ;
    p.nIOSQNumPerIOCQ = n.nPerCQ;
    pCntl->nIOSQNumPerIOCQ = p.nIOSQNumPerIOCQ;
    if (nSQ > 0)
        adminCmd(eng, pCntl, nvmeReqSetFeatures(0x07, ((nCQ - 1) << 16) | (nSQ - 1)));

    p.nIOCQSize = std::min(pCntl->nMaxQSize, p.nIOCQSize);
    for (uint32_t id = 1; id <= nCQ; id++) {
        NvmeCQ *pCQ = pCntl->pCQs[id];
        if (!pCQ) {
            if (!(pCQ = pCntl->pCQs[id] = nvmeAllocCQ(eng, pCntl, static_cast<uint16_t>(id), p.nIOCQSize)))
                return EC_DMA_ALLOC;
        } else {
            resizeReused(eng, pCntl, pCQ, p.nIOCQSize, "initIOQ", nvmeResizeCQ);
            resetCQ(pCQ);
        }
        adminCmd(eng, pCntl, nvmeReqCreateIOCQ(pCQ, static_cast<uint16_t>(id), pCQ->nSize));
    }

    p.nIOSQSize = std::min(pCntl->nMaxQSize, p.nIOSQSize);
    for (uint32_t id = 1; id <= nSQ; id++) {
        const uint16_t cqID = static_cast<uint16_t>((id - 1) / p.nIOSQNumPerIOCQ + 1);
        NvmeSQ *pSQ = pCntl->pSQs[id];
        if (!pSQ) {
            if (!(pSQ = pCntl->pSQs[id] = nvmeAllocSQ(eng, pCntl, static_cast<uint16_t>(id), p.nIOSQSize))) {
                printf("Error: fail to create SQ-%d\n", id);
                return EC_DMA_ALLOC;
            }
        } else {
            resizeReused(eng, pCntl, pSQ, p.nIOSQSize, "initIOQ", nvmeResizeSQ);
            resetSQ(pSQ);
        }
        pSQ->cqID = cqID;
        pSQ->pDefNs = nullptr;
        // Held from the Create I/O SQ command until its post-processing.
        pSQ->qLock.acquire();
        NvmeSQ *pASQ = pCntl->pSQs[0];
        CmdRR *pCmd = nullptr;
        pASQ->qLock.acquire();
        const int32_t nBuild = nvmeBuildCmd(eng, pASQ, nvmeReqCreateIOSQ(pSQ, static_cast<uint16_t>(id), pSQ->nSize, cqID), &pCmd);
        pASQ->qLock.release();
        if (nBuild != EC_NONE) {
            pSQ->qLock.release();
            continue;
        }
        const int64_t nWord = nvmeCmdWait(eng, pCmd);
        // A command that never completed never ran its post-processing.
        if (!(nWord & NVME_CMD_CPL)) {
            pCmd->pp.pfnHook = nullptr;
            pSQ->qLock.release();
        }
    }
    p.nIOSQNum = nSQ;
    return EC_NONE;
}

// Frees the namespace bookkeeping before a re-initialisation rebuilds it.
void releaseNamespaces(NvmeEngine &eng, NvmeCntl *pCntl)
{
    NvmeDev *pDev = pCntl->pDev;
    if (pCntl->funcType == nvme_VF || !pDev) {
        for (NvmeNs *pNs : std::vector<NvmeNs *>(pCntl->usedNs))
            nvmeUnbindNs(pNs, pCntl);
        return;
    }
    for (NvmeNs *&pNs : pDev->namespaces) {
        if (!pNs)
            continue;
        for (NvmeCntl *pUser : std::vector<NvmeCntl *>(pNs->users))
            nvmeUnbindNs(pNs, pUser);
        for (uint16_t f = 0; f < pDev->nFuncNum && f < NVME_MAX_FUNC_NUM; f++)
            if (NvmeCntl *pC = pDev->cntls[f])
                for (NvmeSQ *pSQ : pC->pSQs)
                    if (pSQ && pSQ->pDefNs == pNs)
                        pSQ->pDefNs = nullptr;
        nvmeFreeNs(eng, pNs);
        pNs = nullptr;
    }
}

// Identify CNS 12h: the controllers attached to nsid include ours?
bool attachedTo(NvmeEngine &eng, NvmeCntl *pPF, NvmeCntl *pCntl, uint32_t nsid, NvmeBuf *pBuf)
{
    // The list holds the controllers from CNTID up: starting at our own id
    // puts it first (CNTLID 0 is a valid id, so no "one below" here).
    const int64_t nWord =
        adminCmd(eng, pPF, nvmeReqIdentify(0x12, nsid, static_cast<uint16_t>(pCntl->CNTLID), pBuf));
    if (!(nWord & NVME_CMD_CPL) || ((nWord >> 16) & 0x7FFF) != 0)
        return false;
    const uint8_t *p = nvmeBufData(pBuf);
    const uint32_t n = p[0] | (p[1] << 8);
    for (uint32_t i = 0; i < n && i < 2047; i++)
        if ((p[2 + 2 * i] | (p[3 + 2 * i] << 8)) == pCntl->CNTLID)
            return true;
    return false;
}

int32_t identifyAtInit(NvmeEngine &eng, NvmeCntl *pCntl, NvmeCntl *pPri)
{
    NvmeBuf *pBuf1 = nullptr;
    NvmeBuf *pBuf2 = nullptr;
    if (nvmeBufAlloc(eng, pCntl, NVME_BUF_PRP, 4096, &pBuf1) != EC_NONE ||
        nvmeBufAlloc(eng, pCntl, NVME_BUF_PRP, 4096, &pBuf2) != EC_NONE) {
        if (pBuf1)
            nvmeBufFreeOn(eng.registry, pBuf1);
        return EC_DMA_ALLOC;
    }
    NvmeLog &log = eng.log;
    NvmeCmdReq req = nvmeReqIdentify(0x01, 0, 0, pBuf1);
    req.pp.pfnHook = nvmePPIdentifyCntl;
    req.pp.pBuf = pBuf1;
    req.pp.pTarget = pCntl;
    adminCmd(eng, pCntl, req);
    pCntl->nCntlIdCopy = pCntl->CNTLID;
    pCntl->nNsIdLimit = static_cast<uint16_t>(pCntl->nNN);
    log.log("Identify Controller (funcHandle:%p)\n", static_cast<void *>(pCntl));
    log.log("\tModel String   = %s\n", pCntl->szModel);
    log.log("\tSerial String  = %s\n", pCntl->szSerial);
    log.log("\tFirmware Rev.  = %s\n", pCntl->szFwRev);
    log.log("\tbSupportNSMgmt = %d\n", pCntl->bSupportNSMgmt);
    log.log("\tnMDTS_expOf2   = %d\n", pCntl->nMDTS_expOf2);
    log.log("\tnMDTS          = %d\n", pCntl->nMDTS);
    log.log("\tCNTLID         = %d\n", pCntl->CNTLID);
    log.log("\tnNN            = %d\n", pCntl->nNN);

    NvmeDev *pDev = pCntl->pDev;
    if (!pPri && pDev) {
        pDev->nNsNum = pCntl->nNN;
        if (pCntl->nNN > NVME_MAX_NS_NUM) {
            printf("*Info* %s supports max. number of namespaces = %d\n", pCntl->szModel, pCntl->nNN);
            log.log("Info: %s line %d: %s supports max. number of namespaces = %d\n", kUnit, __LINE__,
                    pCntl->szModel, pCntl->nNN);
            printf("*Warning* the driver tracks namespaces 1 to %d only\n", NVME_MAX_NS_NUM);
            log.log("Warning: %s line %d: the driver tracks namespaces 1 to %d only\n", kUnit, __LINE__,
                    NVME_MAX_NS_NUM);
        }
        releaseNamespaces(eng, pCntl);
        pDev->namespaces[0] = nvmeNewNs(eng, 0);
        const bool bMgmt = pCntl->bSupportNSMgmt;
        log.log(bMgmt ? "Allocated Namespaces:%s" : "Active Namespaces:%s", "\n");
        adminCmd(eng, pCntl, nvmeReqIdentify(bMgmt ? 0x10 : 0x02, 0, 0, pBuf1));
        const uint8_t *pList = nvmeBufData(pBuf1);
        uint32_t aIds[1024];
        uint32_t nIds = 0;
        for (uint32_t i = 0; i < 1024; i++) {
            const uint32_t nsid = pList[4 * i] | (pList[4 * i + 1] << 8) | (pList[4 * i + 2] << 16) |
                                  (static_cast<uint32_t>(pList[4 * i + 3]) << 24);
            if (nsid == 0)
                break;
            log.log("\tnsid:%d\n", nsid);
            aIds[nIds++] = nsid;
        }
        for (uint32_t i = 0; i < nIds; i++) {
            const uint32_t nsid = aIds[i];
            if (nsid > NVME_MAX_NS_NUM || nsid > pCntl->nNsIdLimit)
                break;
            NvmeNs *pNs = nvmeNewNs(eng, nsid);
            if (!pNs)
                break;
            NvmeCmdReq r = nvmeReqIdentify(bMgmt ? 0x11 : 0x00, nsid, 0, pBuf2);
            r.pp.pfnHook = nvmePPIdentifyNs;
            r.pp.pBuf = pBuf2;
            r.pp.pTarget = pNs;
            r.pp.nParam1 = nsid;
            adminCmd(eng, pCntl, r);
            if (NvmeNs *pOld = pDev->namespaces[nsid])
                nvmeFreeNs(eng, pOld);
            pDev->namespaces[nsid] = pNs;
        }
        if (bMgmt) {
            pDev->commonNs.nsid = 0xFFFFFFFFu;
            NvmeCmdReq r = nvmeReqIdentify(0x00, 0xFFFFFFFFu, 0, pBuf2);
            r.pp.pfnHook = nvmePPIdentifyNs;
            r.pp.pBuf = pBuf2;
            r.pp.pTarget = &pDev->commonNs;
            r.pp.nParam1 = 0xFFFFFFFFu;
            adminCmd(eng, pCntl, r);
        }
    } else if (pPri && !pPri->bSupportNSMgmt) {
        log.log("Error: %s line %d: PF (%p) of this virt. function (%p) does not support namespace management "
                "command\n",
                kUnit, __LINE__, static_cast<void *>(pPri), static_cast<void *>(pCntl));
    }

    NvmeCntl *pPF = pPri ? pPri : pCntl;
    while (!pCntl->usedNs.empty())
        nvmeUnbindNs(pCntl->usedNs.front(), pCntl);
    if (pDev) {
        for (uint32_t nsid = 1; nsid <= NVME_MAX_NS_NUM; nsid++) {
            NvmeNs *pNs = pDev->namespaces[nsid];
            if (!pNs)
                continue;
            if (pPF->bSupportNSMgmt && !attachedTo(eng, pPF, pCntl, nsid, pBuf1))
                continue;
            nvmeBindNs(pNs, pCntl);
            log.log("Info: %s line %d: bind namespace %d with CNTLID %dh\n", kUnit, __LINE__, nsid, pCntl->CNTLID);
        }
    }
    log.log("Info: %s line %d: number of namespaces is %d on %s function (CNTLID=%d)\n", kUnit, __LINE__,
            pCntl->nUsedNSsNum(), pPri ? "virtual" : "physical", pCntl->CNTLID);
    NvmeNs *pFirst = nvmeFirstUsedNs(pCntl);
    for (uint32_t q = 0; q <= pCntl->nIOSQNum && q <= NVME_MAX_IOSQ_NUM; q++)
        if (pCntl->pSQs[q])
            pCntl->pSQs[q]->pDefNs = pFirst;
    nvmeBufFreeOn(eng.registry, pBuf1);
    nvmeBufFreeOn(eng.registry, pBuf2);
    return EC_NONE;
}

uint32_t roundPow2(int64_t v)
{
    uint32_t p = 2;
    while (static_cast<int64_t>(p) * 2 < v && p < (1u << 30))
        p *= 2;
    // p < v <= 2p: the nearer of the two, ties up.
    return (v - p < 2 * static_cast<int64_t>(p) - v) ? p : 2 * p;
}

uint32_t countParam(int64_t v, uint32_t nDefault)
{
    if (v == 0)
        return nDefault;
    if (v < 2)
        return 1;
    return v > 0xFFFF ? 0xFFFF : static_cast<uint32_t>(v);
}

} // namespace

NvmeQueueCounts nvmeChooseQueueCounts(uint32_t nMaxSQ, uint32_t nMaxCQ, int64_t nWantSQ, uint32_t nPerCQ)
{
    NvmeQueueCounts n;
    n.nPerCQ = nPerCQ ? nPerCQ : 1;
    n.nSQ = static_cast<uint32_t>(std::min<int64_t>({int64_t(nMaxSQ), nWantSQ, int64_t(NVME_MAX_IOSQ_NUM)}));
    const uint32_t nCQWanted = (n.nSQ + n.nPerCQ - 1) / n.nPerCQ;
    n.nCQ = std::min<uint32_t>({nMaxCQ, nCQWanted, uint32_t(NVME_MAX_IOSQ_NUM)});
    if (n.nCQ == 0)
        n.nSQ = 0;
    while (n.nCQ * n.nPerCQ < n.nSQ)
        n.nPerCQ++;
    return n;
}

uint32_t nvmeNormalizeQSize(int64_t nSize, uint32_t nDefault)
{
    if (nSize == 0)
        return nDefault;
    if (nSize <= 2)
        return 2;
    if (nSize > (int64_t(1) << 30))
        return 1u << 30;
    return roundPow2(nSize);
}

NvmeInitParams nvmeNormalizeInitParams(int64_t nASQ, int64_t nACQ, int64_t nIOSQNum, int64_t nIOSQSize,
                                       int64_t nIOSQNumPerIOCQ, int64_t nIOCQSize, int64_t nIOCQNumPerPCCT)
{
    NvmeInitParams p;
    p.nASQSize = nvmeNormalizeQSize(nASQ, 16);
    p.nACQSize = nvmeNormalizeQSize(nACQ, 16);
    p.nIOSQNum = nIOSQNum > 0 ? nIOSQNum : (nIOSQNum < 0 ? 1 : NVME_DEF_IOSQ_NUM);
    p.nIOSQSize = nvmeNormalizeQSize(nIOSQSize, NVME_DEF_IOQ_SIZE);
    p.nIOSQNumPerIOCQ = countParam(nIOSQNumPerIOCQ, 2);
    p.nIOCQSize = nvmeNormalizeQSize(nIOCQSize, NVME_DEF_IOQ_SIZE);
    p.nIOCQNumPerPCCT = countParam(nIOCQNumPerPCCT, 4);
    return p;
}

int32_t nvmeDisableCntl(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (!(readReg(eng, pCntl, nvmewire::REG_CSTS) & nvmewire::CSTS_RDY))
        return EC_NONE;
    const uint32_t nCc = readReg(eng, pCntl, nvmewire::REG_CC);
    writeReg(eng, pCntl, nvmewire::REG_CC, nCc & ~1u);
    return waitReady(eng, pCntl, false, 3);
}

int32_t nvmeEnableCntl(NvmeEngine &eng, NvmeCntl *pCntl)
{
    if (readReg(eng, pCntl, nvmewire::REG_CSTS) & nvmewire::CSTS_RDY)
        return EC_NONE;
    const uint32_t nCc = readReg(eng, pCntl, nvmewire::REG_CC);
    writeReg(eng, pCntl, nvmewire::REG_CC, nCc | 1u);
    return waitReady(eng, pCntl, true, 1);
}

int32_t nvmeInitCntl(NvmeEngine &eng, NvmeCntl *pCntl, bool bAdminOnly, NvmeInitParams &params)
{
    const char *szKind = pCntl->funcType == nvme_VF ? "virtual" : "physical";
    eng.log.log("Info: %s line %d: initialize %s function (funcHandle:%p)\n", "nvmeExt", __LINE__, szKind,
                static_cast<void *>(pCntl));
    const bool bFirst = pCntl->nState == 0;
    // A virtual function's capabilities were first read when it was enabled,
    // before its secondary controller was brought online; some controllers
    // answer register reads of an offline one with 0. Read CAP again.
    if (pCntl->funcType == nvme_VF)
        nvmeDecodeCapRegister(eng, pCntl);
    const uint32_t nCsts = readReg(eng, pCntl, nvmewire::REG_CSTS);
    if ((nCsts & nvmewire::CSTS_RDY) && nCsts != 0xFFFFFFFFu && nvmeDisableCntl(eng, pCntl) != EC_NONE) {
        printf("Error: fail to disable the controller\n");
        eng.log.log("Error %d: %s line %d: Fail to disable function:%p FuncId:%d\n", EC_TIMEOUT, "nvmeExt",
                    __LINE__, static_cast<void *>(pCntl), pCntl->nFuncId);
        return EC_TIMEOUT;
    }
    if (!bFirst)
        nvmeResetPollers(pCntl);
    pCntl->nIOCQNumPerPCCT = params.nIOCQNumPerPCCT;
    for (NvmeCQ *pCQ : pCntl->pCQs)
        if (pCQ)
            std::fill(pCQ->attachedSQs.begin(), pCQ->attachedSQs.end(), 0);

    const int32_t nErr = bAdminOnly ? setupAdminQueues(eng, pCntl, params.nASQSize, params.nACQSize, bFirst)
                                    : setupAllQueues(eng, pCntl, bFirst, params);
    if (nErr != EC_NONE) {
        printf("Fail to create Qs for the function:%p FuncId:%d\n", static_cast<void *>(pCntl), pCntl->nFuncId);
        eng.log.log(bAdminOnly ? "Error %d: %s line %d: Fail to create Admin Qs for the function:%p FuncId:%d\n"
                               : "Error %d: %s line %d: Fail to create Qs for the function:%p FuncId:%d\n",
                    nErr, "nvmeExt", __LINE__, static_cast<void *>(pCntl), pCntl->nFuncId);
        return nErr;
    }
    params.nASQSize = pCntl->pSQs[0]->nSize;
    params.nACQSize = pCntl->pCQs[0]->nSize;
    const int32_t nIdErr = identifyAtInit(eng, pCntl, pCntl->funcType == nvme_VF ? pCntl->pPriCntl : nullptr);
    if (nIdErr != EC_NONE)
        return nIdErr;
    pCntl->nState = NVME_CNTL_INITED;
    return EC_NONE;
}

} // namespace kxmnvme
