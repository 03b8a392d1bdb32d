// The host driver on a simulated bus, for the simulator's own tests: a
// HostController on the first function of a sim platform built from a JSON
// configuration, with the simulated controller and bus at hand (fault
// injection, resets, counters) and small synchronous helpers that report
// the status field the way those tests compare it.
//
//   SimHost h(R"({"devices":[{"namespaces":[{"nsid":1,"size":"1M"}]}]})");
//   ASSERT_TRUE(h.bringUp());                  // admin queues + I/O pair 1
//   SimBuffer b = h.alloc(4096);
//   EXPECT_EQ(h.rw(true, 1, 0, 8, b), 0);
//   h.c->faults().injectStatus(false, nvmewire::NVM_READ, 1, 0x0281);
#pragma once
#include "DmaMemory.h"
#include "HostController.h"
#include "Platform.h"
#include "nvmesim/Bus.h"
#include "nvmewire/Command.h"
#include "nvmewire/Completion.h"
#include "nvmewire/Identify.h"
#include "nvmewire/Opcodes.h"
#include "nvmewire/Pci.h"
#include "nvmewire/Registers.h"
#include "nvmewire/Status.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace nvmehost {

// A DMA buffer of the host as the tests touch it.
struct SimBuffer {
    uint8_t *p = nullptr;
    uint64_t nBus = 0;
    size_t nSize = 0;
};

class SimHost {
public:
    // Empty: the simulator's default configuration. Throws
    // std::runtime_error when the configuration is refused.
    explicit SimHost(const std::string &sJson = "");
    // A second host on another function (controller) of the same bus.
    SimHost(SimHost &other, nvmesim::Controller *pCtrl);
    ~SimHost();
    SimHost(const SimHost &) = delete;
    SimHost &operator=(const SimHost &) = delete;

    // DMA memory that lives as long as the host, zeroed; bPageAligned puts
    // it on a page boundary whatever in-page offset the bus applies.
    SimBuffer alloc(size_t nBytes, bool bPageAligned = false);

    uint64_t cap();
    uint32_t csts();
    uint32_t dbStride();
    // Memory space and bus master on (the command register as a whole).
    void pciEnable();
    bool waitCsts(uint32_t nMask, uint32_t nValue, int nMs = 2000);

    // Admin queues of the given sizes and CC.EN; true once CSTS.RDY is 1
    // (at most 2 s).
    bool enable(uint32_t nAsq = 16, uint32_t nAcq = 16);
    bool disable();
    // Admin bring-up plus I/O queue pair 1 of nIoSize entries.
    bool bringUp(uint32_t nIoSize = 64);

    // A raw doorbell write: the SQ tail or the CQ head of queue nQid.
    void ring(uint16_t nQid, bool bSq, uint32_t nValue);
    // Puts the command into SQ nQid (the host picks the CID) and rings the
    // tail doorbell; returns the CID.
    uint16_t push(uint16_t nQid, nvmewire::Sqe e);
    // The next completion on the CQ that SQ nQid reports to, or false on
    // time-out; bRingHead writes the CQ head doorbell after it.
    bool reap(uint16_t nQid, nvmewire::Cqe *pOut, int nMs = 2000, bool bRingHead = true);
    // Submits and waits: the status field without phase and without the
    // More bit (failed commands carry it; *pOut has the whole entry), or
    // 0xFFFF on time-out.
    uint16_t run(uint16_t nQid, const nvmewire::Sqe &e, nvmewire::Cqe *pOut = nullptr, int nMs = 2000);

    static nvmewire::Sqe cmd(uint8_t nOpc, uint32_t nNsid = 0) { return nvmewire::Sqe::make(nOpc, nNsid); }
    uint16_t identify(uint8_t nCns, uint32_t nNsid, SimBuffer &b, uint16_t nCntid = 0);
    // Queue creation (contiguous, interrupts off); the host keeps the
    // queue only when the controller accepts it. Status as run() gives it.
    uint16_t createCq(uint16_t nQid, uint32_t nSize);
    uint16_t createSq(uint16_t nQid, uint16_t nCqId, uint32_t nSize);
    uint16_t rw(bool bWrite, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks, const SimBuffer &b,
                uint64_t nPrp2 = 0, uint16_t nQid = 1);

    // Host view of a CQ (by its own id): ring and head.
    nvmewire::Cqe *cqRing(uint16_t nCqId);
    uint32_t cqHead(uint16_t nCqId);
    nvmesim::DmaSpace &dma() { return bus->dma(); }

    kxmplat::Platform *plat = nullptr;
    kxmplat::PciSlot slot;
    nvmesim::Bus *bus = nullptr;
    nvmesim::Controller *c = nullptr;
    std::unique_ptr<HostController> ctl;

private:
    void openFunction(const nvmesim::BusFunction &f);

    std::unique_ptr<kxmplat::Platform> pOwnPlat;   // null for a second host
    kxmplat::Device *pDev = nullptr;      // for the buffers
    std::vector<std::unique_ptr<DmaMemory>> vBufs;
};

// A status field as run() reports failures: DNR set unless told otherwise.
constexpr uint16_t st(uint16_t nSct, uint16_t nSc, bool bDnr = true) { return nvmewire::makeStatus(nSct, nSc, bDnr); }

} // namespace nvmehost
