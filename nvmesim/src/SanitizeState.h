// The NVM subsystem's sanitize state, shared by all its controllers: the
// operation in progress and its timing, the outcome of the most recent one
// (the Sanitize Status log page), the failure mode that keeps commands
// restricted after a failed operation, and Global Data Erased. A
// controller reset leaves it alone; the operation carries on.
//
// Every controller's worker calls poll() (and sleeps no longer than
// deadline()), so whichever comes first ends the operation: the user data
// of every namespace is erased or overwritten, and each controller gets
// the Sanitize Operation Completed event.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include <nvme/types.h>

namespace nvmesim {

class Subsystem;
using Clock = std::chrono::steady_clock;

class SanitizeState {
public:
    // Bits of gate(): commands are restricted (an operation in progress,
    // or a failed one not recovered from); Global Data Erased is set and
    // the next write clears it.
    static constexpr uint32_t kRestricted = 1;
    static constexpr uint32_t kErasedArmed = 2;

    // bErased: nothing was written yet (Global Data Erased to begin with).
    SanitizeState(Subsystem &subsys, bool bErased);

    // Nonzero when a command path must look closer; one relaxed load.
    uint32_t gate() const { return m_nGate.load(std::memory_order_relaxed); }
    // The status a restricted command gets now: Sanitize In Progress,
    // Sanitize Failed, or 0 when nothing is restricted.
    uint16_t restriction() const;
    bool inProgress() const;
    // User data was written: Global Data Erased clears.
    void noteWrite();

    // Starts an operation (the command's CDW10, already checked, and the
    // overwrite pattern); a status.
    uint16_t start(uint32_t nCdw10, uint32_t nPattern);
    // Exit Failure Mode action; a status.
    uint16_t exitFailureMode();

    // End of the operation in progress, max when none.
    Clock::time_point deadline() const {
        return Clock::time_point(Clock::duration(m_nDeadline.load(std::memory_order_relaxed)));
    }
    // Ends the operation in progress when its time has come.
    void poll(Clock::time_point now);
    void fillLog(nvme_sanitize_log_page &log, Clock::time_point now) const;

private:
    enum class Phase { Idle, InProgress, Failed };
    void finishLocked();
    bool eraseAll(uint8_t nAction, bool bDeallocate, uint32_t nPattern, uint32_t nPasses, bool bInvert);
    void setDeadline(Clock::time_point t) { m_nDeadline.store(t.time_since_epoch().count(), std::memory_order_relaxed); }

    Subsystem &m_subsys;
    std::atomic<uint32_t> m_nGate{0};
    std::atomic<Clock::rep> m_nDeadline;
    mutable std::mutex m_mutex;   // everything below
    Phase m_phase = Phase::Idle;
    bool m_bUnrestrictedExit = false;   // AUSE of the failed operation
    uint16_t m_nSstat = 0;              // status and passes of the most recent operation
    bool m_bGlobalErased = false;
    uint32_t m_nCdw10 = 0;
    uint32_t m_nPattern = 0;
    Clock::time_point m_start;
    Clock::time_point m_end;
    uint32_t m_nFailuresLeft = 0;
};

} // namespace nvmesim
