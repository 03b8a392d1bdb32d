#include "SanitizeState.h"

#include <algorithm>

#include "ControllerCore.h"
#include "Namespace.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/LogPages.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }

uint32_t passesOf(uint32_t nCdw10) {
    const uint32_t n = (nCdw10 >> SANITIZE_OWPASS_SHIFT) & 0xF;
    return n ? n : 16;
}

// Estimated time in seconds as the log page gives it (0: done when the
// command completes).
uint32_t estimateSeconds(uint32_t nMs) { return (nMs + 999) / 1000; }
} // namespace

SanitizeState::SanitizeState(Subsystem &subsys, bool bErased)
    : m_subsys(subsys), m_nDeadline(Clock::time_point::max().time_since_epoch().count()), m_bGlobalErased(bErased),
      m_nFailuresLeft(subsys.config().sanitize.nFailOperations) {
    m_nGate = bErased ? kErasedArmed : 0;
}

uint16_t SanitizeState::restriction() const {
    std::lock_guard lock(m_mutex);
    switch (m_phase) {
    case Phase::InProgress: return gen(SC_SANITIZE_IN_PROGRESS);
    case Phase::Failed: return gen(SC_SANITIZE_FAILED);
    default: return 0;
    }
}

bool SanitizeState::inProgress() const {
    std::lock_guard lock(m_mutex);
    return m_phase == Phase::InProgress;
}

void SanitizeState::noteWrite() {
    std::lock_guard lock(m_mutex);
    m_bGlobalErased = false;
    m_nGate.fetch_and(~kErasedArmed, std::memory_order_relaxed);
}

uint16_t SanitizeState::start(uint32_t nCdw10, uint32_t nPattern) {
    std::lock_guard lock(m_mutex);
    if (m_phase == Phase::InProgress)
        return gen(SC_SANITIZE_IN_PROGRESS);
    m_phase = Phase::InProgress;
    m_nCdw10 = nCdw10;
    m_nPattern = nPattern;
    m_nSstat = SSTAT_IN_PROGRESS;
    m_bGlobalErased = false;
    m_start = Clock::now();
    m_end = m_start + std::chrono::milliseconds(m_subsys.config().timings.nSanitizeMs);
    m_nGate.store(kRestricted, std::memory_order_relaxed);
    setDeadline(m_end);
    return 0;
}

uint16_t SanitizeState::exitFailureMode() {
    std::lock_guard lock(m_mutex);
    switch (m_phase) {
    case Phase::InProgress:
        return gen(SC_SANITIZE_IN_PROGRESS);
    case Phase::Failed:
        // Only an operation started with AUSE set may be left this way;
        // otherwise a successful sanitize operation is the way out.
        if (!m_bUnrestrictedExit)
            return gen(SC_CMD_SEQ_ERROR);
        m_phase = Phase::Idle;
        m_nGate.fetch_and(~kRestricted, std::memory_order_relaxed);
        return 0;
    default:
        return 0;   // nothing failed: nothing to leave
    }
}

void SanitizeState::poll(Clock::time_point now) {
    if (now < deadline())
        return;
    std::lock_guard lock(m_mutex);
    if (m_phase == Phase::InProgress && now >= m_end)
        finishLocked();
}

void SanitizeState::finishLocked() {
    setDeadline(Clock::time_point::max());
    const uint8_t nAction = m_nCdw10 & 7;
    const uint32_t nPasses = nAction == SANACT_OVERWRITE ? passesOf(m_nCdw10) : 0;
    const bool bDeallocate = !(m_nCdw10 & SANITIZE_NDAS);
    bool bOk = m_nFailuresLeft == 0;
    if (!bOk)
        --m_nFailuresLeft;
    else
        bOk = eraseAll(nAction, bDeallocate, m_nPattern, nPasses, m_nCdw10 & SANITIZE_OIPBP);
    if (bOk) {
        m_phase = Phase::Idle;
        m_nSstat = static_cast<uint16_t>(SSTAT_COMPLETE_SUCCESS | (nPasses & SSTAT_PASSES_MASK) << SSTAT_PASSES_SHIFT);
        m_bGlobalErased = true;
        m_nGate.store(kErasedArmed, std::memory_order_relaxed);
    } else {
        m_phase = Phase::Failed;
        m_bUnrestrictedExit = m_nCdw10 & SANITIZE_AUSE;
        m_nSstat = SSTAT_FAILED;
        m_nGate.store(kRestricted, std::memory_order_relaxed);
    }
    for (size_t i = 0; i < m_subsys.controllerCount(); ++i)
        m_subsys.controller(i).core().postEvent(AER_CSS, AER_CSS_SANITIZE_COMPLETED, LID_SANITIZE);
}

// Every namespace of the subsystem, attached or not: what the volatile
// cache held is gone, blocks marked uncorrectable are readable again, and
// the media reads as zeros (deallocated or erased) or as the overwrite
// pattern of the last pass.
bool SanitizeState::eraseAll(uint8_t nAction, bool bDeallocate, uint32_t nPattern, uint32_t nPasses, bool bInvert) {
    uint32_t nFill = 0;
    if (nAction == SANACT_OVERWRITE && !bDeallocate)
        nFill = (bInvert && nPasses % 2 == 0) ? ~nPattern : nPattern;
    bool bOk = true;
    std::lock_guard mgmt(m_subsys.mgmtMutex());
    for (uint32_t nNsid = 1; nNsid <= m_subsys.maxNamespaces(); ++nNsid) {
        Namespace *p = m_subsys.ns(nNsid);
        if (!p)
            continue;
        std::unique_lock rw(p->rw);
        if (!p->data)
            continue;
        p->dropVolatile();
        p->clearAllUncorrectable();
        bOk = p->data->fill(nFill) && bOk;
        if (p->meta)
            bOk = p->meta->fill(nFill) && bOk;
    }
    return bOk;
}

void SanitizeState::fillLog(nvme_sanitize_log_page &log, Clock::time_point now) const {
    std::lock_guard lock(m_mutex);
    log = {};
    uint16_t nSstat = m_nSstat;
    log.sprog = 0xFFFF;
    if (m_phase == Phase::InProgress) {
        const auto nTotal = (m_end - m_start).count();
        const auto nDone = std::max<Clock::rep>(0, (now - m_start).count());
        const uint32_t nProgress =
            nTotal > 0 ? static_cast<uint32_t>(std::min<Clock::rep>(65535, nDone * 65536 / nTotal)) : 65535;
        log.sprog = static_cast<uint16_t>(nProgress);
        if ((m_nCdw10 & 7) == SANACT_OVERWRITE) {
            const uint32_t nPassesDone = passesOf(m_nCdw10) * nProgress / 65536;
            nSstat = static_cast<uint16_t>(nSstat | (nPassesDone & SSTAT_PASSES_MASK) << SSTAT_PASSES_SHIFT);
        }
    }
    if (m_bGlobalErased)
        nSstat |= SSTAT_GLOBAL_DATA_ERASED;
    log.sstat = nSstat;
    log.scdw10 = m_nCdw10;
    const SanitizeConfig &cfg = m_subsys.config().sanitize;
    const uint32_t nSecs = estimateSeconds(m_subsys.config().timings.nSanitizeMs);
    log.eto = cfg.bOverwrite ? nSecs : 0xFFFFFFFF;
    log.etbe = cfg.bBlockErase ? nSecs : 0xFFFFFFFF;
    log.etce = cfg.bCryptoErase ? nSecs : 0xFFFFFFFF;
    // The media is not modified after an operation with NDAS set.
    log.etond = log.etbend = log.etcend = 0xFFFFFFFF;
}

} // namespace nvmesim
