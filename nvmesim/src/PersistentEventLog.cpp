// The persistent event log: the store, the log page with its reporting
// context, and the events the controllers record.
#include "PersistentEventLog.h"

#include <chrono>
#include <cstring>
#include <string>

#include "ControllerCore.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/EventLogs.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }

constexpr uint8_t kRecorded[] = {PEL_FW_COMMIT, PEL_POWER_ON_RESET, PEL_CHANGE_NS, PEL_TELEMETRY_CREATE};

void padded(char *pOut, size_t n, const std::string &s) {
    std::memset(pOut, ' ', n);
    std::memcpy(pOut, s.data(), std::min(n, s.size()));
}

// A firmware revision as the 8 ASCII bytes of its field.
uint64_t revisionField(const std::string &s) {
    char a[8];
    padded(a, sizeof a, s);
    uint64_t v;
    std::memcpy(&v, a, sizeof v);
    return v;
}
} // namespace

// ---------------------------------------------------------------- the store

uint64_t PersistentEventLog::timestamp() {
    const auto nMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
    // Origin: set by a host (001b in bits 3:1), not synchronised.
    return (static_cast<uint64_t>(nMs) & 0xFFFFFFFFFFFFull) | (0x02ull << 48);
}

void PersistentEventLog::supportedEvents(uint8_t *pBitmap) {
    std::memset(pBitmap, 0, 32);
    for (uint8_t t : kRecorded)
        pBitmap[t / 8] |= static_cast<uint8_t>(1u << (t % 8));
}

void PersistentEventLog::record(uint8_t nType, uint16_t nCntlid, const void *pData, size_t nLen) {
    PelEventHeader h;
    std::memset(&h, 0, sizeof h);
    h.etype = nType;
    h.ehl = PEL_EVENT_HEADER_LENGTH;
    h.cntlid = nCntlid;
    h.ets = timestamp();
    h.el = static_cast<uint16_t>(nLen);
    if (nLen > 0xFFFF || sizeof h + nLen > kMaxBytes - kHeaderBytes)
        return;   // never happens with the events recorded here
    const auto *pH = reinterpret_cast<const uint8_t *>(&h);
    const auto *pD = static_cast<const uint8_t *>(pData);
    std::vector<uint8_t> ev(pH, pH + sizeof h);
    ev.insert(ev.end(), pD, pD + nLen);
    std::lock_guard lock(m_mutex);
    while (m_nBytes + ev.size() > kMaxBytes - kHeaderBytes) {
        m_nBytes -= m_events.front().size();
        m_events.pop_front();
    }
    m_nBytes += ev.size();
    m_events.push_back(std::move(ev));
}

uint32_t PersistentEventLog::appendEvents(std::vector<uint8_t> &out) const {
    std::lock_guard lock(m_mutex);
    out.reserve(out.size() + m_nBytes);
    for (const auto &ev : m_events)
        out.insert(out.end(), ev.begin(), ev.end());
    return static_cast<uint32_t>(m_events.size());
}

// ------------------------------------------------------ the controller side

// Log specific field: the action. Reading needs a reporting context, which
// "establish" takes as a snapshot of the log and "release" gives up (no
// data is transferred then). A controller reset releases it too.
uint16_t ControllerCore::persistentEventLog(uint8_t nLsp, std::vector<uint8_t> &log, bool *pTransfer) {
    *pTransfer = true;
    switch (nLsp & 3) {
    case PEL_ACTION_READ:
        if (!m_bPelContext)
            return gen(SC_CMD_SEQ_ERROR);
        break;
    case PEL_ACTION_ESTABLISH: {
        const DeviceConfig &dev = m_subsys.config();
        m_pelContext.assign(sizeof(PelHeader), 0);
        const uint32_t nEvents = m_subsys.eventLog().appendEvents(m_pelContext);
        PelHeader h;
        std::memset(&h, 0, sizeof h);
        h.lid = LID_PERSISTENT_EVENT;
        h.tnev = nEvents;
        h.tll = m_pelContext.size();
        h.rv = 0;
        h.lhl = PEL_LOG_HEADER_LENGTH;
        h.ts = PersistentEventLog::timestamp();
        const uint64_t nHours = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::hours>(Clock::now() - m_startedAt).count());
        std::memcpy(h.poh, &nHours, sizeof nHours);
        h.pcc = m_subsys.powerCycles();
        h.vid = dev.nVendorId;
        h.ssvid = dev.nSubsysVendorId;
        padded(h.sn, sizeof h.sn, dev.szSerial);
        padded(h.mn, sizeof h.mn, dev.szModel);
        const std::string szNqn = subsystemNqn();
        std::memcpy(h.subnqn, szNqn.data(), std::min(szNqn.size(), sizeof h.subnqn - 1));
        PersistentEventLog::supportedEvents(h.seb);
        std::memcpy(m_pelContext.data(), &h, sizeof h);
        m_bPelContext = true;
        break;
    }
    case PEL_ACTION_RELEASE:
        m_pelContext.clear();
        m_pelContext.shrink_to_fit();
        m_bPelContext = false;
        *pTransfer = false;
        return 0;
    default:
        return gen(SC_INVALID_FIELD);
    }
    log = m_pelContext;
    return 0;
}

std::string ControllerCore::subsystemNqn() const {
    return "nqn.2026-12.org.korvel:sim:" + std::to_string(m_subsys.index());
}

void ControllerCore::fillResetEntryLocked(PelResetEntry &out) const {
    std::memset(&out, 0, sizeof out);
    out.cid = cntlid();
    out.fw_act = m_bFwActivatedByReset ? 1 : 0;
    out.ctrl_power_cycle = static_cast<uint32_t>(m_subsys.powerCycles());
    out.power_on_ml_seconds = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_startedAt).count());
    out.ctrl_time_stamp = PersistentEventLog::timestamp() & 0xFFFFFFFFFFFFull;
}

std::string ControllerCore::activeFirmware() const { return m_fwSlots[m_nFwActiveSlot - 1]; }

void ControllerCore::recordResetEventLocked() {
    std::vector<uint8_t> data(8 + sizeof(PelResetEntry));
    const uint64_t nRev = revisionField(activeFirmware());
    std::memcpy(data.data(), &nRev, 8);
    PelResetEntry entry;
    fillResetEntryLocked(entry);
    std::memcpy(data.data() + 8, &entry, sizeof entry);
    m_subsys.eventLog().record(PEL_POWER_ON_RESET, cntlid(), data.data(), data.size());
}

void ControllerCore::resetEventEntry(PelResetEntry &out, std::string *pFirmware) {
    std::lock_guard lock(m_procMutex);
    fillResetEntryLocked(out);
    *pFirmware = activeFirmware();
}

uint16_t ControllerCore::firmwareCommitLogged(const Sqe &e, uint32_t *pDw0) {
    const std::string szOld = activeFirmware();
    const uint8_t nSlot = e.cdw10() & 7;
    const uint8_t nAction = (e.cdw10() >> 3) & 7;
    // Slot 0: the slot the controller picks (as the command does).
    const uint8_t nUsed = nSlot ? nSlot : (nAction == 2 ? m_nFwActiveSlot : (m_nFwActiveSlot == 2 ? 3 : 2));
    const uint16_t s = adminFirmwareCommit(e, pDw0);
    PelFwCommit ev;
    std::memset(&ev, 0, sizeof ev);
    ev.old_fw_rev = revisionField(szOld);
    ev.new_fw_rev = (s & 0xFF) || nUsed > 3 ? 0 : revisionField(m_fwSlots[nUsed - 1]);
    ev.fw_commit_action = nAction;
    ev.fw_slot = nSlot;
    ev.sct_fw = static_cast<uint8_t>((s >> 8) & 7);
    ev.sc_fw = static_cast<uint8_t>(s & 0xFF);
    m_subsys.eventLog().record(PEL_FW_COMMIT, cntlid(), &ev, sizeof ev);
    return s;
}

void ControllerCore::recordNamespaceChange(uint32_t nCdw10, uint32_t nNsid, const nvme_id_ns *pId) {
    PelChangeNs ev;
    std::memset(&ev, 0, sizeof ev);
    ev.nsmgt_cdw10 = nCdw10;
    ev.nsid = nNsid;
    if (pId) {
        ev.nsze = pId->nsze;
        ev.nscap = pId->ncap;
        ev.flbas = pId->flbas;
        ev.dps = pId->dps;
        ev.nmic = pId->nmic;
    }
    m_subsys.eventLog().record(PEL_CHANGE_NS, cntlid(), &ev, sizeof ev);
}

// ------------------------------------------------------- the subsystem side

void Subsystem::recordResetEvent() {
    std::vector<uint8_t> data(8, 0);
    bool bFirst = true;
    for (auto &c : m_ctrls) {
        ControllerCore &core = c->core();
        if (!core.m_bPresent.load())
            continue;
        PelResetEntry entry;
        std::string szFw;
        core.resetEventEntry(entry, &szFw);
        if (bFirst) {
            const uint64_t nRev = revisionField(szFw);
            std::memcpy(data.data(), &nRev, 8);
            bFirst = false;
        }
        const auto *p = reinterpret_cast<const uint8_t *>(&entry);
        data.insert(data.end(), p, p + sizeof entry);
    }
    m_pel->record(PEL_POWER_ON_RESET, 0, data.data(), data.size());
}

} // namespace nvmesim
