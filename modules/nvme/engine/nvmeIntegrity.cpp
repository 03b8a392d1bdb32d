#include "nvmeIntegrity.h"

#include <cstdio>

#include "nvmeCmdPool.h"
#include "nvmeEngine.h"

namespace kxmnvme {

namespace {

const char kDashes[] = "------------------------------------------------------------";

const char *verdict(bool b)
{
    return b ? "Passed" : "Failed";
}

// One check line; folds the result into *pAll.
bool check(NvmeTextOut &out, const char *szIndent, const char *szWhat, bool bOk, bool *pAll)
{
    out.put("%s  Check %s: %s\n", szIndent, szWhat, verdict(bOk));
    *pAll = *pAll && bOk;
    return bOk;
}

} // namespace

bool nvmeCheckSQ(NvmeEngine &eng, NvmeSQ *pSQ, bool bIdle, NvmeTextOut &out, const char *szIndent)
{
    bool bAll = true;
    const bool bExact = bIdle && !(pSQ->nFlags & NVME_SQF_NOT_POLLING);
    out.put("%sCheck SQ %d:\n%s%s\n", szIndent, pSQ->qID, szIndent, kDashes);
    check(out, szIndent, "handleType", eng.registry.is(pSQ, NVME_KIND_SQ), &bAll);
    check(out, szIndent, "cqID", pSQ->qID == 0 ? pSQ->cqID == 0 : pSQ->cqID != 0, &bAll);
    check(out, szIndent, "head/tail position", !bIdle || __atomic_load_n(&pSQ->nHead, __ATOMIC_RELAXED) == pSQ->nTail,
          &bAll);
    bool bCounts = true;
    uint64_t nCompl = 0;
    for (int opc = 0; opc < 256; opc++) {
        const uint64_t nIss = pSQ->aIssueCnt[opc];
        const uint64_t nCpl = pSQ->aComplCnt[opc].load(std::memory_order_relaxed);
        nCompl += nCpl;
        if (bExact ? nIss == nCpl : nIss >= nCpl)
            continue;
        bCounts = false;
        out.put("%s  Check issue/compl: Failed; issue[opc=%d]=%d, compl[opc=%d]=%d, q-size=%d\n", szIndent, opc,
                static_cast<int>(nIss), opc, static_cast<int>(nCpl), static_cast<int>(pSQ->nSize));
    }
    check(out, szIndent, "issue/compl ststs", bCounts, &bAll);
    uint64_t nBinned = 0;
    for (uint32_t b = 0; pSQ->pHist && b < NVME_HIST_BINS; b++)
        nBinned += pSQ->pHist[b].load(std::memory_order_relaxed);
    check(out, szIndent, "compl/exetime ststs", bExact ? nCompl == nBinned : nCompl >= nBinned, &bAll);
    const uint32_t nTotal = pSQ->pQCmdRscMgr ? pSQ->pQCmdRscMgr->nCount : 0;
    const uint32_t nFree = pSQ->pQCmdRscMgr ? nvmeCmdPoolFreeNum(pSQ->pQCmdRscMgr) : 0;
    const bool bPool = pSQ->pQCmdRscMgr && (bExact ? nTotal == nFree : nTotal >= nFree);
    if (!bPool)
        out.put("%stotalNum=%d, nFreeNum=%d, q-size=%d\n", szIndent, static_cast<int>(nTotal),
                static_cast<int>(nFree), static_cast<int>(pSQ->nSize));
    check(out, szIndent, "CmdRscMgr", bPool, &bAll);
    check(out, szIndent, "CmdTracer", bPool, &bAll);
    out.put("%s%s\n", szIndent, kDashes);
    return bAll;
}

bool nvmeCheckCntl(NvmeEngine &eng, NvmeCntl *pCntl, bool bIdle, NvmeTextOut &out)
{
    bool bAll = true;
    out.put("Check function %d:\n%s\n", pCntl->nFuncId, kDashes);
    check(out, "", "handleType", eng.registry.is(pCntl, NVME_KIND_CNTL), &bAll);
    check(out, "", "pDev", pCntl->pDev != nullptr, &bAll);
    if (pCntl->pDev)
        check(out, "", "nFuncId", pCntl->nFuncId < pCntl->pDev->nFuncNum, &bAll);
    check(out, "", "pSEvtRscMgr", pCntl->pSEvtRscMgr != nullptr, &bAll);
    check(out, "", "pSEvtTraceMgr", pCntl->pSEvtTraceMgr != nullptr, &bAll);
    check(out, "", "nUsedNSsNum", pCntl->nUsedNSsNum() >= 1, &bAll);
    bool bOwn = true;
    for (const NvmeNs *pNs : pCntl->usedNs) {
        bool bHas = false;
        for (const NvmeCntl *pUser : pNs->users)
            bHas = bHas || pUser == pCntl;
        bOwn = bOwn && bHas;
    }
    check(out, "", "usedNSsHead", bOwn, &bAll);
    check(out, "", "nBackupCfgReg_BAR0", pCntl->savedCfg.nBackupCfgReg_BAR0 > 0, &bAll);
    check(out, "", "nMaxQSize", pCntl->nMaxQSize > 0, &bAll);
    check(out, "", "nMaxIOSQNum", pCntl->nMaxIOSQNum >= 1, &bAll);
    check(out, "", "nMaxIOCQNum", pCntl->nMaxIOCQNum > 0, &bAll);
    bool bFirst = true;
    for (uint32_t i = 0; i <= NVME_MAX_IOSQ_NUM; i++) {
        NvmeSQ *pSQ = pCntl->pSQs[i];
        if (!pSQ)
            continue;
        if (!bFirst)
            out.put("\n");
        bFirst = false;
        char szWhat[32];
        snprintf(szWhat, sizeof szWhat, "sqs[%d].qID", static_cast<int>(i));
        check(out, "", szWhat, pSQ->qID == i, &bAll);
        const bool bSQ = nvmeCheckSQ(eng, pSQ, bIdle, out, "    ");
        snprintf(szWhat, sizeof szWhat, "sqs[%d]", static_cast<int>(i));
        check(out, "", szWhat, bSQ, &bAll);
    }
    out.put("%s\n", kDashes);
    return bAll;
}

} // namespace kxmnvme
