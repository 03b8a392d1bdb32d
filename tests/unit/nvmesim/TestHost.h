// A minimal host for the simulator's own tests: brings a controller up
// through its registers, keeps admin and I/O queues in DMA memory and runs
// commands to completion.
#pragma once
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nvme/types.h>

#include "nvmesim/Bus.h"
#include "nvmewire/Command.h"
#include "nvmewire/Completion.h"
#include "nvmewire/Opcodes.h"
#include "nvmewire/Registers.h"
#include "nvmewire/Status.h"

namespace simtest {

using namespace nvmewire;

struct Buf {
    uint8_t *p = nullptr;
    uint64_t nBus = 0;
    size_t nSize = 0;
};

struct Queue {
    Buf sq, cq;
    uint16_t nId = 0, nCqId = 0;
    uint32_t nSqSize = 0, nCqSize = 0;
    uint32_t nTail = 0, nCqHead = 0;
    uint8_t nPhase = 1;
};

class TestHost {
public:
    explicit TestHost(const std::string &szJson = "") {
        nvmesim::SimConfig cfg = nvmesim::defaultConfig();
        std::string err;
        if (!szJson.empty() && !nvmesim::parseConfig(szJson, &cfg, &err))
            throw std::runtime_error(err);
        bus = nvmesim::Bus::create(cfg, &err);
        if (!bus)
            throw std::runtime_error(err);
        c = bus->function(0).pCtrl;
    }
    // A second host on another function of the same bus.
    TestHost(TestHost &other, nvmesim::Controller *pCtrl) : pBus(other.bus.get()), c(pCtrl) {}

    ~TestHost() {
        for (auto &b : bufs)
            dma().free(b.nBus);
    }

    nvmesim::DmaSpace &dma() { return pBus ? pBus->dma() : bus->dma(); }

    Buf alloc(size_t n, bool bAligned = false) {
        Buf b;
        void *p = nullptr;
        if (dma().alloc(n, &p, &b.nBus, bAligned) != 0)
            throw std::runtime_error("dma alloc");
        b.p = static_cast<uint8_t *>(p);
        b.nSize = n;
        bufs.push_back(b);
        return b;
    }

    uint64_t cap() { return c->mmioRead32(0) | (static_cast<uint64_t>(c->mmioRead32(4)) << 32); }
    uint32_t csts() { return c->mmioRead32(0x1C); }
    uint32_t dbStride() { return 4u << ((cap() >> 32) & 0xF); }

    void pciEnable() { c->cfgWrite(4, 0x0006, 2); }

    bool waitCsts(uint32_t nMask, uint32_t nValue, int nMs = 2000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        while (std::chrono::steady_clock::now() < end) {
            if ((csts() & nMask) == nValue)
                return true;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return false;
    }

    // Admin queue set-up and CC.EN; true once CSTS.RDY is 1.
    bool enable(uint32_t nAsq = 16, uint32_t nAcq = 16) {
        pciEnable();
        Queue &a = q[0];
        a = Queue();
        a.sq = alloc(nAsq * 64, true);
        a.cq = alloc(nAcq * 16, true);
        a.nSqSize = nAsq;
        a.nCqSize = nAcq;
        c->mmioWrite32(0x24, ((nAcq - 1) << 16) | (nAsq - 1));
        c->mmioWrite32(0x28, static_cast<uint32_t>(a.sq.nBus));
        c->mmioWrite32(0x2C, static_cast<uint32_t>(a.sq.nBus >> 32));
        c->mmioWrite32(0x30, static_cast<uint32_t>(a.cq.nBus));
        c->mmioWrite32(0x34, static_cast<uint32_t>(a.cq.nBus >> 32));
        c->mmioWrite32(0x14, (6u << 16) | (4u << 20) | 1);
        return waitCsts(1, 1);
    }

    bool disable() {
        c->mmioWrite32(0x14, c->mmioRead32(0x14) & ~1u);
        return waitCsts(1, 0);
    }

    void ring(uint16_t nQid, bool bSq, uint32_t v) {
        c->mmioWrite32(0x1000 + (2 * nQid + (bSq ? 0 : 1)) * dbStride(), v);
    }

    // Puts an entry into the queue and rings the tail doorbell.
    uint16_t push(uint16_t nQid, Sqe e) {
        Queue &x = q[nQid];
        e.setCid(nextCid.fetch_add(1));
        std::memcpy(x.sq.p + x.nTail * 64, &e, 64);
        x.nTail = (x.nTail + 1) % x.nSqSize;
        ring(nQid, true, x.nTail);
        return e.cid();
    }

    // The next completion of the CQ the queue uses, or false on time-out.
    bool reap(uint16_t nQid, Cqe *pOut, int nMs = 2000, bool bRingHead = true) {
        Queue &x = q[nQid];
        Queue &cqOwner = q[x.nCqId];
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        auto *pEntry = reinterpret_cast<uint16_t *>(cqOwner.cq.p + cqOwner.nCqHead * 16 + 14);
        while (true) {
            const uint16_t s = std::atomic_ref<uint16_t>(*pEntry).load(std::memory_order_acquire);
            if ((s & 1) == cqOwner.nPhase)
                break;
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::yield();
        }
        std::memcpy(pOut, cqOwner.cq.p + cqOwner.nCqHead * 16, 16);
        if (++cqOwner.nCqHead == cqOwner.nCqSize) {
            cqOwner.nCqHead = 0;
            cqOwner.nPhase ^= 1;
        }
        if (bRingHead)
            ring(x.nCqId, false, cqOwner.nCqHead);
        return true;
    }

    // Submits and waits; returns the status field (without phase and
    // without the More bit, which failed commands carry; *pOut has it), or
    // 0xFFFF on time-out.
    uint16_t run(uint16_t nQid, const Sqe &e, Cqe *pOut = nullptr, int nMs = 2000) {
        const uint16_t nCid = push(nQid, e);
        Cqe r{};
        if (!reap(nQid, &r, nMs))
            return 0xFFFF;
        EXPECT_EQ(r.cid(), nCid);
        if (pOut)
            *pOut = r;
        return static_cast<uint16_t>(r.status() & ~STATUS_MORE);
    }

    static Sqe cmd(uint8_t nOpcode, uint32_t nNsid = 0) {
        Sqe e{};
        e.setOpc(nOpcode);
        e.setNsid(nNsid);
        return e;
    }

    uint16_t identify(uint8_t nCns, uint32_t nNsid, Buf &b, uint16_t nCntid = 0) {
        Sqe e = cmd(ADMIN_IDENTIFY, nNsid);
        e.setPrp1(b.nBus);
        e.setCdw10(nCns | (static_cast<uint32_t>(nCntid) << 16));
        return run(0, e);
    }

    // Queue creation; the host's record of the queue changes only when
    // the controller accepts it.
    uint16_t createCq(uint16_t nQid, uint32_t nSize) {
        Buf ring = alloc(std::max<size_t>(nSize, 1) * 16, true);
        Sqe e = cmd(ADMIN_CREATE_CQ);
        e.setPrp1(ring.nBus);
        e.setCdw10(((nSize - 1) << 16) | nQid);
        e.setCdw11(1);
        const uint16_t s = run(0, e);
        if (s == 0) {
            Queue &x = q[nQid];
            x.cq = ring;
            x.nCqSize = nSize;
            x.nCqHead = 0;
            x.nPhase = 1;
        }
        return s;
    }

    uint16_t createSq(uint16_t nQid, uint16_t nCqId, uint32_t nSize) {
        Buf ring = alloc(std::max<size_t>(nSize, 1) * 64, true);
        Sqe e = cmd(ADMIN_CREATE_SQ);
        e.setPrp1(ring.nBus);
        e.setCdw10(((nSize - 1) << 16) | nQid);
        e.setCdw11((static_cast<uint32_t>(nCqId) << 16) | 1);
        const uint16_t s = run(0, e);
        if (s == 0) {
            Queue &x = q[nQid];
            x.sq = ring;
            x.nSqSize = nSize;
            x.nTail = 0;
            x.nCqId = nCqId;
            x.nId = nQid;
        }
        return s;
    }

    // Admin bring-up plus one I/O queue pair (id 1).
    bool bringUp(uint32_t nIoSize = 64) {
        return enable() && createCq(1, nIoSize) == 0 && createSq(1, 1, nIoSize) == 0;
    }

    uint16_t rw(bool bWrite, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks, const Buf &b, uint64_t nPrp2 = 0,
                uint16_t nQid = 1) {
        Sqe e = cmd(bWrite ? NVM_WRITE : NVM_READ, nNsid);
        e.setPrp1(b.nBus);
        e.setPrp2(nPrp2);
        e.setCdw10(static_cast<uint32_t>(nSlba));
        e.setCdw11(static_cast<uint32_t>(nSlba >> 32));
        e.setCdw12(nBlocks - 1);
        return run(nQid, e);
    }

    std::unique_ptr<nvmesim::Bus> bus;
    nvmesim::Bus *pBus = nullptr;   // a bus owned by another host
    nvmesim::Controller *c = nullptr;
    Queue q[1025];
    std::vector<Buf> bufs;
    std::atomic<uint16_t> nextCid{1};
};

constexpr uint16_t st(uint16_t nSct, uint16_t nSc, bool bDnr = true) { return makeStatus(nSct, nSc, bDnr); }

} // namespace simtest
