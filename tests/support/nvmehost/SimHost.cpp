#include "SimHost.h"

#include "PciAccess.h"
#include "SimBackend.h"
#include "nvmewire/Opcodes.h"
#include "nvmewire/Pci.h"
#include "nvmewire/Registers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace nvmehost {

using namespace nvmewire;
using Clock = std::chrono::steady_clock;

SimHost::SimHost(const std::string &sJson)
{
    if (sJson.empty())
        unsetenv("KXM_NVME_SIM");
    else
        setenv("KXM_NVME_SIM", sJson.c_str(), 1);
    std::string sErr;
    pOwnPlat = kxmplat::makeSimPlatform(&sErr);
    if (!pOwnPlat)
        throw std::runtime_error(sErr);
    plat = pOwnPlat.get();
    bus = kxmplat::simBusOf(plat);
    openFunction(bus->function(0));
}

SimHost::SimHost(SimHost &other, nvmesim::Controller *pCtrl) : plat(other.plat), bus(other.bus)
{
    for (size_t i = 0; i < bus->functionCount(); ++i) {
        if (bus->function(i).pCtrl == pCtrl) {
            openFunction(bus->function(i));
            return;
        }
    }
    throw std::runtime_error("the controller is not on this bus");
}

void SimHost::openFunction(const nvmesim::BusFunction &f)
{
    slot = kxmplat::PciSlot{f.nDomain, f.nBus, f.nDevice, f.nFunction};
    c = f.pCtrl;
    if (plat->openDevice(slot, &pDev) != 0)
        throw std::runtime_error("cannot open the simulated function");
}

SimHost::~SimHost()
{
    ctl.reset();
    vBufs.clear();
    if (pDev)
        plat->closeDevice(pDev);
}

SimBuffer SimHost::alloc(size_t nBytes, bool bPageAligned)
{
    auto m = std::make_unique<DmaMemory>();
    std::string sErr;
    if (!m->allocate(*plat, pDev, nBytes, bPageAligned ? 4096 : 0, &sErr))
        throw std::runtime_error(sErr);
    SimBuffer b{m->host(), m->bus(), m->size()};
    vBufs.push_back(std::move(m));
    return b;
}

uint64_t SimHost::cap() { return c->mmioRead32(REG_CAP) | (uint64_t(c->mmioRead32(REG_CAP + 4)) << 32); }

uint32_t SimHost::csts() { return c->mmioRead32(REG_CSTS); }

uint32_t SimHost::dbStride() { return Cap{cap()}.doorbellStrideBytes(); }

void SimHost::pciEnable() { cfgWrite(*plat, slot, pci::CFG_COMMAND, pci::CMD_MEMORY | pci::CMD_BUS_MASTER, 2); }

bool SimHost::waitCsts(uint32_t nMask, uint32_t nValue, int nMs)
{
    const auto tEnd = Clock::now() + std::chrono::milliseconds(nMs);
    while (Clock::now() < tEnd) {
        if ((csts() & nMask) == nValue)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

bool SimHost::enable(uint32_t nAsq, uint32_t nAcq)
{
    pciEnable();
    std::string sErr;
    if (!ctl) {
        ctl = HostController::open(*plat, slot, &sErr);
        if (!ctl)
            throw std::runtime_error(sErr);
    }
    return ctl->bringUp(nAsq, nAcq, &sErr, 2000);
}

bool SimHost::disable()
{
    if (!ctl) {
        c->mmioWrite32(REG_CC, Cc{c->mmioRead32(REG_CC)}.withEn(false).raw);
        return waitCsts(CSTS_RDY, 0);
    }
    return ctl->disable(nullptr);
}

bool SimHost::bringUp(uint32_t nIoSize)
{
    return enable() && createCq(1, nIoSize) == 0 && createSq(1, 1, nIoSize) == 0;
}

void SimHost::ring(uint16_t nQid, bool bSq, uint32_t nValue)
{
    const uint32_t nStride = dbStride();
    c->mmioWrite32(bSq ? sqTailDoorbell(nQid, nStride) : cqHeadDoorbell(nQid, nStride), nValue);
}

uint16_t SimHost::push(uint16_t nQid, Sqe e)
{
    HostSq *pSq = ctl ? ctl->sq(nQid) : nullptr;
    if (!pSq) {
        ADD_FAILURE() << "no submission queue " << nQid;
        return 0xFFFF;
    }
    EXPECT_TRUE(ctl->submit(*pSq, e)) << "submission queue " << nQid << " is full";
    return e.cid();
}

bool SimHost::reap(uint16_t nQid, Cqe *pOut, int nMs, bool bRingHead)
{
    HostSq *pSq = ctl ? ctl->sq(nQid) : nullptr;
    HostCq *pCq = pSq ? ctl->cq(pSq->nCqid) : nullptr;
    if (!pCq) {
        ADD_FAILURE() << "no completion queue for submission queue " << nQid;
        return false;
    }
    // A completion that run() set aside while waiting for its own comes
    // first.
    auto &strays = ctl->strays();
    for (auto it = strays.begin(); it != strays.end(); ++it) {
        HostSq *pFrom = ctl->sq(it->sqid());
        if (pFrom && pFrom->nCqid == pSq->nCqid) {
            *pOut = *it;
            strays.erase(it);
            return true;
        }
    }
    const auto tEnd = Clock::now() + std::chrono::milliseconds(nMs);
    Completion r;
    while (!ctl->reap(*pCq, &r)) {
        if (Clock::now() > tEnd)
            return false;
        std::this_thread::yield();
    }
    if (bRingHead)
        ctl->ringCq(*pCq);
    *pOut = r;
    return true;
}

uint16_t SimHost::run(uint16_t nQid, const Sqe &e, Cqe *pOut, int nMs)
{
    HostSq *pSq = ctl ? ctl->sq(nQid) : nullptr;
    if (!pSq) {
        ADD_FAILURE() << "no submission queue " << nQid;
        return 0xFFFF;
    }
    const Completion r = ctl->execute(*pSq, e, nMs);
    if (r.bTimedOut)
        return 0xFFFF;
    if (pOut)
        *pOut = r;
    return uint16_t(r.status() & ~STATUS_MORE);
}

uint16_t SimHost::identify(uint8_t nCns, uint32_t nNsid, SimBuffer &b, uint16_t nCntid)
{
    Sqe e = cmd(ADMIN_IDENTIFY, nNsid);
    e.setPrp1(b.nBus);
    e.setCdw10(nCns | (uint32_t(nCntid) << 16));
    return run(0, e);
}

namespace {
uint16_t statusOf(const Completion &r) { return r.bTimedOut ? 0xFFFF : uint16_t(r.status() & ~STATUS_MORE); }
} // namespace

uint16_t SimHost::createCq(uint16_t nQid, uint32_t nSize)
{
    if (!ctl)
        return 0xFFFF;
    return statusOf(ctl->createIoCq(nQid, nSize));
}

uint16_t SimHost::createSq(uint16_t nQid, uint16_t nCqId, uint32_t nSize)
{
    if (!ctl)
        return 0xFFFF;
    return statusOf(ctl->createIoSq(nQid, nSize, nCqId));
}

uint16_t SimHost::rw(bool bWrite, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks, const SimBuffer &b,
                     uint64_t nPrp2, uint16_t nQid)
{
    Sqe e = cmd(bWrite ? NVM_WRITE : NVM_READ, nNsid);
    e.setPrp1(b.nBus);
    e.setPrp2(nPrp2);
    e.setCdw10(uint32_t(nSlba));
    e.setCdw11(uint32_t(nSlba >> 32));
    e.setCdw12(nBlocks - 1);
    return run(nQid, e);
}

Cqe *SimHost::cqRing(uint16_t nCqId)
{
    HostCq *pCq = ctl ? ctl->cq(nCqId) : nullptr;
    return pCq ? reinterpret_cast<Cqe *>(pCq->ring.host()) : nullptr;
}

uint32_t SimHost::cqHead(uint16_t nCqId)
{
    HostCq *pCq = ctl ? ctl->cq(nCqId) : nullptr;
    return pCq ? pCq->nHead : 0;
}

} // namespace nvmehost
