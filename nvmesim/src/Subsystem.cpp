#include "nvmesim/Subsystem.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "ControllerCore.h"
#include "LockdownState.h"
#include "Namespace.h"
#include "PersistentEventLog.h"
#include "SanitizeState.h"

namespace nvmesim {

namespace {
// Protection information settings (DPS) a format can take: a type of 1 to
// 3 needs at least eight bytes of metadata.
bool piFits(uint8_t nDps, const LbaFormat &f) {
    const uint8_t nType = nDps & NS_DPS_TYPE_MASK;
    return nType == 0 || (nType <= 3 && f.nMetaSize >= kPiSize);
}

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}
} // namespace

Subsystem::Subsystem(const DeviceConfig &cfg, size_t nIndex, DmaSpace &dma)
    : m_cfg(cfg), m_nIndex(nIndex), m_dma(dma), m_slots(cfg.nMaxNamespaces + 1),
      m_pel(std::make_unique<PersistentEventLog>()) {
    for (auto &s : m_slots)
        s.store(nullptr);
    // Memory namespaces start empty: nothing was ever written.
    const bool bFresh = std::none_of(cfg.namespaces.begin(), cfg.namespaces.end(),
                                     [](const NamespaceConfig &n) { return !n.szBackingFile.empty(); });
    m_pSanitize = std::make_unique<SanitizeState>(*this, bFresh);
    m_pLockdown = std::make_unique<LockdownState>();
}

Subsystem::~Subsystem() {
    for (auto &c : m_ctrls)
        c->core().stop();
    m_ctrls.clear();
}

bool Subsystem::init(std::string *pErr) {
    uint64_t nUsed = 0;
    for (const auto &nc : m_cfg.namespaces)
        nUsed += nc.nBlocks * (m_cfg.lbaFormats[nc.nFormat].nDataSize + m_cfg.lbaFormats[nc.nFormat].nMetaSize);
    m_nCapacity = m_cfg.nCapacity ? m_cfg.nCapacity : std::max<uint64_t>(2 * nUsed, 4ull << 30);
    if (nUsed > m_nCapacity) {
        *pErr = "devices[" + std::to_string(m_nIndex) + "].capacity: smaller than the namespaces";
        return false;
    }
    for (size_t i = 0; i < m_cfg.controllers.size(); ++i)
        m_ctrls.push_back(std::make_unique<Controller>(
            std::make_unique<ControllerCore>(*this, m_cfg.controllers[i], static_cast<uint32_t>(i), 0, m_dma)));
    m_nPrimaries = m_ctrls.size();
    const ControllerConfig vf = vfControllerConfig(m_cfg);
    for (uint16_t k = 1; k <= m_cfg.sriov.nTotalVfs; ++k)
        m_ctrls.push_back(std::make_unique<Controller>(std::make_unique<ControllerCore>(
            *this, vf, static_cast<uint32_t>(m_nPrimaries + k - 1), k, m_dma)));
    for (size_t i = 0; i < m_cfg.namespaces.size(); ++i) {
        std::string szErr;
        if (!addNamespace(m_cfg.namespaces[i], &szErr)) {
            *pErr = "devices[" + std::to_string(m_nIndex) + "].namespaces[" + std::to_string(i) + "]." + szErr;
            return false;
        }
    }
    recordResetEvent();   // the first power-on
    for (auto &c : m_ctrls)
        c->core().start();
    return true;
}

bool Subsystem::addNamespace(const NamespaceConfig &nc, std::string *pErr) {
    uint32_t nNsid = nc.nNsid;
    if (!nNsid) {
        for (nNsid = 1; nNsid <= m_cfg.nMaxNamespaces && m_slots[nNsid].load(); ++nNsid) {
        }
    }
    if (nNsid == 0 || nNsid > m_cfg.nMaxNamespaces || m_slots[nNsid].load()) {
        *pErr = "nsid: namespace id " + std::to_string(nNsid) + " is taken or above maxNamespaces";
        return false;
    }
    auto ns = std::make_unique<Namespace>();
    ns->nNsid = nNsid;
    ns->nBlocks = nc.nBlocks;
    ns->nFormat = nc.nFormat;
    ns->nLbaShift = lbaShiftOf(m_cfg.lbaFormats[nc.nFormat].nDataSize);
    ns->nMetaSize = m_cfg.lbaFormats[nc.nFormat].nMetaSize;
    ns->bExtended = nc.bExtendedLba;
    ns->nPiType = nc.nPi;
    ns->bPiFirst = nc.nPi && nc.bPiFirst;
    ns->szBackingFile = nc.szBackingFile;
    ns->nCsi = nc.nCsi;
    ns->zonedCfg = nc.zoned;
    ns->kvCfg = nc.kv;
    for (int i = 0; i < 8; ++i) {
        ns->nguid[i] = static_cast<uint8_t>(0xA0 + m_nIndex);
        ns->nguid[8 + i] = static_cast<uint8_t>(nNsid >> (8 * (i % 4)));
    }
    if (!ns->createMedia(pErr)) {
        *pErr = "backingFile: " + *pErr;
        return false;
    }
    // Registrations and reservation that persist through power loss live
    // beside the backing file.
    if (m_cfg.bReservations && !nc.szBackingFile.empty() && !ns->resv.attachFile(nc.szBackingFile + ".resv", pErr)) {
        *pErr = "backingFile: " + *pErr;
        return false;
    }
    uint64_t nMask = 0;
    if (nc.attach.empty())   // the physical functions' controllers
        nMask = m_nPrimaries >= 64 ? ~0ull : (1ull << m_nPrimaries) - 1;
    for (uint32_t c : nc.attach)
        nMask |= 1ull << c;
    ns->attachedMask = nMask;
    m_nAllocated += ns->nBlocks * (ns->blockSize() + ns->nMetaSize);
    m_slots[nNsid].store(ns.get());
    m_owned.push_back(std::move(ns));
    return true;
}

Namespace *Subsystem::ns(uint32_t nNsid) const {
    if (nNsid == 0 || nNsid >= m_slots.size())
        return nullptr;
    return m_slots[nNsid].load(std::memory_order_acquire);
}

uint32_t Subsystem::namespaceCount() const {
    uint32_t n = 0;
    for (const auto &s : m_slots)
        n += s.load() != nullptr;
    return n;
}

uint64_t Subsystem::unallocated() const {
    std::lock_guard lock(m_mgmtMutex);
    return m_nCapacity - m_nAllocated;
}

bool Subsystem::linkDown() const {
    // Register accesses ask this all the time: the clock is read only while
    // a link-down window is open (0: none).
    int64_t nUntil = m_nLinkDownUntil.load(std::memory_order_acquire);
    if (nUntil == 0)
        return false;
    if (nowNs() < nUntil)
        return true;
    m_nLinkDownUntil.compare_exchange_strong(nUntil, 0);   // unless a new window opened meanwhile
    return false;
}

void Subsystem::subsystemReset() {
    std::lock_guard power(m_powerMutex);
    if (m_bPoweredOff.load())
        return;
    m_nLinkDownUntil = nowNs() + std::max<int64_t>(1, static_cast<int64_t>(m_cfg.timings.nLinkDownMs) * 1000000);
    for (auto &c : m_ctrls)
        c->core().subsystemReset(true);
    recordResetEvent();
    reservationsPowerLoss();
}

void Subsystem::reservationsPowerLoss() {
    std::lock_guard lock(m_resvMutex);
    for (const auto &ns : m_owned)
        ns->resv.powerLoss();
    for (auto &c : m_ctrls)
        c->core().resetHostId();
}

void Subsystem::hotReset() {
    std::lock_guard power(m_powerMutex);
    if (m_bPoweredOff.load())
        return;
    for (auto &c : m_ctrls)
        c->core().conventionalReset();
    recordResetEvent();
}

bool Subsystem::powerOff() {
    std::lock_guard power(m_powerMutex);
    if (m_bPoweredOff.load())
        return false;
    m_bPoweredOff = true;
    // The link stays down until power returns: no configuration or BAR0
    // access reaches the functions from here on.
    m_nLinkDownUntil.store(std::numeric_limits<int64_t>::max(), std::memory_order_release);
    bool bUnsafe = false;
    for (auto &c : m_ctrls) {
        bUnsafe = c->core().m_bNeedsShutdown.exchange(false) || bUnsafe;
        c->core().powerLoss();   // waits for the command being executed
    }
    if (bUnsafe)
        m_nUnsafeShutdowns.fetch_add(1);
    m_pLockdown->clear();
    std::lock_guard lock(m_mgmtMutex);
    for (const auto &ns : m_owned) {
        std::unique_lock rw(ns->rw);
        ns->dropVolatile();
    }
    reservationsPowerLoss();
    return true;
}

bool Subsystem::powerOn() {
    std::lock_guard power(m_powerMutex);
    if (!m_bPoweredOff.load())
        return false;
    m_nPowerCycles.fetch_add(1);
    for (auto &c : m_ctrls)
        c->core().subsystemReset(false);
    recordResetEvent();
    m_bPoweredOff = false;
    m_nLinkDownUntil.store(nowNs() + std::max<int64_t>(1, static_cast<int64_t>(m_cfg.timings.nLinkUpMs) * 1000000),
                           std::memory_order_release);
    return true;
}

void Subsystem::powerCycle() {
    powerOff();
    powerOn();
    m_nLinkDownUntil.store(0, std::memory_order_release);
}

uint16_t Subsystem::allocateStreams(uint16_t nWanted) {
    uint32_t nAllocated = m_nStreamsAllocated.load();
    uint32_t nGrant = 0;
    do {
        nGrant = std::min<uint32_t>(nWanted, m_cfg.nStreams - nAllocated);
    } while (!m_nStreamsAllocated.compare_exchange_weak(nAllocated, nAllocated + nGrant));
    return static_cast<uint16_t>(nGrant);
}

bool Subsystem::openSharedStream() {
    uint32_t nOpen = m_nStreamsSharedOpen.load();
    do {
        if (nOpen >= streamsAvailable())
            return false;
    } while (!m_nStreamsSharedOpen.compare_exchange_weak(nOpen, nOpen + 1));
    return true;
}

ControllerCore &Subsystem::secondaryCore(size_t n) const { return m_ctrls[m_nPrimaries + n - 1]->core(); }

void Subsystem::sriovControl(uint16_t nEnabled, bool bMse) {
    std::lock_guard lock(m_sriovMutex);
    for (size_t k = 1; k <= m_cfg.sriov.nTotalVfs; ++k)
        secondaryCore(k).setVfState(k <= nEnabled, bMse);
}

uint16_t Subsystem::virtualizationManagement(uint16_t nPrimary, uint8_t nAct, uint8_t nRt, uint16_t nCntlid,
                                             uint16_t nNr, uint32_t *pDw0) {
    const SriovConfig &s = m_cfg.sriov;
    if (nAct != VIRT_ACT_PRIMARY_FLEX_ALLOC && nAct != VIRT_ACT_SECONDARY_OFFLINE &&
        nAct != VIRT_ACT_SECONDARY_ASSIGN && nAct != VIRT_ACT_SECONDARY_ONLINE)
        return makeStatus(SCT_GENERIC, SC_INVALID_FIELD, true);
    const bool bResources = nAct == VIRT_ACT_PRIMARY_FLEX_ALLOC || nAct == VIRT_ACT_SECONDARY_ASSIGN;
    if (bResources && nRt != VIRT_RT_VQ && nRt != VIRT_RT_VI)
        return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_RESOURCE_ID, true);
    std::lock_guard lock(m_mgmtMutex);
    const uint32_t nTotal = nRt == VIRT_RT_VQ ? s.nFlexQueues : s.nFlexInterrupts;
    // Flexible resources of the type in use by the secondaries (but one)
    // and by the primary.
    auto inUse = [&](size_t nExceptVf, bool bPrimary) {
        uint32_t n = bPrimary ? (nRt == VIRT_RT_VQ ? m_nVqPrimary : m_nViPrimary) : 0;
        for (size_t k = 1; k <= s.nTotalVfs; ++k)
            if (k != nExceptVf)
                n += nRt == VIRT_RT_VQ ? secondaryCore(k).m_nVq.load() : secondaryCore(k).m_nVi.load();
        return n;
    };
    if (nAct == VIRT_ACT_PRIMARY_FLEX_ALLOC) {
        if (nCntlid != nPrimary)
            return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_CTRL_ID, true);
        if (nNr > nTotal - inUse(0, false))
            return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_CTRL_RESOURCES, true);
        (nRt == VIRT_RT_VQ ? m_nVqPrimary : m_nViPrimary) = nNr;
        *pDw0 = nNr;
        return 0;
    }
    // A secondary controller of this primary.
    const size_t nFirst = m_cfg.nFirstCntlid + m_nPrimaries;
    if (nCntlid < nFirst || nCntlid >= nFirst + s.nTotalVfs)
        return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_CTRL_ID, true);
    const size_t nVf = nCntlid - nFirst + 1;
    ControllerCore &sc = secondaryCore(nVf);
    switch (nAct) {
    case VIRT_ACT_SECONDARY_OFFLINE:
        sc.setOffline();
        return 0;
    case VIRT_ACT_SECONDARY_ASSIGN: {
        // Resources change only while the secondary is offline; NR is the
        // new number (0 removes them all).
        if (sc.m_bOnline.load())
            return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_SEC_CTRL_STATE, true);
        const uint32_t nMax = nRt == VIRT_RT_VQ ? s.nMaxVqPerVf : s.nMaxViPerVf;
        if (nNr > nMax || nNr > nTotal - std::min(nTotal, inUse(nVf, true)))
            return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_CTRL_RESOURCES, true);
        (nRt == VIRT_RT_VQ ? sc.m_nVq : sc.m_nVi).store(nNr);
        *pDw0 = nNr;
        return 0;
    }
    default:   // online: an admin queue and an I/O queue pair, one interrupt at least
        if (sc.m_bOnline.load())
            return 0;
        if (sc.m_nVq.load() < 2 || sc.m_nVi.load() < 1)
            return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_SEC_CTRL_STATE, true);
        sc.m_bOnline = true;
        return 0;
    }
}

void Subsystem::primaryCapabilities(nvme_primary_ctrl_cap &out) const {
    const SriovConfig &s = m_cfg.sriov;
    std::lock_guard lock(m_mgmtMutex);
    uint32_t nVq = 0, nVi = 0;
    for (size_t k = 1; k <= s.nTotalVfs; ++k) {
        nVq += secondaryCore(k).m_nVq.load();
        nVi += secondaryCore(k).m_nVi.load();
    }
    const ControllerConfig &pc = m_cfg.controllers[0];
    out.cntlid = m_cfg.nFirstCntlid;
    out.portid = 0;
    out.crt = 0x3;   // VQ and VI resources
    out.vqfrt = s.nFlexQueues;
    out.vqrfa = nVq;
    out.vqrfap = m_nVqPrimary;
    out.vqprt = static_cast<uint16_t>(pc.nQueuePairs + 1);
    out.vqfrsm = s.nMaxVqPerVf;
    out.vqgran = 1;
    out.vifrt = s.nFlexInterrupts;
    out.virfa = nVi;
    out.virfap = m_nViPrimary;
    out.viprt = pc.nMsixVectors;
    out.vifrsm = s.nMaxViPerVf;
    out.vigran = 1;
}

void Subsystem::secondaryList(uint16_t nFirst, nvme_secondary_ctrl_list &out) const {
    std::lock_guard lock(m_mgmtMutex);
    uint8_t n = 0;
    for (size_t k = 1; k <= m_cfg.sriov.nTotalVfs && n < NVME_ID_SECONDARY_CTRL_MAX; ++k) {
        const ControllerCore &sc = secondaryCore(k);
        if (sc.cntlid() < nFirst)
            continue;
        nvme_secondary_ctrl &e = out.sc_entry[n++];
        e.scid = sc.cntlid();
        e.pcid = m_cfg.nFirstCntlid;
        e.scs = sc.m_bOnline.load() ? 1 : 0;
        e.vfn = sc.vfNumber();
        e.nvq = sc.m_nVq.load();
        e.nvi = sc.m_nVi.load();
    }
    out.num = n;
}

std::vector<uint16_t> Subsystem::controllerIds(uint32_t nNsid) const {
    std::vector<uint16_t> out;
    const Namespace *p = nNsid ? ns(nNsid) : nullptr;
    for (size_t i = 0; i < m_ctrls.size(); ++i)
        if (!nNsid || (p && p->attachedTo(static_cast<uint32_t>(i))))
            out.push_back(static_cast<uint16_t>(m_cfg.nFirstCntlid + i));
    return out;
}

void Subsystem::notifyChanged(uint32_t nNsid, uint64_t nBefore, uint64_t nAfter) {
    for (size_t i = 0; i < m_ctrls.size(); ++i)
        if (((nBefore | nAfter) >> i) & 1)
            m_ctrls[i]->core().noteChangedNamespace(nNsid);
}

uint16_t Subsystem::createNamespace(uint64_t nBlocks, uint64_t nCap, uint8_t nFlbas, uint8_t nNmic, uint32_t *pNsid,
                                   uint8_t nDps, uint8_t nCsi) {
    (void)nNmic;
    const uint32_t nFormat = (nFlbas & 0xF) | ((nFlbas >> 1) & 0x30);
    if (nFormat >= m_cfg.lbaFormats.size() || !piFits(nDps, m_cfg.lbaFormats[nFormat]))
        return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT, true);
    if (nBlocks == 0)
        return makeStatus(SCT_GENERIC, SC_INVALID_FIELD, true);
    // A zoned namespace is a whole number of zones; a key value one has
    // no metadata.
    const uint64_t nBs = m_cfg.lbaFormats[nFormat].nDataSize;
    if (nCsi == kCsiZoned && (m_cfg.zonedDefaults.nZoneSize % nBs || m_cfg.zonedDefaults.nZoneCapacity % nBs))
        return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT, true);
    if (nCsi == kCsiZoned && (nBlocks * nBs) % m_cfg.zonedDefaults.nZoneSize)
        return makeStatus(SCT_GENERIC, SC_INVALID_FIELD, true);
    if (nCsi == kCsiKv && (m_cfg.lbaFormats[nFormat].nMetaSize || (nFlbas & 0x10)))
        return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT, true);
    if (nCap != nBlocks)
        return makeStatus(SCT_CMD_SPECIFIC, SC_THIN_PROV_NOT_SUPP, true);
    std::lock_guard lock(m_mgmtMutex);
    const LbaFormat &f = m_cfg.lbaFormats[nFormat];
    const uint64_t nBytes = nBlocks * (f.nDataSize + f.nMetaSize);
    if (nBlocks > (1ull << 48) || nBytes > m_nCapacity - m_nAllocated)
        return makeStatus(SCT_CMD_SPECIFIC, SC_NS_INSUFFICIENT_CAP, true);
    uint32_t nNsid = 1;
    while (nNsid <= m_cfg.nMaxNamespaces && m_slots[nNsid].load())
        ++nNsid;
    if (nNsid > m_cfg.nMaxNamespaces)
        return makeStatus(SCT_CMD_SPECIFIC, SC_NS_ID_UNAVAILABLE, true);
    NamespaceConfig nc;
    nc.nNsid = nNsid;
    nc.nBlocks = nBlocks;
    nc.nFormat = nFormat;
    nc.bExtendedLba = (nFlbas & 0x10) != 0;
    nc.attach = {};
    std::string szErr;
    auto ns = std::make_unique<Namespace>();
    ns->nNsid = nNsid;
    ns->nBlocks = nBlocks;
    ns->nFormat = nFormat;
    ns->nLbaShift = lbaShiftOf(f.nDataSize);
    ns->nMetaSize = f.nMetaSize;
    ns->bExtended = nc.bExtendedLba;
    ns->nPiType = nDps & NS_DPS_TYPE_MASK;
    ns->bPiFirst = ns->nPiType && (nDps & NS_DPS_FIRST);
    ns->nCsi = nCsi;
    ns->zonedCfg = m_cfg.zonedDefaults;
    ns->kvCfg = m_cfg.kvDefaults;
    for (int i = 0; i < 8; ++i) {
        ns->nguid[i] = static_cast<uint8_t>(0xA0 + m_nIndex);
        ns->nguid[8 + i] = static_cast<uint8_t>(nNsid >> (8 * (i % 4)));
    }
    if (!ns->createMedia(&szErr))
        return makeStatus(SCT_GENERIC, SC_INTERNAL);
    m_nAllocated += nBytes;
    m_slots[nNsid].store(ns.get(), std::memory_order_release);
    m_owned.push_back(std::move(ns));
    *pNsid = nNsid;
    return 0;
}

uint16_t Subsystem::deleteNamespace(uint32_t nNsid) {
    std::vector<std::pair<uint32_t, uint64_t>> changed;
    {
        std::lock_guard lock(m_mgmtMutex);
        for (uint32_t id = 1; id < m_slots.size(); ++id) {
            if (nNsid != NVME_NSID_ALL && id != nNsid)
                continue;
            Namespace *p = m_slots[id].load();
            if (!p) {
                if (nNsid != NVME_NSID_ALL)
                    return makeStatus(SCT_GENERIC, SC_INVALID_NS, true);
                continue;
            }
            std::unique_lock rw(p->rw);
            m_slots[id].store(nullptr, std::memory_order_release);
            const uint64_t nMask = p->attachedMask.exchange(0);
            m_nAllocated -= p->nBlocks * (p->blockSize() + p->nMetaSize);
            p->data.reset();
            p->meta.reset();
            p->zoned.reset();
            p->kv.reset();
            p->nBlocks = 0;
            {
                std::lock_guard resv(m_resvMutex);
                p->resv.clear();
            }
            changed.emplace_back(id, nMask);
            // The shell stays in m_owned: a command that looked it up just
            // before finds it empty instead of freed.
        }
    }
    for (auto &c : changed)
        notifyChanged(c.first, c.second, 0);
    return 0;
}

uint16_t Subsystem::attachNamespace(uint32_t nNsid, const std::vector<uint16_t> &cntlids, bool bAttach) {
    uint64_t nBefore = 0, nAfter = 0;
    {
        std::lock_guard lock(m_mgmtMutex);
        if (nNsid == NVME_NSID_ALL)
            return makeStatus(SCT_GENERIC, SC_INVALID_FIELD, true);
        Namespace *p = ns(nNsid);
        if (!p)
            return makeStatus(SCT_GENERIC, SC_INVALID_NS, true);
        uint64_t nSel = 0;
        for (uint16_t id : cntlids) {
            const size_t i = size_t(id) - m_cfg.nFirstCntlid;   // wraps below the first id
            if (i >= m_ctrls.size() || ((nSel >> i) & 1))
                return makeStatus(SCT_CMD_SPECIFIC, SC_CTRL_LIST_INVALID, true);
            nSel |= 1ull << i;
        }
        if (!nSel)
            return makeStatus(SCT_CMD_SPECIFIC, SC_CTRL_LIST_INVALID, true);
        nBefore = p->attachedMask.load();
        if (bAttach && (nBefore & nSel))
            return makeStatus(SCT_CMD_SPECIFIC, SC_NS_ALREADY_ATTACHED, true);
        if (!bAttach && (nBefore & nSel) != nSel)
            return makeStatus(SCT_CMD_SPECIFIC, SC_NS_NOT_ATTACHED, true);
        nAfter = bAttach ? (nBefore | nSel) : (nBefore & ~nSel);
        p->attachedMask.store(nAfter, std::memory_order_release);
    }
    notifyChanged(nNsid, nBefore ^ nAfter, 0);
    return 0;
}

uint16_t Subsystem::formatNamespace(uint32_t nNsid, uint32_t nFormat, bool bExtended, uint32_t nCtrlIndex,
                                   uint8_t nDps) {
    std::vector<std::pair<uint32_t, uint64_t>> changed;
    const uint16_t s = formatLocked(nNsid, nFormat, bExtended, nCtrlIndex, nDps, &changed);
    // The other controllers attached see their namespace data change.
    for (auto &c : changed)
        notifyChanged(c.first, c.second & ~(1ull << nCtrlIndex), 0);
    return s;
}

uint16_t Subsystem::formatLocked(uint32_t nNsid, uint32_t nFormat, bool bExtended, uint32_t nCtrlIndex, uint8_t nDps,
                                 std::vector<std::pair<uint32_t, uint64_t>> *pChanged) {
    std::lock_guard lock(m_mgmtMutex);
    if (nFormat >= m_cfg.lbaFormats.size() || !piFits(nDps, m_cfg.lbaFormats[nFormat]))
        return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT, true);
    const LbaFormat &f = m_cfg.lbaFormats[nFormat];
    std::vector<Namespace *> targets;
    for (uint32_t id = 1; id < m_slots.size(); ++id) {
        Namespace *p = m_slots[id].load();
        if (p && (nNsid == NVME_NSID_ALL || id == nNsid) && p->attachedTo(nCtrlIndex))
            targets.push_back(p);
    }
    if (targets.empty())
        return makeStatus(SCT_GENERIC, SC_INVALID_NS, true);
    // The capacity in bytes of the data stays; the block count follows the
    // new block size.
    uint64_t nNeed = 0, nFree = 0;
    for (Namespace *p : targets) {
        // Zones keep their size in bytes; key value namespaces have no metadata.
        if (p->nCsi == kCsiZoned && (p->zonedCfg.nZoneSize % f.nDataSize || p->zonedCfg.nZoneCapacity % f.nDataSize))
            return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT, true);
        if (p->nCsi == kCsiKv && (f.nMetaSize || bExtended))
            return makeStatus(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT, true);
        const uint64_t nBlocks = p->bytes() / f.nDataSize;
        nNeed += nBlocks * (f.nDataSize + f.nMetaSize);
        nFree += p->nBlocks * (p->blockSize() + p->nMetaSize);
    }
    if (nNeed > m_nCapacity - m_nAllocated + nFree)
        return makeStatus(SCT_CMD_SPECIFIC, SC_NS_INSUFFICIENT_CAP, true);
    for (Namespace *p : targets) {
        std::unique_lock rw(p->rw);
        m_nAllocated -= p->nBlocks * (p->blockSize() + p->nMetaSize);
        p->nBlocks = p->bytes() / f.nDataSize;
        p->nFormat = nFormat;
        p->nLbaShift = lbaShiftOf(f.nDataSize);
        p->nMetaSize = f.nMetaSize;
        p->bExtended = bExtended;
        p->nPiType = nDps & NS_DPS_TYPE_MASK;
        p->bPiFirst = p->nPiType && (nDps & NS_DPS_FIRST);
        std::string szErr;
        if (!p->createMedia(&szErr)) {
            p->nBlocks = 0;
            return makeStatus(SCT_GENERIC, SC_INTERNAL);
        }
        if (p->data)
            p->data->clear();
        if (p->meta)
            p->meta->clear();
        p->eraseCommandSetState();
        m_nAllocated += p->nBlocks * (p->blockSize() + p->nMetaSize);
        pChanged->emplace_back(p->nNsid, p->attachedMask.load());
    }
    return 0;
}

bool Subsystem::failZone(uint32_t nNsid, uint64_t nZslba, bool bOffline) {
    Namespace *p = ns(nNsid);
    if (!p)
        return false;
    {
        std::shared_lock rw(p->rw);
        if (!p->zoned)
            return false;
        std::lock_guard lock(p->zoned->mutex());
        if (!p->zoned->fail(nZslba, bOffline))
            return false;
        if (p->fileBacked())
            p->flushZonedLocked();
    }
    for (size_t i = 0; i < m_ctrls.size(); ++i)
        if (p->attachedTo(static_cast<uint32_t>(i)))
            m_ctrls[i]->core().noteChangedZone(nNsid, nZslba);
    return true;
}

} // namespace nvmesim
