// 4 KiB reads through the platform layer at queue depth 1 and 64, driven by
// a minimal polling host loop; prints commands per second for each depth.
//
//   bench_sim_io [--count N] [--depth D]... [--blocks B]
//
// --count: commands per depth (default 1,000,000); --depth: the depths to
// run (default 1 and 64); --blocks: 4 KiB blocks the reads spread over
// (default 1024, written once before reading).
#include "HostController.h"
#include "NvmCommands.h"
#include "PciAccess.h"
#include "Platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace nvmehost;
using namespace nvmewire;

namespace {

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

struct Options {
    uint64_t nCount = 1000000;
    std::vector<uint32_t> depths;
    uint32_t nBlocks4k = 1024;
};

bool parseArgs(int argc, char **argv, Options *pOpt)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](uint64_t *pOut) {
            if (i + 1 >= argc)
                return false;
            char *pEnd = nullptr;
            unsigned long long n = std::strtoull(argv[++i], &pEnd, 10);
            if (!pEnd || *pEnd || n == 0)
                return false;
            *pOut = n;
            return true;
        };
        uint64_t n = 0;
        if (a == "--count" && next(&n))
            pOpt->nCount = n;
        else if (a == "--depth" && next(&n) && n < 4096)
            pOpt->depths.push_back(uint32_t(n));
        else if (a == "--blocks" && next(&n) && n < (1u << 24))
            pOpt->nBlocks4k = uint32_t(n);
        else {
            std::fprintf(stderr, "usage: bench_sim_io [--count N] [--depth D]... [--blocks B]\n");
            return false;
        }
    }
    if (pOpt->depths.empty())
        pOpt->depths = {1, 64};
    return true;
}

struct Slot {
    DmaMemory data;
    Sqe cmd{};
};

// Keeps nDepth reads outstanding on queue pair 1 until nCount completed.
// Returns commands per second, or a negative value on a failed command.
double runDepth(HostController &ctl, const NamespaceInfo &ns, uint32_t nDepth, uint64_t nCount,
                uint32_t nBlocks4k)
{
    HostSq &sq = *ctl.sq(1);
    HostCq &cq = *ctl.cq(1);
    const uint32_t nLbaPer4k = 4096 / ns.nBlockSize;
    std::vector<Slot> slots(nDepth);
    std::string sErr;
    for (uint32_t i = 0; i < nDepth; ++i) {
        if (!ctl.allocData(4096, ctl.pageSize(), &slots[i].data, &sErr)) {
            std::fprintf(stderr, "bench_sim_io: %s\n", sErr.c_str());
            return -1;
        }
        slots[i].cmd = makeRw(NVM_READ, ns.nNsid, 0, nLbaPer4k);
        slots[i].cmd.setPrp1(slots[i].data.bus());
        slots[i].cmd.setCid(uint16_t(i));
    }
    uint32_t nRand = 0x9E3779B9u;
    auto nextLba = [&]() {
        nRand ^= nRand << 13;
        nRand ^= nRand >> 17;
        nRand ^= nRand << 5;
        return uint64_t(nRand % nBlocks4k) * nLbaPer4k;
    };
    auto push = [&](uint32_t nSlot) {
        Sqe &c = slots[nSlot].cmd;
        uint64_t nLba = nextLba();
        c.setCdw10(uint32_t(nLba));
        c.setCdw11(uint32_t(nLba >> 32));
        sq.push(c);
    };

    uint64_t nIssued = 0, nDone = 0, nFailed = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < nDepth && nIssued < nCount; ++i, ++nIssued)
        push(i);
    ctl.ringSq(sq);
    Completion c;
    uint64_t nIdlePolls = 0;
    auto tLastProgress = t0;
    while (nDone < nCount) {
        uint32_t nReaped = 0;
        bool bPushed = false;
        while (cq.pop(&c)) {
            ++nReaped;
            ++nDone;
            if (c.status() != 0)
                ++nFailed;
            sq.nHead = c.sqhd();
            if (nIssued < nCount && c.cid() < nDepth) {
                push(c.cid());
                ++nIssued;
                bPushed = true;
            }
        }
        if (nReaped) {
            ctl.ringCq(cq);
            if (bPushed)
                ctl.ringSq(sq);
            nIdlePolls = 0;
        } else if ((++nIdlePolls & 0x3F) != 0) {
            cpuRelax();
        } else if ((nIdlePolls & 0xFFFF) != 0) {
            // Nothing for a while: let the controller's thread have the
            // core when the machine has fewer cores than runnable threads.
            std::this_thread::yield();
        } else {
            // A controller that stops answering must not hang the run.
            auto tNow = std::chrono::steady_clock::now();
            if (nIdlePolls == 0x10000)
                tLastProgress = tNow;
            else if (tNow - tLastProgress > std::chrono::seconds(10)) {
                std::fprintf(stderr, "bench_sim_io: no completion for 10 s (%llu of %llu done)\n",
                             static_cast<unsigned long long>(nDone), static_cast<unsigned long long>(nCount));
                return -1;
            }
        }
    }
    double dSec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (nFailed) {
        std::fprintf(stderr, "bench_sim_io: %llu reads failed\n", static_cast<unsigned long long>(nFailed));
        return -1;
    }
    return double(nDone) / dSec;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    if (!parseArgs(argc, argv, &opt))
        return 2;
    std::string sErr;
    auto plat = kxmplat::Platform::open(&sErr);
    if (!plat) {
        std::fprintf(stderr, "bench_sim_io: %s\n", sErr.c_str());
        return 1;
    }
    auto funcs = findNvmeFunctions(*plat);
    if (funcs.empty()) {
        std::fprintf(stderr, "bench_sim_io: no NVMe controller found\n");
        return 1;
    }
    int rc = 0;
    {
        auto ctl = HostController::open(*plat, funcs[0].slot, &sErr);
        uint32_t nMaxDepth = 1;
        for (uint32_t d : opt.depths)
            nMaxDepth = std::max(nMaxDepth, d);
        NamespaceInfo ns;
        uint32_t nEntries = 0;
        if (ctl) {
            nEntries = std::min<uint32_t>(std::max<uint32_t>(nMaxDepth + 1, 256), ctl->caps().maxQueueEntries());
            if (nEntries <= nMaxDepth)
                sErr = "queue depth exceeds the controller's maximum queue size";
        }
        if (!ctl || !sErr.empty() || !ctl->bringUp(32, 32, &sErr) ||
            !ctl->setQueueCount(1, 1, nullptr, nullptr).ok() || !ctl->createIoCq(1, nEntries).ok() ||
            !ctl->createIoSq(1, nEntries, 1).ok()) {
            std::fprintf(stderr, "bench_sim_io: bring-up failed%s%s\n", sErr.empty() ? "" : ": ", sErr.c_str());
            return 1;
        }
        auto active = activeNamespaces(*ctl);
        if (active.empty() || !readNamespaceInfo(*ctl, active[0], &ns) || ns.nBlockSize > 4096 ||
            ns.bExtended) {
            std::fprintf(stderr, "bench_sim_io: no usable namespace (4 KiB reads need blocks of at most 4 KiB)\n");
            return 1;
        }
        uint32_t nLbaPer4k = 4096 / ns.nBlockSize;
        opt.nBlocks4k = uint32_t(std::min<uint64_t>(opt.nBlocks4k, ns.nSize / nLbaPer4k));
        if (opt.nBlocks4k == 0) {
            std::fprintf(stderr, "bench_sim_io: namespace smaller than 4 KiB\n");
            return 1;
        }

        // Write the range once so that the reads return stored data.
        DmaMemory buf;
        if (!ctl->allocData(4096, ctl->pageSize(), &buf, &sErr)) {
            std::fprintf(stderr, "bench_sim_io: %s\n", sErr.c_str());
            return 1;
        }
        for (uint32_t b = 0; b < opt.nBlocks4k; ++b) {
            std::memset(buf.host(), int(b & 0xFF), 4096);
            Sqe w = makeRw(NVM_WRITE, ns.nNsid, uint64_t(b) * nLbaPer4k, nLbaPer4k);
            w.setPrp1(buf.bus());
            if (!ctl->execute(*ctl->sq(1), w).ok()) {
                std::fprintf(stderr, "bench_sim_io: preparing write failed\n");
                return 1;
            }
        }

        std::printf("bench_sim_io: backend %s, 4 KiB random reads over %u blocks, %llu commands per depth\n",
                    plat->name(), opt.nBlocks4k, static_cast<unsigned long long>(opt.nCount));
        for (uint32_t d : opt.depths) {
            double dRate = runDepth(*ctl, ns, d, opt.nCount, opt.nBlocks4k);
            if (dRate < 0) {
                rc = 1;
                break;
            }
            std::printf("  queue depth %3u: %12.0f commands/s\n", d, dRate);
        }
    }
    plat->close();
    return rc;
}
