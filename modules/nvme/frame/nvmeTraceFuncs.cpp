// Script functions of the command trace and the execution-time histograms:
// dumpTrace, cleanTrace, dumpCmdExeTimeHistogram and
// getCmdExeTimeCumuHistogram. Dumps go to standard output (the stream the
// interpreter prints to, so they keep their place among the script's own
// output) and, when a file is given, to the file as well.
#include <vector>

#include "nvmeArgs.h"
#include "nvmeFuncs.h"
#include "nvmeOutput.h"
#include "nvmeHistogram.h"
#include "nvmeHost.h"
#include "nvmeTraceDump.h"

namespace kxmnvme {

namespace {

constexpr const char *kSQOrCntlMsg = "%p, neither SQHandle nor CntlHandle, is specified to %s";

// The SQ or controller at position 2; null (error recorded) otherwise.
void *sqOrCntl(NvmeCall &c, uint32_t *pKind)
{
    return c.either(2, NVME_KIND_SQ, NVME_KIND_CNTL, pKind, kSQOrCntlMsg);
}

// An optional integer argument; absent keeps *p.
bool optInteger(NvmeCall &c, int nPos, int64_t *p)
{
    return !c.has(nPos) || c.integer(nPos, p);
}

// A one-dimensional array of plain values at position nPos with at least
// nNeed elements: EC_ARGS when it is no such array, EC_ARR_SIZE when it is
// too short. Null on failure.
void *arrayArg(NvmeCall &c, krvValue_t *pArgs, int nPos, int64_t nNeed)
{
    void *pRef = c.has(nPos) ? g_host.pfnGetArgHandle(pArgs, nPos - 1) : nullptr;
    if (!pRef || !g_host.pfnIsArray(pRef) || g_host.pfnGetArrDimNum(pRef) != 1 ||
        g_host.pfnGetStructTypeName(pRef)) {
        c.setError(EC_ARGS);
        return nullptr;
    }
    if (g_host.pfnGetArrDimSize(pRef, 0) < nNeed) {
        c.setError(EC_ARR_SIZE);
        return nullptr;
    }
    return pRef;
}

} // namespace

NVME_HANDLER(nvmeFnDumpTrace)
{
    NvmeCall c("dumpTrace", nArgs, pArgs, pResult, szMsg);
    uint32_t nKind = 0;
    void *p = sqOrCntl(c, &nKind);
    void *pFile = nullptr;
    int64_t nMaxRows = 0;
    if (!p || !c.file(3, &pFile) || !optInteger(c, 4, &nMaxRows))
        return c.fail(0);
    {
        NvmeTextOut out(nvmeConsoleAndFile(pFile));
        if (nKind == NVME_KIND_SQ)
            nvmeDumpTraceSQ(c.engine().timeBase, static_cast<NvmeSQ *>(p), nMaxRows, out);
        else
            nvmeDumpTraceCntl(c.engine().timeBase, static_cast<NvmeCntl *>(p), nMaxRows, out);
    }
    if (pFile)
        g_host.pfnFflush(pFile);
    return c.ok(1);
}

NVME_HANDLER(nvmeFnCleanTrace)
{
    NvmeCall c("cleanTrace", nArgs, pArgs, pResult, szMsg);
    uint32_t nKind = 0;
    void *p = sqOrCntl(c, &nKind);
    if (!p)
        return c.fail(0);
    if (nKind == NVME_KIND_SQ)
        nvmeCleanTraceSQ(static_cast<NvmeSQ *>(p));
    else
        nvmeCleanTraceCntl(static_cast<NvmeCntl *>(p));
    return c.ok(1);
}

NVME_HANDLER(nvmeFnDumpCmdExeTimeHistogram)
{
    NvmeCall c("dumpCmdExeTimeHistogram", nArgs, pArgs, pResult, szMsg);
    uint32_t nKind = 0;
    void *p = sqOrCntl(c, &nKind);
    void *pFile = nullptr;
    int64_t nMode = 0;
    int64_t nIOOnly = 1;
    if (!p || !c.file(3, &pFile) || !optInteger(c, 4, &nMode) || !optInteger(c, 5, &nIOOnly))
        return c.fail(0);
    NvmeHistSum sum;
    if (nKind == NVME_KIND_SQ)
        sum.add(static_cast<NvmeSQ *>(p));
    else
        sum = nvmeHistSumCntl(static_cast<NvmeCntl *>(p), nIOOnly != 0);
    {
        NvmeTextOut out(nvmeConsoleAndFile(pFile));
        nvmeHistDump(sum, nMode, out);
    }
    if (pFile)
        g_host.pfnFflush(pFile);
    return c.ok(1);
}

NVME_HANDLER(nvmeFnGetCmdExeTimeCumuHistogram)
{
    NvmeCall c("getCmdExeTimeCumuHistogram", nArgs, pArgs, pResult, szMsg);
    uint32_t nKind = 0;
    void *p = sqOrCntl(c, &nKind);
    int64_t n = 0;
    int64_t nIOOnly = 1;
    if (!p || !c.integer(3, &n))
        return c.fail(0);
    if (n <= 0)
        return c.fail(EC_BIN_NUM, 0);
    void *pPctArr = arrayArg(c, pArgs, 4, n);
    void *pUsArr = pPctArr ? arrayArg(c, pArgs, 5, n) : nullptr;
    if (!pUsArr || !optInteger(c, 6, &nIOOnly))
        return c.fail(0);

    const size_t nCount = static_cast<size_t>(n);
    std::vector<double> pcts(nCount);
    for (size_t i = 0; i < nCount; i++) {
        const krvValue_t *pCell = g_host.pfnGetArrElem(pPctArr, static_cast<int32_t>(i));
        if (pCell && pCell->type == KRV_DT_FLOAT)
            pcts[i] = pCell->val.dFloat;
        else if (pCell && pCell->type == KRV_DT_INTEGER)
            pcts[i] = static_cast<double>(pCell->val.nInt);
        else
            return c.fail(EC_ARGS, 0);
    }

    NvmeHistSum sum;
    if (nKind == NVME_KIND_SQ)
        sum.add(static_cast<NvmeSQ *>(p));
    else
        sum = nvmeHistSumCntl(static_cast<NvmeCntl *>(p), nIOOnly != 0);
    std::vector<int64_t> us(nCount);
    nvmeHistCumu(sum, pcts.data(), us.data(), nCount);
    for (size_t i = 0; i < nCount; i++)
        if (krvValue_t *pCell = g_host.pfnGetArrElem(pUsArr, static_cast<int32_t>(i)))
            g_host.pfnSetInt(pCell, us[i]);
    return c.ok(1);
}

} // namespace kxmnvme
