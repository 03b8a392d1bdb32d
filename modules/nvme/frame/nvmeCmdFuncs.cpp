// Commands as scripts see them: pspp, pspp2, getCId, getCDWs and the
// command time-out.
#include <climits>

#include "nvmeArgs.h"
#include "nvmeCmdCheck.h"
#include "nvmeFuncs.h"
#include "nvmeHost.h"

namespace kxmnvme {

namespace {

// Cells 0..n-1 of a one-dimensional array argument, or false when it has
// fewer than n elements.
bool arrayCells(NvmeCall &c, int nPos, int n, krvValue_t **apCells)
{
    void *pRef = c.has(nPos) ? static_cast<void *>(c.refCell(nPos)) : nullptr;
    if (!pRef || g_host.pfnGetArrDimNum(pRef) != 1 || g_host.pfnGetArrDimSize(pRef, 0) < n)
        return false;
    for (int i = 0; i < n; i++)
        if (!(apCells[i] = g_host.pfnGetArrElem(pRef, static_cast<int32_t>(i))))
            return false;
    return true;
}

// A bad command handle stops the script: a loop waiting for a non-zero
// word would otherwise never end.
int32_t badCommand(NvmeCall &c)
{
    c.fail(0);
    return EC_HANDLE;
}

} // namespace

NVME_HANDLER(nvmeFnPspp)
{
    NvmeCall c("pspp", nArgs, pArgs, pResult, szMsg, false);
    CmdRR *pCmd = c.cmd(1);
    if (!pCmd)
        return badCommand(c);
    int64_t nExeUs = 0;
    const int64_t nWord = nvmeCmdCheck(c.engine(), pCmd, &nExeUs);
    if (krvValue_t *pExe = c.has(2) ? c.refCell(2) : nullptr; pExe && (nWord & NVME_CMD_CPL))
        g_host.pfnSetInt(pExe, nExeUs);
    return c.ok(nWord);
}

NVME_HANDLER(nvmeFnPspp2)
{
    NvmeCall c("pspp2", nArgs, pArgs, pResult, szMsg, false);
    CmdRR *pCmd = c.cmd(1);
    if (!pCmd)
        return badCommand(c);
    krvValue_t *apCells[4];
    if (!arrayCells(c, 2, 4, apCells))
        return c.ok(0);
    uint32_t aDw[4] = {};
    const int64_t nWord = nvmeCmdCheck(c.engine(), pCmd, nullptr, aDw);
    if (nWord != 0)
        for (int i = 0; i < 4; i++)
            g_host.pfnSetInt(apCells[i], aDw[i]);
    return c.ok(nWord);
}

NVME_HANDLER(nvmeFnGetCId)
{
    NvmeCall c("getCId", nArgs, pArgs, pResult, szMsg, false);
    CmdRR *pCmd = c.cmd(1);
    if (!pCmd)
        return c.fail(-1);
    return c.ok(pCmd->nCID);
}

NVME_HANDLER(nvmeFnGetCDWs)
{
    NvmeCall c("getCDWs", nArgs, pArgs, pResult, szMsg, false);
    CmdRR *pCmd = c.cmd(1);
    krvValue_t *apCells[16];
    if (!pCmd || !arrayCells(c, 2, 16, apCells))
        return c.fail(0);
    for (int i = 0; i < 16; i++)
        g_host.pfnSetInt(apCells[i], pCmd->cmd.dw[i]);
    return c.ok(1);
}

NVME_HANDLER(nvmeFnSetCMDTO)
{
    NvmeCall c("setCMDTO", nArgs, pArgs, pResult, szMsg, false);
    int64_t nSec = 0;
    if (!c.integer(1, &nSec) || nSec <= 0)
        return c.fail(-1);
    c.engine().nCmdTimeoutUs = nSec > LLONG_MAX / 1000000 ? LLONG_MAX : nSec * 1000000;
    return c.ok(nSec);
}

NVME_HANDLER(nvmeFnGetCMDTO)
{
    NvmeCall c("getCMDTO", nArgs, pArgs, pResult, szMsg, false);
    return c.ok(c.engine().nCmdTimeoutUs / 1000000);
}

} // namespace kxmnvme
