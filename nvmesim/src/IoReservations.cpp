// Reservation Register, Acquire, Release and Report, and the access check
// of the other I/O commands on a namespace that has registrants.
#include <algorithm>
#include <cstring>

#include "ControllerCore.h"
#include "Namespace.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/Reservation.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }

uint8_t actionOf(const Sqe &e) { return e.cdw10() & 7; }
bool iekeyOf(const Sqe &e) { return (e.cdw10() >> 3) & 1; }
uint8_t typeOf(const Sqe &e) { return static_cast<uint8_t>(e.cdw10() >> 8); }
} // namespace

uint16_t ControllerCore::resvCheck(uint8_t nOpcode, Namespace &ns) {
    const ResvAccess a = resvAccessOf(nOpcode);
    if (a == ResvAccess::Unaffected)
        return 0;
    std::lock_guard lock(m_subsys.resvMutex());
    return ns.resv.permits(m_hostId, a) ? 0 : gen(SC_RESERVATION_CONFLICT);
}

// The keys of a reservation command: CRKEY, then NRKEY or PRKEY.
uint16_t ControllerCore::resvData(const Sqe &e, uint64_t *pKeys, uint32_t nKeys) {
    const uint16_t s = buildSegments(e, nKeys * 8ull, false, m_cfg.bSgl, m_segs);
    return s ? s : fromHost(m_segs, pKeys, nKeys * 8ull);
}

// Notifications go to every controller of each host named (with the
// namespace attached); a preempt-and-abort also has those controllers
// abort what they still hold of the namespace's commands. The
// reservation mutex is held.
void ControllerCore::resvDeliver(uint32_t nNsid, const ResvEffects &fx) {
    const Namespace *p = m_subsys.ns(nNsid);
    if (!p)
        return;
    for (size_t i = 0; i < m_subsys.controllerCount(); ++i) {
        ControllerCore &c = m_subsys.controller(i).core();
        if (!p->attachedTo(static_cast<uint32_t>(i)) || c.m_hostId.isZero())
            continue;
        for (const auto &n : fx.notices)
            if (n.first == c.m_hostId)
                c.noteReservation(n.second, nNsid);
        if (std::find(fx.aborted.begin(), fx.aborted.end(), c.m_hostId) != fx.aborted.end())
            c.abortPreempted(nNsid);
    }
}

uint16_t ControllerCore::ioResvRegister(const Sqe &e, Namespace &ns) {
    uint64_t keys[2] = {};
    if (const uint16_t s = resvData(e, keys, 2))
        return s;
    std::lock_guard lock(m_subsys.resvMutex());
    if (m_hostId.isZero())
        return gen(SC_HOSTID_FORMAT);   // a host without an identifier cannot register
    ResvEffects fx;
    const uint8_t nCptpl = static_cast<uint8_t>(e.cdw10() >> 30);
    const uint16_t s = ns.resv.doRegister(m_hostId, actionOf(e), iekeyOf(e), nCptpl, keys[0], keys[1], &fx);
    if (!s)
        resvDeliver(ns.nNsid, fx);
    return s;
}

uint16_t ControllerCore::ioResvAcquire(const Sqe &e, Namespace &ns) {
    uint64_t keys[2] = {};
    if (const uint16_t s = resvData(e, keys, 2))
        return s;
    std::lock_guard lock(m_subsys.resvMutex());
    ResvEffects fx;
    const uint16_t s = ns.resv.doAcquire(m_hostId, actionOf(e), iekeyOf(e), typeOf(e), keys[0], keys[1], &fx);
    if (!s)
        resvDeliver(ns.nNsid, fx);
    return s;
}

uint16_t ControllerCore::ioResvRelease(const Sqe &e, Namespace &ns) {
    uint64_t nKey = 0;
    if (const uint16_t s = resvData(e, &nKey, 1))
        return s;
    std::lock_guard lock(m_subsys.resvMutex());
    ResvEffects fx;
    const uint16_t s = ns.resv.doRelease(m_hostId, actionOf(e), iekeyOf(e), typeOf(e), nKey, &fx);
    if (!s)
        resvDeliver(ns.nNsid, fx);
    return s;
}

// The reservation status: a header, then one entry per controller whose
// host is a registrant (CNTLID FFFFh for a registrant no controller with
// the namespace attached belongs to), 24 bytes each or, with EDS, 64 bytes
// after a 64-byte header with 128-bit host identifiers.
uint16_t ControllerCore::ioResvReport(const Sqe &e, Namespace &ns) {
    const uint64_t nLen = (static_cast<uint64_t>(e.cdw10()) + 1) * 4;
    const bool bEds = e.cdw11() & RESV_REPORT_EDS;
    if (nLen > maxTransfer())
        return gen(SC_INVALID_FIELD);
    std::vector<uint8_t> &buf = m_bounce2;
    {
        std::lock_guard lock(m_subsys.resvMutex());
        if (!bEds && m_hostId.bExtended)
            return gen(SC_HOSTID_FORMAT);   // a 128-bit identifier does not fit the 64-bit entries
        const Reservations &r = ns.resv;
        struct Entry {
            uint16_t nCntlid;
            const Registrant *pReg;
        };
        std::vector<Entry> entries;
        for (const auto &reg : r.registrants()) {
            bool bAny = false;
            for (size_t i = 0; i < m_subsys.controllerCount(); ++i) {
                const ControllerCore &c = m_subsys.controller(i).core();
                if (ns.attachedTo(static_cast<uint32_t>(i)) && c.m_hostId == reg.host) {
                    entries.push_back(Entry{c.cntlid(), &reg});
                    bAny = true;
                }
            }
            if (!bAny)
                entries.push_back(Entry{0xFFFF, &reg});
        }
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.nCntlid < b.nCntlid; });
        const size_t nHeader = bEds ? RESV_STATUS_HEADER_EXT : RESV_STATUS_HEADER;
        const size_t nEntry = bEds ? sizeof(nvme_registered_ctrl_ext) : sizeof(nvme_registered_ctrl);
        buf.assign(std::max<uint64_t>(nLen, nHeader + entries.size() * nEntry), 0);
        auto *pHdr = reinterpret_cast<nvme_resv_status *>(buf.data());
        pHdr->gen = r.generation();
        pHdr->rtype = r.type();
        pHdr->regctl[0] = static_cast<uint8_t>(entries.size());
        pHdr->regctl[1] = static_cast<uint8_t>(entries.size() >> 8);
        pHdr->ptpls = r.ptpl() ? 1 : 0;
        for (size_t k = 0; k < entries.size(); ++k) {
            const Registrant &reg = *entries[k].pReg;
            const uint8_t nRcsts = r.holds(reg.host) ? RESV_RCSTS_HOLDS : 0;
            uint8_t *q = buf.data() + nHeader + k * nEntry;
            if (bEds) {
                auto *x = reinterpret_cast<nvme_registered_ctrl_ext *>(q);
                x->cntlid = entries[k].nCntlid;
                x->rcsts = nRcsts;
                x->rkey = reg.nKey;
                std::memcpy(x->hostid, reg.host.bytes.data(), 16);
            } else {
                auto *x = reinterpret_cast<nvme_registered_ctrl *>(q);
                x->cntlid = entries[k].nCntlid;
                x->rcsts = nRcsts;
                x->hostid = reg.host.low64();
                x->rkey = reg.nKey;
            }
        }
    }
    const uint16_t s = buildSegments(e, nLen, true, m_cfg.bSgl, m_segs);
    return s ? s : toHost(m_segs, buf.data(), nLen);
}

} // namespace nvmesim
