// Trace records: one per submitted command in a ring per SQ, one per reset,
// power or shutdown event in a ring per controller. Each slot has a lock of
// its own, held only for the copy in or out of the slot, so completions never
// wait for another queue.
#pragma once
#include <atomic>
#include <cstdint>
#include <thread>

#include "nvmeTime.h"
#include "nvmewire/Command.h"

namespace kxmnvme {

constexpr uint32_t NVME_CMD_TRACE_NUM = 10000;
constexpr uint32_t NVME_EVT_TRACE_NUM = 1024;

// A lock for one slot: held for a few dozen instructions (a copy in or out
// of the slot). A waiter spins briefly, then yields its time slice, so a
// holder that was preempted on a machine with few cores gets the CPU back
// instead of being starved by the waiter.
class NvmeSlotLock {
public:
    void lock()
    {
        uint32_t nSpins = 0;
        while (m_flag.test_and_set(std::memory_order_acquire))
            while (m_flag.test(std::memory_order_relaxed))
                if (++nSpins > kSpinLimit)
                    std::this_thread::yield();
    }
    void unlock() { m_flag.clear(std::memory_order_release); }

private:
    static constexpr uint32_t kSpinLimit = 64;
    std::atomic_flag m_flag = ATOMIC_FLAG_INIT;
};

enum : uint8_t {
    NVME_TRACE_COMPLETED = 0x01,
    NVME_TRACE_IN_USE = 0x02,
};

struct NvmeCmdTraceRec {
    nvmewire::Sqe cmd{};          // as submitted
    sysTimeVal_t tStart = 0;
    sysTimeVal_t tEnd = 0;        // NVME_TIME_NOT_FINISHED until completion
    uint32_t nDw0 = 0;            // completion dword 0
    uint8_t nFlags = 0;
    uint8_t nCmdSet = 0;          // 0 NVM/admin, 1 key-value, 2 zoned
    uint16_t nStatus = 0;         // status code and type, 15 bits
    mutable NvmeSlotLock lock;
};

struct NvmeCmdTraceMgr {
    NvmeCmdTraceRec recs[NVME_CMD_TRACE_NUM];
    // Next slot to write: written under the SQ's queue lock; atomic so that
    // a dump that could not have the lock still reads it safely.
    std::atomic<uint32_t> nNext{0};
};

struct NvmeEvtTraceRec {
    mutable NvmeSlotLock lock;
    uint32_t nEvent = 0;
    uint32_t nValue = 0;
    uint8_t bInUse = 0;
    uint8_t bTimedOut = 0;
    sysTimeVal_t tStart = 0;
    sysTimeVal_t tEnd = 0;
};

struct NvmeEvtTraceMgr {
    NvmeEvtTraceRec recs[NVME_EVT_TRACE_NUM];
    uint32_t nNext = 0;           // next slot to write (under the controller's lock)
};

} // namespace kxmnvme
