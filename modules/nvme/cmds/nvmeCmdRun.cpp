// The runner of the command table: every admin and I/O script function
// without an algorithm of its own is one row of nvmeAdmcCmds.cpp or
// nvmeIocCmds.cpp run through here.
#include <cstring>

#include "nvmeBuf.h"
#include "nvmeBufOps.h"
#include "nvmeCmdTable.h"

namespace kxmnvme {

void nvmeCmdPut(nvmewire::Sqe &cmd, CmdFld f, uint64_t nValue)
{
    if (f.nBits == 0)
        return;
    const uint32_t nMask = f.nBits >= 32 ? 0xFFFFFFFFu : ((1u << f.nBits) - 1);
    const uint32_t nField = static_cast<uint32_t>(nValue >> f.nSrcShift) & nMask;
    cmd.dw[f.nDw] = (cmd.dw[f.nDw] & ~(nMask << f.nShift)) | (nField << f.nShift);
}

krvExtHandler_t nvmeCmdHandlerOf(const CmdDesc *pTable, const krvExtHandler_t *pFns, size_t nRows,
                                 const char *szName)
{
    for (size_t i = 0; i < nRows; i++)
        if (strcmp(pTable[i].szName, szName) == 0)
            return pFns[i];
    return nullptr;
}

uint32_t nvmeDefNsid(const NvmeSQ *pSQ)
{
    return pSQ && pSQ->pDefNs ? pSQ->pDefNs->nsid : 1;
}

int32_t nvmeCmdSubmitEnd(NvmeCall &c, NvmeSQ *pSQ, const NvmeCmdReq &req, CmdRR **ppCmd)
{
    CmdRR *pCmd = nullptr;
    const int32_t nErr = pSQ ? nvmeSubmit(c.engine(), pSQ, req, &pCmd) : EC_SQ_DELETED;
    if (nErr != EC_NONE)
        return c.fail(nErr, 0);
    if (ppCmd)
        *ppCmd = pCmd;
    if (pSQ->nFlags & NVME_SQF_NOT_POLLING)
        return c.ok(1);
    return c.okHandle(pCmd);
}

namespace {

bool isHandleArg(ArgKind k)
{
    return k == ArgKind::Buf || k == ArgKind::BufOpt || k == ArgKind::Meta || k == ArgKind::BufOrInt ||
           k == ArgKind::Struct;
}

// A data buffer must describe its data by PRP or SGL.
NvmeBuf *dataBuf(NvmeCall &c, int nPos)
{
    NvmeBuf *p = c.buf(nPos);
    if (p && p->nBufType != NVME_BUF_PRP && p->nBufType != NVME_BUF_SGL) {
        c.setError(EC_DATA_BUF_TYPE);
        return nullptr;
    }
    return p;
}

bool readStruct(CmdCtx &x, int nPos, const CmdStruct &s)
{
    x.pStruct = x.c.structOf(nPos, s.szType);
    if (!x.pStruct)
        return false;
    for (const char *const *pp = s.apszMembers; *pp; pp++)
        if (const CmdMember *pm = nvmeCmdMember(*pp)) {
            const uint64_t v = static_cast<uint64_t>(x.c.member(x.pStruct, *pp));
            nvmeCmdPut(x.req.cmd, pm->f1, v);
            nvmeCmdPut(x.req.cmd, pm->f2, v);
        }
    return true;
}

// Buffers and structures: handles are tested before any other argument.
bool readHandleArg(CmdCtx &x, int nPos, const CmdArg &a)
{
    NvmeCall &c = x.c;
    const bool bGiven = c.has(nPos);
    switch (a.kind) {
    case ArgKind::Buf:
        return (x.req.pBuf = dataBuf(c, nPos)) != nullptr;
    case ArgKind::BufOpt:
    case ArgKind::Meta: {
        if (!bGiven || c.isNull(nPos))
            return true;
        NvmeBuf *p = dataBuf(c, nPos);
        (a.kind == ArgKind::Meta ? x.pMeta : x.req.pBuf) = p;
        return p != nullptr;
    }
    case ArgKind::BufOrInt:
        if (c.type(nPos) != KRV_DT_HANDLE)
            return true;   // read as an integer
        return (x.req.pBuf = dataBuf(c, nPos)) != nullptr;
    case ArgKind::Struct:
        return !bGiven || readStruct(x, nPos, *a.pStruct);
    default:
        return true;
    }
}

bool readIntArg(CmdCtx &x, int nPos, const CmdArg &a)
{
    NvmeCall &c = x.c;
    if (a.kind == ArgKind::BufOrInt && c.type(nPos) == KRV_DT_HANDLE)
        return true;
    int64_t v = 0;
    if (!c.has(nPos)) {
        if (a.def == ArgDef::Absent)
            return true;
        v = a.def == ArgDef::BufSize ? (x.req.pBuf ? x.req.pBuf->nTtlSize : 0) : a.nDef;
    } else if (!c.integer(nPos, &v)) {
        return false;
    } else {
        x.aGiven[nPos] = true;
    }
    if (a.nMax >= a.nMin && (v < a.nMin || v > a.nMax)) {
        c.setError(EC_ARGS);
        return false;
    }
    x.aVal[nPos] = v;
    switch (a.form) {
    case ArgForm::Minus1: v -= 1; break;
    case ArgForm::Dwords: v = v / 4 - 1; break;
    case ArgForm::Positive: v = v > 0; break;
    case ArgForm::Plain: break;
    }
    nvmeCmdPut(x.req.cmd, a.f1, static_cast<uint64_t>(v));
    nvmeCmdPut(x.req.cmd, a.f2, static_cast<uint64_t>(v));
    return true;
}

// The namespace id (and, for LBA commands, the namespace record).
bool readNsid(CmdCtx &x, int nPos, const CmdArg &a)
{
    NvmeCall &c = x.c;
    uint32_t nsid = 0;
    if (!c.has(nPos)) {
        if (a.kind == ArgKind::Nsid) {
            x.req.cmd.setNsid(nvmeDefNsid(x.pSQ));
            return true;
        }
        if (!x.pSQ->pDefNs) {
            c.setError(EC_NSID);
            return false;
        }
        x.pNs = x.pSQ->pDefNs;
        x.req.cmd.setNsid(x.pNs->nsid);
        return true;
    }
    if (!c.count32(nPos, &nsid))
        return false;
    x.req.cmd.setNsid(nsid);
    if (a.kind == ArgKind::LbaNsid) {
        NvmeDev *pDev = x.pCntl->pDev;
        x.pNs = pDev && nsid >= 1 && nsid <= NVME_MAX_NS_NUM ? pDev->namespaces[nsid] : nullptr;
        if (!x.pNs && pDev)
            x.pNs = pDev->namespaces[0];
        if (!x.pNs) {
            c.setError(EC_NSID);
            return false;
        }
    }
    return true;
}

// Transfer length, data pointer form, buffer sizes and MPTR.
bool setData(CmdCtx &x)
{
    const CmdDesc &d = x.d;
    NvmeBuf *pBuf = x.req.pBuf;
    const uint64_t nNlb = d.nNlbArg ? static_cast<uint64_t>(x.aVal[d.nNlbArg]) : 0;
    uint64_t nLen = 0;
    switch (d.xfer) {
    case Xfer::BufSize: nLen = pBuf ? pBuf->nTtlSize : 0; break;
    case Xfer::Lba: nLen = nNlb * x.pNs->nLbaSizeInBuf; break;
    case Xfer::Arg: nLen = static_cast<uint64_t>(x.aVal[d.nXferArg]) * d.nXferUnit; break;
    case Xfer::None:
    case Xfer::Direct: break;
    }
    // The controller must never be pointed past the end of a buffer.
    if (pBuf && nLen > pBuf->nTtlSize) {
        x.c.setError(EC_DMA_RANGE);
        return false;
    }
    x.req.nXferLen = static_cast<uint32_t>(nLen);
    if (nLen == 0 && d.xfer != Xfer::Direct)
        x.req.pBuf = nullptr;   // nothing to move: no data pointer
    if (pBuf && d.xfer == Xfer::Direct) {
        if (pBuf->nBufType == NVME_BUF_PRP) {
            x.req.cmd.setPsdt(nvmewire::PSDT_PRP);
            x.req.cmd.setPrp1(pBuf->nPRP1Entry);
            x.req.cmd.setPrp2(pBuf->nPRP2Entry);
        } else {
            nvmeBufSetDataPtr(pBuf, pBuf->nTtlSize, x.req.cmd);
        }
        x.req.pBuf = nullptr;   // filled here, not by the length rule
        x.req.pp.pBuf = pBuf;
    }
    if (NvmeBuf *pMeta = x.pMeta) {
        if (pBuf && pMeta->nBufType != pBuf->nBufType) {
            x.c.setError(EC_BUF_INCONSISTENT);
            return false;
        }
        if (x.pNs && x.pNs->nLbaSizeInBuf == x.pNs->nLbaSize && nNlb * x.pNs->nMetaSize > pMeta->nTtlSize) {
            x.c.setError(EC_DMA_RANGE);
            return false;
        }
        x.req.cmd.setMptr(pMeta->nBufType == NVME_BUF_SGL ? pMeta->sgl.nAddress : pMeta->nPRP1Entry);
    }
    return true;
}

} // namespace

int32_t nvmeCmdRun(const CmdDesc &d, bool bAdmin, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult,
                   char *szMsg)
{
    NvmeCall c(d.szName, nArgs, pArgs, pResult, szMsg);
    CmdCtx x{c, d};
    if (bAdmin) {
        if (!(x.pCntl = c.cntl(2)))
            return c.fail(0);
        if (d.bInitCheck && !c.inited(x.pCntl))
            return c.fail(0);
        if (d.pfnOwn)
            return d.pfnOwn(c, x.pCntl);
        x.pSQ = x.pCntl->pSQs[0];
    } else {
        if (!(x.pSQ = c.sq(2)))
            return c.fail(0);
        x.pCntl = x.pSQ->pCntl;
    }
    x.req.cmd = nvmewire::Sqe::make(d.nOpc);
    x.req.nCmdSet = d.nCmdSet;
    for (size_t i = 0; i < d.nArgs; i++)
        if (isHandleArg(d.pArgs[i].kind) && !readHandleArg(x, static_cast<int>(i) + 3, d.pArgs[i]))
            return c.fail(0);
    for (size_t i = 0; i < d.nArgs; i++) {
        const CmdArg &a = d.pArgs[i];
        const int nPos = static_cast<int>(i) + 3;
        const bool bNs = a.kind == ArgKind::Nsid || a.kind == ArgKind::LbaNsid;
        if (bNs ? !readNsid(x, nPos, a) : (!isHandleArg(a.kind) || a.kind == ArgKind::BufOrInt) && !readIntArg(x, nPos, a))
            return c.fail(0);
    }
    if (!setData(x) || (d.pfnStep && !d.pfnStep(x)))
        return c.fail(0);
    const uint32_t nNlb = d.nNlbArg ? static_cast<uint32_t>(x.aVal[d.nNlbArg]) : 0;
    if (d.bChecksum && x.pNs && (x.pNs->nAttr & 1) && x.req.pBuf)
        nvmeBufStampChecksums(x.req.pBuf, x.pNs->nLbaSizeInBuf, nNlb);
    if (d.count != Count::None)
        (d.count == Count::Read ? x.req.nBlocksRead : x.req.nBlocksWritten) = nNlb;
    return nvmeCmdSubmitEnd(c, x.pSQ, x.req);
}

} // namespace kxmnvme
