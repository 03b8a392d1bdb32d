// Namespace Management, Namespace Attachment and Format NVM.
#include <cstring>

#include "ControllerCore.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/KeyValue.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }
} // namespace

uint16_t ControllerCore::adminNamespaceMgmt(const Sqe &e, uint32_t *pDw0) {
    if (!m_subsys.config().bNamespaceManagement)
        return gen(SC_INVALID_OPCODE);
    const uint8_t nSel = e.cdw10() & 0xF;
    if (nSel == 0) {
        // The command set of the new namespace: CDW11 31:24.
        const uint8_t nCsi = static_cast<uint8_t>(e.cdw11() >> 24);
        if (nCsi > 63 || !((supportedCommandSets() >> nCsi) & 1))
            return specific(SC_IOCS_NOT_SUPPORTED);
        if (!((m_nIocsEnabled >> nCsi) & 1))
            return specific(SC_IOCS_NOT_ENABLED);
        nvme_id_ns id;
        const uint16_t s = recvData(e, &id, sizeof id);
        if (s)
            return s;
        if (nCsi == kCsiKv) {
            // Key value: NSZE is the capacity in bytes, in blocks of format 0.
            IdNsKv kvId;
            std::memcpy(&kvId, &id, sizeof kvId);
            const uint64_t nBs = m_subsys.formats()[0].nDataSize;
            if (kvId.nsze == 0 || kvId.nsze % nBs)
                return gen(SC_INVALID_FIELD);
            uint32_t nNsid = 0;
            const uint16_t r = m_subsys.createNamespace(kvId.nsze / nBs, kvId.nsze / nBs, 0, kvId.nmic, &nNsid, 0, nCsi);
            if (!r) {
                *pDw0 = nNsid;
                recordNamespaceChange(e.cdw10(), nNsid, &id);
            }
            return r;
        }
        // Protection information on NVM namespaces only.
        if ((id.dps & ~(NS_DPS_TYPE_MASK | NS_DPS_FIRST)) || (nCsi != kCsiNvm && id.dps))
            return gen(SC_INVALID_FIELD);
        uint32_t nNsid = 0;
        const uint16_t r = m_subsys.createNamespace(id.nsze, id.ncap, id.flbas, id.nmic, &nNsid, id.dps, nCsi);
        if (!r) {
            *pDw0 = nNsid;
            recordNamespaceChange(e.cdw10(), nNsid, &id);
        }
        return r;
    }
    if (nSel == 1) {
        if (e.nsid() == 0 || (e.nsid() > m_subsys.maxNamespaces() && e.nsid() != NVME_NSID_ALL))
            return gen(SC_INVALID_NS);
        const uint16_t r = m_subsys.deleteNamespace(e.nsid());
        if (!r)
            recordNamespaceChange(e.cdw10(), e.nsid(), nullptr);
        return r;
    }
    return gen(SC_INVALID_FIELD);
}

uint16_t ControllerCore::adminNamespaceAttach(const Sqe &e) {
    if (!m_subsys.config().bNamespaceManagement)
        return gen(SC_INVALID_OPCODE);
    const uint8_t nSel = e.cdw10() & 0xF;
    if (nSel > 1)
        return gen(SC_INVALID_FIELD);
    if (e.nsid() == 0 || (e.nsid() > m_subsys.maxNamespaces() && e.nsid() != NVME_NSID_ALL))
        return gen(SC_INVALID_NS);
    uint16_t list[2048];
    const uint16_t s = recvData(e, list, sizeof list);
    if (s)
        return s;
    if (list[0] > 2047)
        return specific(SC_CTRL_LIST_INVALID);
    std::vector<uint16_t> ids(list + 1, list + 1 + list[0]);
    return m_subsys.attachNamespace(e.nsid(), ids, nSel == 0);
}

uint16_t ControllerCore::adminFormat(const Sqe &e) {
    const uint32_t nLbaf = (e.cdw10() & 0xF) | (((e.cdw10() >> 12) & 3) << 4);
    const bool bMset = (e.cdw10() >> 4) & 1;
    const uint8_t nPi = (e.cdw10() >> FORMAT_CDW10_PI_SHIFT) & 7;
    const bool bPiFirst = e.cdw10() & FORMAT_CDW10_PIL;
    const uint8_t nSes = (e.cdw10() >> 9) & 7;
    if (e.nsid() == 0 || (e.nsid() > m_subsys.maxNamespaces() && e.nsid() != NVME_NSID_ALL))
        return gen(SC_INVALID_NS);
    if (nSes > 1)
        return gen(SC_INVALID_FIELD);   // no cryptographic erase
    if (nLbaf >= m_subsys.formats().size())
        return specific(SC_INVALID_FORMAT);   // so is a protection information type the format cannot take
    if (e.nsid() != NVME_NSID_ALL && !activeNamespace(e.nsid()))
        return gen(SC_INVALID_NS);
    const uint16_t s =
        m_subsys.formatNamespace(e.nsid(), nLbaf, bMset, m_nIndex, static_cast<uint8_t>(nPi | (bPiFirst ? NS_DPS_FIRST : 0)));
    if (!s)
        m_nExtraDelayUs = m_subsys.config().timings.nFormatUs;   // the completion comes that much later
    return s;
}

} // namespace nvmesim
