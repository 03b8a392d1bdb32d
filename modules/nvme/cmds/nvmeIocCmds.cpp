// Namespace nvme::ioc: one row per I/O command of the NVM, key-value and
// zoned command sets.
#include <array>
#include <cstring>
#include <utility>

#include "nvmeCmdTable.h"
#include "nvmewire/Opcodes.h"

namespace kxmnvme {

namespace {

using namespace nvmewire;


// Read and Write of the NVM command set count their blocks (NLB is 0's
// based in CDW12); the command set tag is the structure's CSI.
bool stepIocPassThru(CmdCtx &x)
{
    const int64_t nCsi = x.c.member(x.pStruct, "CSI");
    x.req.nCmdSet = static_cast<uint8_t>(nCsi);
    const uint32_t nBlocks = (x.req.cmd.cdw12() & 0xFFFF) + 1;
    if (nCsi == CSI_NVM && x.req.cmd.opc() == NVM_READ)
        x.req.nBlocksRead = nBlocks;
    if (nCsi == CSI_NVM && x.req.cmd.opc() == NVM_WRITE)
        x.req.nBlocksWritten = nBlocks;
    return true;
}

const CmdArg kBuf = cmdKind(ArgKind::Buf);
const CmdArg kSlba = CmdArg{ArgKind::Int, CDW(10), CDW(11, 0, 32, 32)};
const CmdArg kNlb = CmdArg{ArgKind::Int, CDW(12, 0, 16), {}, ArgForm::Minus1, 1, 65536};
const CmdArg kMeta = cmdKind(ArgKind::Meta);
const CmdArg kNsid = cmdKind(ArgKind::Nsid);
const CmdArg kLbaNsid = cmdKind(ArgKind::LbaNsid);

#define ROW(name, opc, set, xfer, xarg, xunit, nlb, count, sum, args, ...) \
    CmdDesc{name, opc, set, false, Xfer::xfer, xarg, xunit, nlb, Count::count, sum, args.first, args.second, __VA_ARGS__}
// The LBA data commands: buffer, SLBA, NLB, metadata, NSID, options.
#define LBA_DATA(name, opc, set, count, sum, opt) \
    ROW(name, opc, set, Lba, 0, 0, 5, count, sum, NVME_CMD_ARGS(kBuf, kSlba, kNlb, kMeta, kLbaNsid, cmdKind(ArgKind::Struct, opt)))
// Without data: SLBA, NLB, NSID, options.
#define LBA_NODATA(name, opc, opt) \
    ROW(name, opc, 0, None, 0, 0, 4, None, false, NVME_CMD_ARGS(kSlba, kNlb, kLbaNsid, cmdKind(ArgKind::Struct, opt)))

const CmdDesc kIoc[] = {
    ROW("flush", NVM_FLUSH, 0, None, 0, 0, 0, None, false, NVME_CMD_ARGS(kNsid)),
    LBA_DATA("write", NVM_WRITE, 0, Written, true, &g_writeOpt),
    LBA_DATA("read", NVM_READ, 0, Read, false, &g_readOpt),
    ROW("writeUNC", NVM_WRITE_UNCOR, 0, None, 0, 0, 4, None, false, NVME_CMD_ARGS(kSlba, kNlb, kLbaNsid)),
    LBA_DATA("compare", NVM_COMPARE, 0, None, false, &g_compareOpt),
    LBA_NODATA("write0", NVM_WRITE_ZEROES, &g_write0Opt),
    ROW("dsm", NVM_DSM, 0, Arg, 4, 16, 0, None, false,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 8), ArgForm::Minus1), cmdInt(CDW(11, 0, 3)), kNsid)),
    LBA_NODATA("verify", NVM_VERIFY, &g_verifyOpt),
    ROW("rsvtReg", NVM_RESV_REGISTER, 0, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 3)), cmdInt(CDW(10, 3, 1)), cmdInt(CDW(10, 30, 2)), kNsid)),
    ROW("rsvtAcq", NVM_RESV_ACQUIRE, 0, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 3)), cmdInt(CDW(10, 3, 1)), cmdInt(CDW(10, 8, 8)), kNsid)),
    ROW("rsvtRel", NVM_RESV_RELEASE, 0, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10, 0, 3)), cmdInt(CDW(10, 3, 1)), cmdInt(CDW(10, 8, 8)), kNsid)),
    ROW("rsvtRep", NVM_RESV_REPORT, 0, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10), ArgForm::Minus1), cmdInt(CDW(11, 0, 1)), kNsid)),
    ROW("copy", NVM_COPY, 0, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, kSlba, cmdInt(CDW(12, 0, 8), ArgForm::Minus1), cmdInt(CDW(12, 8, 4)), kNsid, cmdKind(ArgKind::Struct, &g_copyOpt))),
    ROW("store", KV_STORE, 1, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10)), cmdKind(ArgKind::Struct, &g_kvKey), cmdInt(CDW(11, 8, 8)), kNsid)),
    ROW("retrieve", KV_RETRIEVE, 1, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, cmdInt(CDW(10)), cmdKind(ArgKind::Struct, &g_kvKey), cmdInt(CDW(11, 8, 8)), kNsid)),
    ROW("delete", KV_DELETE, 1, None, 0, 0, 0, None, false, NVME_CMD_ARGS(cmdKind(ArgKind::Struct, &g_kvKey), kNsid)),
    ROW("exist", KV_EXIST, 1, None, 0, 0, 0, None, false, NVME_CMD_ARGS(cmdKind(ArgKind::Struct, &g_kvKey), kNsid)),
    ROW("list", KV_LIST, 1, BufSize, 0, 0, 0, None, false, NVME_CMD_ARGS(kBuf, cmdInt(CDW(10)), cmdKind(ArgKind::Struct, &g_kvKey), kNsid)),
    ROW("zoneMgmtSend", ZNS_MGMT_SEND, 2, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, kSlba, cmdInt(CDW(13, 8, 1)), cmdInt(CDW(13, 0, 8)), kNsid)),
    ROW("zoneMgmtRecv", ZNS_MGMT_RECV, 2, BufSize, 0, 0, 0, None, false,
        NVME_CMD_ARGS(kBuf, kSlba, cmdInt(CDW(12), ArgForm::Minus1), cmdInt(CDW(13)), kNsid)),
    LBA_DATA("zoneAppend", ZNS_APPEND, 2, Written, true, &g_zoneAppendOpt),
    ROW("passThru", 0, 0, Arg, 4, 1, 0, None, false,
        NVME_CMD_ARGS(cmdKind(ArgKind::BufOpt), cmdInt(CDW(0, 0, 0)), kMeta, cmdKind(ArgKind::Struct, &g_passThruOpt)), stepIocPassThru),
};
#undef LBA_NODATA
#undef LBA_DATA
#undef ROW

} // namespace

krvExtHandler_t nvmeIocHandler(const char *szName)
{
    return nvmeCmdHandler<kIoc, std::size(kIoc), false>(szName);
}

} // namespace kxmnvme
