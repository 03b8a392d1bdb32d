// BAR0: the controller registers, the doorbells and the MSI-X table; the
// CC transitions (enable, reset, shutdown).
#include "ControllerCore.h"

#include "nvmesim/Subsystem.h"

namespace nvmesim {

uint64_t ControllerCore::cap() const {
    uint64_t c = m_cfg.nMqes;
    c |= static_cast<uint64_t>(m_cfg.bCqr) << 16;
    c |= static_cast<uint64_t>(m_cfg.nTo) << 24;
    c |= static_cast<uint64_t>(m_cfg.nDstrd & 0xF) << 32;
    c |= static_cast<uint64_t>(m_cfg.bNssrs) << 36;
    c |= static_cast<uint64_t>(m_cfg.nCss) << 37;
    c |= static_cast<uint64_t>(m_cfg.nMpsMin & 0xF) << 48;
    c |= static_cast<uint64_t>(m_cfg.nMpsMax & 0xF) << 52;
    return c;
}

uint32_t ControllerCore::mmioRead32(uint32_t nOffset) {
    if (!m_bMemEnabled.load(std::memory_order_relaxed) || m_subsys.linkDown() || (nOffset & 3) ||
        nOffset >= m_nBarSize)
        return 0xFFFFFFFFu;
    switch (nOffset) {
    case reg::kCap: return static_cast<uint32_t>(cap());
    case reg::kCap + 4: return static_cast<uint32_t>(cap() >> 32);
    case reg::kVs: return 0x00020000;
    case reg::kIntms:
    case reg::kIntmc: return m_intms.load();
    case reg::kCc: return m_cc.load();
    case reg::kCsts: return m_csts.load(std::memory_order_acquire);
    case reg::kAqa: return m_aqa.load();
    case reg::kAsq: return static_cast<uint32_t>(m_asq.load());
    case reg::kAsq + 4: return static_cast<uint32_t>(m_asq.load() >> 32);
    case reg::kAcq: return static_cast<uint32_t>(m_acq.load());
    case reg::kAcq + 4: return static_cast<uint32_t>(m_acq.load() >> 32);
    default: break;
    }
    if (nOffset >= m_nMsixTable) {
        const uint32_t n = (nOffset - m_nMsixTable) / 4;
        std::lock_guard lock(m_cfgMutex);
        return n < m_msix.size() ? m_msix[n] : 0;
    }
    return 0;
}

void ControllerCore::mmioWrite32(uint32_t nOffset, uint32_t nValue) {
    if (!m_bMemEnabled.load(std::memory_order_relaxed) || m_subsys.linkDown() || (nOffset & 3) ||
        nOffset >= m_nBarSize)
        return;
    if (nOffset >= reg::kDoorbells && nOffset < m_nMsixTable) {
        const uint32_t nRel = nOffset - reg::kDoorbells;
        if (nRel % m_nDbStride)
            return;
        const uint32_t nIdx = nRel / m_nDbStride;
        if (!(m_cc.load() & kCcEn))
            return;   // a disabled controller has no queues to ring
        if (nIdx >= m_nDoorbells) {
            if (m_csts.load() & kCstsRdy)
                postEvent(NVME_AER_ERROR, NVME_AER_ERROR_INVALID_DB_REG, NVME_LOG_LID_ERROR);
            return;
        }
        m_db[nIdx].store(nValue, std::memory_order_release);
        m_dbDirty[nIdx / 64].fetch_or(1ull << (nIdx % 64), std::memory_order_release);
        kick();
        return;
    }
    switch (nOffset) {
    case reg::kIntms: m_intms.fetch_or(nValue); return;
    case reg::kIntmc: m_intms.fetch_and(~nValue); return;
    case reg::kCc: {
        std::lock_guard lock(m_procMutex);
        writeCc(nValue);
        break;
    }
    case reg::kCsts:
        if (nValue & kCstsNssro)
            m_csts.fetch_and(~kCstsNssro);
        return;
    case reg::kNssr:
        if (nValue == reg::kNssrMagic && m_cfg.bNssrs)
            m_subsys.subsystemReset();
        return;
    case reg::kAqa: m_aqa = nValue & 0x0FFF0FFF; return;
    case reg::kAsq: m_asq = (m_asq.load() & ~0xFFFFFFFFull) | (nValue & ~0xFFFu); return;
    case reg::kAsq + 4: m_asq = (m_asq.load() & 0xFFFFFFFFull) | (static_cast<uint64_t>(nValue) << 32); return;
    case reg::kAcq: m_acq = (m_acq.load() & ~0xFFFFFFFFull) | (nValue & ~0xFFFu); return;
    case reg::kAcq + 4: m_acq = (m_acq.load() & 0xFFFFFFFFull) | (static_cast<uint64_t>(nValue) << 32); return;
    default:
        if (nOffset >= m_nMsixTable) {
            const uint32_t n = (nOffset - m_nMsixTable) / 4;
            std::lock_guard lock(m_cfgMutex);
            if (n < 4ull * m_cfg.nMsixVectors)
                m_msix[n] = (n % 4 == 3) ? (nValue & 1) : nValue;
        }
        return;
    }
    kick();
}

void ControllerCore::setCsts(uint32_t nSet, uint32_t nClear) {
    uint32_t v = m_csts.load();
    while (!m_csts.compare_exchange_weak(v, (v & ~nClear) | nSet, std::memory_order_release)) {
    }
}

void ControllerCore::fatal() { setCsts(kCstsCfs, 0); }

bool ControllerCore::enableChecks() const {
    const uint32_t cc = m_cc.load();
    const uint32_t aqa = m_aqa.load();
    const uint32_t nMps = (cc >> 7) & 0xF;
    if (nMps < m_cfg.nMpsMin || nMps > m_cfg.nMpsMax)
        return false;
    // CC.CSS: 000b NVM, 110b all supported I/O command sets, 111b admin only.
    const uint32_t nCss = (cc >> 4) & 7;
    if (!((nCss == 0 && (m_cfg.nCss & 0x01)) || (nCss == 6 && (m_cfg.nCss & 0x40)) || (nCss == 7 && (m_cfg.nCss & 0x80))))
        return false;
    if (((cc >> 11) & 7) != 0)
        return false;
    const uint32_t nSqes = (cc >> 16) & 0xF, nCqes = (cc >> 20) & 0xF;
    if ((nSqes != 0 && nSqes != 6) || (nCqes != 0 && nCqes != 4))
        return false;
    if ((aqa & 0xFFF) < 1 || ((aqa >> 16) & 0xFFF) < 1)
        return false;
    const uint64_t nPage = 4096ull << nMps;
    if (!m_asq.load() || !m_acq.load() || (m_asq.load() & (nPage - 1)) || (m_acq.load() & (nPage - 1)))
        return false;
    return true;
}

void ControllerCore::writeCc(uint32_t nNew) {
    nNew &= kCcValid;
    const uint32_t nOld = m_nCcActive;
    m_cc = nNew;
    m_nCcActive = nNew;
    const auto now = Clock::now();
    if ((nOld & kCcEn) && !(nNew & kCcEn)) {
        resetLocked();
        setCsts(0, kCstsRdy | kCstsCfs | kCstsShst);
        return;
    }
    if (!(nOld & kCcEn) && (nNew & kCcEn)) {
        setCsts(0, kCstsShst);
        if (m_csts.load() & kCstsCfs)
            return;
        if (!enableChecks()) {
            fatal();
            return;
        }
        m_nPageSize = 4096u << ((nNew >> 7) & 0xF);
        const uint32_t aqa = m_aqa.load();
        SubmissionQueue &sq = m_sq[0];
        sq = SubmissionQueue();
        sq.bValid = true;
        sq.nSize = (aqa & 0xFFF) + 1;
        sq.nBase = m_asq.load();
        CompletionQueue &cq = m_cq[0];
        cq = CompletionQueue();
        cq.bValid = true;
        cq.nSize = ((aqa >> 16) & 0xFFF) + 1;
        cq.nBase = m_acq.load();
        cq.nSqRefs = 1;
        m_readyAt = m_faults.neverReady() ? Clock::time_point::max()
                                          : now + std::chrono::microseconds(m_subsys.config().timings.nReadyDelayUs);
    }
    const uint32_t nShnOld = (nOld >> 14) & 3, nShn = (nNew >> 14) & 3;
    if (nShn && !nShnOld) {
        setCsts(1u << 2, kCstsShst);
        m_subsys.noteShutdownComplete(m_nIndex, false);
        m_shutdownAt = m_faults.shutdownStuck()
                           ? Clock::time_point::max()
                           : now + std::chrono::microseconds(m_subsys.config().timings.nShutdownUs);
    }
}

} // namespace nvmesim
