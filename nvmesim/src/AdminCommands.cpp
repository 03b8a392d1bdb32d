// Admin command dispatch, the error log, asynchronous events, Abort and
// Keep Alive.
#include <algorithm>
#include <cstring>

#include "ControllerCore.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/Zoned.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }
} // namespace

uint16_t ControllerCore::admin(const Sqe &e, uint32_t *pDw0, bool *pDeferred) {
    if (m_feat.nKato)
        m_kaDeadline = Clock::now() + std::chrono::milliseconds(m_feat.nKato);
    // Admin commands use PRPs on this transport.
    if (e.psdt() != PSDT_PRP)
        return gen(SC_INVALID_FIELD);
    if (e.fuse())
        return gen(SC_INVALID_FIELD);   // no fused operations
    if (const uint16_t s = lockdownRestriction(e))
        return s;
    if (const uint16_t s = sanitizeAdminRestriction(e))
        return s;
    switch (e.opc()) {
    case ADMIN_DELETE_SQ: return adminDeleteSq(e);
    case ADMIN_CREATE_SQ: return adminCreateSq(e);
    case ADMIN_GET_LOG_PAGE: return adminGetLogPage(e);
    case ADMIN_DELETE_CQ: return adminDeleteCq(e);
    case ADMIN_CREATE_CQ: return adminCreateCq(e);
    case ADMIN_IDENTIFY: return adminIdentify(e);
    case ADMIN_ABORT: return adminAbort(e, pDw0);
    case ADMIN_SET_FEATURES: return adminSetFeatures(e, pDw0);
    case ADMIN_GET_FEATURES: return adminGetFeatures(e, pDw0);
    case ADMIN_ASYNC_EVENT: return adminAsyncEvent(e, pDeferred);
    case ADMIN_NS_MGMT: return isVf() ? gen(SC_INVALID_OPCODE) : adminNamespaceMgmt(e, pDw0);
    case ADMIN_VIRTUAL_MGMT: return isPrimaryWithSriov() ? adminVirtualizationMgmt(e, pDw0) : gen(SC_INVALID_OPCODE);
    case ADMIN_FW_COMMIT: return firmwareCommitLogged(e, pDw0);
    case ADMIN_FW_DOWNLOAD: return adminFirmwareDownload(e);
    case ADMIN_DEV_SELF_TEST: return adminSelfTest(e);
    case ADMIN_NS_ATTACH: return isVf() ? gen(SC_INVALID_OPCODE) : adminNamespaceAttach(e);
    case ADMIN_KEEP_ALIVE: return adminKeepAlive(e);
    case ADMIN_FORMAT_NVM: return adminFormat(e);
    case ADMIN_GET_LBA_STATUS: return adminLbaStatus(e);
    case ADMIN_DIRECTIVE_SEND: return adminDirectiveSend(e);
    case ADMIN_DIRECTIVE_RECV: return adminDirectiveReceive(e, pDw0);
    case ADMIN_SANITIZE: return adminSanitize(e);
    case ADMIN_SECURITY_SEND: return adminSecuritySend(e);
    case ADMIN_SECURITY_RECV: return adminSecurityReceive(e);
    case ADMIN_LOCKDOWN: return adminLockdown(e);
    case ADMIN_CAP_MGMT: return gen(SC_INVALID_OPCODE);   // capacity management is not offered
    default: return gen(SC_INVALID_OPCODE);
    }
}

void ControllerCore::addErrorEntry(uint16_t nSqId, uint16_t nCid, uint16_t nStatus, uint32_t nNsid, uint64_t nLba) {
    ++m_nErrorCount;
    nvme_error_log_page &x = m_errors[(m_nErrorCount - 1) % m_errors.size()];
    std::memset(&x, 0, sizeof x);
    x.error_count = m_nErrorCount;
    x.sqid = nSqId;
    x.cmdid = nCid;
    x.status_field = static_cast<uint16_t>(nStatus << 1);
    x.parm_error_location = 0xFFFF;
    x.lba = nLba;
    x.nsid = nNsid;
}

void ControllerCore::postEvent(uint8_t nType, uint8_t nInfo, uint8_t nLogPage) {
    {
        std::lock_guard lock(m_eventMutex);
        if (nType == NVME_AER_ERROR)
            m_nDoorbellErrors += 1;   // entered in the error log by the worker
        if (m_pendingEvents.size() < 64)
            m_pendingEvents.push_back(nType | (nInfo << 8) | (static_cast<uint32_t>(nLogPage) << 16));
        m_bEventsPosted.store(true, std::memory_order_release);
    }
    kick();
}

void ControllerCore::noteChangedNamespace(uint32_t nNsid) {
    {
        std::lock_guard lock(m_eventMutex);
        if (std::find(m_changedNs.begin(), m_changedNs.end(), nNsid) == m_changedNs.end()) {
            if (m_changedNs.size() >= 1024)
                m_bChangedNsOverflow = true;
            else
                m_changedNs.push_back(nNsid);
        }
    }
    postEvent(NVME_AER_NOTICE, NVME_AER_NOTICE_NS_CHANGED, NVME_LOG_LID_CHANGED_NS);
}

// Hands queued events to outstanding Asynchronous Event Requests. An event
// type stays masked after it was reported until the host reads the log
// page that goes with it.
void ControllerCore::deliverEvents() {
    // The flag spares the worker the lock on every pass when nothing was
    // posted, which is nearly always.
    if (m_bEventsPosted.exchange(false, std::memory_order_acquire)) {
        std::lock_guard lock(m_eventMutex);
        for (; m_nDoorbellErrors; --m_nDoorbellErrors)
            addErrorEntry(0xFFFF, 0xFFFF, 0, 0, 0);   // not tied to a command
        while (!m_pendingEvents.empty()) {
            const uint32_t ev = m_pendingEvents.front();
            m_pendingEvents.pop_front();
            const uint8_t nType = ev & 0xFF;
            // Notices need their bit in Asynchronous Event Configuration:
            // namespace attribute (8), zone descriptor changed (27).
            const uint32_t nEnable = ((ev >> 8) & 0xFF) == AER_NOTICE_ZONE_DESC_CHANGED ? AEC_ZONE_DESC_CHANGED : (1u << 8);
            if (nType == NVME_AER_NOTICE && !(m_feat.nAsyncEventCfg & nEnable))
                continue;   // notices of this kind disabled
            if (std::find(m_events.begin(), m_events.end(), ev) == m_events.end())
                m_events.push_back(ev);
        }
    }
    while (!m_aerCids.empty() && !m_events.empty() && (m_csts.load() & 1)) {
        auto it = std::find_if(m_events.begin(), m_events.end(),
                               [&](uint32_t ev) { return !((m_nMaskedEvents >> (ev & 7)) & 1); });
        if (it == m_events.end())
            return;
        const uint32_t ev = *it;
        m_events.erase(it);
        m_nMaskedEvents |= 1u << (ev & 7);
        Completion c{0, m_aerCids.front(), ev, 0, {}};
        m_aerCids.erase(m_aerCids.begin());
        post(c);
    }
}

uint16_t ControllerCore::adminAsyncEvent(const Sqe &e, bool *pDeferred) {
    if (m_aerCids.size() >= 4)
        return specific(SC_ASYNC_LIMIT);
    m_aerCids.push_back(e.cid());
    *pDeferred = true;
    deliverEvents();
    return 0;
}

uint16_t ControllerCore::adminKeepAlive(const Sqe &) { return 0; }

// Abort finds the command among those fetched but not completed yet
// (outstanding event requests, delayed or withheld completions). Dword 0
// bit 0 is cleared when the command was aborted.
uint16_t ControllerCore::adminAbort(const Sqe &e, uint32_t *pDw0) {
    const uint16_t nSqId = e.cdw10() & 0xFFFF, nCid = static_cast<uint16_t>(e.cdw10() >> 16);
    *pDw0 = 1;
    const uint16_t nAborted = makeStatus(SCT_GENERIC, SC_ABORT_REQ);
    if (nSqId == 0) {
        auto it = std::find(m_aerCids.begin(), m_aerCids.end(), nCid);
        if (it != m_aerCids.end()) {
            m_aerCids.erase(it);
            post(Completion{0, nCid, 0, nAborted, {}});
            *pDw0 = 0;
            return 0;
        }
    }
    auto match = [&](const Completion &c) { return c.nSqId == nSqId && c.nCid == nCid; };
    auto it = std::find_if(m_withheld.begin(), m_withheld.end(), match);
    if (it != m_withheld.end()) {
        Completion c = *it;
        m_withheld.erase(it);
        m_nWithheldCount = m_withheld.size();
        c.nStatus = nAborted;
        c.nDw0 = 0;
        post(c);
        *pDw0 = 0;
        return 0;
    }
    auto it2 = std::find_if(m_delayed.begin(), m_delayed.end(), match);
    if (it2 != m_delayed.end()) {
        Completion c = *it2;
        m_delayed.erase(it2);
        std::make_heap(m_delayed.begin(), m_delayed.end(), [](const Completion &a, const Completion &b) { return a.due > b.due; });
        c.nStatus = nAborted;
        c.nDw0 = 0;
        post(c);
        *pDw0 = 0;
    }
    return 0;
}

} // namespace nvmesim
