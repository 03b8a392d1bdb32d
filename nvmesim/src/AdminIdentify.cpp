// Identify: controller, namespaces, namespace lists, identification
// descriptors, controller lists and the I/O command set structures.
#include <cstring>
#include <string>

#include "ControllerCore.h"
#include "Namespace.h"
#include "PersistentEventLog.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/Reservation.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }

void padded(char *pOut, size_t n, const std::string &s) {
    std::memset(pOut, ' ', n);
    std::memcpy(pOut, s.data(), std::min(n, s.size()));
}

void put128(uint8_t *p, uint64_t v) {
    std::memset(p, 0, 16);
    std::memcpy(p, &v, 8);
}
} // namespace

Namespace *ControllerCore::activeNamespace(uint32_t nNsid) const {
    Namespace *p = m_subsys.ns(nNsid);
    return p && p->attachedTo(m_nIndex) && ((m_nIocsEnabled >> p->nCsi) & 1) ? p : nullptr;
}

void ControllerCore::fillIdentifyController(nvme_id_ctrl &id) const {
    const DeviceConfig &dev = m_subsys.config();
    std::memset(&id, 0, sizeof id);
    id.vid = dev.nVendorId;
    id.ssvid = dev.nSubsysVendorId;
    padded(id.sn, sizeof id.sn, dev.szSerial);
    padded(id.mn, sizeof id.mn, dev.szModel);
    padded(id.fr, sizeof id.fr, m_fwSlots[m_nFwActiveSlot - 1]);
    id.rab = 6;
    id.cmic = static_cast<uint8_t>((m_subsys.controllerCount() > 1 ? 0x2 : 0) | (isVf() ? 0x4 : 0));
    id.mdts = m_cfg.nMdts;
    id.cntlid = cntlid();
    id.ver = Vs::make(2, 0).raw;
    id.oaes = 1u << 8;   // namespace attribute notices
    id.cntrltype = 1;    // I/O controller
    // A secondary controller leaves namespace management and
    // virtualization management to its primary.
    id.oacs = OACS_SECURITY | OACS_FORMAT | OACS_FW | OACS_SELF_TEST | OACS_LBA_STATUS | OACS_LOCKDOWN |
              (dev.bNamespaceManagement && !isVf() ? OACS_NS_MGMT : 0) | (isPrimaryWithSriov() ? OACS_VIRT_MGMT : 0) |
              (directivesSupported() ? OACS_DIRECTIVES : 0);
    id.acl = 3;
    id.aerl = 3;
    id.frmw = 0x16;      // three slots, activation without reset
    id.lpa = logPageAttributes();
    id.elpe = static_cast<uint8_t>(m_errors.size() - 1);
    m_power.fillIdentify(id);
    id.wctemp = 343;
    id.cctemp = 353;
    id.hmpre = 1024;
    id.hmmin = 0;
    if (dev.bNamespaceManagement) {
        put128(id.tnvmcap, m_subsys.capacity());
        put128(id.unvmcap, m_subsys.unallocated());
    }
    id.kas = 1;
    id.sanicap = sanicap();
    id.sqes = 0x66;
    id.cqes = 0x44;
    id.nn = m_subsys.maxNamespaces();
    id.oncs = ONCS_COMPARE | ONCS_WRITE_UNCORRECTABLE | ONCS_DSM | ONCS_WRITE_ZEROES | ONCS_SAVE_FEATURES |
              ONCS_TIMESTAMP | ONCS_VERIFY | ONCS_COPY | (m_bResv ? ONCS_RESERVATIONS : 0);
    id.ctratt = m_bResv ? CTRATT_HOST_ID_128 : 0;   // host identifiers of 64 or 128 bits
    id.fna = 0;
    id.vwc = dev.bVolatileWriteCache ? 0x07 : 0x00;
    id.ocfs = 0x1;
    id.sgls = m_cfg.bSgl ? (0x1u | (1u << 16) | (1u << 19)) : 0;
    id.pels = PersistentEventLog::kPelsUnits;
    const std::string szNqn = subsystemNqn();
    std::memcpy(id.subnqn, szNqn.data(), std::min(szNqn.size(), sizeof id.subnqn - 1));
}

bool ControllerCore::fillIdentifyNamespace(uint32_t nNsid, nvme_id_ns &id, bool bAllocated) const {
    std::memset(&id, 0, sizeof id);
    const auto &formats = m_subsys.formats();
    auto fillFormats = [&] {
        id.nlbaf = static_cast<uint8_t>(formats.size() - 1);
        id.mc = 0x3;
        id.dlfeat = 0x09;
        for (size_t i = 0; i < formats.size() && i < 64; ++i) {
            id.lbaf[i].ms = formats[i].nMetaSize;
            id.lbaf[i].ds = static_cast<uint8_t>(lbaShiftOf(formats[i].nDataSize));
            id.lbaf[i].rp = formats[i].nDataSize >= 4096 ? 0 : 2;
            // Protection information of every type, first or last, in
            // any format with room for it.
            if (formats[i].nMetaSize >= kPiSize)
                id.dpc = NS_DPC_TYPE1 | NS_DPC_TYPE2 | NS_DPC_TYPE3 | NS_DPC_FIRST | NS_DPC_LAST;
        }
    };
    if (nNsid == NVME_NSID_ALL) {
        fillFormats();
        return true;
    }
    Namespace *p = bAllocated ? m_subsys.ns(nNsid) : activeNamespace(nNsid);
    if (!p || p->nCsi == kCsiKv)
        return true;   // inactive, or no block data to describe: all zeros
    std::shared_lock lock(p->rw);
    fillFormats();
    id.nsze = p->nBlocks;
    id.ncap = p->nBlocks;
    id.nuse = p->nBlocks;
    id.flbas = static_cast<uint8_t>((p->nFormat & 0xF) | (p->bExtended ? 0x10 : 0) | ((p->nFormat & 0x30) << 1));
    id.dps = static_cast<uint8_t>(p->nPiType | (p->bPiFirst ? NS_DPS_FIRST : 0));
    id.nmic = m_subsys.controllerCount() > 1 ? 1 : 0;
    id.rescap = m_bResv ? RESCAP_ALL : 0;
    id.mssrl = kCopyMaxRange;
    id.mcl = kCopyMaxBlocks;
    id.msrc = kCopyMaxRanges - 1;
    put128(id.nvmcap, p->bytes());
    std::memcpy(id.nguid, p->nguid, 16);
    std::memcpy(id.eui64, p->nguid, 8);
    return true;
}

uint16_t ControllerCore::adminIdentify(const Sqe &e) {
    const uint8_t nCns = e.cdw10() & 0xFF;
    const uint16_t nCntid = static_cast<uint16_t>(e.cdw10() >> 16);
    const uint8_t nCsi = static_cast<uint8_t>(e.cdw11() >> 24);
    const uint32_t nNsid = e.nsid();
    const uint32_t nNn = m_subsys.maxNamespaces();
    const bool bMgmt = m_subsys.config().bNamespaceManagement;
    auto &buf = m_bounce2;
    buf.assign(4096, 0);
    auto validNsid = [&](uint32_t n) { return n >= 1 && n <= nNn; };
    auto nsList = [&](bool bAllocated) -> uint16_t {
        if (nNsid >= 0xFFFFFFFE)
            return gen(SC_INVALID_NS);
        auto *pList = reinterpret_cast<uint32_t *>(buf.data());
        size_t n = 0;
        for (uint32_t id = nNsid + 1; id <= nNn && n < 1024; ++id) {
            const Namespace *p = bAllocated ? m_subsys.ns(id) : activeNamespace(id);
            if (p)
                pList[n++] = id;
        }
        return 0;
    };
    auto ctrlList = [&](const std::vector<uint16_t> &ids) {
        auto *p = reinterpret_cast<uint16_t *>(buf.data());
        uint16_t n = 0;
        for (uint16_t id : ids)
            if (id >= nCntid && n < 2047)
                p[1 + n++] = id;
        p[0] = n;
    };
    uint16_t s = 0;
    switch (nCns) {
    case CNS_NS:
    case CNS_ALLOCATED_NS: {
        const bool bAlloc = nCns == CNS_ALLOCATED_NS;
        if (bAlloc && !bMgmt)
            return gen(SC_INVALID_FIELD);
        if (!validNsid(nNsid) && !(nNsid == NVME_NSID_ALL && bMgmt))
            return gen(SC_INVALID_NS);
        fillIdentifyNamespace(nNsid, *reinterpret_cast<nvme_id_ns *>(buf.data()), bAlloc);
        break;
    }
    case CNS_CTRL:
        fillIdentifyController(*reinterpret_cast<nvme_id_ctrl *>(buf.data()));
        break;
    case CNS_NS_ACTIVE_LIST:
        s = nsList(false);
        break;
    case CNS_ALLOCATED_NS_LIST:
        if (!bMgmt)
            return gen(SC_INVALID_FIELD);
        s = nsList(true);
        break;
    case CNS_NS_DESC_LIST: {
        const Namespace *p = validNsid(nNsid) ? activeNamespace(nNsid) : nullptr;
        if (!p)
            return gen(SC_INVALID_NS);
        uint8_t *q = buf.data();
        q[0] = 2;   // NGUID
        q[1] = 16;
        std::memcpy(q + 4, p->nguid, 16);
        q += 20;
        q[0] = 1;   // EUI-64
        q[1] = 8;
        std::memcpy(q + 4, p->nguid, 8);
        q += 12;
        q[0] = 4;   // command set identifier
        q[1] = 1;
        q[4] = p->nCsi;
        break;
    }
    case CNS_CSI_INDEPENDENT_NS: {
        if (!validNsid(nNsid))
            return gen(SC_INVALID_NS);
        const Namespace *p = activeNamespace(nNsid);
        if (!p)
            break;   // inactive: all zeros
        auto *q = reinterpret_cast<nvme_id_independent_id_ns *>(buf.data());
        nvme_id_ns id;
        fillIdentifyNamespace(nNsid, id, false);
        q->nsfeat = id.nsfeat;
        q->nmic = id.nmic;
        q->rescap = id.rescap;
        q->nstat = 1;   // namespace ready
        break;
    }
    case CNS_CSI_NS:
        if (!validNsid(nNsid) || !activeNamespace(nNsid))
            return gen(SC_INVALID_NS);
        s = identifyCommandSet(nCns, nCsi, nNsid, buf.data());
        break;
    case CNS_CSI_CTRL:
        if (nCsi == CSI_NVM) {
            auto *p = reinterpret_cast<nvme_id_ctrl_nvm *>(buf.data());
            p->dmrl = 255;
            p->dmrsl = 0xFFFFFFFF;
            break;
        }
        s = identifyCommandSet(nCns, nCsi, nNsid, buf.data());
        break;
    case CNS_CSI_NS_ACTIVE_LIST:
    case CNS_CSI_ALLOCATED_NS_LIST:
        if (nCns == CNS_CSI_ALLOCATED_NS_LIST && !bMgmt)
            return gen(SC_INVALID_FIELD);
        s = identifyCommandSet(nCns, nCsi, nNsid, buf.data());
        break;
    case CNS_NS_CTRL_LIST:
        if (!bMgmt)
            return gen(SC_INVALID_FIELD);
        if (!validNsid(nNsid) || !m_subsys.ns(nNsid))
            return gen(SC_INVALID_NS);
        ctrlList(m_subsys.controllerIds(nNsid));
        break;
    case CNS_CTRL_LIST:
        if (!bMgmt && !m_subsys.config().sriov.nTotalVfs)
            return gen(SC_INVALID_FIELD);
        ctrlList(m_subsys.controllerIds(0));
        break;
    case CNS_PRIMARY_CTRL_CAP:
        if (!isPrimaryWithSriov())
            return gen(SC_INVALID_FIELD);
        m_subsys.primaryCapabilities(*reinterpret_cast<nvme_primary_ctrl_cap *>(buf.data()));
        break;
    case CNS_SECONDARY_CTRL_LIST:
        if (!isPrimaryWithSriov())
            return gen(SC_INVALID_FIELD);
        m_subsys.secondaryList(nCntid, *reinterpret_cast<nvme_secondary_ctrl_list *>(buf.data()));
        break;
    case CNS_COMMAND_SET_STRUCTURE:
        s = identifyCommandSet(nCns, nCsi, nNsid, buf.data());
        break;
    default:
        return gen(SC_INVALID_FIELD);
    }
    if (s)
        return s;
    return sendData(e, buf.data(), 4096);
}

} // namespace nvmesim
