#include "HostController.h"

#include "PciAccess.h"
#include "nvmewire/Opcodes.h"

#include <nvme/types.h>

#include <chrono>
#include <thread>

namespace nvmehost {

using namespace nvmewire;
using Clock = std::chrono::steady_clock;

HostController::HostController(kxmplat::Platform &p, kxmplat::Device *d, const kxmplat::PciSlot &s)
    : plat(p), pDev(d), pciSlot(s)
{
}

std::unique_ptr<HostController> HostController::open(kxmplat::Platform &plat, const kxmplat::PciSlot &slot,
                                                     std::string *pErr)
{
    if (!pcieInitialise(plat, slot)) {
        if (pErr)
            *pErr = "function has no power management capability";
        return nullptr;
    }
    kxmplat::Device *pDev = nullptr;
    if (plat.openDevice(slot, &pDev) != 0 || !pDev) {
        if (pErr)
            *pErr = "cannot open the PCI function";
        return nullptr;
    }
    std::unique_ptr<HostController> c(new HostController(plat, pDev, slot));
    c->refreshCaps();
    return c;
}

HostController::~HostController()
{
    forgetQueues();
    if (pDev)
        plat.closeDevice(pDev);
}

void HostController::forgetQueues()
{
    sqs.clear();
    cqs.clear();
    vStrays.clear();
}

uint32_t HostController::reg32(uint32_t nOffset) { return plat.mmioRead32(pDev, nOffset); }

void HostController::setReg32(uint32_t nOffset, uint32_t nValue) { plat.mmioWrite32(pDev, nOffset, nValue); }

uint64_t HostController::reg64(uint32_t nOffset)
{
    uint64_t nLo = reg32(nOffset);
    return nLo | (uint64_t(reg32(nOffset + 4)) << 32);
}

void HostController::setReg64(uint32_t nOffset, uint64_t nValue)
{
    setReg32(nOffset, uint32_t(nValue));
    setReg32(nOffset + 4, uint32_t(nValue >> 32));
}

void HostController::refreshCaps()
{
    cap = Cap{reg64(REG_CAP)};
    nPageSize = cap.minPageSize();
}

bool HostController::waitReady(bool bReady, int nTimeoutMs)
{
    int nMs = nTimeoutMs > 0 ? nTimeoutMs : int(cap.timeoutMs());
    auto tEnd = Clock::now() + std::chrono::milliseconds(nMs);
    for (;;) {
        uint32_t nCsts = reg32(REG_CSTS);
        if (nCsts != 0xFFFFFFFFu && Csts{nCsts}.rdy() == bReady)
            return true;
        if (Clock::now() >= tEnd)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

bool HostController::disable(std::string *pErr)
{
    forgetQueues();
    uint32_t nCc = reg32(REG_CC);
    if (nCc & CC_EN)
        setReg32(REG_CC, nCc & ~CC_EN);
    if (!waitReady(false)) {
        if (pErr)
            *pErr = "CSTS.RDY did not clear within CAP.TO";
        return false;
    }
    return true;
}

bool HostController::makeQueueRing(DmaMemory *pRing, size_t nBytes)
{
    // Rings start on a memory page; round the size up to whole pages.
    size_t nRounded = (nBytes + nPageSize - 1) / nPageSize * nPageSize;
    return pRing->allocate(plat, pDev, nRounded, nPageSize, nullptr);
}

bool HostController::bringUp(uint32_t nAsqSize, uint32_t nAcqSize, std::string *pErr, int nTimeoutMs, uint32_t nCss)
{
    if (!disable(pErr))
        return false;
    auto pSq = std::make_unique<HostSq>();
    auto pCq = std::make_unique<HostCq>();
    if (!makeQueueRing(&pSq->ring, size_t(nAsqSize) * sizeof(Sqe)) ||
        !makeQueueRing(&pCq->ring, size_t(nAcqSize) * sizeof(Cqe))) {
        if (pErr)
            *pErr = "cannot allocate the admin queues";
        return false;
    }
    pSq->nQid = 0;
    pSq->nCqid = 0;
    pSq->nSize = nAsqSize;
    pSq->nDbOffset = sqDoorbell(0);
    pCq->nQid = 0;
    pCq->nSize = nAcqSize;
    pCq->nDbOffset = cqDoorbell(0);

    setReg32(REG_AQA, Aqa::make(nAsqSize, nAcqSize).raw);
    setReg64(REG_ASQ, pSq->ring.bus());
    setReg64(REG_ACQ, pCq->ring.bus());
    uint32_t nMps = 0;
    while ((size_t(4096) << nMps) < nPageSize)
        ++nMps;
    const Cc cc = Cc::make(nMps, nCss, CC_AMS_RR, false);
    setReg32(REG_CC, cc.raw);
    setReg32(REG_CC, cc.withEn(true).raw);
    sqs[0] = std::move(pSq);
    cqs[0] = std::move(pCq);
    if (!waitReady(true, nTimeoutMs)) {
        if (pErr)
            *pErr = "CSTS.RDY did not set within CAP.TO (CSTS=" + std::to_string(reg32(REG_CSTS)) + ")";
        return false;
    }
    return true;
}

bool HostController::shutdown(int nTimeoutMs, std::string *pErr)
{
    setReg32(REG_CC, Cc{reg32(REG_CC)}.withShn(CC_SHN_NORMAL).raw);
    auto tEnd = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        uint32_t nShst = Csts{reg32(REG_CSTS)}.shst();
        if (nShst == SHST_COMPLETE)
            return true;
        if (Clock::now() >= tEnd) {
            if (pErr)
                *pErr = "shutdown did not complete (SHST=" + std::to_string(nShst) + ")";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

HostSq *HostController::sq(uint16_t nQid)
{
    auto it = sqs.find(nQid);
    return it == sqs.end() ? nullptr : it->second.get();
}

HostCq *HostController::cq(uint16_t nQid)
{
    auto it = cqs.find(nQid);
    return it == cqs.end() ? nullptr : it->second.get();
}

bool HostController::reap(HostCq &q, Completion *pOut)
{
    if (!q.pop(pOut))
        return false;
    if (HostSq *pSq = sq(pOut->sqid()); pSq && pOut->sqhd() < pSq->nSize)
        pSq->nHead = pOut->sqhd();
    return true;
}

bool HostController::submit(HostSq &q, Sqe &cmd)
{
    cmd.setCid(q.nNextCid++);
    if (!q.push(cmd))
        return false;
    ringSq(q);
    return true;
}

Completion HostController::execute(HostSq &q, Sqe cmd, int nTimeoutMs)
{
    HostCq *pCq = cq(q.nCqid);
    if (!pCq || !submit(q, cmd)) {
        Completion c;
        c.bTimedOut = true;
        return c;
    }
    return waitCompletion(*pCq, q.nQid, cmd.cid(), nTimeoutMs);
}

Completion HostController::waitCompletion(HostCq &q, uint16_t nSqId, uint16_t nCid, int nTimeoutMs)
{
    for (auto it = vStrays.begin(); it != vStrays.end(); ++it) {
        if (it->cid() == nCid && it->sqid() == nSqId) {
            Completion c = *it;
            vStrays.erase(it);
            return c;
        }
    }
    Completion c;
    auto tEnd = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        bool bAny = false;
        while (reap(q, &c)) {
            bAny = true;
            if (c.cid() == nCid && c.sqid() == nSqId) {
                ringCq(q);
                return c;
            }
            vStrays.push_back(c);
        }
        if (bAny)
            ringCq(q);
        if (Clock::now() >= tEnd) {
            Completion t;
            t.setCid(nCid);
            t.setSqid(nSqId);
            t.bTimedOut = true;
            return t;
        }
        std::this_thread::yield();
    }
}

Completion HostController::createIoCq(uint16_t nQid, uint32_t nEntries, bool bContiguous)
{
    auto p = std::make_unique<HostCq>();
    if (nEntries == 0 || !makeQueueRing(&p->ring, size_t(nEntries) * sizeof(Cqe))) {
        // Still send the command so that the controller judges the size.
        makeQueueRing(&p->ring, nPageSize);
    }
    p->nQid = nQid;
    p->nSize = nEntries;
    p->nDbOffset = cqDoorbell(nQid);
    Sqe cmd = Sqe::make(ADMIN_CREATE_CQ);
    cmd.setPrp1(p->ring.bus());
    cmd.setCdw10(((nEntries - 1) << 16) | nQid);
    cmd.setCdw11(bContiguous ? 1u : 0u);     // PC; interrupts off
    Completion c = admin(cmd);
    if (c.ok())
        cqs[nQid] = std::move(p);
    return c;
}

Completion HostController::createIoSq(uint16_t nQid, uint32_t nEntries, uint16_t nCqid, bool bContiguous)
{
    auto p = std::make_unique<HostSq>();
    if (nEntries == 0 || !makeQueueRing(&p->ring, size_t(nEntries) * sizeof(Sqe)))
        makeQueueRing(&p->ring, nPageSize);
    p->nQid = nQid;
    p->nCqid = nCqid;
    p->nSize = nEntries;
    p->nDbOffset = sqDoorbell(nQid);
    Sqe cmd = Sqe::make(ADMIN_CREATE_SQ);
    cmd.setPrp1(p->ring.bus());
    cmd.setCdw10(((nEntries - 1) << 16) | nQid);
    cmd.setCdw11((uint32_t(nCqid) << 16) | (bContiguous ? 1u : 0u));
    Completion c = admin(cmd);
    if (c.ok())
        sqs[nQid] = std::move(p);
    return c;
}

Completion HostController::deleteIoSq(uint16_t nQid)
{
    Sqe cmd = Sqe::make(ADMIN_DELETE_SQ);
    cmd.setCdw10(nQid);
    Completion c = admin(cmd);
    if (c.ok() && nQid != 0)
        sqs.erase(nQid);
    return c;
}

Completion HostController::deleteIoCq(uint16_t nQid)
{
    Sqe cmd = Sqe::make(ADMIN_DELETE_CQ);
    cmd.setCdw10(nQid);
    Completion c = admin(cmd);
    if (c.ok() && nQid != 0)
        cqs.erase(nQid);
    return c;
}

Completion HostController::setQueueCount(uint32_t nSq, uint32_t nCq, uint32_t *pSqGranted, uint32_t *pCqGranted)
{
    Sqe cmd = Sqe::make(ADMIN_SET_FEATURES);
    cmd.setCdw10(NVME_FEAT_FID_NUM_QUEUES);
    cmd.setCdw11(((nCq - 1) << 16) | ((nSq - 1) & 0xFFFF));
    Completion c = admin(cmd);
    if (c.ok()) {
        if (pSqGranted)
            *pSqGranted = (c.dw0() & 0xFFFF) + 1;
        if (pCqGranted)
            *pCqGranted = (c.dw0() >> 16) + 1;
    }
    return c;
}

Completion HostController::identify(uint8_t nCns, uint32_t nNsid, uint16_t nCntid, void *pOut4k)
{
    DmaMemory buf;
    if (!buf.allocate(plat, pDev, 4096, nPageSize, nullptr)) {
        Completion c;
        c.bTimedOut = true;
        return c;
    }
    Sqe cmd = Sqe::make(ADMIN_IDENTIFY, nNsid);
    cmd.setPrp1(buf.bus());
    cmd.setCdw10((uint32_t(nCntid) << 16) | nCns);
    Completion c = admin(cmd);
    if (pOut4k)
        std::memcpy(pOut4k, buf.host(), 4096);
    return c;
}

bool HostController::allocData(size_t nBytes, size_t nAlign, DmaMemory *pOut, std::string *pErr)
{
    return pOut->allocate(plat, pDev, nBytes, nAlign, pErr);
}

} // namespace nvmehost
