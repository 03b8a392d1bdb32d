// BAR0: the controller registers, the doorbells and the MSI-X table; the
// CC transitions (enable, reset, shutdown).
#include "ControllerCore.h"

#include "nvmesim/Subsystem.h"

namespace nvmesim {

uint64_t ControllerCore::cap() const {
    uint64_t c = static_cast<uint64_t>(m_cfg.nMqes) << NVME_CAP_MQES_SHIFT;
    c |= static_cast<uint64_t>(m_cfg.bCqr) << NVME_CAP_CQR_SHIFT;
    c |= static_cast<uint64_t>(m_cfg.nTo) << NVME_CAP_TO_SHIFT;
    c |= static_cast<uint64_t>(m_cfg.nDstrd & NVME_CAP_DSTRD_MASK) << NVME_CAP_DSTRD_SHIFT;
    c |= static_cast<uint64_t>(m_cfg.bNssrs) << NVME_CAP_NSSRC_SHIFT;
    c |= static_cast<uint64_t>(m_cfg.nCss) << NVME_CAP_CSS_SHIFT;
    c |= static_cast<uint64_t>(m_cfg.nMpsMin & NVME_CAP_MPSMIN_MASK) << NVME_CAP_MPSMIN_SHIFT;
    c |= static_cast<uint64_t>(m_cfg.nMpsMax & NVME_CAP_MPSMAX_MASK) << NVME_CAP_MPSMAX_SHIFT;
    // Ready with media only; CAP.TO is then CRTO.CRWMT.
    c |= static_cast<uint64_t>(CAP_CRMS_CRWMS) << NVME_CAP_CRMS_SHIFT;
    return c;
}

uint32_t ControllerCore::mmioRead32(uint32_t nOffset) {
    if (!m_bMemEnabled.load(std::memory_order_relaxed) || m_subsys.linkDown() || (nOffset & 3) ||
        nOffset >= m_nBarSize)
        return 0xFFFFFFFFu;
    switch (nOffset) {
    case REG_CAP: return static_cast<uint32_t>(cap());
    case REG_CAP + 4: return static_cast<uint32_t>(cap() >> 32);
    case REG_VS: return Vs::make(2, 0).raw;
    case REG_INTMS:
    case REG_INTMC: return m_intms.load();
    case REG_CC: return m_cc.load();
    case REG_CSTS: return m_csts.load(std::memory_order_acquire);
    case REG_AQA: return m_aqa.load();
    case REG_ASQ: return static_cast<uint32_t>(m_asq.load());
    case REG_ASQ + 4: return static_cast<uint32_t>(m_asq.load() >> 32);
    case REG_ACQ: return static_cast<uint32_t>(m_acq.load());
    case REG_ACQ + 4: return static_cast<uint32_t>(m_acq.load() >> 32);
    case REG_CRTO: return m_cfg.nTo & CRTO_CRWMT_MASK;   // CRIMT 0: not offered
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
    if (nOffset >= REG_DOORBELL_BASE && nOffset < m_nMsixTable) {
        const uint32_t nRel = nOffset - REG_DOORBELL_BASE;
        if (nRel % m_nDbStride)
            return;
        const uint32_t nIdx = nRel / m_nDbStride;
        if (!(m_cc.load() & CC_EN))
            return;   // a disabled controller has no queues to ring
        if (nIdx >= m_nDoorbells) {
            if (m_csts.load() & CSTS_RDY)
                postEvent(NVME_AER_ERROR, NVME_AER_ERROR_INVALID_DB_REG, NVME_LOG_LID_ERROR);
            return;
        }
        m_db[nIdx].store(nValue, std::memory_order_release);
        m_dbDirty[nIdx / 64].fetch_or(1ull << (nIdx % 64), std::memory_order_release);
        kick();
        return;
    }
    switch (nOffset) {
    case REG_INTMS: m_intms.fetch_or(nValue); return;
    case REG_INTMC: m_intms.fetch_and(~nValue); return;
    case REG_CC: {
        std::lock_guard lock(m_procMutex);
        writeCc(nValue);
        break;
    }
    case REG_CSTS:
        if (nValue & CSTS_NSSRO)
            m_csts.fetch_and(~CSTS_NSSRO);
        return;
    case REG_NSSR:
        if (nValue == NSSR_RESET_VALUE && m_cfg.bNssrs)
            m_subsys.subsystemReset();
        return;
    case REG_AQA: m_aqa = nValue & 0x0FFF0FFF; return;
    case REG_ASQ: m_asq = (m_asq.load() & ~0xFFFFFFFFull) | (nValue & ~0xFFFu); return;
    case REG_ASQ + 4: m_asq = (m_asq.load() & 0xFFFFFFFFull) | (static_cast<uint64_t>(nValue) << 32); return;
    case REG_ACQ: m_acq = (m_acq.load() & ~0xFFFFFFFFull) | (nValue & ~0xFFFu); return;
    case REG_ACQ + 4: m_acq = (m_acq.load() & 0xFFFFFFFFull) | (static_cast<uint64_t>(nValue) << 32); return;
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

void ControllerCore::fatal() { setCsts(CSTS_CFS, 0); }

bool ControllerCore::enableChecks() const {
    const Cc cc{m_cc.load()};
    const Aqa aqa{m_aqa.load()};
    const uint32_t nMps = cc.mps();
    if (nMps < m_cfg.nMpsMin || nMps > m_cfg.nMpsMax)
        return false;
    // CC.CSS: NVM, all supported I/O command sets, or admin only.
    const uint32_t nCss = cc.css();
    if (!((nCss == CC_CSS_NVM && (m_cfg.nCss & CAP_CSS_NVM)) || (nCss == CC_CSS_CSI && (m_cfg.nCss & CAP_CSS_CSI)) ||
          (nCss == CC_CSS_ADMIN && (m_cfg.nCss & CAP_CSS_ADMIN))))
        return false;
    if (cc.ams() != CC_AMS_RR)
        return false;
    const uint32_t nSqes = cc.iosqes(), nCqes = cc.iocqes();
    if ((nSqes != 0 && nSqes != SQE_SIZE_LOG2) || (nCqes != 0 && nCqes != CQE_SIZE_LOG2))
        return false;
    if (aqa.asqs() < 1 || aqa.acqs() < 1)
        return false;
    const uint64_t nPage = cc.pageSize();
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
    if ((nOld & CC_EN) && !(nNew & CC_EN)) {
        resetLocked();
        recordResetEventLocked();
        setCsts(0, CSTS_RDY | CSTS_CFS | CSTS_SHST_MASK);
        return;
    }
    if (!(nOld & CC_EN) && (nNew & CC_EN)) {
        setCsts(0, CSTS_SHST_MASK);
        if (m_csts.load() & CSTS_CFS)
            return;
        // An offline secondary controller cannot be enabled.
        if (!enableChecks() || (isVf() && !m_bOnline.load())) {
            fatal();
            return;
        }
        m_nPageSize = static_cast<uint32_t>(Cc{nNew}.pageSize());
        selectCommandSets();
        // Enabled again: a power loss from now on is unsafe until the next
        // completed shutdown.
        m_bNeedsShutdown.store(true);
        const Aqa aqa{m_aqa.load()};
        SubmissionQueue &sq = m_sq[0];
        sq = SubmissionQueue();
        sq.bValid = true;
        sq.nSize = aqa.asqs() + 1;
        sq.nBase = m_asq.load();
        CompletionQueue &cq = m_cq[0];
        cq = CompletionQueue();
        cq.bValid = true;
        cq.nSize = aqa.acqs() + 1;
        cq.nBase = m_acq.load();
        cq.nSqRefs = 1;
        m_readyAt = m_faults.neverReady() ? Clock::time_point::max()
                                          : now + std::chrono::microseconds(m_subsys.config().timings.nReadyDelayUs);
    }
    const uint32_t nShnOld = Cc{nOld}.shn(), nShn = Cc{nNew}.shn();
    if (nShn && !nShnOld) {
        setCsts(SHST_OCCURRING << CSTS_SHST_SHIFT, CSTS_SHST_MASK);
        m_shutdownAt = m_faults.shutdownStuck()
                           ? Clock::time_point::max()
                           : now + std::chrono::microseconds(m_subsys.config().timings.nShutdownUs);
    }
}

} // namespace nvmesim
