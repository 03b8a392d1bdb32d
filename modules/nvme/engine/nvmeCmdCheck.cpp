#include "nvmeCmdCheck.h"

#include <chrono>
#include <thread>

#include "nvmeCmdPool.h"
#include "nvmeEngine.h"
#include "nvmePostProc.h"

namespace kxmnvme {

int64_t nvmeCmdCheck(NvmeEngine &eng, CmdRR *pCmd, int64_t *pExeUs, uint32_t *pDws)
{
    if (pCmd->bCompleted.load(std::memory_order_acquire)) {
        int64_t nWord = (static_cast<int64_t>(pCmd->nStatus) << 16) | NVME_CMD_CPL |
                        static_cast<int64_t>(static_cast<uint64_t>(pCmd->cqe.dw0()) << 32);
        const int64_t nExeUs = sysTimeElapsedUs(pCmd->tSubmit, pCmd->tComplete);
        if (nExeUs > eng.nCmdTimeoutUs)
            nWord |= NVME_CMD_TO;
        if (pExeUs)
            *pExeUs = nExeUs;
        if (pDws)
            for (int i = 0; i < 4; i++)
                pDws[i] = pCmd->cqe.dw[i];
        if (pCmd->nSQId == 0)
            nvmeRunPostProc(pCmd);
        nvmeCmdGiveBack(pCmd->pSQ->pQCmdRscMgr, pCmd);
        return nWord;
    }
    if (++pCmd->nPollCount <= NVME_CHECK_GRACE)
        return 0;
    return sysTimeElapsedUs(pCmd->tSubmit, sysTimeNow()) > eng.nCmdTimeoutUs ? NVME_CMD_TO : 0;
}

int64_t nvmeCmdWait(NvmeEngine &eng, CmdRR *pCmd)
{
    int64_t nWord = 0;
    while (nWord == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        nWord = nvmeCmdCheck(eng, pCmd);
    }
    return nWord;
}

} // namespace kxmnvme
