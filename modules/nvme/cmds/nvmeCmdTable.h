// Admin and I/O commands as data. One row per script function names its
// opcode, command set, arguments (what each is and where it goes in the
// 64-byte entry), option structure, transfer length, data-pointer form and
// the few steps of its own (post-processing, defaults that depend on other
// fields, refused opcodes). One runner (nvmeCmdRun.cpp) reads the arguments
// the module's way, fills and submits the command for every row.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "korvel_ext.h"
#include "nvmeArgs.h"
#include "nvmeSubmit.h"

namespace kxmnvme {

// Bits [nShift, nShift + nBits) of command dword nDw receive the value's
// bits from nSrcShift up. nBits 0: no field.
struct CmdFld {
    uint8_t nDw = 0, nShift = 0, nBits = 0, nSrcShift = 0;
};

constexpr CmdFld CDW(int nDw, int nShift = 0, int nBits = 32, int nSrcShift = 0)
{
    return CmdFld{uint8_t(nDw), uint8_t(nShift), uint8_t(nBits), uint8_t(nSrcShift)};
}

// Puts the value into its field, leaving the other bits of the dword.
void nvmeCmdPut(nvmewire::Sqe &cmd, CmdFld f, uint64_t nValue);

// A member of an option structure and where it goes (a 64-bit member may
// need two fields).
struct CmdMember {
    const char *szName;
    CmdFld f1;
    CmdFld f2 = {};
};

// An option structure: its type (behind "nvme::") and its members.
struct CmdStruct {
    const char *szType;
    const char *const *apszMembers;   // null-terminated
};

// The field of a member name (nvmeCmdStructs.cpp), or null.
const CmdMember *nvmeCmdMember(const char *szName);

// The option and key structures.
extern const CmdStruct g_identifyOpt, g_setFeaturesOpt, g_getLogPageOpt, g_dirSendOpt, g_dirRecvOpt,
    g_passThruOpt, g_compareOpt, g_readOpt, g_verifyOpt, g_writeOpt, g_write0Opt, g_copyOpt, g_zoneAppendOpt,
    g_kvKey;

enum class ArgKind : uint8_t {
    Int,        // an integer into its fields
    Buf,        // the data buffer
    BufOpt,     // the data buffer, or 0 / a null handle for none
    Meta,       // a metadata buffer (MPTR), or 0 / a null handle for none
    BufOrInt,   // a data buffer, or an integer into the fields
    Struct,     // the option structure
    Nsid,       // namespace id; absent: the SQ's default namespace id, else 1
    LbaNsid,    // namespace id of an LBA command; resolves the namespace record
};

// How an integer argument becomes the field value.
enum class ArgForm : uint8_t {
    Plain,
    Minus1,     // the command carries count - 1 (0's based)
    Dwords,     // a byte length carried as dwords - 1
    Positive,   // 1 when the value is above 0
};

// What an absent optional argument means.
enum class ArgDef : uint8_t {
    Value,      // nDef
    BufSize,    // the data buffer's size
    Absent,     // nothing is put (the row's own step decides)
};

struct CmdArg {
    ArgKind kind = ArgKind::Int;
    CmdFld f1 = {};
    CmdFld f2 = {};
    ArgForm form = ArgForm::Plain;
    int64_t nMin = 0;          // range checked when nMax >= nMin: else EC_ARGS
    int64_t nMax = -1;
    ArgDef def = ArgDef::Value;
    int64_t nDef = 0;
    const CmdStruct *pStruct = nullptr;
};

enum class Xfer : uint8_t {
    None,
    BufSize,    // the whole data buffer
    Lba,        // NLB x the namespace's LBA size in buffer
    Arg,        // the value of argument nXferArg x nXferUnit bytes
    Direct,     // PRP1 = first entry, PRP2 = second page, whatever the length
};

enum class Count : uint8_t { None, Read, Written };

struct CmdCtx;

struct CmdDesc {
    const char *szName;
    uint8_t nOpc;
    uint8_t nCmdSet;           // trace tag: 0 NVM/admin, 1 key-value, 2 zoned
    bool bInitCheck;           // admin: the controller must be initialised
    Xfer xfer;
    int8_t nXferArg;           // Xfer::Arg: position of the length
    uint8_t nXferUnit;
    int8_t nNlbArg;            // position of NLB (LBA data, block counters), 0: none
    Count count;
    bool bChecksum;            // automatic checksum of the blocks before submission
    const CmdArg *pArgs;       // positions 3 on
    size_t nArgs;
    // Own step after the fields are filled and before submission; false
    // ends the call with the error recorded in the context's call.
    bool (*pfnStep)(CmdCtx &ctx) = nullptr;
    // A function with an algorithm of its own, run after the handle and
    // init checks instead of the table.
    int32_t (*pfnOwn)(NvmeCall &c, NvmeCntl *pCntl) = nullptr;
};

// What one call has read and built so far.
struct CmdCtx {
    CmdCtx(NvmeCall &call, const CmdDesc &desc) : c(call), d(desc) {}
    NvmeCall &c;
    const CmdDesc &d;
    NvmeCntl *pCntl = nullptr;
    NvmeSQ *pSQ = nullptr;
    NvmeNs *pNs = nullptr;       // LBA commands
    NvmeBuf *pMeta = nullptr;
    void *pStruct = nullptr;
    NvmeCmdReq req;
    int64_t aVal[10] = {};       // integer arguments by position
    bool aGiven[10] = {};
};

// Runs one row: handle tests, init check, arguments, fields, submission.
// bAdmin: position 2 is a controller (admin SQ), else an SQ.
int32_t nvmeCmdRun(const CmdDesc &d, bool bAdmin, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult,
                   char *szMsg);

// Submits the built request on ctx.pSQ and ends the call: the command handle
// (polling mode) or 1 (poller mode), else 0 with the error.
int32_t nvmeCmdSubmitEnd(NvmeCall &c, NvmeSQ *pSQ, const NvmeCmdReq &req, CmdRR **ppCmd = nullptr);

// The default namespace id of an SQ: its default namespace's, else 1.
uint32_t nvmeDefNsid(const NvmeSQ *pSQ);

// ---- Helpers for writing the rows ----------------------------------------

// A null-terminated list of member names.
template <typename... T>
constexpr std::array<const char *, sizeof...(T) + 1> cmdNames(T... a)
{
    return {a..., nullptr};
}

constexpr CmdArg cmdInt(CmdFld f, ArgForm form = ArgForm::Plain)
{
    return CmdArg{ArgKind::Int, f, {}, form};
}
constexpr CmdArg cmdKind(ArgKind k, const CmdStruct *pStruct = nullptr)
{
    return CmdArg{k, {}, {}, ArgForm::Plain, 0, -1, ArgDef::Value, 0, pStruct};
}

// The argument list of a row (a static array and its length).
#define NVME_CMD_ARGS(...)                             \
    []() {                                             \
        static const CmdArg a[] = {__VA_ARGS__};       \
        return std::pair{a, std::size(a)};             \
    }()

// One handler per row of a table.
template <const CmdDesc *pTable, bool bAdmin>
struct CmdFns {
    template <size_t N>
    static int32_t fn(uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg)
    {
        return nvmeCmdRun(pTable[N], bAdmin, nArgs, pArgs, pResult, szMsg);
    }
    template <size_t... N>
    static constexpr std::array<krvExtHandler_t, sizeof...(N)> make(std::index_sequence<N...>)
    {
        return {fn<N>...};
    }
};

// The handler of the row named szName, or null.
krvExtHandler_t nvmeCmdHandlerOf(const CmdDesc *pTable, const krvExtHandler_t *pFns, size_t nRows,
                                 const char *szName);
template <const CmdDesc *pTable, size_t nRows, bool bAdmin>
krvExtHandler_t nvmeCmdHandler(const char *szName)
{
    static constexpr auto kFns = CmdFns<pTable, bAdmin>::make(std::make_index_sequence<nRows>());
    return nvmeCmdHandlerOf(pTable, kFns.data(), nRows, szName);
}

// Handlers by script name, for registration; null for an unknown name.
krvExtHandler_t nvmeAdmcHandler(const char *szName);
krvExtHandler_t nvmeIocHandler(const char *szName);

} // namespace kxmnvme
