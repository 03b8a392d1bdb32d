#include "nvmePostProc.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "nvmeBufEngine.h"
#include "nvmeCmdPool.h"
#include "nvmeEngine.h"
#include "nvmeNsLinks.h"
#include "nvmePollers.h"

namespace kxmnvme {

namespace {

const char kUnit[] = "nvmePP";

// Admin opcodes whose hook runs at completion.
bool hasEntry(uint8_t nOpc)
{
    switch (nOpc) {
    case 0x00: case 0x01: case 0x04: case 0x05: case 0x06: case 0x0C: case 0x0D: case 0x15: case 0x80:
        return true;
    default:
        return false;
    }
}

NvmeCntl *cntlOf(CmdRR *pCmd)
{
    return pCmd->pSQ->pCntl;
}

// Host address of the request's data buffer, or null.
const uint8_t *ppBufData(const CmdRR *pCmd)
{
    return pCmd->pp.pBuf ? nvmeBufData(static_cast<const NvmeBuf *>(pCmd->pp.pBuf)) : nullptr;
}

NvmeLog &logOf(CmdRR *pCmd)
{
    return cntlOf(pCmd)->pEng->log;
}

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t le64(const uint8_t *p)
{
    return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

// Copies n bytes of identify text and cuts trailing white space.
void copyText(char *szDst, const uint8_t *pSrc, size_t n)
{
    memcpy(szDst, pSrc, n);
    szDst[n] = '\0';
    for (size_t i = n; i > 0 && (isspace(static_cast<unsigned char>(szDst[i - 1])) || szDst[i - 1] == '\0'); i--)
        szDst[i - 1] = '\0';
}

// LBA format nIdx of a namespace record applied to it (bit 4 of nFlbas:
// metadata at the end of each block's data).
void applyLbaFormat(NvmeNs *pNs, uint32_t nIdx, uint32_t nFlbas)
{
    const uint32_t nFmt = pNs->aLbaFmts[nIdx];
    pNs->nMetaSize = static_cast<uint16_t>(nFmt & 0xFFFF);
    pNs->nLbaDataSizeExp = static_cast<uint8_t>((nFmt >> 16) & 0xFF);
    pNs->nLbaSize = pNs->nLbaDataSizeExp < 32 ? 1u << pNs->nLbaDataSizeExp : 0;
    pNs->nLbaSizeInBuf = pNs->nLbaSize + ((nFlbas & 0x10) ? pNs->nMetaSize : 0);
}

// Applies the new format of CDW10 to a namespace record.
void formatNs(NvmeLog &log, NvmeNs *pNs, uint32_t nNsid, uint32_t nCdw10)
{
    const uint32_t nIdx = nCdw10 & 0x0F;
    if (nIdx >= pNs->nLbaFmtNum) {
        log.log("Error %d: formatNVM: expect command fail but success\n", EC_ABNORMAL);
        log.log("    nsid=%08Xh   dw10=%08Xh\n", nNsid, nCdw10);
        log.log("    LBAF=%d   total number of LBA formats:%d\n", nIdx, pNs->nLbaFmtNum);
        return;
    }
    applyLbaFormat(pNs, nIdx, nCdw10);
    pNs->nCap = pNs->nLbaSize ? pNs->nCapBytes / pNs->nLbaSize : 0;
}

} // namespace

void nvmeRunPostProc(CmdRR *pCmd)
{
    if (hasEntry(pCmd->cmd.opc()) && pCmd->pp.pfnHook)
        pCmd->pp.pfnHook(pCmd);
}

void nvmePPNoop(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
}

void nvmePPCreateIOCQ(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeCntl *pCntl = cntlOf(pCmd);
    const int64_t nId = pCmd->pp.nParam1;
    if (pCmd->nStatus != 0) {
        logOf(pCmd).log("Error: %s line %d: fail to create IOCQ %d; Status:%X\n", kUnit, __LINE__,
                        static_cast<int>(nId), pCmd->nStatus);
        return;
    }
    if (nId == 0) {
        logOf(pCmd).log("Error: %s line %d: Status 0 is returned for creating IOCQ 0\n", kUnit, __LINE__);
        return;
    }
    NvmeCQ *pCQ = static_cast<NvmeCQ *>(pCmd->pp.pTarget);
    if (pCQ) {
        pCQ->nSize = static_cast<uint32_t>(pCmd->pp.nParam2);
        memset(pCQ->pEntries, 0, pCQ->nRingBytes);
        pCQ->nHead = 0;
        pCQ->nPhase = 1;
        pCQ->bValid = 1;
    }
    if (nId <= NVME_MAX_IOSQ_NUM && pCQ)
        nvmeAttachIOCQ(*pCntl->pEng, pCntl, pCQ);
    pCntl->nIOCQNum++;
}

void nvmePPCreateIOSQ(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeCntl *pCntl = cntlOf(pCmd);
    const int64_t nSQId = pCmd->pp.nParam1;
    NvmeSQ *pSQ = nSQId >= 0 && nSQId <= NVME_MAX_IOSQ_NUM ? pCntl->pSQs[nSQId] : nullptr;
    if (!pSQ)
        return;   // nothing of ours to finish: the builder checked both
    if (pCmd->nStatus != 0) {
        pSQ->qLock.release();
        logOf(pCmd).log("Error: %s line %d: fail to create IOSQ %d; Status:%X\n", kUnit, __LINE__,
                        static_cast<int>(nSQId), pCmd->nStatus);
        return;
    }
    const int64_t nCQId = pCmd->pp.nParam2;
    if (nCQId >= 0 && nCQId <= NVME_MAX_IOSQ_NUM && pCntl->pCQs[nCQId])
        pCntl->pCQs[nCQId]->attachedSQs[nSQId / 64] |= uint64_t(1) << (nSQId % 64);
    pSQ->nHead = 0;
    pSQ->nTail = 0;
    pSQ->nSize = static_cast<uint32_t>(pCmd->pp.nParam3);
    pSQ->cqID = static_cast<uint16_t>(nCQId);
    pSQ->nState = NVME_SQ_ACTIVE;
    pSQ->qLock.release();
    pCntl->nIOSQNum++;
}

void nvmePPDeleteIOCQ(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeCntl *pCntl = cntlOf(pCmd);
    const int64_t nId = pCmd->pp.nParam1;
    if (pCmd->nStatus != 0) {
        logOf(pCmd).log("Error: %s line %d: fail to delete IOCQ %d; Status:%X\n", kUnit, __LINE__,
                        static_cast<int>(nId), pCmd->nStatus);
        return;
    }
    if (nId == 0) {
        logOf(pCmd).log("Error: %s line %d: Status 0 is returned for deleting IOCQ 0\n", kUnit, __LINE__);
        return;
    }
    if (nId < 0 || nId > NVME_MAX_IOSQ_NUM || !pCntl->pCQs[nId]) {
        logOf(pCmd).log("Error: %s line %d: Status 0 is returned for deleting non-existent IOCQ %d\n", kUnit,
                        __LINE__, static_cast<int>(nId));
        return;
    }
    NvmeCQ *pCQ = pCntl->pCQs[nId];
    nvmeDetachCQ(pCQ);
    pCQ->bValid = 0;
    if (pCntl->nIOCQNum > 0)
        pCntl->nIOCQNum--;
}

void nvmePPDeleteIOSQ(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeCntl *pCntl = cntlOf(pCmd);
    const int64_t nId = pCmd->pp.nParam1;
    if (pCmd->nStatus != 0 || nId <= 0 || nId > pCntl->nMaxIOSQNum || nId > NVME_MAX_IOSQ_NUM || !pCntl->pSQs[nId])
        return;
    NvmeSQ *pSQ = pCntl->pSQs[nId];
    if (pSQ->cqID <= NVME_MAX_IOSQ_NUM && pCntl->pCQs[pSQ->cqID])
        pCntl->pCQs[pSQ->cqID]->attachedSQs[nId / 64] &= ~(uint64_t(1) << (nId % 64));
    pSQ->qLock.acquire();
    pSQ->nState = NVME_SQ_DELETED;
    nvmeCmdPoolReset(pSQ->pQCmdRscMgr);
    pSQ->qLock.release();
    if (pCntl->nIOSQNum > 0)
        pCntl->nIOSQNum--;
}

void nvmePPIdentifyCntl(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeCntl *pCntl = static_cast<NvmeCntl *>(pCmd->pp.pTarget);
    if (pCmd->nStatus != 0) {
        logOf(pCmd).log("Error %d: identify controller: function=%p: command fail\n", EC_FAIL,
                        static_cast<void *>(pCntl));
        logOf(pCmd).log("    Status=%08Xh   Command Spec. Status=%08Xh\n", pCmd->nStatus, pCmd->cqe.dw0());
        return;
    }
    const uint8_t *p = ppBufData(pCmd);
    if (!pCntl || !p)
        return;
    memcpy(pCntl->aIdentify, p, sizeof pCntl->aIdentify);
    copyText(pCntl->szSerial, p + 4, 20);
    copyText(pCntl->szModel, p + 24, 40);
    copyText(pCntl->szFwRev, p + 64, 8);
    pCntl->bSupportNSMgmt = (le16(p + 256) >> 3) & 1;
    pCntl->nMDTS_expOf2 = pCntl->nMinPageSize_expOf2 + p[77];
    pCntl->nMDTS = pCntl->nMDTS_expOf2 < 32 ? 1u << pCntl->nMDTS_expOf2 : 0;
    pCntl->nNN = le32(p + 516);
    pCntl->CNTLID = le16(p + 78);
}


void nvmeFillNsFromIdentify(NvmeNs *pNs, const uint8_t *p)
{
    pNs->nCap = le64(p + 8);
    const uint32_t nFlbas = p[26];
    pNs->nLbaFmtNum = (p[25] & 0x0F) + 1u;
    memset(pNs->aLbaFmts, 0, sizeof pNs->aLbaFmts);
    for (uint32_t i = 0; i < pNs->nLbaFmtNum; i++)
        pNs->aLbaFmts[i] = le32(p + 128 + 4 * i);
    // The current format is read from the data even when FLBAS names an
    // entry beyond the count.
    const uint32_t nFmt = le32(p + 128 + 4 * (nFlbas & 0x0F));
    pNs->nMetaSize = static_cast<uint16_t>(nFmt & 0xFFFF);
    pNs->nLbaDataSizeExp = static_cast<uint8_t>((nFmt >> 16) & 0xFF);
    pNs->nLbaSize = pNs->nLbaDataSizeExp < 32 ? 1u << pNs->nLbaDataSizeExp : 0;
    pNs->nLbaSizeInBuf = pNs->nLbaSize + ((nFlbas & 0x10) ? pNs->nMetaSize : 0);
    pNs->nCapBytes = pNs->nCap * pNs->nLbaSize;
}

void nvmePPIdentifyNs(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeNs *pNs = static_cast<NvmeNs *>(pCmd->pp.pTarget);
    const uint8_t *p = ppBufData(pCmd);
    if (!pNs || !p || pNs->nsid != static_cast<uint32_t>(pCmd->pp.nParam1))
        return;
    nvmeFillNsFromIdentify(pNs, p);
}

void nvmePPNsMgmt(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeCntl *pCntl = cntlOf(pCmd);
    NvmeEngine &eng = *pCntl->pEng;
    NvmeLog &log = eng.log;
    NvmeDev *pDev = static_cast<NvmeDev *>(pCmd->pp.pTarget);
    const uint32_t nDw0 = pCmd->cqe.dw0();
    if (!pDev)
        return;
    if (pCmd->pp.nParam1 == 0) {
        log.log("Info: %s line %d: create namespace result: status:%04X nCmdSpecStatus:%08X\n", kUnit, __LINE__,
                pCmd->nStatus, nDw0);
        const uint8_t *p = ppBufData(pCmd);
        if (pCmd->nStatus != 0 || nDw0 == 0 || !p) {
            log.log("Error: %s line %d: fail to create namespace\n", kUnit, __LINE__);
            return;
        }
        log.log("\tnamespace Id = %d\n", nDw0);
        const NvmeNs &common = pDev->commonNs;
        uint32_t nIdx = p[26] & 0x0F;
        if (nIdx >= common.nLbaFmtNum) {
            log.log("Error: %s line %d: detect an unexpected success of namespace creation\n", kUnit, __LINE__);
            log.log("\tthe specified index of LBA format is %d; number of LBA formats is %d\n", nIdx,
                    common.nLbaFmtNum);
            nIdx = 0;
        }
        if (nDw0 > NVME_MAX_NS_NUM) {
            log.log("Warning: %s line %d: created namespace Id = %d, max. number of namespaces supported by the "
                    "driver is %d\n",
                    kUnit, __LINE__, nDw0, NVME_MAX_NS_NUM);
            return;
        }
        NvmeNs *pNs = nvmeNewNs(eng, nDw0);
        if (!pNs)
            return;
        pNs->nCap = le64(p + 8);
        pNs->nLbaFmtNum = common.nLbaFmtNum;
        memcpy(pNs->aLbaFmts, common.aLbaFmts, sizeof pNs->aLbaFmts);
        applyLbaFormat(pNs, nIdx, p[26]);
        pNs->nCapBytes = pNs->nCap * pNs->nLbaSize;
        // A record left in the slot (the controller reused an id we did not
        // see deleted) goes first, with its links.
        if (NvmeNs *pOld = pDev->namespaces[nDw0]) {
            for (NvmeCntl *pUser : std::vector<NvmeCntl *>(pOld->users))
                nvmeUnbindNs(pOld, pUser);
            nvmeFreeNs(eng, pOld);
        }
        pDev->namespaces[nDw0] = pNs;
        return;
    }
    if (pCmd->pp.nParam1 != 1)
        return;
    const int64_t nNsid = pCmd->pp.nParam2;
    log.log("Info: %s line %d: delete namespace %d result: status:%04X nCmdSpecStatus:%08X\n", kUnit, __LINE__,
            static_cast<int>(nNsid), pCmd->nStatus, nDw0);
    if (pCmd->nStatus != 0) {
        log.log("Warning: %s line %d: fail to delete namespace %d\n", kUnit, __LINE__, static_cast<int>(nNsid));
        return;
    }
    if (nNsid <= 0 || nNsid > NVME_MAX_NS_NUM)
        return;
    NvmeNs *pNs = pDev->namespaces[nNsid];
    pDev->namespaces[nNsid] = nullptr;
    if (!pNs) {
        log.log("Error: %s line %d: success to delete non-existent namespace %d\n", kUnit, __LINE__,
                static_cast<int>(nNsid));
        return;
    }
    for (NvmeCntl *pUser : std::vector<NvmeCntl *>(pNs->users)) {
        nvmeUnbindNs(pNs, pUser);
        log.log("remove namespace-%d used by the function whose cntlid=%d\n", static_cast<int>(nNsid),
                pUser->CNTLID);
    }
    // The record is out of every list: free it, so a stale handle to it is
    // refused rather than used.
    for (uint32_t q = 0; q <= NVME_MAX_IOSQ_NUM; q++)
        for (uint16_t f = 0; f < pDev->nFuncNum && f < NVME_MAX_FUNC_NUM; f++)
            if (NvmeCntl *pC = pDev->cntls[f]; pC && pC->pSQs[q] && pC->pSQs[q]->pDefNs == pNs)
                pC->pSQs[q]->pDefNs = nullptr;
    nvmeFreeNs(eng, pNs);
}

void nvmePPNsAttach(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeCntl *pCntl = static_cast<NvmeCntl *>(pCmd->pp.pTarget);
    if (!pCntl)
        return;
    NvmeLog &log = pCntl->pEng->log;
    const int64_t nNsid = pCmd->pp.nParam1;
    if (pCmd->nStatus != 0) {
        log.log("Error: %s line %d: function (funcHandle:%p, CNTLID:%d) fail to execute namespace attachment "
                "command; status = %Xh\n",
                kUnit, __LINE__, static_cast<void *>(pCntl), pCntl->CNTLID, pCmd->nStatus);
        return;
    }
    if (!pCntl->bSupportNSMgmt) {
        log.log("Error: %s line %d: function (funcHandle:%p, CNTLID:%d) does not support\n", kUnit, __LINE__,
                static_cast<void *>(pCntl), pCntl->CNTLID);
        log.log("       namespace management commands but execute namespace attachment command successfully%s",
                "\n");
    }
    NvmeDev *pDev = pCntl->pDev;
    NvmeNs *pNs = pDev && nNsid > 0 && nNsid <= NVME_MAX_NS_NUM ? pDev->namespaces[nNsid] : nullptr;
    if (!pNs) {
        log.log("Error: %s line %d: namespace %d does not exist, but function (funcHandle:%p, CNTLID:%d)\n", kUnit,
                __LINE__, static_cast<int>(nNsid), static_cast<void *>(pCntl), pCntl->CNTLID);
        log.log("       execute namespace attachment command successfully%s", "\n");
        return;
    }
    const NvmeBuf *pBuf = static_cast<NvmeBuf *>(pCmd->pp.pBuf);
    const uint8_t *p = pBuf ? nvmeBufData(pBuf) : nullptr;
    const uint32_t nBufSize = pBuf ? pBuf->nTtlSize : 0;
    if (!p || nBufSize < 2)
        return;
    const uint32_t n = le16(p);
    for (uint32_t i = 0; i < n && 2 + 2 * (i + 1) <= nBufSize; i++) {
        NvmeCntl *pTarget = nvmeCntlByCntlId(pDev, le16(p + 2 + 2 * i));
        if (!pTarget)
            continue;
        std::lock_guard<std::recursive_mutex> g(pTarget->lock);
        if (pCmd->pp.nParam2 == 0) {
            if (std::find(pNs->users.begin(), pNs->users.end(), pTarget) == pNs->users.end())
                nvmeBindNs(pNs, pTarget);
        } else if (pCmd->pp.nParam2 == 1) {
            nvmeUnbindNs(pNs, pTarget);
            for (NvmeSQ *pSQ : pTarget->pSQs)
                if (pSQ && pSQ->pDefNs == pNs)
                    pSQ->pDefNs = nvmeFirstUsedNs(pTarget);
        }
    }
}

void nvmePPFormatNVM(CmdRR *pCmd)
{
    pCmd->pp.pfnHook = nullptr;
    NvmeCntl *pCntl = static_cast<NvmeCntl *>(pCmd->pp.pTarget);
    if (!pCntl)
        return;
    NvmeLog &log = pCntl->pEng->log;
    const uint32_t nNsid = static_cast<uint32_t>(pCmd->pp.nParam1);
    const uint32_t nCdw10 = static_cast<uint32_t>(pCmd->pp.nParam2);
    if (pCmd->nStatus != 0) {
        log.log("Error %d: formatNVM: function=%p: command fail\n", EC_FAIL, static_cast<void *>(pCntl));
        log.log("    nsid=%08Xh   dw10=%08Xh\n", nNsid, nCdw10);
        log.log("    Status=%08Xh   Command Spec. Status=%08Xh\n", pCmd->nStatus, pCmd->cqe.dw0());
        return;
    }
    NvmeDev *pDev = pCntl->pDev;
    if (!pDev)
        return;
    const uint8_t nFna = pCntl->aIdentify[524];
    const uint32_t nSes = (nCdw10 >> 9) & 7;
    const bool bAll = (nSes == 1 || nSes == 2) ? (nFna >> 1) & 1 : nFna & 1;
    const bool bKnown = nNsid >= 1 && nNsid <= NVME_MAX_NS_NUM && pDev->namespaces[nNsid];
    if (bAll) {
        if (bKnown)
            for (uint32_t i = 1; i <= NVME_MAX_NS_NUM; i++)
                if (pDev->namespaces[i])
                    formatNs(log, pDev->namespaces[i], nNsid, nCdw10);
    } else if (nNsid == 0xFFFFFFFFu) {
        for (NvmeNs *pNs : pCntl->usedNs)
            formatNs(log, pNs, nNsid, nCdw10);
    } else if (bKnown) {
        formatNs(log, pDev->namespaces[nNsid], nNsid, nCdw10);
    }
}

} // namespace kxmnvme
