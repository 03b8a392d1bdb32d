// I/O command set selection: which command sets CAP.CSS offers and CC.CSS
// with the I/O Command Set Profile feature enables, the Identify
// structures per command set (CNS 05h, 06h, 07h, 1Ah, 1Ch), the commands
// each set supports, the Changed Zone List log, and the dispatch of I/O
// commands to zoned and key value namespaces.
#include <cstring>

#include "ControllerCore.h"
#include "Namespace.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/KeyValue.h"
#include "nvmewire/Zoned.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }

// The I/O command set combinations (Identify CNS 1Ch), selected by index
// through the I/O Command Set Profile feature; index 0 after a reset.
constexpr uint64_t kCombinations[] = {IOCS_NVM | IOCS_KV | IOCS_ZNS, IOCS_NVM | IOCS_ZNS, IOCS_NVM | IOCS_KV, IOCS_NVM};
constexpr uint32_t kCombinationCount = sizeof kCombinations / sizeof kCombinations[0];

// The I/O command set specific namespace data of a CSI: a zoned namespace
// has the NVM command set's as well.
bool hasCsiData(uint8_t nNsCsi, uint8_t nCsi) { return nNsCsi == nCsi || (nCsi == CSI_NVM && nNsCsi == CSI_ZNS); }
} // namespace

uint64_t ControllerCore::supportedCommandSets() const {
    return (m_cfg.nCss & CAP_CSS_CSI) ? (IOCS_NVM | IOCS_KV | IOCS_ZNS) : IOCS_NVM;
}

// At CC.EN 0->1 and when the profile changes.
void ControllerCore::selectCommandSets() {
    switch (Cc{m_nCcActive}.css()) {
    case CC_CSS_NVM: m_nIocsEnabled = IOCS_NVM; break;
    case CC_CSS_CSI: m_nIocsEnabled = kCombinations[std::min(m_feat.nIocsProfile, kCombinationCount - 1)]; break;
    default: m_nIocsEnabled = 0; break;   // admin commands only
    }
}

bool ControllerCore::commandSetOpcode(uint8_t nOpc) const {
    switch (nOpc) {
    case ZNS_MGMT_SEND:
    case ZNS_MGMT_RECV:
    case ZNS_APPEND: return m_nIocsEnabled & IOCS_ZNS;
    case KV_LIST:
    case KV_DELETE:
    case KV_EXIST: return m_nIocsEnabled & IOCS_KV;
    default: return false;
    }
}

uint16_t ControllerCore::identifyCommandSet(uint8_t nCns, uint8_t nCsi, uint32_t nNsid, uint8_t *pOut) {
    if (nCsi > 63 || !((supportedCommandSets() >> nCsi) & 1))
        return gen(SC_INVALID_FIELD);
    switch (nCns) {
    case CNS_CSI_NS: {
        Namespace *p = activeNamespace(nNsid);
        std::shared_lock lock(p->rw);
        if (!hasCsiData(p->nCsi, nCsi))
            return gen(SC_INVALID_FIELD);
        if (nCsi == CSI_ZNS && p->zoned) {
            auto *id = reinterpret_cast<IdNsZoned *>(pOut);
            const ZonedNamespace &z = *p->zoned;
            const ZonedConfig &c = z.config();
            id->ozcs = c.bReadAcrossZones ? OZCS_READ_ACROSS_ZONES : 0;
            id->mar = c.nMaxActive ? c.nMaxActive - 1 : 0xFFFFFFFF;
            id->mor = c.nMaxOpen ? c.nMaxOpen - 1 : 0xFFFFFFFF;
            const auto &formats = m_subsys.formats();
            for (size_t i = 0; i < formats.size() && i < 64; ++i) {
                id->lbafe[i].zsze = c.nZoneSize / formats[i].nDataSize;
                id->lbafe[i].zdes = static_cast<uint8_t>(c.nDescExtSize / 64);
            }
        } else if (nCsi == CSI_KV && p->kv) {
            auto *id = reinterpret_cast<IdNsKv *>(pOut);
            const KvConfig &c = p->kv->config();
            id->nsze = p->kv->capacity();
            {
                std::lock_guard kvLock(p->kv->mutex());
                id->nuse = p->kv->bytesUsed();
            }
            id->nkvf = 0;
            id->nmic = m_subsys.controllerCount() > 1 ? 1 : 0;
            id->novg = 4;
            std::memcpy(id->nguid, p->nguid, 16);
            std::memcpy(id->eui64, p->nguid, 8);
            id->kvf[0].nMaxKeyLength = static_cast<uint16_t>(c.nMaxKeySize);
            id->kvf[0].nMaxValueSize = c.nMaxValueSize;
            id->kvf[0].nMaxKeys = c.nMaxKeys;
        }
        return 0;   // NVM: nothing beyond the base namespace data
    }
    case CNS_CSI_CTRL:
        if (nCsi == CSI_ZNS)
            reinterpret_cast<IdCtrlZoned *>(pOut)->zasl = m_cfg.nZasl;
        return 0;
    case CNS_CSI_NS_ACTIVE_LIST:
    case CNS_CSI_ALLOCATED_NS_LIST: {
        if (nNsid >= 0xFFFFFFFE)
            return gen(SC_INVALID_NS);
        auto *pList = reinterpret_cast<uint32_t *>(pOut);
        size_t n = 0;
        for (uint32_t id = nNsid + 1; id <= m_subsys.maxNamespaces() && n < 1024; ++id) {
            const Namespace *p = nCns == CNS_CSI_ALLOCATED_NS_LIST ? m_subsys.ns(id) : activeNamespace(id);
            if (p && p->nCsi == nCsi)
                pList[n++] = id;
        }
        return 0;
    }
    case CNS_COMMAND_SET_STRUCTURE: {
        auto *p = reinterpret_cast<nvme_id_iocs *>(pOut);
        if (!(m_cfg.nCss & CAP_CSS_CSI)) {
            p->iocsc[0] = IOCS_NVM;
            return 0;
        }
        for (uint32_t i = 0; i < kCombinationCount; ++i)
            p->iocsc[i] = kCombinations[i];
        return 0;
    }
    default:
        return gen(SC_INVALID_FIELD);
    }
}

// Get and Set Features, I/O Command Set Profile. Changing the combination
// needs CC.CSS 110b and no I/O queues; namespaces whose command set is
// enabled or disabled by it are reported as changed.
uint16_t ControllerCore::iocsProfileFeature(const Sqe &e, uint32_t *pDw0, bool bSet) {
    if (!(m_cfg.nCss & CAP_CSS_CSI))
        return gen(SC_INVALID_FIELD);
    if (!bSet) {
        const uint8_t nSel = (e.cdw10() >> 8) & 7;
        if (nSel > 3)
            return gen(SC_INVALID_FIELD);
        *pDw0 = nSel == 3 ? 0x4 : nSel == 0 ? m_feat.nIocsProfile : 0;
        return 0;
    }
    if (e.cdw10() >> 31)
        return specific(SC_FEATURE_NOT_SAVEABLE);
    if (Cc{m_nCcActive}.css() != CC_CSS_CSI)
        return gen(SC_CMD_SEQ_ERROR);
    for (size_t i = 1; i < m_sq.size(); ++i)
        if (m_sq[i].bValid || m_cq[i].bValid)
            return gen(SC_CMD_SEQ_ERROR);
    const uint32_t nIndex = e.cdw11() & IOCS_PROFILE_INDEX_MASK;
    if (nIndex >= kCombinationCount)
        return specific(SC_IOCS_COMBINATION_REJECTED);
    const uint64_t nBefore = m_nIocsEnabled;
    m_feat.nIocsProfile = nIndex;
    selectCommandSets();
    for (uint32_t n = 1; n <= m_subsys.maxNamespaces(); ++n) {
        const Namespace *p = m_subsys.ns(n);
        if (p && p->attachedTo(m_nIndex) && (((nBefore ^ m_nIocsEnabled) >> p->nCsi) & 1))
            noteChangedNamespace(n);
    }
    return 0;
}

// The I/O commands of a command set in the Commands Supported and Effects
// log; false for a command set the controller does not support.
bool ControllerCore::fillIoEffects(uint32_t *pIocs, uint8_t nCsi) const {
    if (nCsi > 63 || !((supportedCommandSets() >> nCsi) & 1))
        return false;
    constexpr uint32_t kSupp = 1, kLbcc = 2;
    if (nCsi == CSI_KV) {
        for (uint8_t op : {NVM_FLUSH, KV_RETRIEVE, KV_EXIST, KV_LIST})
            pIocs[op] = kSupp;
        for (uint8_t op : {KV_STORE, KV_DELETE})
            pIocs[op] = kSupp | kLbcc;
        return true;
    }
    for (uint8_t op : {NVM_FLUSH, NVM_READ, NVM_COMPARE, NVM_VERIFY})
        pIocs[op] = kSupp;
    if (nCsi == CSI_ZNS) {
        pIocs[ZNS_MGMT_RECV] = kSupp;
        for (uint8_t op : {NVM_WRITE, NVM_WRITE_ZEROES, ZNS_MGMT_SEND, ZNS_APPEND})
            pIocs[op] = kSupp | kLbcc;
        return true;
    }
    for (uint8_t op : {NVM_WRITE, NVM_WRITE_UNCOR, NVM_WRITE_ZEROES, NVM_DSM, NVM_COPY})
        pIocs[op] = kSupp | kLbcc;
    return true;
}

void ControllerCore::noteChangedZone(uint32_t nNsid, uint64_t nZslba) {
    {
        std::lock_guard lock(m_eventMutex);
        auto &v = m_changedZones[nNsid];
        if (v.size() <= CHANGED_ZONES_MAX && std::find(v.begin(), v.end(), nZslba) == v.end())
            v.push_back(nZslba);   // one past the maximum marks the overflow
    }
    postEvent(NVME_AER_NOTICE, AER_NOTICE_ZONE_DESC_CHANGED, LID_ZNS_CHANGED_ZONES);
}

// Changed Zone List of one zoned namespace: the zones whose descriptor the
// controller changed since the log was last read (FFFFh: too many).
uint16_t ControllerCore::changedZoneLog(const Sqe &e, bool bRae, std::vector<uint8_t> &log) {
    if (static_cast<uint8_t>(e.cdw14() >> 24) != CSI_ZNS)
        return gen(SC_INVALID_FIELD);
    const Namespace *p = activeNamespace(e.nsid());
    if (!p || p->nCsi != kCsiZoned)
        return gen(SC_INVALID_FIELD);
    log.assign(sizeof(ChangedZoneLog), 0);
    auto *pLog = reinterpret_cast<ChangedZoneLog *>(log.data());
    std::lock_guard lock(m_eventMutex);
    auto it = m_changedZones.find(e.nsid());
    if (it != m_changedZones.end()) {
        if (it->second.size() > CHANGED_ZONES_MAX) {
            pLog->nrzid = 0xFFFF;
        } else {
            pLog->nrzid = static_cast<uint16_t>(it->second.size());
            std::copy(it->second.begin(), it->second.end(), pLog->zid);
        }
        if (!bRae)
            m_changedZones.erase(it);
    }
    return 0;
}

uint16_t ControllerCore::ioCommandSet(const Sqe &e, Namespace &ns, uint32_t *pDw0, uint32_t *pDw1) {
    std::shared_lock lock(ns.rw);
    if (!ns.live() || !ns.attachedTo(m_nIndex))
        return gen(SC_INVALID_NS);   // deleted or detached meanwhile
    if (ns.zoned)
        return ioZoned(e, ns, pDw0, pDw1);
    if (ns.kv)
        return ioKeyValue(e, ns, pDw0);
    return gen(SC_INVALID_NS);
}

} // namespace nvmesim
