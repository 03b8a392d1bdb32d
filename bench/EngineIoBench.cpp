// 4 KiB random reads through the kxm_nvme engine (no interpreter): the
// controller is brought up as a script's init would, one I/O queue runs in
// poller mode, and the submitting thread keeps the queue depth constant
// while the engine's I/O poller reaps completions, stamps, traces and
// recycles. Prints commands per second for each depth, in the same form as
// bench_sim_io, so engine_vs_sim.sh can put the two side by side.
//
//   bench_engine_io [--count N] [--depth D]...
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "nvmeBufEngine.h"
#include "nvmeCmdCheck.h"
#include "nvmeEngine.h"
#include "nvmeInit.h"
#include "nvmeScan.h"
#include "nvmeSubmit.h"
#include "nvmewire/Opcodes.h"

using namespace kxmnvme;

namespace {

constexpr uint32_t kBlocks4k = 1024;

uint64_t completed(NvmeSQ *pSQ)
{
    return pSQ->aComplCnt[nvmewire::NVM_READ].load(std::memory_order_relaxed);
}

double runDepth(NvmeEngine &eng, NvmeSQ *pSQ, NvmeNs *pNs, std::vector<NvmeBuf *> &bufs, uint32_t nDepth,
                uint64_t nCount)
{
    const uint32_t nLbaPer4k = 4096 / pNs->nLbaSize;
    std::minstd_rand rng(7);
    const uint64_t nBase = completed(pSQ);
    uint64_t nIssued = 0;
    const auto t0 = std::chrono::steady_clock::now();
    while (nIssued < nCount) {
        if (nIssued - (completed(pSQ) - nBase) >= nDepth) {
            std::this_thread::yield();
            continue;
        }
        NvmeCmdReq r;
        r.cmd = nvmewire::Sqe::make(nvmewire::NVM_READ, pNs->nsid);
        const uint64_t nSlba = uint64_t(rng() % kBlocks4k) * nLbaPer4k;
        r.cmd.setCdw10(static_cast<uint32_t>(nSlba));
        r.cmd.setCdw11(static_cast<uint32_t>(nSlba >> 32));
        r.cmd.setCdw12(nLbaPer4k - 1);
        r.pBuf = bufs[nIssued % bufs.size()];
        r.nXferLen = 4096;
        CmdRR *pCmd = nullptr;
        if (nvmeSubmit(eng, pSQ, r, &pCmd) == EC_NONE)
            nIssued++;
        else
            std::this_thread::yield();
    }
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (completed(pSQ) - nBase < nCount) {
        if (std::chrono::steady_clock::now() > tEnd)
            return -1;
        std::this_thread::yield();
    }
    const double dSec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return double(nCount) / dSec;
}

} // namespace

int main(int argc, char **argv)
{
    uint64_t nCount = 1000000;
    std::vector<uint32_t> depths;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--count" && i + 1 < argc)
            nCount = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--depth" && i + 1 < argc)
            depths.push_back(static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
        else {
            std::fprintf(stderr, "usage: bench_engine_io [--count N] [--depth D]...\n");
            return 2;
        }
    }
    if (depths.empty())
        depths = {1, 64};
    if (nCount == 0)
        return 2;

    NvmeEngine eng;
    if (nvmeScan(eng) != EC_NONE || eng.nDevNum == 0) {
        std::fprintf(stderr, "bench_engine_io: no NVMe controller found\n");
        return 1;
    }
    NvmeCntl *pCntl = eng.devs[0]->cntls[0];
    NvmeInitParams p = nvmeNormalizeInitParams(32, 32, 1, 256, 1, 256, 0);
    if (nvmeInitCntl(eng, pCntl, false, p) != EC_NONE || pCntl->nIOSQNum < 1 || pCntl->usedNs.empty()) {
        std::fprintf(stderr, "bench_engine_io: bring-up failed\n");
        return 1;
    }
    NvmeSQ *pSQ = pCntl->pSQs[1];
    NvmeNs *pNs = pCntl->usedNs.front();
    if (pNs->nLbaSize == 0 || pNs->nLbaSize > 4096 || pNs->nLbaSizeInBuf != pNs->nLbaSize) {
        std::fprintf(stderr, "bench_engine_io: no usable namespace\n");
        return 1;
    }
    std::vector<NvmeBuf *> bufs(64);
    for (NvmeBuf *&b : bufs)
        if (nvmeBufAlloc(eng, pCntl, NVME_BUF_PRP, 4096, &b) != EC_NONE) {
            std::fprintf(stderr, "bench_engine_io: no DMA buffer\n");
            return 1;
        }
    pSQ->nFlags |= NVME_SQF_NOT_POLLING;

    std::printf("bench_engine_io: backend %s, 4 KiB random reads over %u blocks, %llu commands per depth\n",
                eng.platform()->name(), kBlocks4k, static_cast<unsigned long long>(nCount));
    int rc = 0;
    for (uint32_t d : depths) {
        const double dRate = runDepth(eng, pSQ, pNs, bufs, d, nCount);
        if (dRate < 0) {
            std::fprintf(stderr, "bench_engine_io: no completion for 10 s\n");
            rc = 1;
            break;
        }
        std::printf("  queue depth %3u: %12.0f commands/s\n", d, dRate);
    }
    for (NvmeBuf *b : bufs)
        nvmeBufFreeOn(eng.registry, b);
    return rc;
}
