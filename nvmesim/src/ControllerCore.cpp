// Controller lifecycle, configuration space and BAR0 registers, resets.
#include "ControllerCore.h"

#include "Namespace.h"
#include "nvmesim/Subsystem.h"

namespace nvmesim {

namespace {
constexpr uint32_t kCcEn = 1u << 0;
constexpr uint32_t kCcValid = 0x01FFFFF1u;
constexpr uint32_t kCstsRdy = 1u << 0;
constexpr uint32_t kCstsCfs = 1u << 1;
constexpr uint32_t kCstsShst = 3u << 2;
constexpr uint32_t kCstsNssro = 1u << 4;

uint64_t pow2AtLeast(uint64_t v) {
    uint64_t n = 1;
    while (n < v)
        n <<= 1;
    return n;
}
} // namespace

static PciIdentity makeIdentity(const DeviceConfig &dev, const ControllerConfig &cfg, uint32_t nIndex,
                                size_t nDevice, uint64_t *pBarSize, uint32_t *pMsixTable) {
    const uint32_t nStride = 4u << cfg.nDstrd;
    const uint64_t nDbEnd = 0x1000 + 2ull * (cfg.nQueuePairs + 1) * nStride;
    const uint64_t nTable = (nDbEnd + 0xFFF) & ~0xFFFull;
    const uint64_t nPba = nTable + 16ull * cfg.nMsixVectors;
    const uint64_t nEnd = nPba + 8ull * ((cfg.nMsixVectors + 63) / 64);
    *pBarSize = std::max<uint64_t>(pow2AtLeast(nEnd), 16384);
    *pMsixTable = static_cast<uint32_t>(nTable);
    PciIdentity id{};
    id.nVendorId = dev.nVendorId;
    id.nDeviceId = dev.nDeviceId;
    id.nSubsysVendorId = dev.nSubsysVendorId;
    id.nSubsysId = static_cast<uint16_t>(nIndex);
    id.nBarSize = *pBarSize;
    id.nBarAddress = 0xE0000000ull + (nDevice * 16 + nIndex) * (*pBarSize > 0x100000 ? *pBarSize : 0x100000);
    id.nMsixVectors = cfg.nMsixVectors;
    id.nMsixTableOffset = static_cast<uint32_t>(nTable);
    id.nMsixPbaOffset = static_cast<uint32_t>(nPba);
    return id;
}

ControllerCore::ControllerCore(Subsystem &subsys, const ControllerConfig &cfg, uint32_t nIndex, DmaSpace &dma)
    : m_subsys(subsys), m_cfg(cfg), m_nIndex(nIndex), m_dma(dma), m_faults(cfg.faults),
      m_pci(makeIdentity(subsys.config(), cfg, nIndex, subsys.index(), &m_nBarSize, &m_nMsixTable)) {
    m_nDbStride = 4u << cfg.nDstrd;
    m_nDoorbells = 2 * (cfg.nQueuePairs + 1);
    m_db = std::make_unique<std::atomic<uint32_t>[]>(m_nDoorbells);
    m_nDirtyWords = (m_nDoorbells + 63) / 64;
    m_dbDirty = std::make_unique<std::atomic<uint64_t>[]>(m_nDirtyWords);
    for (uint32_t i = 0; i < m_nDoorbells; ++i)
        m_db[i].store(0);
    for (uint32_t i = 0; i < m_nDirtyWords; ++i)
        m_dbDirty[i].store(0);
    m_msix.assign(4 * cfg.nMsixVectors + 2 * ((cfg.nMsixVectors + 63) / 64), 0);
    for (uint32_t v = 0; v < cfg.nMsixVectors; ++v)
        m_msix[4 * v + 3] = 1;   // vector masked
    m_sq.resize(cfg.nQueuePairs + 1);
    m_cq.resize(cfg.nQueuePairs + 1);
    m_errors.resize(64);
    m_delayed.reserve(1024);
    m_segs.reserve(1024);
    m_segs2.reserve(64);
    m_faults.setWaker([this] { kick(); });
    m_fwSlots[0] = subsys.config().szFirmware;
    m_startedAt = Clock::now();
}

ControllerCore::~ControllerCore() { stop(); }

void ControllerCore::start() {
    if (!m_thread.joinable())
        m_thread = std::thread([this] { workerMain(); });
}

void ControllerCore::stop() {
    m_bStop = true;
    {
        std::lock_guard lock(m_wakeMutex);
        m_wakeCv.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

void ControllerCore::kick() {
    m_nGen.fetch_add(1, std::memory_order_seq_cst);
    if (m_bSleeping.load(std::memory_order_seq_cst)) {
        std::lock_guard lock(m_wakeMutex);
        m_wakeCv.notify_one();
    }
}

// ---------------------------------------------------------------- config space

int ControllerCore::cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth) {
    if (m_subsys.linkDown()) {
        *pValue = nWidth == 4 ? 0xFFFFFFFFu : (nWidth == 2 ? 0xFFFFu : 0xFFu);
        return 0;
    }
    std::lock_guard lock(m_cfgMutex);
    return m_pci.read(nOffset, nWidth, pValue) ? 0 : -1;
}

int ControllerCore::cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth) {
    if (m_subsys.linkDown())
        return 0;
    PciConfigSpace::Effect eff = PciConfigSpace::Effect::None;
    {
        std::lock_guard lock(m_cfgMutex);
        if (!m_pci.write(nOffset, nWidth, nValue, &eff))
            return -1;
        m_bMemEnabled = m_pci.memoryEnabled();
        m_bBusMaster = m_pci.busMaster();
    }
    if (eff == PciConfigSpace::Effect::FunctionReset) {
        std::lock_guard lock(m_procMutex);
        resetLocked();
        m_cc = 0;
        m_nCcActive = 0;
        m_csts = m_csts.load() & kCstsNssro;
        m_aqa = 0;
        m_asq = 0;
        m_acq = 0;
        m_intms = 0;
        std::fill(m_msix.begin(), m_msix.end(), 0);
        for (uint32_t v = 0; v < m_cfg.nMsixVectors; ++v)
            m_msix[4 * v + 3] = 1;
    }
    kick();
    return 0;
}

// ---------------------------------------------------------------- registers

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

void ControllerCore::resetLocked() {
    for (auto &q : m_sq)
        q = SubmissionQueue();
    for (auto &q : m_cq)
        q = CompletionQueue();
    m_delayed.clear();
    m_withheld.clear();
    m_nWithheldCount = 0;
    m_aerCids.clear();
    m_events.clear();
    {
        std::lock_guard lock(m_eventMutex);
        m_pendingEvents.clear();
    }
    m_nMaskedEvents = 0;
    m_feat = FeatureState();
    m_readyAt = Clock::time_point::max();
    m_shutdownAt = Clock::time_point::max();
    m_kaDeadline = Clock::time_point::max();
    if (m_selfTest.nCurrent)
        finishSelfTest(2);
    if (m_nFwNextSlot) {
        m_nFwActiveSlot = m_nFwNextSlot;
        m_nFwNextSlot = 0;
    }
    for (uint32_t i = 0; i < m_nDoorbells; ++i)
        m_db[i].store(0);
    for (uint32_t i = 0; i < m_nDirtyWords; ++i)
        m_dbDirty[i].store(0);
    m_nRrNext = 0;
    m_nResets.fetch_add(1);
}

void ControllerCore::controllerReset() {
    std::lock_guard lock(m_procMutex);
    resetLocked();
    setCsts(0, kCstsRdy | kCstsCfs | kCstsShst);
}

void ControllerCore::conventionalReset() { resetAll(m_csts.load() & kCstsNssro, false); }

void ControllerCore::subsystemReset(bool bNssrOccurred) { resetAll(bNssrOccurred ? kCstsNssro : 0, !bNssrOccurred); }

void ControllerCore::resetAll(uint32_t nCsts, bool bPowerOn) {
    {
        std::lock_guard lock(m_procMutex);
        resetLocked();
        m_cc = 0;
        m_nCcActive = 0;
        m_csts = nCsts;
        m_aqa = 0;
        m_asq = 0;
        m_acq = 0;
        m_intms = 0;
    }
    {
        std::lock_guard lock(m_cfgMutex);
        if (bPowerOn)
            m_pci.powerOn();
        else
            m_pci.reset();
        m_bMemEnabled = m_pci.memoryEnabled();
        m_bBusMaster = m_pci.busMaster();
        std::fill(m_msix.begin(), m_msix.end(), 0);
        for (uint32_t v = 0; v < m_cfg.nMsixVectors; ++v)
            m_msix[4 * v + 3] = 1;
    }
    kick();
}

// ---------------------------------------------------------------- public face

Controller::Controller(std::unique_ptr<ControllerCore> p) : m_p(std::move(p)) {}
Controller::~Controller() = default;
int Controller::cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth) { return m_p->cfgRead(nOffset, pValue, nWidth); }
int Controller::cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth) { return m_p->cfgWrite(nOffset, nValue, nWidth); }
uint32_t Controller::mmioRead32(uint32_t nOffset) { return m_p->mmioRead32(nOffset); }
void Controller::mmioWrite32(uint32_t nOffset, uint32_t nValue) { m_p->mmioWrite32(nOffset, nValue); }
FaultInjector &Controller::faults() { return m_p->faults(); }
uint16_t Controller::controllerId() const { return m_p->cntlid(); }
uint16_t Controller::vendorId() const { return m_p->subsystem().config().nVendorId; }
uint16_t Controller::deviceId() const { return m_p->subsystem().config().nDeviceId; }
Subsystem &Controller::subsystem() { return m_p->subsystem(); }
uint64_t Controller::commandsCompleted() const { return m_p->m_nCompleted.load(); }
uint64_t Controller::resets() const { return m_p->m_nResets.load(); }
size_t Controller::withheldCount() const { return m_p->m_nWithheldCount.load(); }

} // namespace nvmesim
