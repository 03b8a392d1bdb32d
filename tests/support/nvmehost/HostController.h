// A minimal host driver for one NVMe controller reached through the
// platform layer: bring-up, admin and I/O queues, synchronous commands.
// Single-threaded by design: one test or benchmark loop drives it.
#pragma once
#include "DmaMemory.h"
#include "HostQueues.h"
#include "Platform.h"
#include "nvmewire/Command.h"
#include "nvmewire/Registers.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace nvmehost {

class HostController {
public:
    // Opens the function, puts it in D0 and enables memory space and bus
    // mastering, and decodes CAP. Null and *pErr on failure.
    static std::unique_ptr<HostController> open(kxmplat::Platform &plat, const kxmplat::PciSlot &slot,
                                                std::string *pErr);
    ~HostController();
    HostController(const HostController &) = delete;
    HostController &operator=(const HostController &) = delete;

    kxmplat::Platform &platform() { return plat; }
    kxmplat::Device *device() { return pDev; }
    const kxmplat::PciSlot &slot() const { return pciSlot; }
    const nvmewire::Cap &caps() const { return cap; }
    size_t pageSize() const { return nPageSize; }

    uint32_t reg32(uint32_t nOffset);
    void setReg32(uint32_t nOffset, uint32_t nValue);
    uint64_t reg64(uint32_t nOffset);
    void setReg64(uint32_t nOffset, uint64_t nValue);
    // Re-reads CAP (after a reset, say).
    void refreshCaps();

    // Waits until CSTS.RDY equals bReady, at most CAP.TO (or nTimeoutMs
    // when positive).
    bool waitReady(bool bReady, int nTimeoutMs = 0);
    // CC.EN = 0 and wait for RDY = 0. Forgets every host queue.
    bool disable(std::string *pErr);
    // Disable, admin queues of the given sizes, CC (command sets nCss),
    // enable, wait for RDY (at most CAP.TO, or nTimeoutMs when positive).
    bool bringUp(uint32_t nAsqSize, uint32_t nAcqSize, std::string *pErr, int nTimeoutMs = 0,
                 uint32_t nCss = nvmewire::CC_CSS_NVM);
    // Normal shutdown through CC.SHN; true when SHST reports complete.
    bool shutdown(int nTimeoutMs, std::string *pErr);

    HostSq &adminSq() { return *sqs.at(0); }
    HostCq &adminCq() { return *cqs.at(0); }
    HostSq *sq(uint16_t nQid);
    HostCq *cq(uint16_t nQid);

    uint32_t sqDoorbell(uint16_t nQid) const { return nvmewire::sqTailDoorbell(nQid, cap.doorbellStrideBytes()); }
    uint32_t cqDoorbell(uint16_t nQid) const { return nvmewire::cqHeadDoorbell(nQid, cap.doorbellStrideBytes()); }
    void ringSq(HostSq &q) { setReg32(q.nDbOffset, q.nTail); }
    void ringCq(HostCq &q) { setReg32(q.nDbOffset, q.nHead); }

    // Takes one completion off the CQ if posted, updating the head of the
    // SQ it reports. No doorbell write.
    bool reap(HostCq &q, Completion *pOut);

    // Gives the command the SQ's next CID, pushes it and rings the tail
    // doorbell. False when the SQ is full.
    bool submit(HostSq &q, nvmewire::Sqe &cmd);
    // Submits and waits for the completion carrying its CID; writes the CQ
    // head doorbell after it. Completions for other commands are kept in
    // strays(). A command without completion in time comes back with
    // bTimedOut set.
    Completion execute(HostSq &q, nvmewire::Sqe cmd, int nTimeoutMs = 5000);
    // Waits for the completion of (SQ id, CID) on a CQ, looking at the
    // strays first; rings the CQ head doorbell after what it took.
    Completion waitCompletion(HostCq &q, uint16_t nSqId, uint16_t nCid, int nTimeoutMs = 5000);
    Completion admin(const nvmewire::Sqe &cmd, int nTimeoutMs = 5000) { return execute(adminSq(), cmd, nTimeoutMs); }
    std::vector<Completion> &strays() { return vStrays; }

    // Queue management. Create* allocate the ring (page aligned), issue the
    // command and keep the queue on success; the completion is returned
    // either way.
    Completion createIoCq(uint16_t nQid, uint32_t nEntries, bool bContiguous = true);
    Completion createIoSq(uint16_t nQid, uint32_t nEntries, uint16_t nCqid, bool bContiguous = true);
    Completion deleteIoSq(uint16_t nQid);
    Completion deleteIoCq(uint16_t nQid);
    // Set Features, Number of Queues (counts are 1-based). On success the
    // granted counts come back through the pointers.
    Completion setQueueCount(uint32_t nSq, uint32_t nCq, uint32_t *pSqGranted, uint32_t *pCqGranted);

    // Identify into a 4 KiB buffer.
    Completion identify(uint8_t nCns, uint32_t nNsid, uint16_t nCntid, void *pOut4k);

    // A DMA buffer for data, owned by the controller object.
    bool allocData(size_t nBytes, size_t nAlign, DmaMemory *pOut, std::string *pErr);

private:
    HostController(kxmplat::Platform &p, kxmplat::Device *d, const kxmplat::PciSlot &s);
    bool makeQueueRing(DmaMemory *pRing, size_t nBytes);
    void forgetQueues();

    kxmplat::Platform &plat;
    kxmplat::Device *pDev;
    kxmplat::PciSlot pciSlot;
    nvmewire::Cap cap;
    size_t nPageSize = 4096;
    std::map<uint16_t, std::unique_ptr<HostSq>> sqs;
    std::map<uint16_t, std::unique_ptr<HostCq>> cqs;
    std::vector<Completion> vStrays;
};

} // namespace nvmehost
