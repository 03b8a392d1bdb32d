// Read, Write, Compare, Verify, Write Zeroes and Copy on namespaces with
// protection information: PRINFO of CDW12 (PRACT and the PRCHK checks),
// the initial reference tag of CDW14 and the application tag and mask of
// CDW15. The blocks pass through two buffers laid out as on the media
// (data back to back in m_bounce2, metadata in m_piMeta); m_bounce holds
// the host's image when the metadata is interleaved. Namespaces without
// protection information never come here.
#include <algorithm>
#include <cstring>

#include <endian.h>

#include "BlockRange.h"
#include "ControllerCore.h"
#include "Namespace.h"
#include "ProtectionInfo.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t media(uint16_t nSc) { return makeStatus(SCT_MEDIA, nSc); }

// Verify and Write Zeroes take up to 64 Ki blocks without a transfer
// limit; they go through the buffers this many blocks at a time.
constexpr uint64_t kPiChunkBlocks = 256;

PiRequest requestOf(const Sqe &e) { return PiRequest::fromCommand(e.cdw12(), CDW12_PRINFO_SHIFT, e.cdw14(), e.cdw15()); }
// The request for the blocks from the nSkip'th on.
PiRequest advanced(PiRequest r, uint64_t nSkip) {
    r.nRefTag = static_cast<uint32_t>(r.nRefTag + nSkip);
    return r;
}
} // namespace

// Data and metadata of nNlb blocks from the media into pData and pMeta.
// Blocks never written (or deallocated, formatted, zeroed without PRACT)
// hold zeros on the media; their protection information reads as all
// FFh, which turns every check off for them, so a fresh namespace reads
// without check errors. (A written block whose guard, application tag and
// reference tag are all zero reads the same way.)
uint16_t ControllerCore::readProtected(Namespace &ns, uint64_t nSlba, uint64_t nNlb, uint8_t *pData, uint8_t *pMeta) {
    if (!ns.data->read(nSlba << ns.nLbaShift, pData, nNlb << ns.nLbaShift) ||
        !ns.meta->read(nSlba * ns.nMetaSize, pMeta, nNlb * ns.nMetaSize))
        return media(SC_READ_ERROR);
    static constexpr uint8_t kZeros[kPiSize] = {};
    const uint32_t nPiOff = ns.piFormat().offset();
    for (uint64_t i = 0; i < nNlb; ++i) {
        uint8_t *pPi = pMeta + i * ns.nMetaSize + nPiOff;
        if (std::memcmp(pPi, kZeros, kPiSize) == 0)
            std::memset(pPi, 0xFF, kPiSize);
    }
    return 0;
}

// The host side of a block transfer with protection information: the
// data pointer's segments for nNlb blocks and, for separate metadata the
// host transfers, the MPTR buffer (*ppMeta, else null). *pUnit is the
// host bytes per block, *pHostMeta the metadata bytes per block the host
// transfers (none when PRACT strips the protection information).
uint16_t ControllerCore::mapProtected(const Sqe &e, const Namespace &ns, const PiRequest &r, bool bToHost,
                                      uint64_t *pUnit, uint64_t *pHostMeta, uint8_t **ppMeta) {
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    if (!inRange(ns, nSlba, nNlb))
        return gen(SC_LBA_RANGE);
    *pHostMeta = piStripped(ns.piFormat(), r) ? 0 : ns.nMetaSize;
    *pUnit = ns.blockSize() + (ns.bExtended ? *pHostMeta : 0);
    const uint64_t nLen = *pUnit * nNlb;
    if (nLen > maxTransfer())
        return gen(SC_INVALID_FIELD);
    uint16_t s = piValidate(ns.piFormat(), r, nSlba);
    if (s || (s = buildSegments(e, nLen, bToHost, m_cfg.bSgl, m_segs)))
        return s;
    *ppMeta = nullptr;
    if (!ns.bExtended && *pHostMeta)
        return metaBuffer(e, *pHostMeta * nNlb, ppMeta);
    return 0;
}

// The host's blocks into m_bounce2 (data) and m_piMeta (metadata; zeros
// where the host sends none).
uint16_t ControllerCore::gatherProtected(const Namespace &ns, uint32_t nNlb, uint64_t nUnit, uint64_t nHostMeta,
                                         const uint8_t *pHostMeta) {
    const uint64_t nBs = ns.blockSize(), nMs = ns.nMetaSize;
    m_bounce2.resize(nNlb * nBs);
    m_piMeta.assign(nNlb * nMs, 0);
    uint16_t s = 0;
    if (ns.bExtended && nHostMeta) {
        m_bounce.resize(nNlb * nUnit);
        if ((s = fromHost(m_segs, m_bounce.data(), nNlb * nUnit)))
            return s;
        for (uint32_t i = 0; i < nNlb; ++i) {
            std::memcpy(m_bounce2.data() + i * nBs, m_bounce.data() + i * nUnit, nBs);
            std::memcpy(m_piMeta.data() + i * nMs, m_bounce.data() + i * nUnit + nBs, nMs);
        }
        return 0;
    }
    if ((s = fromHost(m_segs, m_bounce2.data(), nNlb * nBs)))
        return s;
    if (pHostMeta)
        std::memcpy(m_piMeta.data(), pHostMeta, nNlb * nMs);
    return 0;
}

uint16_t ControllerCore::ioReadWritePi(const Sqe &e, Namespace &ns, bool bWrite) {
    const PiFormat f = ns.piFormat();
    const PiRequest r = requestOf(e);
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    const uint64_t nBs = ns.blockSize(), nMs = ns.nMetaSize;
    uint64_t nUnit = 0, nHostMeta = 0;
    uint8_t *pHostMeta = nullptr;
    uint16_t s = mapProtected(e, ns, r, !bWrite, &nUnit, &nHostMeta, &pHostMeta);
    if (s)
        return s;
    if (bWrite) {
        if ((s = gatherProtected(ns, nNlb, nUnit, nHostMeta, pHostMeta)))
            return s;
        if (r.pract())
            piGenerate(f, r, nSlba, m_bounce2.data(), m_piMeta.data(), nNlb);
        else if ((s = piCheck(f, r, m_bounce2.data(), m_piMeta.data(), nNlb)))
            return s;
        const bool bDurable = durable(e);
        if (!ns.data->write(nSlba << ns.nLbaShift, m_bounce2.data(), nNlb * nBs, bDurable) ||
            !ns.meta->write(nSlba * nMs, m_piMeta.data(), nNlb * nMs, bDurable))
            return media(SC_WRITE_FAULT);
        ns.clearUncorrectable(nSlba, nNlb);
        m_nDataUnitsWritten.fetch_add((nNlb * nBs) / 512, std::memory_order_relaxed);
        m_nHostWrites.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    if ((s = checkReadable(ns, nSlba, nNlb)))
        return s;
    m_bounce2.resize(nNlb * nBs);
    m_piMeta.resize(nNlb * nMs);
    if ((s = readProtected(ns, nSlba, nNlb, m_bounce2.data(), m_piMeta.data())) ||
        (s = piCheck(f, r, m_bounce2.data(), m_piMeta.data(), nNlb)))
        return s;
    if (ns.bExtended && nHostMeta) {
        m_bounce.resize(nNlb * nUnit);
        for (uint32_t i = 0; i < nNlb; ++i) {
            std::memcpy(m_bounce.data() + i * nUnit, m_bounce2.data() + i * nBs, nBs);
            std::memcpy(m_bounce.data() + i * nUnit + nBs, m_piMeta.data() + i * nMs, nMs);
        }
        s = toHost(m_segs, m_bounce.data(), nNlb * nUnit);
    } else {
        s = toHost(m_segs, m_bounce2.data(), nNlb * nBs);
        if (!s && pHostMeta)
            std::memcpy(pHostMeta, m_piMeta.data(), nNlb * nMs);
    }
    if (s)
        return s;
    m_nDataUnitsRead.fetch_add((nNlb * nBs) / 512, std::memory_order_relaxed);
    m_nHostReads.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

// The media's protection information is checked first; then the data, and
// the metadata the host sends, are compared.
uint16_t ControllerCore::ioComparePi(const Sqe &e, Namespace &ns) {
    const PiRequest r = requestOf(e);
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    const uint64_t nBs = ns.blockSize(), nMs = ns.nMetaSize;
    uint64_t nUnit = 0, nHostMeta = 0;
    uint8_t *pHostMeta = nullptr;
    uint16_t s = mapProtected(e, ns, r, false, &nUnit, &nHostMeta, &pHostMeta);
    if (s || (s = checkReadable(ns, nSlba, nNlb)))
        return s;
    // The media's blocks: data, then metadata.
    m_piCompare.resize(nNlb * (nBs + nMs));
    uint8_t *pData = m_piCompare.data(), *pMeta = pData + nNlb * nBs;
    if ((s = readProtected(ns, nSlba, nNlb, pData, pMeta)) || (s = piCheck(ns.piFormat(), r, pData, pMeta, nNlb)))
        return s;
    if ((s = gatherProtected(ns, nNlb, nUnit, nHostMeta, pHostMeta)))
        return s;
    if (std::memcmp(m_bounce2.data(), pData, nNlb * nBs) != 0 ||
        (nHostMeta && std::memcmp(m_piMeta.data(), pMeta, nNlb * nMs) != 0))
        return media(SC_COMPARE_FAILED);
    return 0;
}

uint16_t ControllerCore::ioVerifyPi(const Sqe &e, Namespace &ns) {
    const PiFormat f = ns.piFormat();
    const PiRequest r = requestOf(e);
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    if (!inRange(ns, nSlba, nNlb))
        return gen(SC_LBA_RANGE);
    uint16_t s = piValidate(f, r, nSlba);
    if (s || (s = checkReadable(ns, nSlba, nNlb)))
        return s;
    if (!(r.nPrinfo & (PRINFO_PRCHK_GUARD | PRINFO_PRCHK_APP | PRINFO_PRCHK_REF)))
        return 0;
    for (uint64_t nDone = 0; nDone < nNlb; nDone += kPiChunkBlocks) {
        const uint64_t n = std::min<uint64_t>(kPiChunkBlocks, nNlb - nDone);
        m_bounce2.resize(n * f.nBlockSize);
        m_piMeta.resize(n * f.nMetaSize);
        if ((s = readProtected(ns, nSlba + nDone, n, m_bounce2.data(), m_piMeta.data())) ||
            (s = piCheck(f, advanced(r, nDone), m_bounce2.data(), m_piMeta.data(), n)))
            return s;
    }
    return 0;
}

// Zeros; with PRACT each block gets the protection information of a block
// of zeros, else its metadata is zeros as well.
uint16_t ControllerCore::ioWriteZeroesPi(const Sqe &e, Namespace &ns) {
    const PiFormat f = ns.piFormat();
    const PiRequest r = requestOf(e);
    const uint64_t nSlba = slbaOf(e);
    const uint32_t nNlb = nlbOf(e);
    if (!inRange(ns, nSlba, nNlb))
        return gen(SC_LBA_RANGE);
    uint16_t s = piValidate(f, r, nSlba);
    if (s || (s = zeroBlocks(ns, nSlba, nNlb, durable(e))) || !r.pract())
        return s;
    m_bounce2.assign(kPiChunkBlocks * f.nBlockSize, 0);
    for (uint64_t nDone = 0; nDone < nNlb; nDone += kPiChunkBlocks) {
        const uint64_t n = std::min<uint64_t>(kPiChunkBlocks, nNlb - nDone);
        m_piMeta.assign(n * f.nMetaSize, 0);
        piGenerate(f, advanced(r, nDone), nSlba + nDone, m_bounce2.data(), m_piMeta.data(), n);
        if (!ns.meta->write((nSlba + nDone) * f.nMetaSize, m_piMeta.data(), n * f.nMetaSize, durable(e)))
            return media(SC_WRITE_FAULT);
    }
    return 0;
}

// Copy: the sources' blocks (data in pData, metadata in pMeta, ranges in
// order) are checked under PRINFOR (CDW12 bits 15:12) with each range's
// expected tags. Under PRINFOW (bits 29:26) PRACT gives the destination
// new protection information from CDW14/CDW15, otherwise the sources'
// protection information goes along, checked against them.
uint16_t ControllerCore::copyProtection(const Sqe &e, const Namespace &ns, const nvme_copy_range *pRanges,
                                        uint32_t nRanges, uint64_t nDest, uint64_t nTotal, uint8_t *pData,
                                        uint8_t *pMeta) {
    const PiFormat f = ns.piFormat();
    const uint8_t nPrinfor = static_cast<uint8_t>((e.cdw12() >> COPY_CDW12_PRINFOR_SHIFT) & 0xF);
    uint64_t nAt = 0;
    for (uint32_t i = 0; i < nRanges; ++i) {
        PiRequest r;
        r.nPrinfo = nPrinfor;
        r.nRefTag = le32toh(pRanges[i].eilbrt);
        r.nAppTag = le16toh(pRanges[i].elbat);
        r.nAppMask = le16toh(pRanges[i].elbatm);
        const uint64_t n = static_cast<uint64_t>(le16toh(pRanges[i].nlb)) + 1;
        uint16_t s = piValidate(f, r, le64toh(pRanges[i].slba));
        if (s || (s = piCheck(f, r, pData + nAt * f.nBlockSize, pMeta + nAt * f.nMetaSize, n)))
            return s;
        nAt += n;
    }
    const PiRequest w = requestOf(e);
    if (const uint16_t s = piValidate(f, w, nDest))
        return s;
    if (w.pract()) {
        piGenerate(f, w, nDest, pData, pMeta, nTotal);
        return 0;
    }
    return piCheck(f, w, pData, pMeta, nTotal);
}

} // namespace nvmesim
