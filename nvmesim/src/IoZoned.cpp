// Zoned namespace commands: reads and writes with the zone checks, Zone
// Append (the LBA written in dwords 0-1 of the completion), Write Zeroes,
// Zone Management Send and Receive. Zone states change under the zone
// mutex, held across the data transfer of a write so the write pointer
// moves only over data that was written.
#include <cstring>

#include "BlockRange.h"
#include "ControllerCore.h"
#include "Namespace.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/Zoned.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t media(uint16_t nSc) { return makeStatus(SCT_MEDIA, nSc); }

} // namespace

uint16_t ControllerCore::ioZoned(const Sqe &e, Namespace &ns, uint32_t *pDw0, uint32_t *pDw1) {
    ZonedNamespace &zones = *ns.zoned;
    const uint8_t nOpc = e.opc();
    switch (nOpc) {
    case NVM_FLUSH:
        return ns.flushMedia() ? 0 : media(SC_WRITE_FAULT);
    case NVM_READ:
    case NVM_COMPARE:
    case NVM_VERIFY: {
        const uint64_t nSlba = slbaOf(e);
        const uint32_t nNlb = nlbOf(e);
        if (!inRange(ns, nSlba, nNlb))
            return gen(SC_LBA_RANGE);
        {
            std::lock_guard lock(zones.mutex());
            if (const uint16_t s = zones.checkRead(nSlba, nNlb))
                return s;
        }
        return nOpc == NVM_READ ? ioReadWrite(e, ns, false) : nOpc == NVM_COMPARE ? ioCompare(e, ns) : ioVerify(e, ns);
    }
    case NVM_WRITE:
    case NVM_WRITE_ZEROES:
    case ZNS_APPEND: {
        const uint64_t nSlba = slbaOf(e);
        const uint32_t nNlb = nlbOf(e);
        const bool bAppend = nOpc == ZNS_APPEND;
        if (!inRange(ns, nSlba, bAppend ? 1 : nNlb))
            return gen(SC_LBA_RANGE);
        // Zone Append size limit: 2^ZASL minimum memory pages (0: MDTS).
        if (bAppend && m_cfg.nZasl &&
            (static_cast<uint64_t>(nNlb) << ns.nLbaShift) > (static_cast<uint64_t>(4096u << m_cfg.nMpsMin) << m_cfg.nZasl))
            return gen(SC_INVALID_FIELD);
        std::lock_guard lock(zones.mutex());
        uint64_t nLba = 0;
        uint16_t s = zones.admitWrite(nSlba, nNlb, bAppend, &nLba);
        if (s)
            return s;
        if (nOpc == NVM_WRITE_ZEROES) {
            s = zeroBlocks(ns, nLba, nNlb, durable(e));
        } else {
            Sqe w = e;
            w.setCdw10(static_cast<uint32_t>(nLba));
            w.setCdw11(static_cast<uint32_t>(nLba >> 32));
            s = ioReadWrite(w, ns, true);
        }
        if (s)
            return s;
        zones.completeWrite(nLba, nNlb);
        // Durable data: the zone states that describe it are saved too.
        if (durable(e) && ns.fileBacked() && !ns.flushZonedLocked())
            return media(SC_WRITE_FAULT);
        if (bAppend) {
            *pDw0 = static_cast<uint32_t>(nLba);
            *pDw1 = static_cast<uint32_t>(nLba >> 32);
        }
        return 0;
    }
    case ZNS_MGMT_SEND:
        return zoneMgmtSend(e, ns);
    case ZNS_MGMT_RECV:
        return zoneMgmtRecv(e, ns);
    default:
        return gen(SC_INVALID_OPCODE);
    }
}

uint16_t ControllerCore::zoneMgmtSend(const Sqe &e, Namespace &ns) {
    ZonedNamespace &zones = *ns.zoned;
    const uint64_t nSlba = slbaOf(e);
    const uint8_t nAction = e.cdw13() & 0xFF;
    const bool bAll = e.cdw13() & ZMS_SELECT_ALL;
    std::vector<uint8_t> ext;
    switch (nAction) {
    case ZSA_CLOSE:
    case ZSA_FINISH:
    case ZSA_OPEN:
    case ZSA_RESET:
    case ZSA_OFFLINE:
        break;
    case ZSA_SET_DESC_EXT: {
        const uint32_t nExt = zones.config().nDescExtSize;
        if (bAll || !nExt)
            return gen(SC_INVALID_FIELD);
        ext.resize(nExt);
        uint16_t s = buildSegments(e, nExt, false, m_cfg.bSgl, m_segs);
        if (s || (s = fromHost(m_segs, ext.data(), nExt)))
            return s;
        break;
    }
    default:
        return gen(SC_INVALID_FIELD);
    }
    std::lock_guard lock(zones.mutex());
    ZonedNamespace::Ranges discarded;
    bool bChanged = false;
    const uint16_t s = zones.send(nAction, nSlba, bAll, ext.data(), &discarded, &bChanged);
    // Reset zones read as zeros.
    for (const auto &[nLba, nCount] : discarded)
        if (const uint16_t z = zeroBlocks(ns, nLba, nCount, !volatileCacheOn()))
            return z;
    if (bChanged && ns.fileBacked() && !ns.flushZonedLocked())
        return media(SC_WRITE_FAULT);
    return s;
}

uint16_t ControllerCore::zoneMgmtRecv(const Sqe &e, Namespace &ns) {
    ZonedNamespace &zones = *ns.zoned;
    const uint64_t nSlba = slbaOf(e);
    const uint64_t nBytes = (static_cast<uint64_t>(e.cdw12()) + 1) * 4;
    const uint8_t nAction = e.cdw13() & 0xFF;
    const uint8_t nOption = (e.cdw13() >> 8) & 0xFF;
    const bool bPartial = e.cdw13() & ZMR_PARTIAL;
    if (nAction > ZRA_EXTENDED_REPORT || (nAction == ZRA_EXTENDED_REPORT && !zones.config().nDescExtSize))
        return gen(SC_INVALID_FIELD);
    if (nOption > ZRAS_OFFLINE)
        return gen(SC_INVALID_FIELD);
    if (nSlba >= ns.nBlocks)
        return gen(SC_LBA_RANGE);
    if (nBytes > maxTransfer())
        return gen(SC_INVALID_FIELD);
    {
        std::lock_guard lock(zones.mutex());
        zones.report(nSlba, nOption, nAction == ZRA_EXTENDED_REPORT, bPartial, nBytes, m_bounce);
    }
    m_bounce.resize(nBytes, 0);
    const uint16_t s = buildSegments(e, nBytes, true, m_cfg.bSgl, m_segs);
    return s ? s : toHost(m_segs, m_bounce.data(), nBytes);
}

} // namespace nvmesim
