// checkIntegrity and dumpHandleInfo: reports on the engine's records.
#include "nvmeArgs.h"
#include "nvmeBufDump.h"
#include "nvmeFuncs.h"
#include "nvmeHost.h"
#include "nvmeIntegrity.h"
#include "nvmeOutput.h"

namespace kxmnvme {

NVME_HANDLER(nvmeFnCheckIntegrity)
{
    NvmeCall c("checkIntegrity", nArgs, pArgs, pResult, szMsg, false);
    uint32_t nKind = 0;
    void *p = c.either(1, NVME_KIND_CNTL, NVME_KIND_SQ, &nKind, "%p, neither FuncHandle nor SQHandle, is specified to %s");
    void *pFile = nullptr;
    int64_t nIdle = 0;
    if (!p || !c.file(2, &pFile))
        return (c.fail(0), EC_HANDLE);
    if (!c.integer(3, &nIdle))
        return c.fail(0);
    bool bOk;
    {
        NvmeTextOut out(nvmeConsoleAndFile(pFile));
        bOk = nKind == NVME_KIND_SQ ? nvmeCheckSQ(c.engine(), static_cast<NvmeSQ *>(p), nIdle != 0, out)
                                    : nvmeCheckCntl(c.engine(), static_cast<NvmeCntl *>(p), nIdle != 0, out);
    }
    if (pFile)
        g_host.pfnFflush(pFile);
    return c.ok(bOk ? 1 : 0);
}

NVME_HANDLER(nvmeFnDumpHandleInfo)
{
    NvmeCall c("dumpHandleInfo", nArgs, pArgs, pResult, szMsg);
    void *pFile = nullptr;
    if (!c.file(2, &pFile))
        return c.fail(0);
    const char *szTitle = c.text(3);
    if (!szTitle)
        return c.fail(0);
    void *p = c.type(4) == KRV_DT_HANDLE ? g_host.pfnGetArgHandle(pArgs, 3) : nullptr;
    const uint32_t nKind = p ? c.engine().registry.kindOf(p) : NVME_KIND_NONE;
    if (!p || (nKind == NVME_KIND_NONE && !g_host.pfnIsHandle(p)))
        return c.fail(EC_HANDLE, 0);
    {
        NvmeTextOut out(nvmeConsoleAndFile(pFile));
        if (*szTitle)
            out.put("%s: handle = %p\n", szTitle, p);
        if (nKind == NVME_KIND_BUF)
            nvmeBufDescribe(static_cast<NvmeBuf *>(p), out);
    }
    if (pFile)
        g_host.pfnFflush(pFile);
    return c.ok(1);
}

} // namespace kxmnvme
