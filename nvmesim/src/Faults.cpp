#include "nvmesim/Faults.h"

namespace nvmesim {

FaultInjector::FaultInjector(const FaultConfig &cfg) {
    setLatency(cfg.nLatencyMinUs, cfg.nLatencyMaxUs);
    m_bWithhold = cfg.bWithholdCompletions;
    m_bNeverReady = cfg.bNeverReady;
    m_bShutdownStuck = cfg.bShutdownNeverCompletes;
    for (const auto &r : cfg.statusRules)
        injectStatus(r.bAdmin, r.nOpcode, r.nNth, r.nStatus);
    for (const auto &r : cfg.bogusCidRules)
        injectBogusCid(r.bAdmin, r.nOpcode, r.nNth);
}

void FaultInjector::setLatency(uint32_t nMinUs, uint32_t nMaxUs) {
    if (nMaxUs < nMinUs)
        nMaxUs = nMinUs;
    m_nLatMin = nMinUs;
    m_nLatMax = nMaxUs;
}

void FaultInjector::setWithholdCompletions(bool b) { m_bWithhold = b; }

void FaultInjector::releaseWithheld() {
    m_nReleaseRequests.fetch_add(1);
    if (m_waker)
        m_waker();
}

void FaultInjector::injectStatus(bool bAdmin, uint8_t nOpcode, uint32_t nNth, uint16_t nStatus) {
    std::lock_guard lock(m_mutex);
    m_rules.push_back(Rule{bAdmin, nOpcode, nNth ? nNth : 1, 0, false, nStatus});
    m_bAnyRule = true;
}

void FaultInjector::injectBogusCid(bool bAdmin, uint8_t nOpcode, uint32_t nNth) {
    std::lock_guard lock(m_mutex);
    m_rules.push_back(Rule{bAdmin, nOpcode, nNth ? nNth : 1, 0, true, 0});
    m_bAnyRule = true;
}

void FaultInjector::clear() {
    std::lock_guard lock(m_mutex);
    m_rules.clear();
    m_bAnyRule = false;
    m_nLatMin = 0;
    m_nLatMax = 0;
    m_bWithhold = false;
    m_bNeverReady = false;
    m_bShutdownStuck = false;
}

uint32_t FaultInjector::drawLatencyUs() {
    const uint32_t nMin = m_nLatMin.load(), nMax = m_nLatMax.load();
    if (nMax <= nMin)
        return nMin;
    std::lock_guard lock(m_mutex);
    return nMin + static_cast<uint32_t>(m_rng() % (nMax - nMin + 1));
}

bool FaultInjector::onCommand(bool bAdmin, uint8_t nOpcode, uint16_t *pStatus, bool *pBogusCid) {
    if (!m_bAnyRule.load(std::memory_order_relaxed))
        return false;
    std::lock_guard lock(m_mutex);
    bool bStatus = false;
    for (size_t i = 0; i < m_rules.size();) {
        Rule &r = m_rules[i];
        if (r.bAdmin == bAdmin && r.nOpcode == nOpcode && ++r.nSeen == r.nNth) {
            if (r.bCid) {
                *pBogusCid = true;
            } else if (!bStatus) {
                *pStatus = r.nStatus;
                bStatus = true;
            }
            m_rules.erase(m_rules.begin() + static_cast<long>(i));
            continue;
        }
        ++i;
    }
    m_bAnyRule = !m_rules.empty();
    return bStatus;
}

} // namespace nvmesim
