// NVM command set: Read, Write, Flush, Compare, Write Zeroes, Write
// Uncorrectable, Dataset Management, Verify and Copy, with separate
// (MPTR) or interleaved metadata. Namespaces with protection information
// take the paths of NvmProtected.cpp.
#include <cstring>

#include "BlockRange.h"
#include "ControllerCore.h"
#include "Namespace.h"
#include "SanitizeState.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/Directives.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }
constexpr uint16_t media(uint16_t nSc) { return makeStatus(SCT_MEDIA, nSc); }

} // namespace

// FUA, or the issuing controller has its volatile write cache off.
bool ControllerCore::durable(const Sqe &e) const { return (e.cdw12() & CDW12_FUA) || !volatileCacheOn(); }

// The volatile write cache of every namespace attached to this controller
// goes to the media.
bool ControllerCore::flushNamespaces() {
    bool bOk = true;
    for (uint32_t n = 1; n <= m_subsys.maxNamespaces(); ++n)
        if (Namespace *p = activeNamespace(n)) {
            std::shared_lock lock(p->rw);
            bOk = (!p->live() || p->flushMedia()) && bOk;
        }
    return bOk;
}

uint16_t ControllerCore::io(const Sqe &e, uint32_t *pDw0, uint32_t *pDw1) {
    if (e.fuse())
        return gen(SC_INVALID_FIELD);   // no fused operations
    // An I/O command takes a controller in a non-operational power state
    // back to its last operational state.
    if (m_power.nonOperational()) [[unlikely]]
        m_power.resumeForIo();
    if (m_sanitize.gate()) [[unlikely]] {
        if (const uint16_t s = sanitizeIoGate(e))
            return s;
    }
    if (e.opc() == NVM_FLUSH && e.nsid() == NVME_NSID_ALL)
        return flushNamespaces() ? 0 : media(SC_WRITE_FAULT);
    switch (e.opc()) {
    case NVM_FLUSH:
    case NVM_WRITE:
    case NVM_READ:
    case NVM_WRITE_UNCOR:
    case NVM_COMPARE:
    case NVM_WRITE_ZEROES:
    case NVM_DSM:
    case NVM_VERIFY:
    case NVM_COPY:
        break;
    case NVM_RESV_REGISTER:
    case NVM_RESV_REPORT:
    case NVM_RESV_ACQUIRE:
    case NVM_RESV_RELEASE:
        if (!m_bResv)
            return gen(SC_INVALID_OPCODE);
        break;
    default:
        if (!commandSetOpcode(e.opc()))
            return gen(SC_INVALID_OPCODE);
    }
    Namespace *ns = activeNamespace(e.nsid());
    if (!ns)
        return gen(SC_INVALID_NS);
    if (ns->nCsi != kCsiNvm)
        return ioCommandSet(e, *ns, pDw0, pDw1);
    std::shared_lock lock(ns->rw);
    if (!ns->data || !ns->attachedTo(m_nIndex))
        return gen(SC_INVALID_NS);   // deleted or detached meanwhile
    // Only a namespace with a registrant can have a reservation.
    if (ns->resv.engaged()) [[unlikely]] {
        if (const uint16_t s = resvCheck(e.opc(), *ns))
            return s;
    }
    switch (e.opc()) {
    case NVM_FLUSH: return ns->flushMedia() ? 0 : media(SC_WRITE_FAULT);
    case NVM_WRITE: return ioReadWrite(e, *ns, true);
    case NVM_READ: return ioReadWrite(e, *ns, false);
    case NVM_WRITE_UNCOR: return ioWriteUncorrectable(e, *ns);
    case NVM_COMPARE: return ioCompare(e, *ns);
    case NVM_WRITE_ZEROES: return ioWriteZeroes(e, *ns);
    case NVM_DSM: return ioDsm(e, *ns);
    case NVM_VERIFY: return ioVerify(e, *ns);
    case NVM_COPY: return ioCopy(e, *ns);
    case NVM_RESV_REGISTER: return ioResvRegister(e, *ns);
    case NVM_RESV_REPORT: return ioResvReport(e, *ns);
    case NVM_RESV_ACQUIRE: return ioResvAcquire(e, *ns);
    case NVM_RESV_RELEASE: return ioResvRelease(e, *ns);
    default: return gen(SC_INVALID_OPCODE);
    }
}

// Separate metadata of a read or write: MPTR is the buffer (PSDT 00b and
// 01b) or the address of one SGL data block descriptor (PSDT 10b).
uint16_t ControllerCore::metaTransfer(const Sqe &e, Namespace &ns, uint64_t nSlba, uint32_t nBlocks, bool bWrite) {
    if (!ns.nMetaSize || ns.bExtended || !ns.meta)
        return 0;
    const uint64_t nLen = static_cast<uint64_t>(nBlocks) * ns.nMetaSize;
    uint8_t *p = nullptr;
    if (const uint16_t s = metaBuffer(e, nLen, &p))
        return s;
    const uint64_t nOff = nSlba * ns.nMetaSize;
    const bool bOk = bWrite ? ns.meta->write(nOff, p, nLen, durable(e)) : ns.meta->read(nOff, p, nLen);
    if (!bOk)
        return bWrite ? media(SC_WRITE_FAULT) : media(SC_READ_ERROR);
    return 0;
}

// The host memory of nLen bytes of separate metadata that MPTR names.
uint16_t ControllerCore::metaBuffer(const Sqe &e, uint64_t nLen, uint8_t **pp) {
    uint64_t nAddr = e.mptr();
    if (e.psdt() == PSDT_SGL_MPTR_SGL) {
        SglDesc d{};
        if (!m_dma.read(e.mptr(), &d, sizeof d))
            return gen(SC_DATA_XFER_ERROR);
        nAddr = d.addr;
        if (d.type() != SGL_DATA_BLOCK || d.subtype() != SGL_SUBTYPE_ADDRESS)
            return gen(SC_SGL_INVALID_TYPE);
        if (d.length != nLen)
            return gen(SC_SGL_INVALID_METADATA);
    } else if (nAddr & 3) {
        return gen(SC_INVALID_FIELD);
    }
    *pp = m_dma.translate(nAddr, nLen);
    return *pp ? 0 : gen(SC_DATA_XFER_ERROR);
}

// Range and size checks of a block transfer, then the host segments of its
// data pointer (m_segs). *pUnit is the host bytes per block (data, and the
// metadata when it is interleaved), *pLen the whole transfer.
uint16_t ControllerCore::mapBlockData(const Sqe &e, const Namespace &ns, uint64_t nSlba, uint32_t nNlb, bool bToHost,
                                      uint64_t *pUnit, uint64_t *pLen) {
    if (!inRange(ns, nSlba, nNlb))
        return gen(SC_LBA_RANGE);
    *pUnit = ns.blockSize() + (ns.bExtended ? ns.nMetaSize : 0);
    *pLen = *pUnit * nNlb;
    if (*pLen > maxTransfer())
        return gen(SC_INVALID_FIELD);
    return buildSegments(e, *pLen, bToHost, m_cfg.bSgl, m_segs);
}

// A read of blocks marked uncorrectable fails and counts as a media error.
uint16_t ControllerCore::checkReadable(Namespace &ns, uint64_t nSlba, uint64_t nNlb) {
    if (!ns.anyUncorrectable(nSlba, nNlb))
        return 0;
    m_nMediaErrors.fetch_add(1, std::memory_order_relaxed);
    return media(SC_READ_ERROR);
}

// Blocks (and their metadata) that read as zeros afterwards.
uint16_t ControllerCore::zeroBlocks(Namespace &ns, uint64_t nSlba, uint64_t nNlb, bool bDurable) {
    if (!ns.data->zero(nSlba << ns.nLbaShift, nNlb << ns.nLbaShift, bDurable))
        return media(SC_WRITE_FAULT);
    if (ns.meta && !ns.meta->zero(nSlba * ns.nMetaSize, nNlb * ns.nMetaSize, bDurable))
        return media(SC_WRITE_FAULT);
    ns.clearUncorrectable(nSlba, nNlb);
    return 0;
}

uint16_t ControllerCore::ioReadWrite(const Sqe &e, Namespace &ns, bool bWrite) {
    if (bWrite && (e.cdw12() & CDW12_DTYPE_MASK)) [[unlikely]] {
        if (const uint16_t sd = checkStreamWrite(e, ns.nNsid))
            return sd;
    }
    if (ns.nPiType) [[unlikely]]
        return ioReadWritePi(e, ns, bWrite);
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    const uint64_t nBs = ns.blockSize();
    uint64_t nUnit = 0, nLen = 0;
    uint16_t s = mapBlockData(e, ns, nSlba, nNlb, !bWrite, &nUnit, &nLen);
    if (s || (!bWrite && (s = checkReadable(ns, nSlba, nNlb))))
        return s;
    const uint16_t nFail = bWrite ? media(SC_WRITE_FAULT) : media(SC_READ_ERROR);
    const bool bDurable = durable(e);
    if (!ns.bExtended || !ns.nMetaSize) {
        // Straight between the media and the host pages.
        uint64_t nOff = nSlba << ns.nLbaShift;
        for (const auto &seg : m_segs) {
            if (!seg.bBucket) {
                uint8_t *p = m_dma.translate(seg.nAddr, seg.nLen);
                if (!p)
                    return gen(SC_DATA_XFER_ERROR);
                if (!(bWrite ? ns.data->write(nOff, p, seg.nLen, bDurable) : ns.data->read(nOff, p, seg.nLen)))
                    return nFail;
            }
            nOff += seg.nLen;
        }
    } else {
        // Each block's metadata follows its data in the host buffer.
        m_bounce.resize(nLen);
        if (bWrite && (s = fromHost(m_segs, m_bounce.data(), nLen)))
            return s;
        for (uint32_t i = 0; i < nNlb; ++i) {
            uint8_t *p = m_bounce.data() + i * nUnit;
            const uint64_t b = nSlba + i;
            const bool bOk = bWrite ? ns.data->write(b << ns.nLbaShift, p, nBs, bDurable) &&
                                         ns.meta->write(b * ns.nMetaSize, p + nBs, ns.nMetaSize, bDurable)
                                    : ns.data->read(b << ns.nLbaShift, p, nBs) && ns.meta->read(b * ns.nMetaSize, p + nBs, ns.nMetaSize);
            if (!bOk)
                return nFail;
        }
        if (!bWrite && (s = toHost(m_segs, m_bounce.data(), nLen)))
            return s;
    }
    if ((s = metaTransfer(e, ns, nSlba, nNlb, bWrite)))
        return s;
    if (bWrite) {
        ns.clearUncorrectable(nSlba, nNlb);
        m_nDataUnitsWritten.fetch_add((nNlb * nBs) / 512, std::memory_order_relaxed);
        m_nHostWrites.fetch_add(1, std::memory_order_relaxed);
    } else {
        m_nDataUnitsRead.fetch_add((nNlb * nBs) / 512, std::memory_order_relaxed);
        m_nHostReads.fetch_add(1, std::memory_order_relaxed);
    }
    return 0;
}

uint16_t ControllerCore::ioCompare(const Sqe &e, Namespace &ns) {
    if (ns.nPiType)
        return ioComparePi(e, ns);
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    const uint64_t nBs = ns.blockSize();
    uint64_t nUnit = 0, nLen = 0;
    uint16_t s = mapBlockData(e, ns, nSlba, nNlb, false, &nUnit, &nLen);
    if (s || (s = checkReadable(ns, nSlba, nNlb)))
        return s;
    m_bounce.resize(nLen);
    m_bounce2.resize(nLen);
    if ((s = fromHost(m_segs, m_bounce.data(), nLen)))
        return s;
    for (uint32_t i = 0; i < nNlb; ++i) {
        uint8_t *p = m_bounce2.data() + i * nUnit;
        const uint64_t b = nSlba + i;
        if (!ns.data->read(b << ns.nLbaShift, p, nBs))
            return media(SC_READ_ERROR);
        if (nUnit > nBs && !ns.meta->read(b * ns.nMetaSize, p + nBs, ns.nMetaSize))
            return media(SC_READ_ERROR);
    }
    if (std::memcmp(m_bounce.data(), m_bounce2.data(), nLen) != 0)
        return media(SC_COMPARE_FAILED);
    if (ns.nMetaSize && !ns.bExtended && ns.meta) {
        const uint64_t nMeta = static_cast<uint64_t>(nNlb) * ns.nMetaSize;
        const uint8_t *pHost = nullptr;
        if (e.psdt() != PSDT_SGL_MPTR_SGL)
            pHost = m_dma.translate(e.mptr(), nMeta);
        if (pHost) {
            m_bounce2.resize(nMeta);
            if (!ns.meta->read(nSlba * ns.nMetaSize, m_bounce2.data(), nMeta))
                return media(SC_READ_ERROR);
            if (std::memcmp(pHost, m_bounce2.data(), nMeta) != 0)
                return media(SC_COMPARE_FAILED);
        } else if (e.psdt() != PSDT_SGL_MPTR_SGL) {
            return gen(SC_DATA_XFER_ERROR);
        }
    }
    return 0;
}

uint16_t ControllerCore::ioWriteZeroes(const Sqe &e, Namespace &ns) {
    if (ns.nPiType)
        return ioWriteZeroesPi(e, ns);
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    if (!inRange(ns, nSlba, nNlb))
        return gen(SC_LBA_RANGE);
    return zeroBlocks(ns, nSlba, nNlb, durable(e));
}

uint16_t ControllerCore::ioWriteUncorrectable(const Sqe &e, Namespace &ns) {
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    if (!inRange(ns, nSlba, nNlb))
        return gen(SC_LBA_RANGE);
    ns.markUncorrectable(nSlba, nNlb);
    return 0;
}

uint16_t ControllerCore::ioDsm(const Sqe &e, Namespace &ns) {
    const uint32_t nRanges = (e.cdw10() & 0xFF) + 1;
    const bool bDeallocate = (e.cdw11() >> 2) & 1;
    nvme_dsm_range ranges[256];
    uint16_t s = buildSegments(e, nRanges * sizeof(nvme_dsm_range), false, m_cfg.bSgl, m_segs);
    if (s || (s = fromHost(m_segs, ranges, nRanges * sizeof(nvme_dsm_range))))
        return s;
    for (uint32_t i = 0; i < nRanges; ++i)
        if (ranges[i].nlb && !inRange(ns, ranges[i].slba, ranges[i].nlb))
            return gen(SC_LBA_RANGE);
    if (!bDeallocate)
        return 0;
    // Deallocated blocks read as zeros.
    for (uint32_t i = 0; i < nRanges; ++i) {
        if (!ranges[i].nlb)
            continue;
        if ((s = zeroBlocks(ns, ranges[i].slba, ranges[i].nlb, !volatileCacheOn())))
            return s;
    }
    return 0;
}

uint16_t ControllerCore::ioVerify(const Sqe &e, Namespace &ns) {
    if (ns.nPiType)
        return ioVerifyPi(e, ns);
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    if (!inRange(ns, nSlba, nNlb))
        return gen(SC_LBA_RANGE);
    return checkReadable(ns, nSlba, nNlb);
}

uint16_t ControllerCore::ioCopy(const Sqe &e, Namespace &ns) {
    const uint64_t nDest = slbaOf(e);
    const uint32_t nRanges = (e.cdw12() & 0xFF) + 1;
    const uint32_t nFormat = (e.cdw12() >> 8) & 0xF;
    if (nFormat != 0)
        return gen(SC_INVALID_FIELD);
    if (nRanges > kCopyMaxRanges)
        return specific(SC_CMD_SIZE_LIMIT_EXCEEDED);
    nvme_copy_range ranges[kCopyMaxRanges];
    uint16_t s = buildSegments(e, nRanges * sizeof(nvme_copy_range), false, m_cfg.bSgl, m_segs);
    if (s || (s = fromHost(m_segs, ranges, nRanges * sizeof(nvme_copy_range))))
        return s;
    uint64_t nTotal = 0;
    for (uint32_t i = 0; i < nRanges; ++i) {
        const uint32_t n = static_cast<uint32_t>(ranges[i].nlb) + 1;
        if (n > kCopyMaxRange)
            return specific(SC_CMD_SIZE_LIMIT_EXCEEDED);
        nTotal += n;
    }
    if (nTotal > kCopyMaxBlocks)
        return specific(SC_CMD_SIZE_LIMIT_EXCEEDED);
    for (uint32_t i = 0; i < nRanges; ++i)
        if (!inRange(ns, ranges[i].slba, static_cast<uint64_t>(ranges[i].nlb) + 1))
            return gen(SC_LBA_RANGE);
    if (!inRange(ns, nDest, nTotal))
        return gen(SC_LBA_RANGE);
    for (uint32_t i = 0; i < nRanges; ++i)
        if ((s = checkReadable(ns, ranges[i].slba, static_cast<uint64_t>(ranges[i].nlb) + 1)))
            return s;
    // Read every source first: sources and destination may overlap.
    const uint64_t nBs = ns.blockSize();
    m_bounce.resize(nTotal * nBs);
    m_bounce2.resize(nTotal * ns.nMetaSize);
    uint64_t nAt = 0;
    for (uint32_t i = 0; i < nRanges; ++i) {
        const uint64_t n = static_cast<uint64_t>(ranges[i].nlb) + 1;
        if (!ns.data->read(ranges[i].slba << ns.nLbaShift, m_bounce.data() + nAt * nBs, n * nBs))
            return media(SC_READ_ERROR);
        if (ns.meta && !ns.meta->read(ranges[i].slba * ns.nMetaSize, m_bounce2.data() + nAt * ns.nMetaSize, n * ns.nMetaSize))
            return media(SC_READ_ERROR);
        nAt += n;
    }
    if (ns.nPiType && (s = copyProtection(e, ns, ranges, nRanges, nDest, nTotal, m_bounce.data(), m_bounce2.data())))
        return s;
    if (!ns.data->write(nDest << ns.nLbaShift, m_bounce.data(), nTotal * nBs, durable(e)))
        return media(SC_WRITE_FAULT);
    if (ns.meta && !ns.meta->write(nDest * ns.nMetaSize, m_bounce2.data(), nTotal * ns.nMetaSize, durable(e)))
        return media(SC_WRITE_FAULT);
    ns.clearUncorrectable(nDest, nTotal);
    return 0;
}

} // namespace nvmesim
