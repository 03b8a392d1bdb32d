// Create and Delete I/O Submission and Completion Queue.
#include <cstring>

#include "ControllerCore.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }
} // namespace

uint16_t ControllerCore::readQueuePages(uint64_t nPrp1, uint32_t nBytes, bool bContig, uint64_t *pBase,
                                        std::vector<uint64_t> *pPages) {
    if (nPrp1 & (m_nPageSize - 1))
        return gen(SC_INVALID_FIELD);
    pPages->clear();
    if (bContig) {
        *pBase = nPrp1;
        return 0;
    }
    const uint32_t nPages = (nBytes + m_nPageSize - 1) / m_nPageSize;
    pPages->resize(nPages);
    if (!m_dma.read(nPrp1, pPages->data(), nPages * 8ull))
        return gen(SC_DATA_XFER_ERROR);
    for (uint64_t p : *pPages)
        if (p & (m_nPageSize - 1))
            return gen(SC_PRP_INVALID_OFFSET);
    *pBase = 0;
    return 0;
}

static uint32_t granted(const FeatureState &f, uint32_t nPairs, bool bCq) {
    if (!f.bNumQueuesSet)
        return nPairs;
    return ((bCq ? f.nNumQueues >> 16 : f.nNumQueues) & 0xFFFF) + 1;
}

uint16_t ControllerCore::adminCreateCq(const Sqe &e) {
    const uint32_t nQid = e.cdw10() & 0xFFFF, nQsize = e.cdw10() >> 16;
    const bool bPc = e.cdw11() & 1, bIen = e.cdw11() & 2;
    const uint16_t nIv = static_cast<uint16_t>(e.cdw11() >> 16);
    if (nQid == 0 || nQid >= m_cq.size() || nQid > granted(m_feat, ioQueueLimit(), true) || m_cq[nQid].bValid)
        return specific(SC_QID_INVALID);
    if (nQsize == 0 || nQsize > m_cfg.nMqes)
        return specific(SC_QUEUE_SIZE);
    if (!bPc && m_cfg.bCqr)
        return gen(SC_INVALID_FIELD);
    if (nIv >= vectorLimit())
        return specific(SC_INVALID_VECTOR);
    if (((m_cc.load() >> 20) & 0xF) != 4)
        return gen(SC_INVALID_FIELD);
    CompletionQueue q;
    const uint16_t s = readQueuePages(e.prp1(), (nQsize + 1) * 16, bPc, &q.nBase, &q.pages);
    if (s)
        return s;
    q.bValid = true;
    q.nSize = nQsize + 1;
    q.bIen = bIen;
    q.nIv = nIv;
    m_cq[nQid] = std::move(q);
    m_db[2 * nQid + 1].store(0);
    return 0;
}

uint16_t ControllerCore::adminCreateSq(const Sqe &e) {
    const uint32_t nQid = e.cdw10() & 0xFFFF, nQsize = e.cdw10() >> 16;
    const bool bPc = e.cdw11() & 1;
    const uint32_t nCqid = e.cdw11() >> 16;
    if (nQid == 0 || nQid >= m_sq.size() || nQid > granted(m_feat, ioQueueLimit(), false) || m_sq[nQid].bValid)
        return specific(SC_QID_INVALID);
    if (nQsize == 0 || nQsize > m_cfg.nMqes)
        return specific(SC_QUEUE_SIZE);
    if (nCqid == 0 || nCqid >= m_cq.size() || !m_cq[nCqid].bValid)
        return specific(SC_CQ_INVALID);
    if (!bPc && m_cfg.bCqr)
        return gen(SC_INVALID_FIELD);
    if (((m_cc.load() >> 16) & 0xF) != 6)
        return gen(SC_INVALID_FIELD);
    SubmissionQueue q;
    const uint16_t s = readQueuePages(e.prp1(), (nQsize + 1) * 64, bPc, &q.nBase, &q.pages);
    if (s)
        return s;
    q.bValid = true;
    q.nSize = nQsize + 1;
    q.nCqId = static_cast<uint16_t>(nCqid);
    q.nPrio = (e.cdw11() >> 1) & 3;
    m_sq[nQid] = std::move(q);
    m_db[2 * nQid].store(0);
    ++m_cq[nCqid].nSqRefs;
    return 0;
}

uint16_t ControllerCore::adminDeleteSq(const Sqe &e) {
    const uint32_t nQid = e.cdw10() & 0xFFFF;
    if (nQid == 0 || nQid >= m_sq.size() || !m_sq[nQid].bValid)
        return specific(SC_QID_INVALID);
    // Commands of the queue still in flight complete as aborted first.
    const uint16_t nAborted = makeStatus(SCT_GENERIC, SC_ABORT_QUEUE);
    auto flush = [&](std::vector<Completion> &v) {
        for (size_t i = 0; i < v.size();) {
            if (v[i].nSqId == nQid) {
                Completion c = v[i];
                c.nStatus = nAborted;
                c.nDw0 = 0;
                post(c);
                v.erase(v.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    };
    flush(m_withheld);
    m_nWithheldCount = m_withheld.size();
    flush(m_delayed);
    std::make_heap(m_delayed.begin(), m_delayed.end(), [](const Completion &a, const Completion &b) { return a.due > b.due; });
    CompletionQueue &cq = m_cq[m_sq[nQid].nCqId];
    if (cq.nSqRefs)
        --cq.nSqRefs;
    m_sq[nQid] = SubmissionQueue();
    return 0;
}

uint16_t ControllerCore::adminDeleteCq(const Sqe &e) {
    const uint32_t nQid = e.cdw10() & 0xFFFF;
    if (nQid == 0 || nQid >= m_cq.size() || !m_cq[nQid].bValid)
        return specific(SC_QID_INVALID);
    if (m_cq[nQid].nSqRefs)
        return specific(SC_INVALID_QUEUE);
    m_cq[nQid] = CompletionQueue();
    return 0;
}

} // namespace nvmesim
