// Fault injection for one controller. Rules come from the configuration
// and can be changed at any time from a test through Controller::faults().
// Every function is thread-safe.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <vector>

#include "nvmesim/Config.h"

namespace nvmesim {

class FaultInjector {
public:
    explicit FaultInjector(const FaultConfig &cfg = FaultConfig());

    // Every command completes after a latency drawn uniformly from
    // [nMinUs, nMaxUs] (fixed when equal; 0, 0 turns it off).
    void setLatency(uint32_t nMinUs, uint32_t nMaxUs);
    // While set, completions are kept back (the command stays outstanding,
    // as for a hung command); releaseWithheld() posts what was kept.
    void setWithholdCompletions(bool b);
    void releaseWithheld();
    // The Nth command (1-based, counted from now) with this opcode on the
    // admin queue (bAdmin) or on the I/O queues completes with nStatus
    // (SCT << 8 | SC) instead of being executed.
    void injectStatus(bool bAdmin, uint8_t nOpcode, uint32_t nNth, uint16_t nStatus);
    // The Nth command with this opcode completes with a CID that matches
    // no outstanding command.
    void injectBogusCid(bool bAdmin, uint8_t nOpcode, uint32_t nNth);
    void setNeverReady(bool b) { m_bNeverReady = b; }
    void setShutdownNeverCompletes(bool b) { m_bShutdownStuck = b; }
    void clear();

    // --- used by the controller ---
    void setWaker(std::function<void()> f) { m_waker = std::move(f); }
    bool neverReady() const { return m_bNeverReady; }
    bool shutdownStuck() const { return m_bShutdownStuck; }
    bool withholding() const { return m_bWithhold.load(std::memory_order_relaxed); }
    uint64_t releaseRequests() const { return m_nReleaseRequests.load(); }
    bool hasLatency() const { return m_nLatMax.load(std::memory_order_relaxed) != 0; }
    uint32_t drawLatencyUs();
    // Called once per executed command; returns true and the status to
    // inject when a status rule fires; *pBogusCid is set when a CID rule
    // fires.
    bool onCommand(bool bAdmin, uint8_t nOpcode, uint16_t *pStatus, bool *pBogusCid);

private:
    struct Rule {
        bool bAdmin;
        uint8_t nOpcode;
        uint32_t nNth;
        uint32_t nSeen;
        bool bCid;
        uint16_t nStatus;
    };
    std::mutex m_mutex;
    std::vector<Rule> m_rules;
    std::atomic<bool> m_bAnyRule{false};
    std::atomic<uint32_t> m_nLatMin{0};
    std::atomic<uint32_t> m_nLatMax{0};
    std::atomic<bool> m_bWithhold{false};
    std::atomic<uint64_t> m_nReleaseRequests{0};
    std::atomic<bool> m_bNeverReady{false};
    std::atomic<bool> m_bShutdownStuck{false};
    std::minstd_rand m_rng{12345};
    std::function<void()> m_waker;
};

} // namespace nvmesim
