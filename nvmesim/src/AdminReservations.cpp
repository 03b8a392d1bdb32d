// The controller's side of reservations besides the I/O commands: the Host
// Identifier, Reservation Notification Mask and Reservation Persistence
// features, the Reservation Notification log page with its asynchronous
// event, and the aborts of a preempt-and-abort.
#include <algorithm>
#include <cstring>

#include "ControllerCore.h"
#include "Namespace.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/Reservation.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
// Entries the reservation log keeps; older ones are lost when more come
// (the host sees the gap in the log page count).
constexpr size_t kResvLogMax = 64;
} // namespace

bool ControllerCore::isResvFeature(uint8_t nFid) {
    return nFid == FEAT_HOST_ID || nFid == FEAT_RESV_MASK || nFid == FEAT_RESV_PERSIST;
}

void ControllerCore::resetHostId() {
    m_hostId.bytes = m_cfg.hostId;
    m_hostId.bExtended = m_cfg.bHostIdExtended;
}

uint16_t ControllerCore::resvGetFeature(const Sqe &e, uint8_t nSel, uint32_t *pDw0) {
    const uint8_t nFid = e.cdw10() & 0xFF;
    const uint32_t nNsid = e.nsid();
    if (nSel == 3) {
        // Changeable, not saveable; the reservation ones per namespace.
        *pDw0 = nFid == FEAT_HOST_ID ? 0x4 : 0x6;
        return 0;
    }
    if (nFid == FEAT_HOST_ID) {
        const bool bExhid = e.cdw11() & HOST_ID_EXHID;
        HostId h;
        if (nSel == 0) {
            std::lock_guard lock(m_subsys.resvMutex());
            h = m_hostId;
        } else {
            h.bytes = m_cfg.hostId;
            h.bExtended = m_cfg.bHostIdExtended;
        }
        if (h.bExtended && !bExhid)
            return gen(SC_HOSTID_FORMAT);
        return sendData(e, h.bytes.data(), bExhid ? 16 : 8);
    }
    if (nNsid == NVME_NSID_ALL)
        return gen(SC_INVALID_FIELD);
    Namespace *p = activeNamespace(nNsid);
    if (!p)
        return gen(SC_INVALID_NS);
    if (nFid == FEAT_RESV_MASK) {
        std::lock_guard lock(m_eventMutex);
        *pDw0 = nSel == 0 && nNsid < m_resvMask.size() ? m_resvMask[nNsid] : 0;
        return 0;
    }
    std::lock_guard lock(m_subsys.resvMutex());
    *pDw0 = nSel == 0 && p->resv.ptpl() ? 1 : 0;
    return 0;
}

uint16_t ControllerCore::resvSetFeature(const Sqe &e, uint32_t *pDw0) {
    (void)pDw0;
    const uint8_t nFid = e.cdw10() & 0xFF;
    const uint32_t nNsid = e.nsid();
    const uint32_t v = e.cdw11();
    if (nFid == FEAT_HOST_ID) {
        const bool bExhid = v & HOST_ID_EXHID;
        HostId h;
        if (const uint16_t s = recvData(e, h.bytes.data(), bExhid ? 16 : 8))
            return s;
        h.bExtended = bExhid;
        std::lock_guard lock(m_subsys.resvMutex());
        // A host that is a registrant keeps its identifier.
        if (!m_hostId.isZero() && !(h == m_hostId && h.bExtended == m_hostId.bExtended))
            for (uint32_t n = 1; n <= m_subsys.maxNamespaces(); ++n)
                if (const Namespace *p = m_subsys.ns(n); p && p->resv.find(m_hostId))
                    return gen(SC_CMD_SEQ_ERROR);
        m_hostId = h;
        return 0;
    }
    // Per namespace, or every attached namespace with NSID FFFFFFFFh.
    std::vector<Namespace *> targets;
    if (nNsid == NVME_NSID_ALL) {
        for (uint32_t n = 1; n <= m_subsys.maxNamespaces(); ++n)
            if (Namespace *p = activeNamespace(n))
                targets.push_back(p);
    } else if (Namespace *p = activeNamespace(nNsid)) {
        targets.push_back(p);
    } else {
        return gen(SC_INVALID_NS);
    }
    if (nFid == FEAT_RESV_MASK) {
        std::lock_guard lock(m_eventMutex);
        if (m_resvMask.size() <= m_subsys.maxNamespaces())
            m_resvMask.resize(m_subsys.maxNamespaces() + 1);
        for (Namespace *p : targets)
            m_resvMask[p->nNsid] = static_cast<uint8_t>(v & RESV_MASK_VALID);
        return 0;
    }
    std::lock_guard lock(m_subsys.resvMutex());
    for (Namespace *p : targets)
        if (!p->resv.setPtpl(v & 1))
            return makeStatus(SCT_GENERIC, SC_INTERNAL);
    return 0;
}

void ControllerCore::noteReservation(uint8_t nType, uint32_t nNsid) {
    {
        std::lock_guard lock(m_eventMutex);
        if (nNsid < m_resvMask.size() && ((m_resvMask[nNsid] >> nType) & 1))
            return;   // masked: no entry, no event
        if (++m_nResvLogCount == 0)
            m_nResvLogCount = 1;   // the count wraps past zero
        nvme_resv_notification_log x;
        std::memset(&x, 0, sizeof x);
        x.lpc = m_nResvLogCount;
        x.rnlpt = nType;
        x.nsid = nNsid;
        if (m_resvLog.size() >= kResvLogMax)
            m_resvLog.pop_front();
        m_resvLog.push_back(x);
    }
    postEvent(AER_IO_CMD_SPECIFIC, AER_RESERVATION_LOG, LID_RESERVATION);
}

// One read returns the oldest entry and removes it; the number of entries
// still available follows it. With none the page is empty (count 0).
void ControllerCore::fillResvLog(std::vector<uint8_t> &log) {
    log.assign(sizeof(nvme_resv_notification_log), 0);
    auto *p = reinterpret_cast<nvme_resv_notification_log *>(log.data());
    std::lock_guard lock(m_eventMutex);
    if (m_resvLog.empty())
        return;
    *p = m_resvLog.front();
    m_resvLog.pop_front();
    p->nalp = static_cast<uint8_t>(std::min<size_t>(m_resvLog.size(), 255));
}

void ControllerCore::abortPreempted(uint32_t nNsid) {
    {
        std::lock_guard lock(m_eventMutex);
        m_preemptAborts.push_back(nNsid);
        m_bAbortsPosted.store(true, std::memory_order_release);
    }
    kick();
}

// Commands of a preempted host that were executed but whose completion is
// still held back (latency, withheld completions) complete as aborted by
// the preempt-and-abort. Commands not fetched yet meet the new
// reservation when they are.
void ControllerCore::applyPreemptAborts() {
    std::vector<uint32_t> nsids;
    {
        std::lock_guard lock(m_eventMutex);
        nsids.swap(m_preemptAborts);
        m_bAbortsPosted.store(false, std::memory_order_relaxed);
    }
    if (nsids.empty())
        return;
    const uint16_t nAborted = makeStatus(SCT_GENERIC, SC_CMD_ABORTED_PREEMPT);
    auto hit = [&](const Completion &c) {
        return c.nSqId != 0 && std::find(nsids.begin(), nsids.end(), c.nNsid) != nsids.end();
    };
    for (auto *pList : {&m_withheld, &m_delayed})
        for (auto &c : *pList)
            if (hit(c)) {
                c.nStatus = nAborted;
                c.nDw0 = 0;
            }
}

} // namespace nvmesim
