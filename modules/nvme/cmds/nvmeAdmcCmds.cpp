// Namespace nvme::admc: one row per admin command, and the algorithms of
// queue creation and abort.
#include <array>
#include <chrono>
#include <cstring>
#include <utility>

#include "nvmeAdminReqs.h"
#include "nvmeBuf.h"
#include "nvmeCmdTable.h"
#include "nvmePostProc.h"
#include "nvmeQueues.h"
#include "nvmewire/Opcodes.h"

namespace kxmnvme {

namespace {

using namespace nvmewire;

constexpr uint32_t kMaxQEntries = 65536;   // a queue size travels as size - 1 in 16 bits

// ---- Own algorithms -------------------------------------------------------

// A queue size argument (optional at nPos): 1..65536, else EC_ARGS.
bool queueSize(NvmeCall &c, int nPos, uint32_t nDefault, uint32_t *pSize)
{
    int64_t n = nDefault;
    if (c.has(nPos) && !c.integer(nPos, &n))
        return false;
    if (n < 1 || n > kMaxQEntries) {
        c.setError(EC_ARGS);
        return false;
    }
    *pSize = static_cast<uint32_t>(n);
    return true;
}

int32_t createIOCQ(NvmeCall &c, NvmeCntl *pCntl)
{
    NvmeEngine &eng = c.engine();
    int64_t nId = 0;
    if (!c.integer(3, &nId))
        return c.fail(0);
    if (nId < 0 || nId > NVME_MAX_IOSQ_NUM) {
        eng.log.log("Error %d: %s: IOCQId %d out of support capability; only support up to %d IOCQs per function\n",
                    EC_ARGS, c.name(), static_cast<int>(nId), NVME_MAX_IOSQ_NUM);
        return c.fail(EC_ARGS, 0);
    }
    NvmeCQ *pCQ = pCntl->pCQs[nId];
    uint32_t nSize = 0;
    if (!queueSize(c, 4, pCQ ? pCQ->nSize : pCntl->nMaxQSize, &nSize))
        return c.fail(0);
    // Queue 0 is the admin CQ: sent as asked, its record never touched.
    if (pCQ && nId != 0 && pCQ->bValid && pCQ->nSize < nSize) {
        eng.log.log("Error %d: %s: IOCQ %d exists, is working, and new creation size is greater than the current's; "
                    "not support\n", EC_ARGS, c.name(), static_cast<int>(nId));
        return c.fail(EC_ARGS, 0);
    }
    if (pCQ && nId != 0 && !pCQ->bValid) {
        if (!nvmeResizeCQ(eng, pCntl, pCQ, nSize)) {
            eng.log.log("Error %d: %s: run out of DMA buffer\n", EC_DMA_ALLOC, c.name());
            return c.fail(EC_DMA_ALLOC, 0);
        }
        pCQ->nHead = 0;
        pCQ->nPhase = 1;
    } else if (!pCQ) {
        if (!(pCQ = nvmeAllocCQ(eng, pCntl, static_cast<uint16_t>(nId), nSize))) {
            eng.log.log("Error %d: %s: run out of DMA buffer\n", EC_DMA_ALLOC, c.name());
            return c.fail(EC_DMA_ALLOC, 0);
        }
        pCQ->bValid = 0;
        pCntl->pCQs[nId] = pCQ;
    }
    return nvmeCmdSubmitEnd(c, pCntl->pSQs[0], nvmeReqCreateIOCQ(pCQ, static_cast<uint16_t>(nId), nSize));
}

// The SQ being created keeps its queue lock from here until the command's
// post-processing; a lock still held by an earlier creation that was never
// reaped is not waited for forever.
bool lockQueue(NvmeSQ *pSQ)
{
    return pSQ->qLock.try_acquire_for(std::chrono::seconds(1));
}

int32_t createIOSQ(NvmeCall &c, NvmeCntl *pCntl)
{
    NvmeEngine &eng = c.engine();
    int64_t nId = 0, nCQId = 0, nPrio = 0, nSetId = 0;
    if (!c.integer(3, &nId) || !c.integer(4, &nCQId) || (c.has(6) && !c.integer(6, &nPrio)) ||
        (c.has(7) && !c.integer(7, &nSetId)))
        return c.fail(0);
    NvmeSQ *pSQ = nId >= 1 && nId <= NVME_MAX_IOSQ_NUM ? pCntl->pSQs[nId] : nullptr;
    uint32_t nSize = 0;
    if (!queueSize(c, 5, pSQ ? pSQ->nSize : pCntl->nMaxQSize, &nSize))
        return c.fail(0);
    if (nCQId < 0 || nCQId > 0xFFFF || nSetId < 0 || nSetId > 0xFFFF || nPrio < 0)
        return c.fail(EC_ARGS, 0);
    if (nId > pCntl->nMaxIOSQNum)
        eng.log.log("Warning %d: %s: IOSQId %d out of maxIOSQNum (%d) of function (funcHandle:%p)\n", EC_ARGS,
                    c.name(), static_cast<int>(nId), pCntl->nMaxIOSQNum, static_cast<void *>(pCntl));
    if (nSize > pCntl->nMaxQSize)
        eng.log.log("Warning %d: %s: IOSQSize %d out of maxQSize (%d) of function (funcHandle:%p)\n", EC_ARGS,
                    c.name(), static_cast<int>(nSize), pCntl->nMaxQSize, static_cast<void *>(pCntl));
    if (nPrio >= 4)
        eng.log.log("Warning %d: %s: nQPriority %d out of spec. (3)\n", EC_ARGS, c.name(), static_cast<int>(nPrio));
    // Queue 0 is the admin SQ, whose lock the creation itself holds.
    if (nId < 1 || nId > NVME_MAX_IOSQ_NUM) {
        eng.log.log("Error %d: %s: IOSQId %d out of support capability; only support up to %d IOSQs per function\n",
                    EC_ARGS, c.name(), static_cast<int>(nId), NVME_MAX_IOSQ_NUM);
        return c.fail(EC_ARGS, 0);
    }
    if (pSQ && pSQ->nState == NVME_SQ_ACTIVE && pSQ->nSize < nSize) {
        eng.log.log("Error %d: %s: IOSQ %d exists, is active, and new creation size is greater than the current's; "
                    "not support\n", EC_ARGS, c.name(), static_cast<int>(nId));
        return c.fail(EC_ARGS, 0);
    }
    NvmeSQ *pASQ = pCntl->pSQs[0];
    if (!pASQ)
        return c.fail(EC_SQ_DELETED, 0);
    pASQ->qLock.acquire();
    int32_t nErr = EC_NONE;
    if (pSQ) {
        if (!lockQueue(pSQ))
            nErr = EC_TIMEOUT;
        else if (pSQ->nState != NVME_SQ_ACTIVE && !nvmeResizeSQ(eng, pCntl, pSQ, nSize)) {
            pSQ->qLock.release();
            nErr = EC_DMA_ALLOC;
        }
    } else if ((pSQ = nvmeAllocSQ(eng, pCntl, static_cast<uint16_t>(nId), nSize))) {
        pSQ->cqID = static_cast<uint16_t>(nCQId);
        pSQ->pDefNs = nullptr;
        pSQ->nState = NVME_SQ_DELETED;
        pSQ->qLock.acquire();
        pCntl->pSQs[nId] = pSQ;
    } else {
        nErr = EC_DMA_ALLOC;
    }
    if (nErr == EC_DMA_ALLOC)
        eng.log.log("Error %d: %s: run out of DMA buffer\n", EC_DMA_ALLOC, c.name());
    CmdRR *pCmd = nullptr;
    if (nErr == EC_NONE) {
        nErr = pASQ->nState == NVME_SQ_ACTIVE && eng.platform() ? EC_NONE : EC_SQ_DELETED;
        if (nErr == EC_NONE)
            nErr = nvmeBuildCmd(eng, pASQ,
                                nvmeReqCreateIOSQ(pSQ, static_cast<uint16_t>(nId), nSize, static_cast<uint16_t>(nCQId),
                                                  static_cast<uint32_t>(nPrio), static_cast<uint16_t>(nSetId)),
                                &pCmd);
        if (nErr != EC_NONE)
            pSQ->qLock.release();
    }
    pASQ->qLock.release();
    if (nErr != EC_NONE)
        return c.fail(nErr, 0);
    if (pASQ->nFlags & NVME_SQF_NOT_POLLING)
        return c.ok(1);
    return c.okHandle(pCmd);
}

// Abort by command handle (its SQ must be this controller's) or by ids.
int32_t abortCmd(NvmeCall &c, NvmeCntl *pCntl)
{
    int64_t nSQId = 0, nCID = 0;
    if (c.type(3) == KRV_DT_HANDLE) {
        CmdRR *pCmd = c.cmd(3);
        if (!pCmd)
            return c.fail(0);
        if (!pCmd->pSQ || pCmd->pSQ->pCntl != pCntl)
            return c.fail(EC_CNTL_MISMATCH, 0);
        nSQId = pCmd->nSQId;
        nCID = pCmd->nCID;
    } else if (!c.integer(3, &nSQId) || !c.integer(4, &nCID)) {
        return c.fail(0);
    }
    NvmeCmdReq req;
    req.cmd = Sqe::make(ADMIN_ABORT);
    req.cmd.setCdw10(static_cast<uint32_t>((nCID & 0xFFFF) << 16 | (nSQId & 0xFFFF)));
    return nvmeCmdSubmitEnd(c, pCntl->pSQs[0], req);
}

// ---- Own steps of table rows ----------------------------------------------

bool ppQueueId(CmdCtx &x, NvmePPHook pfnHook)
{
    x.req.pp.pfnHook = pfnHook;
    x.req.pp.nParam1 = x.req.cmd.cdw10() & 0xFFFF;
    return true;
}
bool stepDeleteIOSQ(CmdCtx &x) { return ppQueueId(x, nvmePPDeleteIOSQ); }
bool stepDeleteIOCQ(CmdCtx &x) { return ppQueueId(x, nvmePPDeleteIOCQ); }

bool stepAsyncEvt(CmdCtx &x)
{
    x.req.pp.pfnHook = nvmePPNoop;
    return true;
}

// Data only for SEL 0 (create); the device's records follow on a physical
// function only.
bool stepNsMgmt(CmdCtx &x)
{
    const uint32_t nSel = x.req.cmd.cdw10() & 0xF;
    if (nSel != 0) {
        x.req.cmd.setPsdt(PSDT_PRP);
        for (int i = 6; i <= 9; i++)
            x.req.cmd.dw[i] = 0;
        x.req.pp.pBuf = nullptr;
    }
    if (x.pCntl->funcType != nvme_PF)
        return true;
    x.req.pp.pfnHook = nvmePPNsMgmt;
    x.req.pp.nParam1 = nSel;
    x.req.pp.pTarget = x.pCntl->pDev;
    x.req.pp.nParam2 = x.req.cmd.nsid();
    return true;
}

bool stepNsAtchmt(CmdCtx &x)
{
    x.req.pp.pfnHook = nvmePPNsAttach;
    x.req.pp.pTarget = x.pCntl;
    x.req.pp.nParam1 = x.req.cmd.nsid();
    x.req.pp.nParam2 = x.req.cmd.cdw10() & 0xF;
    return true;
}

bool stepFormatNVM(CmdCtx &x)
{
    x.req.pp.pfnHook = nvmePPFormatNVM;
    x.req.pp.pTarget = x.pCntl;
    x.req.pp.nParam1 = x.req.cmd.nsid();
    x.req.pp.nParam2 = x.req.cmd.cdw10();
    return true;
}

// OVRPAT defaults to 0xCDCDCDCD for an overwrite.
bool stepSanitize(CmdCtx &x)
{
    if (!x.aGiven[8] && (x.req.cmd.cdw10() & 7) == 3)
        x.req.cmd.setCdw11(0xCDCDCDCD);
    return true;
}

// Opcodes whose commands change what the engine keeps are not passed
// through; Format NVM goes without data pointer and command dwords.
bool stepAdminPassThru(CmdCtx &x)
{
    static const uint8_t kRefused[] = {ADMIN_DELETE_SQ, ADMIN_CREATE_SQ, ADMIN_DELETE_CQ, ADMIN_CREATE_CQ,
                                       ADMIN_ASYNC_EVENT, ADMIN_NS_MGMT,   ADMIN_NS_ATTACH};
    const uint8_t nOpc = x.req.cmd.opc();
    for (uint8_t n : kRefused)
        if (n == nOpc) {
            x.c.setError(EC_PASSTHRU_OPC);
            return false;
        }
    if (nOpc == ADMIN_FORMAT_NVM) {
        x.req.pBuf = nullptr;
        for (int i = 10; i <= 15; i++)
            x.req.cmd.dw[i] = 0;
    }
    return true;
}

// ---- Option structures -----------------------------------------------------



// ---- The rows ------------------------------------------------------------

CmdArg Opt(CmdFld f, int64_t nDef = 0) { return CmdArg{ArgKind::Int, f, {}, ArgForm::Plain, 0, -1, ArgDef::Value, nDef}; }
CmdArg Rng(CmdFld f, int64_t nMin, int64_t nMax, ArgForm form = ArgForm::Plain)
{
    return CmdArg{ArgKind::Int, f, {}, form, nMin, nMax};
}
CmdArg I64(CmdFld f1, CmdFld f2) { return CmdArg{ArgKind::Int, f1, f2}; }
const CmdArg kBuf = cmdKind(ArgKind::Buf);
const CmdArg kNsid = cmdInt(CDW(1));
const CmdArg kDefNsid = cmdKind(ArgKind::Nsid);

#define ROW(name, opc, init, xfer, xarg, xunit, args, ...) \
    CmdDesc{name, opc, 0, init, Xfer::xfer, xarg, xunit, 0, Count::None, false, args.first, args.second, __VA_ARGS__}

const std::pair<const CmdArg *, size_t> kNoArgs{nullptr, 0};

const CmdDesc kAdmc[] = {
    ROW("deleteIOSQ", ADMIN_DELETE_SQ, true, None, 0, 0, NVME_CMD_ARGS(cmdInt(CDW(10, 0, 16))), stepDeleteIOSQ),
    ROW("createIOSQ", ADMIN_CREATE_SQ, true, None, 0, 0, kNoArgs, nullptr, createIOSQ),
    ROW("getLogPage", ADMIN_GET_LOG_PAGE, true, Arg, 5, 1,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 8)), CmdArg{ArgKind::Int, CDW(10, 16, 16), CDW(11, 0, 16, 16), ArgForm::Dwords}, kNsid,
             Opt(CDW(14, 24, 8)), cmdKind(ArgKind::Struct, &g_getLogPageOpt))),
    ROW("deleteIOCQ", ADMIN_DELETE_CQ, true, None, 0, 0, NVME_CMD_ARGS(cmdInt(CDW(10, 0, 16))), stepDeleteIOCQ),
    ROW("createIOCQ", ADMIN_CREATE_CQ, true, None, 0, 0, kNoArgs, nullptr, createIOCQ),
    ROW("identify", ADMIN_IDENTIFY, true, BufSize, 0, 0,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 8)), kNsid, cmdInt(CDW(10, 16, 16)), cmdKind(ArgKind::Struct, &g_identifyOpt))),
    ROW("abort", ADMIN_ABORT, false, None, 0, 0, kNoArgs, nullptr, abortCmd),
    ROW("setFeatures", ADMIN_SET_FEATURES, false, Direct, 0, 0,
        NVME_CMD_ARGS(cmdInt(CDW(10, 0, 8)), cmdInt(CDW(10, 31, 1), ArgForm::Positive), cmdInt(CDW(11)), cmdKind(ArgKind::BufOpt),
             cmdKind(ArgKind::Struct, &g_setFeaturesOpt))),
    ROW("getFeatures", ADMIN_GET_FEATURES, false, Direct, 0, 0,
        NVME_CMD_ARGS(cmdInt(CDW(10, 0, 8)), cmdInt(CDW(10, 8, 3)), cmdKind(ArgKind::BufOpt), Opt(CDW(11)), Opt(CDW(1)),
             CmdArg{ArgKind::Int, CDW(11), {}, ArgForm::Plain, 0, -1, ArgDef::Absent})),
    ROW("asyncEvtReq", ADMIN_ASYNC_EVENT, false, None, 0, 0, kNoArgs, stepAsyncEvt),
    ROW("nsMgmt", ADMIN_NS_MGMT, true, Direct, 0, 0,
        NVME_CMD_ARGS(cmdInt(CDW(10, 0, 4)), CmdArg{ArgKind::BufOrInt, CDW(1)}, Opt(CDW(11, 24, 8))), stepNsMgmt),
    ROW("fwCommit", ADMIN_FW_COMMIT, true, None, 0, 0,
        NVME_CMD_ARGS(Rng(CDW(10, 0, 3), 1, 8, ArgForm::Minus1), Rng(CDW(10, 3, 3), 0, 7),
             CmdArg{ArgKind::Int, CDW(10, 31, 1), {}, ArgForm::Plain, 0, 1})),
    ROW("fwImgDwnld", ADMIN_FW_DOWNLOAD, true, Arg, 4, 4, NVME_CMD_ARGS(kBuf, cmdInt(CDW(10), ArgForm::Minus1), cmdInt(CDW(11)))),
    ROW("devSelfTest", ADMIN_DEV_SELF_TEST, true, None, 0, 0, NVME_CMD_ARGS(cmdInt(CDW(10, 0, 4)), kNsid)),
    ROW("nsAtchmt", ADMIN_NS_ATTACH, true, Direct, 0, 0, NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 4)), kNsid), stepNsAtchmt),
    ROW("keepAlive", ADMIN_KEEP_ALIVE, false, None, 0, 0, kNoArgs),
    ROW("virtMgmt", ADMIN_VIRTUAL_MGMT, true, None, 0, 0,
        NVME_CMD_ARGS(cmdInt(CDW(10, 0, 4)), cmdInt(CDW(10, 8, 3)), cmdInt(CDW(10, 16, 16)), cmdInt(CDW(11, 0, 16)))),
    ROW("capMgmt", ADMIN_CAP_MGMT, false, None, 0, 0,
        NVME_CMD_ARGS(cmdInt(CDW(10, 0, 4)), cmdInt(CDW(10, 16, 16)), I64(CDW(11), CDW(12, 0, 32, 32)))),
    ROW("lockdown", ADMIN_LOCKDOWN, false, None, 0, 0,
        NVME_CMD_ARGS(cmdInt(CDW(10, 0, 4)), cmdInt(CDW(10, 4, 1)), cmdInt(CDW(10, 5, 2)), cmdInt(CDW(10, 8, 8)), Opt(CDW(14, 0, 7)))),
    ROW("formatNVM", ADMIN_FORMAT_NVM, true, None, 0, 0,
        NVME_CMD_ARGS(kNsid, Rng(CDW(10, 0, 4), 0, 15), Rng(CDW(10, 4, 1), 0, 1), Rng(CDW(10, 5, 3), 0, 7),
             Rng(CDW(10, 8, 1), 0, 1), Rng(CDW(10, 9, 3), 0, 7)),
        stepFormatNVM),
    ROW("secSend", ADMIN_SECURITY_SEND, true, Arg, 7, 1,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 8)), cmdInt(CDW(10, 8, 16)), cmdInt(CDW(10, 24, 8)), cmdInt(CDW(11)))),
    ROW("secRecv", ADMIN_SECURITY_RECV, true, Arg, 7, 1,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 8)), cmdInt(CDW(10, 8, 16)), cmdInt(CDW(10, 24, 8)),
             CmdArg{ArgKind::Int, CDW(11), {}, ArgForm::Plain, 0, -1, ArgDef::BufSize})),
    ROW("sanitize", ADMIN_SANITIZE, true, None, 0, 0,
        NVME_CMD_ARGS(cmdInt(CDW(10, 0, 3)), cmdInt(CDW(10, 3, 1)), cmdInt(CDW(10, 4, 4)), cmdInt(CDW(10, 8, 1)), cmdInt(CDW(10, 9, 1)), Opt(CDW(11))),
        stepSanitize),
    ROW("dirSend", ADMIN_DIRECTIVE_SEND, true, BufSize, 0, 0,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10), ArgForm::Minus1), cmdKind(ArgKind::Struct, &g_dirSendOpt), kDefNsid)),
    ROW("dirRecv", ADMIN_DIRECTIVE_RECV, true, BufSize, 0, 0,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10), ArgForm::Minus1), cmdKind(ArgKind::Struct, &g_dirRecvOpt), kDefNsid)),
    ROW("getLBAStatus", ADMIN_GET_LBA_STATUS, false, BufSize, 0, 0,
        NVME_CMD_ARGS(kBuf, I64(CDW(10), CDW(11, 0, 32, 32)), cmdInt(CDW(12), ArgForm::Minus1), cmdInt(CDW(13, 0, 16)),
             cmdInt(CDW(13, 24, 8)), kDefNsid)),
    ROW("passThru", 0, false, Arg, 4, 1,
        NVME_CMD_ARGS(cmdKind(ArgKind::BufOpt), cmdInt(CDW(0, 0, 0)), cmdKind(ArgKind::Meta), cmdKind(ArgKind::Struct, &g_passThruOpt)),
        stepAdminPassThru),
};
#undef ROW

} // namespace

krvExtHandler_t nvmeAdmcHandler(const char *szName)
{
    return nvmeCmdHandler<kAdmc, std::size(kAdmc), true>(szName);
}

} // namespace kxmnvme
