// Host-side submission and completion rings in DMA memory. A queue only
// moves its own indices; the controller object rings the doorbells.
#pragma once
#include "DmaMemory.h"
#include "nvmewire/Command.h"
#include "nvmewire/Completion.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace nvmehost {

// One completion as the host took it off a completion queue (the entry
// itself), or a time-out when none came.
struct Completion : nvmewire::Cqe {
    bool bTimedOut = false;

    Completion() : nvmewire::Cqe{} {}
    bool ok() const { return !bTimedOut && status() == 0; }
    bool is(uint8_t nSct, uint8_t nSc) const { return !bTimedOut && sct() == nSct && sc() == nSc; }
};

class HostCq {
public:
    uint16_t nQid = 0;
    uint32_t nSize = 0;         // entries
    uint32_t nHead = 0;
    bool bPhase = true;         // phase tag a new entry carries
    uint32_t nDbOffset = 0;     // head doorbell
    DmaMemory ring;

    // The completion at the head, if the controller has posted it.
    bool peek(Completion *pOut)
    {
        uint8_t *pEntry = ring.host() + size_t(nHead) * sizeof(nvmewire::Cqe);
        // The status half-word with the phase tag is published last (a
        // release store); everything before it is valid once the tag reads
        // as expected.
        uint16_t nStatusPhase =
            std::atomic_ref<uint16_t>(*reinterpret_cast<uint16_t *>(pEntry + nvmewire::CQE_STATUS_OFFSET))
                .load(std::memory_order_acquire);
        if (bool(nStatusPhase & 1) != bPhase)
            return false;
        nvmewire::Cqe e;
        std::memcpy(&e, pEntry, sizeof e);
        e.dw[3] = (e.dw[3] & 0xFFFFu) | (uint32_t(nStatusPhase) << 16);
        static_cast<nvmewire::Cqe &>(*pOut) = e;
        pOut->bTimedOut = false;
        return true;
    }

    // Takes the head entry and advances the head (flipping the phase on a
    // wrap). The caller writes the head doorbell.
    bool pop(Completion *pOut)
    {
        if (!peek(pOut))
            return false;
        if (++nHead == nSize) {
            nHead = 0;
            bPhase = !bPhase;
        }
        return true;
    }
};

class HostSq {
public:
    uint16_t nQid = 0;
    uint16_t nCqid = 0;
    uint32_t nSize = 0;         // entries
    uint32_t nTail = 0;
    uint32_t nHead = 0;         // as last reported by a completion
    uint32_t nDbOffset = 0;     // tail doorbell
    uint16_t nNextCid = 0;
    DmaMemory ring;

    bool full() const { return (nTail + 1) % nSize == nHead; }
    uint32_t freeSlots() const { return nSize - 1 - (nTail + nSize - nHead) % nSize; }

    // Copies the entry to the tail slot; false when the ring is full.
    bool push(const nvmewire::Sqe &cmd)
    {
        if (full())
            return false;
        std::memcpy(ring.host() + size_t(nTail) * sizeof cmd, &cmd, sizeof cmd);
        nTail = (nTail + 1) % nSize;
        return true;
    }
};

} // namespace nvmehost
