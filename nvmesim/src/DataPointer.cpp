// Walkers for the data pointer of a command: PRP1/PRP2 with chained PRP
// lists, and SGLs with data block, bit bucket, segment and last segment
// descriptors. They turn the pointer into a list of bus-address pieces
// and report the standard's status for malformed pointers; addresses that
// are not mapped give a data transfer error, never a host crash.
#include <cstring>

#include "ControllerCore.h"

namespace nvmesim {

namespace {
constexpr uint16_t st(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint32_t kMaxSglDescriptors = 1u << 16;
} // namespace

uint64_t ControllerCore::maxTransfer() const {
    if (!m_cfg.nMdts)
        return ~0ull;
    return static_cast<uint64_t>(4096u << m_cfg.nMpsMin) << m_cfg.nMdts;
}

uint16_t ControllerCore::buildPrp(uint64_t nPrp1, uint64_t nPrp2, uint64_t nLen, std::vector<DataSeg> &out) {
    const uint64_t nPage = m_nPageSize;
    if (nPrp1 & 3)
        return st(SC_PRP_INVALID_OFFSET);
    const uint64_t nFirst = std::min<uint64_t>(nLen, nPage - (nPrp1 & (nPage - 1)));
    out.push_back(DataSeg{nPrp1, nFirst, false});
    uint64_t nLeft = nLen - nFirst;
    if (!nLeft)
        return 0;
    if (nLeft <= nPage) {
        if (nPrp2 & (nPage - 1))
            return st(SC_PRP_INVALID_OFFSET);
        out.push_back(DataSeg{nPrp2, nLeft, false});
        return 0;
    }
    // PRP2 points to a list; the last entry of a list page chains to the
    // next list page when more entries are needed.
    if (nPrp2 & 7)
        return st(SC_PRP_INVALID_OFFSET);
    uint64_t nList = nPrp2;
    while (nLeft) {
        const uint64_t nSlots = (nPage - (nList & (nPage - 1))) / 8;
        const uint64_t nNeeded = (nLeft + nPage - 1) / nPage;
        const bool bChain = nNeeded > nSlots;
        const uint64_t nData = bChain ? nSlots - 1 : nNeeded;
        if (nData == 0)
            return st(SC_PRP_INVALID_OFFSET);   // a list of nothing but a chain pointer
        const uint8_t *pList = m_dma.translate(nList, (nData + (bChain ? 1 : 0)) * 8);
        if (!pList)
            return st(SC_DATA_XFER_ERROR);
        for (uint64_t i = 0; i < nData; ++i) {
            uint64_t e;
            std::memcpy(&e, pList + i * 8, 8);
            if (e & (nPage - 1))
                return st(SC_PRP_INVALID_OFFSET);
            const uint64_t n = std::min(nLeft, nPage);
            out.push_back(DataSeg{e, n, false});
            nLeft -= n;
        }
        if (bChain) {
            uint64_t e;
            std::memcpy(&e, pList + nData * 8, 8);
            if (e & 7)
                return st(SC_PRP_INVALID_OFFSET);
            nList = e;
        }
    }
    return 0;
}

uint16_t ControllerCore::buildSgl(const SglDesc &sgl1, uint64_t nLen, bool bToHost, std::vector<DataSeg> &out) {
    SglDesc d = sgl1;
    uint64_t nTotal = 0;
    uint32_t nCount = 0;
    bool bInLast = false;
    SglDesc seg[256];
    for (;;) {
        if (++nCount > kMaxSglDescriptors)
            return st(SC_SGL_INVALID_COUNT);
        const uint8_t nType = d.type(), nSub = d.subtype();
        if (nType == SGL_DATA_BLOCK || nType == SGL_BIT_BUCKET) {
            if (nSub != 0 || (nType == SGL_BIT_BUCKET && !bToHost))
                return st(SC_SGL_INVALID_TYPE);
            if (d.length)
                out.push_back(DataSeg{d.addr, d.length, nType == SGL_BIT_BUCKET});
            nTotal += d.length;
            return nTotal == nLen ? 0 : st(SC_SGL_INVALID_DATA);
        }
        if (nType != SGL_SEGMENT && nType != SGL_LAST_SEGMENT)
            return st(SC_SGL_INVALID_TYPE);
        if (nSub != 0)
            return st(SC_SGL_INVALID_TYPE);
        if (bInLast)
            return st(SC_SGL_INVALID_LAST);
        if (d.length == 0 || d.length % 16)
            return st(SC_SGL_INVALID_COUNT);
        if (d.addr & 3)
            return st(SC_SGL_INVALID_OFFSET);
        bInLast = nType == SGL_LAST_SEGMENT;
        // Walk the segment; only its last descriptor may lead on.
        const uint64_t nDescs = d.length / 16;
        const uint64_t nBase = d.addr;
        bool bNext = false;
        for (uint64_t i = 0; i < nDescs;) {
            const uint64_t nChunk = std::min<uint64_t>(256, nDescs - i);
            if (!m_dma.read(nBase + i * 16, seg, nChunk * 16))
                return st(SC_DATA_XFER_ERROR);
            for (uint64_t j = 0; j < nChunk; ++j) {
                const SglDesc &x = seg[j];
                const uint8_t t = x.type(), s = x.subtype();
                const bool bLastDesc = i + j + 1 == nDescs;
                if (++nCount > kMaxSglDescriptors)
                    return st(SC_SGL_INVALID_COUNT);
                if (t == SGL_SEGMENT || t == SGL_LAST_SEGMENT) {
                    if (!bLastDesc || bInLast)
                        return st(SC_SGL_INVALID_LAST);
                    d = x;
                    bNext = true;
                    break;
                }
                if ((t != SGL_DATA_BLOCK && t != SGL_BIT_BUCKET) || s != 0 || (t == SGL_BIT_BUCKET && !bToHost))
                    return st(SC_SGL_INVALID_TYPE);
                if (x.length)
                    out.push_back(DataSeg{x.addr, x.length, t == SGL_BIT_BUCKET});
                nTotal += x.length;
                if (nTotal > nLen)
                    return st(SC_SGL_INVALID_DATA);
            }
            i += nChunk;
            if (bNext)
                break;
        }
        if (!bNext)
            return nTotal == nLen ? 0 : st(SC_SGL_INVALID_DATA);
        --nCount;
    }
}

uint16_t ControllerCore::buildSegments(const Sqe &e, uint64_t nLen, bool bToHost, bool bAllowSgl,
                                       std::vector<DataSeg> &out) {
    out.clear();
    if (nLen == 0)
        return 0;
    const uint8_t nPsdt = e.psdt();
    if (nPsdt == PSDT_PRP)
        return buildPrp(e.prp1(), e.prp2(), nLen, out);
    if (!bAllowSgl || nPsdt == 3)
        return st(SC_INVALID_FIELD);
    return buildSgl(e.sgl1(), nLen, bToHost, out);
}

uint16_t ControllerCore::toHost(const std::vector<DataSeg> &segs, const void *pSrc, uint64_t nLen) {
    auto *p = static_cast<const uint8_t *>(pSrc);
    for (const auto &s : segs) {
        const uint64_t n = std::min(s.nLen, nLen);
        if (!s.bBucket && !m_dma.write(s.nAddr, p, n))
            return st(SC_DATA_XFER_ERROR);
        p += n;
        nLen -= n;
    }
    return 0;
}

uint16_t ControllerCore::fromHost(const std::vector<DataSeg> &segs, void *pDst, uint64_t nLen) {
    auto *p = static_cast<uint8_t *>(pDst);
    for (const auto &s : segs) {
        const uint64_t n = std::min(s.nLen, nLen);
        if (!m_dma.read(s.nAddr, p, n))
            return st(SC_DATA_XFER_ERROR);
        p += n;
        nLen -= n;
    }
    return 0;
}

uint16_t ControllerCore::sendData(const Sqe &e, const void *p, uint64_t nLen) { return sendPadded(e, p, nLen, nLen); }

// The host asked for nLen bytes of which only the first nHave exist; the rest
// reach the host as zeros straight from here, so a large request costs no
// buffer of its size.
uint16_t ControllerCore::sendPadded(const Sqe &e, const void *p, uint64_t nHave, uint64_t nLen) {
    const uint16_t s = buildSegments(e, nLen, true, false, m_segs2);
    if (s)
        return s;
    auto *pSrc = static_cast<const uint8_t *>(p);
    uint64_t nAt = 0;
    for (const auto &seg : m_segs2) {
        const uint64_t n = std::min(seg.nLen, nLen - nAt);
        const uint64_t nData = nAt < nHave ? std::min(n, nHave - nAt) : 0;
        if (nData && !m_dma.write(seg.nAddr, pSrc + nAt, nData))
            return st(SC_DATA_XFER_ERROR);
        if (n > nData && !m_dma.fill(seg.nAddr + nData, 0, n - nData))
            return st(SC_DATA_XFER_ERROR);
        nAt += n;
    }
    return 0;
}

uint16_t ControllerCore::recvData(const Sqe &e, void *p, uint64_t nLen) {
    const uint16_t s = buildSegments(e, nLen, false, false, m_segs2);
    return s ? s : fromHost(m_segs2, p, nLen);
}

} // namespace nvmesim
