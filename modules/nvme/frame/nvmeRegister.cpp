#include "nvmeRegister.h"

#include <cstdio>

#include "nvmeCmdTable.h"
#include "nvmeDdbFuncs.h"
#include "nvmeFuncs.h"
#include "nvmeHost.h"

namespace kxmnvme {

namespace {

// Argument position n (1-based) in a descriptor mask.
constexpr uint32_t A(int n)
{
    return 1u << (n - 1);
}

// A row with a null handler is built by a later part of the module and not
// registered yet.
using FuncDef = NvmeFuncReg;

// Namespace nvme up to the ddb functions, in registration order.
const FuncDef kNvmeFuncsHead[] = {
    {"scan", nvmeFnScan, 1, 1, A(1), 0, 0},
    {"put", nvmeFnPut, 0, 0, 0, 0, 0},
    {"initA", nvmeFnInitA, 2, 6, A(1) | A(4) | A(5), 0, 0},
    {"init", nvmeFnInit, 2, 4, A(1), 0, A(4)},
    {"flReset", nvmeFnFlReset, 2, 2, A(1), 0, 0},
    {"cntlReset", nvmeFnCntlReset, 2, 2, A(1), 0, 0},
    {"NVMSSReset", nvmeFnNVMSSReset, 2, 2, A(1), 0, 0},
    {"PCIeHotReset", nvmeFnPCIeHotReset, 2, 2, A(1), 0, 0},
    {"powerOffEvent", nvmeFnPowerOffEvent, 2, 2, A(1), 0, 0},
    {"powerOnEvent", nvmeFnPowerOnEvent, 2, 2, A(1), 0, 0},
    {"rescan", nvmeFnRescan, 3, 3, A(1), 0, 0},
    {"dumpHandleInfo", nvmeFnDumpHandleInfo, 4, 4, A(1), 0, 0},
    {"getDevNum", nvmeFnGetDevNum, 0, 0, 0, 0, 0},
    {"getFuncNum", nvmeFnGetFuncNum, 2, 2, A(1), 0, 0},
    {"getCntlHandle", nvmeFnGetCntlHandle, 3, 3, A(1), 0, 0},
    {"getCntlHandleBySQHandle", nvmeFnGetCntlHandleBySQHandle, 2, 2, A(1), 0, 0},
    {"getCNTLID", nvmeFnGetCNTLID, 2, 2, A(1), 0, 0},
    {"getDevNo", nvmeFnGetDevNo, 2, 2, A(1), 0, 0},
    {"getPageSize", nvmeFnGetPageSize, 2, 2, A(1), 0, 0},
    {"supportVF", nvmeFnSupportVF, 2, 2, A(1), 0, 0},
    {"getMaxVFNum", nvmeFnGetMaxVFNum, 2, 2, A(1), 0, 0},
    {"enableVF", nvmeFnEnableVF, 3, 3, A(1), 0, 0},
    {"getNsNum", nvmeFnGetNsNum, 2, 2, A(1), 0, 0},
    {"getNextNsId", nvmeFnGetNextNsId, 3, 3, A(1), 0, 0},
    {"getNsIds", nvmeFnGetNsIds, 4, 4, A(1), A(4), 0},
    {"getNsHandle", nvmeFnGetNsHandle, 3, 3, A(1), 0, 0},
    {"setNsAttr", nvmeFnSetNsAttr, 4, 4, A(1), 0, 0},
    {"getMaxIOSQNum", nvmeFnGetMaxIOSQNum, 2, 2, A(1), 0, 0},
    {"getMaxIOCQNum", nvmeFnGetMaxIOCQNum, 2, 2, A(1), 0, 0},
    {"getMaxIOQSize", nvmeFnGetMaxIOQSize, 2, 2, A(1), 0, 0},
    {"getIOSQNum", nvmeFnGetIOSQNum, 2, 2, A(1), 0, 0},
    {"getIOCQNum", nvmeFnGetIOCQNum, 2, 2, A(1), 0, 0},
    {"getNextIOSQId", nvmeFnGetNextIOSQId, 3, 3, A(1), 0, 0},
    {"getNextIOCQId", nvmeFnGetNextIOCQId, 3, 3, A(1), 0, 0},
    {"getPairedIOCQId", nvmeFnGetPairedIOCQId, 3, 3, A(1), 0, 0},
    {"getNextPairedIOSQId", nvmeFnGetNextPairedIOSQId, 4, 4, A(1), 0, 0},
    {"getSQHandle", nvmeFnGetSQHandle, 3, 3, A(1), 0, 0},
    {"getSQId", nvmeFnGetSQId, 2, 2, A(1), 0, 0},
    {"getSQSize", nvmeFnGetSQSize, 2, 2, A(1), 0, 0},
    {"setSQAttr", nvmeFnSetSQAttr, 4, 4, A(1), 0, 0},
    {"isSQFull", nvmeFnIsSQFull, 2, 2, A(1), 0, 0},
    {"isSQEmpty", nvmeFnIsSQEmpty, 2, 2, A(1), 0, 0},
    {"readPCIConfig8", nvmeFnReadPCIConfig8, 3, 3, A(1), 0, 0},
    {"readPCIConfig16", nvmeFnReadPCIConfig16, 3, 3, A(1), 0, 0},
    {"readPCIConfig32", nvmeFnReadPCIConfig32, 3, 3, A(1), 0, 0},
    {"readCntlReg32", nvmeFnReadCntlReg32, 3, 3, A(1), 0, 0},
    {"writeCntlReg32", nvmeFnWriteCntlReg32, 4, 4, A(1), 0, 0},
    {"shutdownNotify", nvmeFnShutdownNotify, 3, 4, A(1), 0, 0},
};

// Namespace nvme after the ddb functions, in registration order.
const FuncDef kNvmeFuncsTail[] = {
    // Trace and histograms.
    {"dumpTrace", nvmeFnDumpTrace, 3, 4, A(1), 0, 0},
    {"cleanTrace", nvmeFnCleanTrace, 2, 2, A(1), 0, 0},
    {"getCmdExeTimeCumuHistogram", nvmeFnGetCmdExeTimeCumuHistogram, 5, 6, A(1), A(4) | A(5), 0},
    {"dumpCmdExeTimeHistogram", nvmeFnDumpCmdExeTimeHistogram, 3, 5, A(1), 0, 0},
    {"getAllCmdIssueNum", nvmeFnGetAllCmdIssueNum, 2, 2, A(1), 0, 0},
    {"getAllCmdComplNum", nvmeFnGetAllCmdComplNum, 2, 2, A(1), 0, 0},
    {"getAllIOSQCmdIssueNum", nvmeFnGetAllIOSQCmdIssueNum, 2, 3, A(1), 0, 0},
    {"getAllIOSQCmdComplNum", nvmeFnGetAllIOSQCmdComplNum, 2, 3, A(1), 0, 0},
    {"getSQCmdIssueNum", nvmeFnGetSQCmdIssueNum, 2, 3, A(1), 0, 0},
    {"getSQCmdComplNum", nvmeFnGetSQCmdComplNum, 2, 3, A(1), 0, 0},
    {"pspp", nvmeFnPspp, 1, 2, A(2), 0, 0},
    {"pspp2", nvmeFnPspp2, 2, 2, 0, A(2), 0},
    {"getCId", nvmeFnGetCId, 1, 1, 0, 0, 0},
    {"getCDWs", nvmeFnGetCDWs, 2, 2, 0, A(2), 0},
    {"setCMDTO", nvmeFnSetCMDTO, 1, 1, 0, 0, 0},
    {"getCMDTO", nvmeFnGetCMDTO, 0, 0, 0, 0, 0},
    {"strerror", nvmeFnStrerror, 1, 1, 0, 0, 0},
    {"checkIntegrity", nvmeFnCheckIntegrity, 3, 3, 0, 0, 0},
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

void registerFuncs(void *pNs, const FuncDef *pTable, size_t nCount)
{
    for (size_t i = 0; i < nCount; i++)
        if (const FuncDef &f = pTable[i]; f.pfnHandler)
            g_host.pfnAddFunc(pNs, f.szName, f.pfnHandler, f.nMinArgs, f.nMaxArgs, f.nRefMask, f.nArrMask,
                              f.nStructMask);
}

template <size_t N>
void registerFuncs(void *pNs, const FuncDef (&table)[N])
{
    registerFuncs(pNs, table, N);
}

// The command namespaces: handlers come from the command tables by name.
template <size_t N>
void registerCmdFuncs(void *pNs, const FuncDef (&table)[N], krvExtHandler_t (*pfnHandlerOf)(const char *))
{
    for (const FuncDef &f : table)
        if (krvExtHandler_t pfn = pfnHandlerOf(f.szName))
            g_host.pfnAddFunc(pNs, f.szName, pfn, f.nMinArgs, f.nMaxArgs, f.nRefMask, f.nArrMask, f.nStructMask);
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
        registerCmdFuncs(pAdmc, kAdmcFuncs, nvmeAdmcHandler);
    if (pIoc)
        registerCmdFuncs(pIoc, kIocFuncs, nvmeIocHandler);
    registerConstants(pNvme);
    registerFuncs(pNvme, kNvmeFuncsHead);
    registerFuncs(pNvme, g_nvmeDdbFuncs, g_nvmeDdbFuncCount);
    registerFuncs(pNvme, kNvmeFuncsTail);
    return true;
}

} // namespace kxmnvme
