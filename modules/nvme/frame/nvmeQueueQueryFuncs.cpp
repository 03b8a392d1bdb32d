// Queries of a controller's queues and namespaces, the two attributes, and
// the per-queue command counters. They read engine records without the
// controller or queue locks: values may move while a poller works.
#include <cstring>

#include "nvmeArgs.h"
#include "nvmeFuncs.h"
#include "nvmeHost.h"
#include "nvmeQuery.h"

namespace kxmnvme {

namespace {

#define CNTL_NVME_HANDLER(name, need, expr)                                                                             \
    nvmeCntlQuery(name, nArgs, pArgs, pResult, szMsg, NvmeInitNeed::need, [](NvmeCntl *p) { return int64_t(expr); })

bool sqActive(const NvmeCntl *pCntl, int64_t nId, bool bIO)
{
    if (nId < (bIO ? 1 : 0) || nId > NVME_MAX_IOSQ_NUM)
        return false;
    const NvmeSQ *pSQ = pCntl->pSQs[nId];
    return pSQ && pSQ->nState == NVME_SQ_ACTIVE;
}

bool cqEnabled(const NvmeCntl *pCntl, int64_t nId)
{
    return nId >= 1 && nId <= NVME_MAX_IOSQ_NUM && pCntl->pCQs[nId] && pCntl->pCQs[nId]->bValid;
}

// The controller of position 2 and an integer at position nPos, after the
// init check; null on failure.
NvmeCntl *cntlAndId(NvmeCall &c, int nPos, int64_t *pId)
{
    NvmeCntl *pCntl = c.cntl(2);
    if (!pCntl || !c.inited(pCntl) || !c.integer(nPos, pId))
        return nullptr;
    return pCntl;
}

// The first id above nFrom (negative: from 1) that passes ok(); 0 when none.
template <typename Ok>
int64_t nextId(int64_t nFrom, int64_t nLast, Ok ok)
{
    for (int64_t id = nFrom < 0 ? 1 : nFrom + 1; id <= nLast; id++)
        if (ok(id))
            return id;
    return 0;
}

// An optional opcode argument: -1 for all, or 0..255; false with EC_OPCODE.
bool opcodeArg(NvmeCall &c, int nPos, int64_t *pOpc)
{
    *pOpc = -1;
    if (!c.has(nPos))
        return true;
    if (!c.integer(nPos, pOpc))
        return false;
    if (*pOpc < 0 || *pOpc > 255) {
        c.setError(EC_OPCODE);
        return false;
    }
    return true;
}

uint64_t issued(const NvmeSQ *pSQ, int64_t nOpc)
{
    if (nOpc >= 0)
        return pSQ->aIssueCnt[nOpc];
    uint64_t n = 0;
    for (uint64_t v : pSQ->aIssueCnt)
        n += v;
    return n;
}

uint64_t completed(const NvmeSQ *pSQ, int64_t nOpc)
{
    if (nOpc >= 0)
        return pSQ->aComplCnt[nOpc].load(std::memory_order_relaxed);
    uint64_t n = 0;
    for (const auto &v : pSQ->aComplCnt)
        n += v.load(std::memory_order_relaxed);
    return n;
}

// A counter summed over the controller's SQs (from SQ nFirst on).
int32_t cntlCounter(const char *szName, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg,
                    uint32_t nFirst, bool bIssued)
{
    NvmeCall c(szName, nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    int64_t nOpc = -1;
    if (!pCntl || !opcodeArg(c, 3, &nOpc))
        return c.fail(-1);
    uint64_t n = 0;
    for (uint32_t q = nFirst; q <= NVME_MAX_IOSQ_NUM; q++)
        if (const NvmeSQ *pSQ = pCntl->pSQs[q])
            n += bIssued ? issued(pSQ, nOpc) : completed(pSQ, nOpc);
    return c.ok(static_cast<int64_t>(n));
}

int32_t sqCounter(const char *szName, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg,
                  bool bIssued)
{
    NvmeCall c(szName, nArgs, pArgs, pResult, szMsg);
    NvmeSQ *pSQ = c.sq(2);
    int64_t nOpc = -1;
    if (!pSQ || !opcodeArg(c, 3, &nOpc))
        return c.fail(-1);
    return c.ok(static_cast<int64_t>(bIssued ? issued(pSQ, nOpc) : completed(pSQ, nOpc)));
}

// A value of an SQ handle.
template <typename Get>
int32_t sqQuery(const char *szName, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg, Get get)
{
    NvmeCall c(szName, nArgs, pArgs, pResult, szMsg);
    NvmeSQ *pSQ = c.sq(2);
    if (!pSQ)
        return c.fail(-1);
    return c.ok(get(pSQ));
}

} // namespace

NVME_HANDLER(nvmeFnGetCntlHandleBySQHandle)
{
    NvmeCall c("getCntlHandleBySQHandle", nArgs, pArgs, pResult, szMsg);
    NvmeSQ *pSQ = c.sq(2);
    if (!pSQ)
        return c.failHandle();
    return c.okHandle(pSQ->pCntl);
}

NVME_HANDLER(nvmeFnGetPageSize) { return CNTL_NVME_HANDLER("getPageSize", Silent, p->nPageSize); }
NVME_HANDLER(nvmeFnGetNsNum) { return CNTL_NVME_HANDLER("getNsNum", Logged, p->nUsedNSsNum()); }
NVME_HANDLER(nvmeFnGetMaxIOSQNum) { return CNTL_NVME_HANDLER("getMaxIOSQNum", Logged, p->nMaxIOSQNum); }
NVME_HANDLER(nvmeFnGetMaxIOCQNum) { return CNTL_NVME_HANDLER("getMaxIOCQNum", Logged, p->nMaxIOCQNum); }
NVME_HANDLER(nvmeFnGetMaxIOQSize) { return CNTL_NVME_HANDLER("getMaxIOQSize", Logged, p->nMaxQSize); }
NVME_HANDLER(nvmeFnGetIOSQNum) { return CNTL_NVME_HANDLER("getIOSQNum", Logged, p->nIOSQNum); }
NVME_HANDLER(nvmeFnGetIOCQNum) { return CNTL_NVME_HANDLER("getIOCQNum", Logged, p->nIOCQNum); }

NVME_HANDLER(nvmeFnGetNextNsId)
{
    NvmeCall c("getNextNsId", nArgs, pArgs, pResult, szMsg);
    int64_t nFrom = 0;
    NvmeCntl *pCntl = cntlAndId(c, 3, &nFrom);
    if (!pCntl)
        return c.fail(-1);
    int64_t nBest = 0;
    for (const NvmeNs *pNs : pCntl->usedNs)
        if (pNs->nsid > (nFrom < 0 ? 0 : nFrom) && (nBest == 0 || pNs->nsid < nBest))
            nBest = pNs->nsid;
    return c.ok(nBest);
}

NVME_HANDLER(nvmeFnGetNsIds)
{
    NvmeCall c("getNsIds", nArgs, pArgs, pResult, szMsg);
    int64_t nMax = 0;
    NvmeCntl *pCntl = cntlAndId(c, 3, &nMax);
    if (!pCntl)
        return c.fail(-1);
    void *pArr = c.refCell(4);
    const int64_t nSize = g_host.pfnGetArrDimNum(pArr) == 1 ? g_host.pfnGetArrDimSize(pArr, 0) : 0;
    int64_t n = 0;
    for (const NvmeNs *pNs : pCntl->usedNs) {
        if (n >= nMax || n >= nSize)
            break;
        if (krvValue_t *pCell = g_host.pfnGetArrElem(pArr, static_cast<int32_t>(n)))
            g_host.pfnSetInt(pCell, pNs->nsid);
        n++;
    }
    return c.ok(n);
}

NVME_HANDLER(nvmeFnGetNsHandle)
{
    NvmeCall c("getNsHandle", nArgs, pArgs, pResult, szMsg);
    int64_t nsid = 0;
    NvmeCntl *pCntl = cntlAndId(c, 3, &nsid);
    if (!pCntl)
        return c.failHandle();
    for (NvmeNs *pNs : pCntl->usedNs)
        if (pNs->nsid == nsid)
            return c.okHandle(pNs);
    c.setError(EC_NSID);
    return c.failHandle();
}

NVME_HANDLER(nvmeFnSetNsAttr)
{
    NvmeCall c("setNsAttr", nArgs, pArgs, pResult, szMsg);
    NvmeNs *pNs = c.ns(2);
    const char *szName = pNs ? c.text(3) : nullptr;
    int64_t nValue = 0;
    if (!szName || !c.integer(4, &nValue))
        return c.fail(0);
    if (strcmp(szName, "AutoGenChecksumOnLBAData") != 0)
        return c.fail(EC_NS_ATTR, 0);
    pNs->nAttr = static_cast<uint8_t>((pNs->nAttr & ~1u) | (nValue != 0 ? 1u : 0u));
    return c.ok(1);
}

NVME_HANDLER(nvmeFnGetNextIOSQId)
{
    NvmeCall c("getNextIOSQId", nArgs, pArgs, pResult, szMsg);
    int64_t nFrom = 0;
    NvmeCntl *pCntl = cntlAndId(c, 3, &nFrom);
    if (!pCntl)
        return c.fail(-1);
    return c.ok(nextId(nFrom, NVME_MAX_IOSQ_NUM, [&](int64_t id) { return sqActive(pCntl, id, true); }));
}

NVME_HANDLER(nvmeFnGetNextIOCQId)
{
    NvmeCall c("getNextIOCQId", nArgs, pArgs, pResult, szMsg);
    int64_t nFrom = 0;
    NvmeCntl *pCntl = cntlAndId(c, 3, &nFrom);
    if (!pCntl)
        return c.fail(-1);
    return c.ok(nextId(nFrom, NVME_MAX_IOSQ_NUM, [&](int64_t id) { return cqEnabled(pCntl, id); }));
}

NVME_HANDLER(nvmeFnGetPairedIOCQId)
{
    NvmeCall c("getPairedIOCQId", nArgs, pArgs, pResult, szMsg);
    int64_t nSQId = 0;
    NvmeCntl *pCntl = cntlAndId(c, 3, &nSQId);
    if (!pCntl)
        return c.fail(-1);
    if (!sqActive(pCntl, nSQId, true))
        return c.fail(EC_SQID, 0);
    return c.ok(pCntl->pSQs[nSQId]->cqID);
}

NVME_HANDLER(nvmeFnGetNextPairedIOSQId)
{
    NvmeCall c("getNextPairedIOSQId", nArgs, pArgs, pResult, szMsg);
    int64_t nCQId = 0;
    int64_t nFrom = 0;
    NvmeCntl *pCntl = cntlAndId(c, 3, &nCQId);
    if (!pCntl || !c.integer(4, &nFrom))
        return c.fail(-1);
    if (!cqEnabled(pCntl, nCQId))
        return c.fail(EC_CQID, -1);
    return c.ok(nextId(nFrom, NVME_MAX_IOSQ_NUM, [&](int64_t id) {
        return sqActive(pCntl, id, true) && pCntl->pSQs[id]->cqID == nCQId;
    }));
}

NVME_HANDLER(nvmeFnGetSQHandle)
{
    NvmeCall c("getSQHandle", nArgs, pArgs, pResult, szMsg);
    int64_t nSQId = 0;
    NvmeCntl *pCntl = cntlAndId(c, 3, &nSQId);
    if (!pCntl)
        return c.failHandle();
    if (!sqActive(pCntl, nSQId, false)) {
        c.setError(EC_SQID);
        return c.failHandle();
    }
    return c.okHandle(pCntl->pSQs[nSQId]);
}

NVME_HANDLER(nvmeFnGetSQId)
{
    NvmeCall c("getSQId", nArgs, pArgs, pResult, szMsg);
    uint32_t nKind = 0;
    void *p = c.either(2, NVME_KIND_SQ, NVME_KIND_CMD, &nKind, "%p, neither SQHandle nor CmdHandle, is specified to %s");
    if (!p)
        return c.fail(-1);
    return c.ok(nKind == NVME_KIND_SQ ? static_cast<NvmeSQ *>(p)->qID : static_cast<CmdRR *>(p)->nSQId);
}

NVME_HANDLER(nvmeFnGetSQSize) { return sqQuery("getSQSize", nArgs, pArgs, pResult, szMsg, [](NvmeSQ *p) { return int64_t(p->nSize); }); }

NVME_HANDLER(nvmeFnIsSQFull)
{
    return sqQuery("isSQFull", nArgs, pArgs, pResult, szMsg, [](NvmeSQ *p) {
        return int64_t(p->nSize && (p->nTail + 1) % p->nSize == __atomic_load_n(&p->nHead, __ATOMIC_RELAXED));
    });
}

NVME_HANDLER(nvmeFnIsSQEmpty)
{
    return sqQuery("isSQEmpty", nArgs, pArgs, pResult, szMsg,
                   [](NvmeSQ *p) { return int64_t(p->nTail == __atomic_load_n(&p->nHead, __ATOMIC_RELAXED)); });
}

NVME_HANDLER(nvmeFnSetSQAttr)
{
    NvmeCall c("setSQAttr", nArgs, pArgs, pResult, szMsg);
    NvmeSQ *pSQ = c.sq(2);
    if (!pSQ)
        return c.fail(0);
    if (pSQ->nState != NVME_SQ_ACTIVE)
        return c.fail(EC_HANDLE, 0);
    const char *szName = c.text(3);
    if (!szName)
        return c.fail(0);
    if (strcmp(szName, "PollingMode") == 0) {
        int64_t nValue = 0;
        if (!c.integer(4, &nValue))
            return c.fail(0);
        pSQ->nFlags = static_cast<uint8_t>((pSQ->nFlags & ~NVME_SQF_NOT_POLLING) | (nValue == 0 ? NVME_SQF_NOT_POLLING : 0));
        return c.ok(1);
    }
    if (strcmp(szName, "DefaultNamespaceHandle") == 0) {
        NvmeNs *pNs = c.ns(4);
        if (!pNs)
            return c.fail(0);
        pSQ->pDefNs = pNs;
        return c.ok(1);
    }
    return c.fail(EC_SQ_ATTR, 0);
}

NVME_HANDLER(nvmeFnGetAllCmdIssueNum) { return cntlCounter("getAllCmdIssueNum", nArgs, pArgs, pResult, szMsg, 0, true); }
NVME_HANDLER(nvmeFnGetAllCmdComplNum) { return cntlCounter("getAllCmdComplNum", nArgs, pArgs, pResult, szMsg, 0, false); }
NVME_HANDLER(nvmeFnGetAllIOSQCmdIssueNum) { return cntlCounter("getAllIOSQCmdIssueNum", nArgs, pArgs, pResult, szMsg, 1, true); }
NVME_HANDLER(nvmeFnGetAllIOSQCmdComplNum) { return cntlCounter("getAllIOSQCmdComplNum", nArgs, pArgs, pResult, szMsg, 1, false); }
NVME_HANDLER(nvmeFnGetSQCmdIssueNum) { return sqCounter("getSQCmdIssueNum", nArgs, pArgs, pResult, szMsg, true); }
NVME_HANDLER(nvmeFnGetSQCmdComplNum) { return sqCounter("getSQCmdComplNum", nArgs, pArgs, pResult, szMsg, false); }

} // namespace kxmnvme
