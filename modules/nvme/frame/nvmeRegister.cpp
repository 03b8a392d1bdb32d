#include "nvmeRegister.h"

#include <cstdio>

#include "nvmeFuncs.h"
#include "nvmeHost.h"

namespace kxmnvme {

namespace {

// Argument position n (1-based) in a descriptor mask.
constexpr uint32_t A(int n)
{
    return 1u << (n - 1);
}

struct FuncDef {
    const char *szName;
    krvExtHandler_t pfnHandler;    // null: built by a later part of the module
    uint8_t nMin;
    uint8_t nMax;
    uint32_t nRef;
    uint32_t nArr;
    uint32_t nStruct;
};

// Namespace nvme, in registration order.
const FuncDef kNvmeFuncs[] = {
    {"scan", nvmeFnScan, 1, 1, A(1), 0, 0},
    {"put", nullptr, 0, 0, 0, 0, 0},
    {"initA", nullptr, 2, 6, A(1) | A(4) | A(5), 0, 0},
    {"init", nullptr, 2, 4, A(1), 0, A(4)},
    {"flReset", nullptr, 2, 2, A(1), 0, 0},
    {"cntlReset", nullptr, 2, 2, A(1), 0, 0},
    {"NVMSSReset", nullptr, 2, 2, A(1), 0, 0},
    {"PCIeHotReset", nullptr, 2, 2, A(1), 0, 0},
    {"powerOffEvent", nullptr, 2, 2, A(1), 0, 0},
    {"powerOnEvent", nullptr, 2, 2, A(1), 0, 0},
    {"rescan", nullptr, 3, 3, A(1), 0, 0},
    {"dumpHandleInfo", nullptr, 4, 4, A(1), 0, 0},
    {"getDevNum", nvmeFnGetDevNum, 0, 0, 0, 0, 0},
    {"getFuncNum", nvmeFnGetFuncNum, 2, 2, A(1), 0, 0},
    {"getCntlHandle", nvmeFnGetCntlHandle, 3, 3, A(1), 0, 0},
    {"getCntlHandleBySQHandle", nullptr, 2, 2, A(1), 0, 0},
    {"getCNTLID", nvmeFnGetCNTLID, 2, 2, A(1), 0, 0},
    {"getDevNo", nvmeFnGetDevNo, 2, 2, A(1), 0, 0},
    {"getPageSize", nullptr, 2, 2, A(1), 0, 0},
    {"supportVF", nvmeFnSupportVF, 2, 2, A(1), 0, 0},
    {"getMaxVFNum", nvmeFnGetMaxVFNum, 2, 2, A(1), 0, 0},
    {"enableVF", nullptr, 3, 3, A(1), 0, 0},
    {"getNsNum", nullptr, 2, 2, A(1), 0, 0},
    {"getNextNsId", nullptr, 3, 3, A(1), 0, 0},
    {"getNsIds", nullptr, 4, 4, A(1), A(4), 0},
    {"getNsHandle", nullptr, 3, 3, A(1), 0, 0},
    {"setNsAttr", nullptr, 4, 4, A(1), 0, 0},
    {"getMaxIOSQNum", nullptr, 2, 2, A(1), 0, 0},
    {"getMaxIOCQNum", nullptr, 2, 2, A(1), 0, 0},
    {"getMaxIOQSize", nullptr, 2, 2, A(1), 0, 0},
    {"getIOSQNum", nullptr, 2, 2, A(1), 0, 0},
    {"getIOCQNum", nullptr, 2, 2, A(1), 0, 0},
    {"getNextIOSQId", nullptr, 3, 3, A(1), 0, 0},
    {"getNextIOCQId", nullptr, 3, 3, A(1), 0, 0},
    {"getPairedIOCQId", nullptr, 3, 3, A(1), 0, 0},
    {"getNextPairedIOSQId", nullptr, 4, 4, A(1), 0, 0},
    {"getSQHandle", nullptr, 3, 3, A(1), 0, 0},
    {"getSQId", nullptr, 2, 2, A(1), 0, 0},
    {"getSQSize", nullptr, 2, 2, A(1), 0, 0},
    {"setSQAttr", nullptr, 4, 4, A(1), 0, 0},
    {"isSQFull", nullptr, 2, 2, A(1), 0, 0},
    {"isSQEmpty", nullptr, 2, 2, A(1), 0, 0},
    {"readPCIConfig8", nvmeFnReadPCIConfig8, 3, 3, A(1), 0, 0},
    {"readPCIConfig16", nvmeFnReadPCIConfig16, 3, 3, A(1), 0, 0},
    {"readPCIConfig32", nvmeFnReadPCIConfig32, 3, 3, A(1), 0, 0},
    {"readCntlReg32", nvmeFnReadCntlReg32, 3, 3, A(1), 0, 0},
    {"writeCntlReg32", nvmeFnWriteCntlReg32, 4, 4, A(1), 0, 0},
    {"shutdownNotify", nullptr, 3, 4, A(1), 0, 0},
    // Data buffers.
    {"ddbAlloc", nullptr, 4, 5, A(1), 0, A(5)},
    {"ddbFree", nullptr, 2, 2, A(1), 0, 0},
    {"ddbSize", nullptr, 2, 2, A(1), 0, 0},
    {"ddbCalculateChecksum64", nullptr, 4, 4, A(1), 0, 0},
    {"ddbReadASCIIString", nullptr, 5, 5, A(1) | A(3), 0, 0},
    {"ddbWriteASCIIString", nullptr, 4, 4, A(1), 0, 0},
    {"ddbReadInt8", nullptr, 3, 3, A(1), 0, 0},
    {"ddbReadUInt8", nullptr, 3, 3, A(1), 0, 0},
    {"ddbWriteInt8", nullptr, 4, 4, A(1), 0, 0},
    {"ddbWriteUInt8", nullptr, 4, 4, A(1), 0, 0},
    {"ddbReadInt16", nullptr, 4, 4, A(1), 0, 0},
    {"ddbReadUInt16", nullptr, 4, 4, A(1), 0, 0},
    {"ddbWriteInt16", nullptr, 5, 5, A(1), 0, 0},
    {"ddbWriteUInt16", nullptr, 5, 5, A(1), 0, 0},
    {"ddbReadInt32", nullptr, 4, 4, A(1), 0, 0},
    {"ddbReadUInt32", nullptr, 4, 4, A(1), 0, 0},
    {"ddbWriteInt32", nullptr, 5, 5, A(1), 0, 0},
    {"ddbWriteUInt32", nullptr, 5, 5, A(1), 0, 0},
    {"ddbReadUInt48", nullptr, 4, 4, A(1), 0, 0},
    {"ddbReadInt64", nullptr, 4, 4, A(1), 0, 0},
    {"ddbWriteInt64", nullptr, 5, 5, A(1), 0, 0},
    {"ddbFillPat8", nullptr, 3, 5, A(1), 0, 0},
    {"ddbFillPat32", nullptr, 4, 6, A(1), 0, 0},
    {"ddbFillPatRand", nullptr, 2, 4, A(1), 0, 0},
    {"ddbCopyFromMemAddr", nullptr, 5, 5, A(1), 0, 0},
    {"ddbDump", nullptr, 4, 5, A(1), 0, 0},
    {"ddbCompareN", nullptr, 4, 4, A(1), 0, 0},
    // Trace and histograms.
    {"dumpTrace", nvmeFnDumpTrace, 3, 4, A(1), 0, 0},
    {"cleanTrace", nvmeFnCleanTrace, 2, 2, A(1), 0, 0},
    {"getCmdExeTimeCumuHistogram", nvmeFnGetCmdExeTimeCumuHistogram, 5, 6, A(1), A(4) | A(5), 0},
    {"dumpCmdExeTimeHistogram", nvmeFnDumpCmdExeTimeHistogram, 3, 5, A(1), 0, 0},
    {"getAllCmdIssueNum", nullptr, 2, 2, A(1), 0, 0},
    {"getAllCmdComplNum", nullptr, 2, 2, A(1), 0, 0},
    {"getAllIOSQCmdIssueNum", nullptr, 2, 3, A(1), 0, 0},
    {"getAllIOSQCmdComplNum", nullptr, 2, 3, A(1), 0, 0},
    {"getSQCmdIssueNum", nullptr, 2, 3, A(1), 0, 0},
    {"getSQCmdComplNum", nullptr, 2, 3, A(1), 0, 0},
    {"pspp", nullptr, 1, 2, A(2), 0, 0},
    {"pspp2", nullptr, 2, 2, 0, A(2), 0},
    {"getCId", nullptr, 1, 1, 0, 0, 0},
    {"getCDWs", nullptr, 2, 2, 0, A(2), 0},
    {"setCMDTO", nullptr, 1, 1, 0, 0, 0},
    {"getCMDTO", nullptr, 0, 0, 0, 0, 0},
    {"strerror", nvmeFnStrerror, 1, 1, 0, 0, 0},
    {"checkIntegrity", nullptr, 3, 3, 0, 0, 0},
    {"exeInit", nvmeFnExeInit, 0, 0, 0, 0, 0},
    {"exeDump", nvmeFnExeDump, 1, 1, 0, 0, 0},
};

// Namespace nvme::admc, in registration order; argument 1 is by reference.
const FuncDef kAdmcFuncs[] = {
    {"deleteIOSQ", nullptr, 3, 3, A(1), 0, 0},       {"createIOSQ", nullptr, 4, 7, A(1), 0, 0},
    {"getLogPage", nullptr, 6, 8, A(1), 0, A(8)},    {"deleteIOCQ", nullptr, 3, 3, A(1), 0, 0},
    {"createIOCQ", nullptr, 3, 4, A(1), 0, 0},       {"identify", nullptr, 6, 7, A(1), 0, A(7)},
    {"abort", nullptr, 3, 4, A(1), 0, 0},            {"setFeatures", nullptr, 5, 7, A(1), 0, A(7)},
    {"getFeatures", nullptr, 4, 8, A(1), 0, 0},      {"asyncEvtReq", nullptr, 2, 2, A(1), 0, 0},
    {"nsMgmt", nullptr, 4, 5, A(1), 0, 0},           {"fwCommit", nullptr, 4, 5, A(1), 0, 0},
    {"fwImgDwnld", nullptr, 5, 5, A(1), 0, 0},       {"devSelfTest", nullptr, 4, 4, A(1), 0, 0},
    {"nsAtchmt", nullptr, 5, 5, A(1), 0, 0},         {"keepAlive", nullptr, 2, 2, A(1), 0, 0},
    {"virtMgmt", nullptr, 6, 6, A(1), 0, 0},         {"capMgmt", nullptr, 5, 5, A(1), 0, 0},
    {"lockdown", nullptr, 6, 7, A(1), 0, 0},         {"formatNVM", nullptr, 8, 8, A(1), 0, 0},
    {"secSend", nullptr, 7, 7, A(1), 0, 0},          {"secRecv", nullptr, 6, 7, A(1), 0, 0},
    {"sanitize", nullptr, 7, 8, A(1), 0, 0},         {"dirSend", nullptr, 5, 6, A(1), 0, A(5)},
    {"dirRecv", nullptr, 5, 6, A(1), 0, A(5)},       {"getLBAStatus", nullptr, 7, 8, A(1), 0, 0},
    {"passThru", nullptr, 6, 6, A(1), 0, A(6)},
};

// Namespace nvme::ioc, in registration order; argument 1 is by reference.
const FuncDef kIocFuncs[] = {
    {"flush", nullptr, 2, 3, A(1), 0, 0},            {"write", nullptr, 5, 8, A(1), 0, A(8)},
    {"read", nullptr, 5, 8, A(1), 0, A(8)},          {"writeUNC", nullptr, 4, 5, A(1), 0, 0},
    {"compare", nullptr, 5, 8, A(1), 0, A(8)},       {"write0", nullptr, 4, 6, A(1), 0, A(6)},
    {"dsm", nullptr, 5, 6, A(1), 0, 0},              {"verify", nullptr, 4, 6, A(1), 0, A(6)},
    {"rsvtReg", nullptr, 6, 7, A(1), 0, 0},          {"rsvtAcq", nullptr, 6, 7, A(1), 0, 0},
    {"rsvtRel", nullptr, 6, 7, A(1), 0, 0},          {"rsvtRep", nullptr, 5, 6, A(1), 0, 0},
    {"copy", nullptr, 6, 8, A(1), 0, A(8)},          {"store", nullptr, 6, 7, A(1), 0, A(5)},
    {"retrieve", nullptr, 6, 7, A(1), 0, A(5)},      {"delete", nullptr, 3, 4, A(1), 0, A(3)},
    {"exist", nullptr, 3, 4, A(1), 0, A(3)},         {"list", nullptr, 5, 6, A(1), 0, A(5)},
    {"zoneMgmtSend", nullptr, 6, 7, A(1), 0, 0},     {"zoneMgmtRecv", nullptr, 6, 7, A(1), 0, 0},
    {"zoneAppend", nullptr, 5, 8, A(1), 0, A(8)},    {"passThru", nullptr, 6, 6, A(1), 0, A(6)},
};

template <size_t N>
void registerFuncs(void *pNs, const FuncDef (&table)[N])
{
    for (const FuncDef &f : table)
        if (f.pfnHandler)
            g_host.pfnAddFunc(pNs, f.szName, f.pfnHandler, f.nMin, f.nMax, f.nRef, f.nArr, f.nStruct);
}

// A new namespace under pParent; null when the name exists already (a
// script that declares namespace nvme before its #load line).
void *namespaceOf(void *pParent, const char *szName)
{
    return g_host.pfnAddNs(pParent, szName);
}

void registerConstants(void *pNs)
{
    char szVersion[32];
    snprintf(szVersion, sizeof szVersion, "%d.%d.%d%s", 1, 2, 0, "");
    g_host.pfnAddIntConst(pNs, "majorVer", 1);
    g_host.pfnAddIntConst(pNs, "minorVer", 2);
    g_host.pfnAddIntConst(pNs, "patchVer", 0);
    g_host.pfnAddStrConst(pNs, "version", szVersion);
    g_host.pfnAddIntConst(pNs, "cmdCplFlag", 1);
    g_host.pfnAddIntConst(pNs, "cmdToFlag", 2);
    g_host.pfnAddIntConst(pNs, "cmdStsMask", 0x7FFF0000);
    g_host.pfnAddIntConst(pNs, "cmdStsLowBit", 16);
    g_host.pfnAddIntConst(pNs, "cmdSpcStsMask", static_cast<int64_t>(0xFFFFFFFF00000000ull));
    g_host.pfnAddIntConst(pNs, "cmdSpcStsLowBit", 32);
    g_host.pfnAddIntConst(pNs, "PRP", 0);
    g_host.pfnAddIntConst(pNs, "HMB", 1);
    g_host.pfnAddIntConst(pNs, "SGL", 2);
    g_host.pfnAddIntConst(pNs, "CONFIG_FLAGS", 1);
}

} // namespace

bool nvmeRegisterAll()
{
    void *pNvme = namespaceOf(g_host.pfnGetRootNs(), "nvme");
    if (!pNvme)
        return false;
    void *pAdmc = namespaceOf(pNvme, "admc");
    void *pIoc = namespaceOf(pNvme, "ioc");
    namespaceOf(pNvme, "fabc");
    if (pAdmc)
        registerFuncs(pAdmc, kAdmcFuncs);
    if (pIoc)
        registerFuncs(pIoc, kIocFuncs);
    registerConstants(pNvme);
    registerFuncs(pNvme, kNvmeFuncs);
    return true;
}

} // namespace kxmnvme
