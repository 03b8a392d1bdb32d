// Controller lifecycle, configuration space access and resets.
#include "ControllerCore.h"

#include "Namespace.h"
#include "nvmesim/Subsystem.h"

namespace nvmesim {

namespace {
uint64_t pow2AtLeast(uint64_t v) {
    uint64_t n = 1;
    while (n < v)
        n <<= 1;
    return n;
}
} // namespace

ControllerConfig vfControllerConfig(const DeviceConfig &dev) {
    ControllerConfig c = dev.controllers.empty() ? ControllerConfig() : dev.controllers[0];
    c.nQueuePairs = std::max<uint32_t>(1, dev.sriov.nMaxVqPerVf) - 1;
    c.nQueuePairs = std::max<uint32_t>(1, c.nQueuePairs);
    c.nMsixVectors = std::max<uint16_t>(1, dev.sriov.nMaxViPerVf);
    c.faults = FaultConfig();
    c.hostId = {};   // each virtual function's host sets its own
    c.bHostIdExtended = false;
    return c;
}

// BAR0 layout: registers and doorbells, then the MSI-X table and pending
// bits on their own page.
static void barLayout(const ControllerConfig &cfg, uint64_t *pBarSize, uint32_t *pMsixTable, uint32_t *pPba) {
    const uint32_t nStride = doorbellStride(cfg.nDstrd);
    const uint64_t nDbEnd = REG_DOORBELL_BASE + 2ull * (cfg.nQueuePairs + 1) * nStride;
    const uint64_t nTable = (nDbEnd + 0xFFF) & ~0xFFFull;
    const uint64_t nPba = nTable + 16ull * cfg.nMsixVectors;
    const uint64_t nEnd = nPba + 8ull * ((cfg.nMsixVectors + 63) / 64);
    *pBarSize = std::max<uint64_t>(pow2AtLeast(nEnd), 16384);
    *pMsixTable = static_cast<uint32_t>(nTable);
    *pPba = static_cast<uint32_t>(nPba);
}

static PciIdentity makeIdentity(const DeviceConfig &dev, const ControllerConfig &cfg, uint32_t nIndex,
                                uint16_t nVfNumber, size_t nDevice, uint64_t *pBarSize, uint32_t *pMsixTable) {
    uint32_t nPba = 0;
    barLayout(cfg, pBarSize, pMsixTable, &nPba);
    const uint64_t nTable = *pMsixTable;
    PciIdentity id{};
    id.bVirtual = nVfNumber != 0;
    if (nIndex == 0 && dev.sriov.nTotalVfs) {
        uint32_t nVfTable = 0, nVfPba = 0;
        id.nTotalVfs = dev.sriov.nTotalVfs;
        id.nInitialVfs = dev.sriov.nInitialVfs;
        id.nVfOffset = dev.sriov.nVfOffset;
        id.nVfStride = dev.sriov.nVfStride;
        id.nVfDeviceId = dev.sriov.nVfDeviceId;
        barLayout(vfControllerConfig(dev), &id.nVfBarSize, &nVfTable, &nVfPba);
        id.nVfBarAddress = 0x4000000000ull + nDevice * 0x100000000ull;
    }
    id.nVendorId = dev.nVendorId;
    id.nDeviceId = dev.nDeviceId;
    id.nSubsysVendorId = dev.nSubsysVendorId;
    id.nSubsysId = static_cast<uint16_t>(nIndex);
    id.nBarSize = *pBarSize;
    id.nBarAddress = 0xE0000000ull + (nDevice * 16 + nIndex) * (*pBarSize > 0x100000 ? *pBarSize : 0x100000);
    id.nMsixVectors = cfg.nMsixVectors;
    id.nMsixTableOffset = static_cast<uint32_t>(nTable);
    id.nMsixPbaOffset = nPba;
    return id;
}

ControllerCore::ControllerCore(Subsystem &subsys, const ControllerConfig &cfg, uint32_t nIndex, uint16_t nVfNumber,
                               DmaSpace &dma)
    : m_nVfNumber(nVfNumber), m_subsys(subsys), m_cfg(cfg), m_nIndex(nIndex), m_dma(dma),
      m_sanitize(subsys.sanitize()), m_faults(cfg.faults),
      m_pci(makeIdentity(subsys.config(), cfg, nIndex, nVfNumber, subsys.index(), &m_nBarSize, &m_nMsixTable)),
      m_power(subsys.config().powerStates) {
    if (nVfNumber) {
        // A virtual function appears when the physical function enables
        // it; its secondary controller starts offline.
        m_bPresent = false;
        m_bOnline = false;
    }
    m_nDbStride = 4u << cfg.nDstrd;
    m_nDoorbells = 2 * (cfg.nQueuePairs + 1);
    m_db = std::make_unique<std::atomic<uint32_t>[]>(m_nDoorbells);
    m_nDirtyWords = (m_nDoorbells + 63) / 64;
    m_dbDirty = std::make_unique<std::atomic<uint64_t>[]>(m_nDirtyWords);
    for (uint32_t i = 0; i < m_nDoorbells; ++i)
        m_db[i].store(0);
    for (uint32_t i = 0; i < m_nDirtyWords; ++i)
        m_dbDirty[i].store(0);
    m_msix.resize(4 * cfg.nMsixVectors + 2 * ((cfg.nMsixVectors + 63) / 64));
    resetMsixLocked();   // no other thread yet
    m_sq.resize(cfg.nQueuePairs + 1);
    m_cq.resize(cfg.nQueuePairs + 1);
    m_errors.resize(64);
    m_delayed.reserve(1024);
    m_segs.reserve(1024);
    m_segs2.reserve(64);
    m_faults.setWaker([this] { kick(); });
    m_fwSlots[0] = subsys.config().szFirmware;
    m_bVwcPresent = subsys.config().bVolatileWriteCache;
    m_bResv = subsys.config().bReservations;
    m_hostId.bytes = cfg.hostId;
    m_hostId.bExtended = cfg.bHostIdExtended;
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

bool ControllerCore::memEnabledLocked() const {
    if (!isVf())
        return m_pci.memoryEnabled();
    return m_bPresent.load() && m_bVfMse.load() && m_pci.powerState() == 0;
}

int ControllerCore::cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth) {
    if (m_subsys.linkDown() || !m_bPresent.load(std::memory_order_relaxed)) {
        *pValue = nWidth == 4 ? 0xFFFFFFFFu : (nWidth == 2 ? 0xFFFFu : 0xFFu);
        return 0;
    }
    std::lock_guard lock(m_cfgMutex);
    return m_pci.read(nOffset, nWidth, pValue) ? 0 : -1;
}

int ControllerCore::cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth) {
    if (m_subsys.linkDown() || !m_bPresent.load(std::memory_order_relaxed))
        return 0;
    PciConfigSpace::Effect eff = PciConfigSpace::Effect::None;
    uint16_t nVfs = 0;
    bool bVfMse = false;
    {
        std::lock_guard lock(m_cfgMutex);
        if (!m_pci.write(nOffset, nWidth, nValue, &eff))
            return -1;
        nVfs = m_pci.vfEnabled() ? m_pci.numVfs() : 0;
        bVfMse = m_pci.vfMemoryEnabled();
        m_bMemEnabled = memEnabledLocked();
        m_bBusMaster = m_pci.busMaster();
        // The MSI-X table is read and written under this lock by BAR0
        // accesses of other host threads.
        if (eff == PciConfigSpace::Effect::FunctionReset)
            resetMsixLocked();
    }
    if (eff == PciConfigSpace::Effect::FunctionReset) {
        std::lock_guard lock(m_procMutex);
        resetLocked();
        recordResetEventLocked();
        m_cc = 0;
        m_nCcActive = 0;
        m_csts = m_csts.load() & CSTS_NSSRO;
        m_aqa = 0;
        m_asq = 0;
        m_acq = 0;
        m_intms = 0;
    }
    // The VF state follows the SR-IOV control (an FLR clears VF Enable).
    if (m_pci.hasSriov() && eff != PciConfigSpace::Effect::None)
        m_subsys.sriovControl(nVfs, bVfMse);
    kick();
    return 0;
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
        m_resvLog.clear();
        m_nResvLogCount = 0;
        m_resvMask.clear();
        m_preemptAborts.clear();
    }
    m_nMaskedEvents = 0;
    m_feat = FeatureState();
    m_readyAt = Clock::time_point::max();
    m_shutdownAt = Clock::time_point::max();
    m_kaDeadline = Clock::time_point::max();
    if (m_selfTest.nCurrent)
        finishSelfTest(2);
    resetStreams();
    m_power.reset();
    m_pelContext.clear();
    m_bPelContext = false;
    m_bFwActivatedByReset = m_nFwNextSlot != 0;
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
    setCsts(0, CSTS_RDY | CSTS_CFS | CSTS_SHST_MASK);
}

void ControllerCore::conventionalReset() { resetAll(m_csts.load() & CSTS_NSSRO, false); }

void ControllerCore::subsystemReset(bool bNssrOccurred) { resetAll(bNssrOccurred ? CSTS_NSSRO : 0, !bNssrOccurred); }

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
        m_bMemEnabled = memEnabledLocked();
        m_bBusMaster = m_pci.busMaster();
        resetMsixLocked();
    }
    // VF Enable is back to 0: the virtual functions are gone.
    if (m_pci.hasSriov())
        m_subsys.sriovControl(0, false);
    kick();
}

void ControllerCore::setVfState(bool bPresent, bool bMse) {
    if (bPresent != m_bPresent.load()) {
        // Appearing or disappearing, the function starts from its reset
        // state; the secondary controller keeps its state and resources.
        {
            std::lock_guard lock(m_procMutex);
            resetLocked();
            m_cc = 0;
            m_nCcActive = 0;
            m_csts = 0;
            m_aqa = 0;
            m_asq = 0;
            m_acq = 0;
            m_intms = 0;
        }
        std::lock_guard lock(m_cfgMutex);
        m_pci.reset();
        resetMsixLocked();
    }
    std::lock_guard lock(m_cfgMutex);
    m_bPresent = bPresent;
    m_bVfMse = bMse;
    m_bMemEnabled = memEnabledLocked();
    m_bBusMaster = m_pci.busMaster();
    kick();
}

uint16_t ControllerCore::cntlid() const { return static_cast<uint16_t>(m_subsys.config().nFirstCntlid + m_nIndex); }

void ControllerCore::setOffline() {
    // Called by the primary's worker, which holds its own locks: the reset
    // itself is left to this controller's worker (see step()), only the
    // state and CSTS.RDY change at once.
    m_bOnline = false;
    setCsts(0, CSTS_RDY | CSTS_SHST_MASK);
    m_bOfflinePending = true;
    kick();
}

// All vectors cleared and masked, nothing pending; m_cfgMutex held.
void ControllerCore::resetMsixLocked() {
    std::fill(m_msix.begin(), m_msix.end(), 0);
    for (uint32_t v = 0; v < m_cfg.nMsixVectors; ++v)
        m_msix[4 * v + 3] = 1;
}

} // namespace nvmesim
