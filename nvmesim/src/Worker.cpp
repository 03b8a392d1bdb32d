// The controller's worker thread: timers, doorbells, round-robin
// arbitration across submission queues, command fetch and completion
// posting.
#include <algorithm>
#include <cstring>

#include "ControllerCore.h"
#include "SanitizeState.h"
#include "nvmesim/Subsystem.h"

namespace nvmesim {

namespace {
constexpr auto kSpin = std::chrono::microseconds(30);

bool dueLater(const Completion &a, const Completion &b) { return a.due > b.due; }

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}
} // namespace

void ControllerCore::workerMain() {
    while (!m_bStop.load()) {
        const uint64_t nGen = m_nGen.load(std::memory_order_seq_cst);
        bool bMore = false;
        Clock::time_point deadline;
        {
            std::lock_guard lock(m_procMutex);
            bMore = step(Clock::now());
            deadline = nextDeadline();
        }
        if (bMore)
            continue;
        // New doorbells usually follow soon under load: look for them a
        // moment before going to sleep.
        // (The clock is read only now and then: on some machines reading it
        // costs more than the work it would time.)
        const auto spinEnd = Clock::now() + kSpin;
        for (uint32_t i = 1; m_nGen.load(std::memory_order_relaxed) == nGen && !m_bStop.load(std::memory_order_relaxed); ++i) {
            if (i < 512) {
                cpuRelax();
            } else {
                std::this_thread::yield();   // a host thread may be waiting for this core
                if (i % 8 == 0 && Clock::now() >= spinEnd)
                    break;
            }
        }
        if (m_nGen.load() != nGen)
            continue;
        std::unique_lock lock(m_wakeMutex);
        m_bSleeping.store(true, std::memory_order_seq_cst);
        auto woken = [&] { return m_nGen.load(std::memory_order_seq_cst) != nGen || m_bStop.load(); };
        if (deadline == Clock::time_point::max())
            m_wakeCv.wait(lock, woken);
        else
            m_wakeCv.wait_until(lock, deadline, woken);
        m_bSleeping.store(false);
    }
}

Clock::time_point ControllerCore::nextDeadline() const {
    Clock::time_point t = std::min({m_readyAt, m_shutdownAt, m_kaDeadline, m_sanitize.deadline()});
    if (m_selfTest.nCurrent)
        t = std::min(t, m_selfTest.end);
    if (!m_delayed.empty())
        t = std::min(t, m_delayed.front().due);
    return t;
}

bool ControllerCore::step(Clock::time_point now) {
    m_dma.lockShared();
    struct Unlock {
        const DmaSpace &d;
        ~Unlock() { d.unlockShared(); }
    } unlock{m_dma};
    if (m_bOfflinePending.load(std::memory_order_relaxed) && m_bOfflinePending.exchange(false)) {
        // Taken offline by the primary: as a controller reset.
        resetLocked();
        m_cc = 0;
        m_nCcActive = 0;
        setCsts(0, CSTS_RDY | CSTS_CFS | CSTS_SHST_MASK);
    }
    if (m_bAbortsPosted.load(std::memory_order_acquire))
        applyPreemptAborts();   // before withheld completions are released
    runTimers(now);
    deliverEvents();
    const uint32_t csts = m_csts.load();
    if (!(csts & CSTS_RDY) || (csts & CSTS_CFS) || !m_bBusMaster.load(std::memory_order_relaxed))
        return false;
    scanDoorbells();
    return processQueues();
}

void ControllerCore::runTimers(Clock::time_point now) {
    if (now >= m_readyAt) {
        m_readyAt = Clock::time_point::max();
        if (!m_faults.neverReady())
            setCsts(CSTS_RDY, 0);
    }
    if (now >= m_shutdownAt) {
        m_shutdownAt = Clock::time_point::max();
        // Shutdown processing writes the volatile cache back.
        flushNamespaces();
        setCsts(SHST_COMPLETE << CSTS_SHST_SHIFT, CSTS_SHST_MASK);
        m_bNeedsShutdown.store(false);
    }
    if (m_selfTest.nCurrent && now >= m_selfTest.end)
        finishSelfTest(0);
    m_sanitize.poll(now);
    if (now >= m_kaDeadline) {
        // Keep alive timer expired: the controller notes it and stops.
        m_kaDeadline = Clock::time_point::max();
        addErrorEntry(0xFFFF, 0xFFFF, makeStatus(SCT_GENERIC, SC_KAT_EXPIRED), 0, 0);
        fatal();
    }
    while (!m_delayed.empty() && m_delayed.front().due <= now) {
        std::pop_heap(m_delayed.begin(), m_delayed.end(), dueLater);
        const Completion c = m_delayed.back();
        m_delayed.pop_back();
        post(c);
    }
    const uint64_t nRel = m_faults.releaseRequests();
    if (nRel != m_nReleasesSeen) {
        m_nReleasesSeen = nRel;
        for (const auto &c : m_withheld)
            post(c);
        m_withheld.clear();
        m_nWithheldCount = 0;
    }
}

void ControllerCore::scanDoorbells() {
    for (uint32_t w = 0; w < m_nDirtyWords; ++w) {
        uint64_t bits = m_dbDirty[w].exchange(0, std::memory_order_acquire);
        while (bits) {
            const uint32_t nIdx = w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
            bits &= bits - 1;
            const uint32_t v = m_db[nIdx].load(std::memory_order_acquire);
            const uint32_t q = nIdx / 2;
            if (nIdx % 2 == 0) {
                SubmissionQueue &sq = m_sq[q];
                if (!sq.bValid)
                    postEvent(NVME_AER_ERROR, NVME_AER_ERROR_INVALID_DB_REG, NVME_LOG_LID_ERROR);
                else if (v >= sq.nSize)
                    postEvent(NVME_AER_ERROR, NVME_AER_ERROR_INVALID_DB_VAL, NVME_LOG_LID_ERROR);
                else
                    sq.nTail = v;
            } else {
                CompletionQueue &cq = m_cq[q];
                if (!cq.bValid) {
                    postEvent(NVME_AER_ERROR, NVME_AER_ERROR_INVALID_DB_REG, NVME_LOG_LID_ERROR);
                } else if (v >= cq.nSize || (v + cq.nSize - cq.nHead) % cq.nSize > cq.used()) {
                    // Beyond the entries that were posted.
                    postEvent(NVME_AER_ERROR, NVME_AER_ERROR_INVALID_DB_VAL, NVME_LOG_LID_ERROR);
                } else {
                    cq.nHead = v;
                }
            }
        }
    }
}

// Bus address of the byte at nOff in a queue ring: contiguous from nBase, or
// spread over the pages of a PRP list; false past the listed pages.
bool ControllerCore::ringAddr(uint64_t nBase, const std::vector<uint64_t> &pages, uint64_t nOff,
                              uint64_t *pAddr) const {
    if (pages.empty()) {
        *pAddr = nBase + nOff;
        return true;
    }
    const uint64_t nPage = nOff / m_nPageSize;
    if (nPage >= pages.size())
        return false;
    *pAddr = pages[nPage] + nOff % m_nPageSize;
    return true;
}

bool ControllerCore::sqEntryAddr(const SubmissionQueue &q, uint32_t nIdx, uint64_t *pAddr) const {
    return ringAddr(q.nBase, q.pages, static_cast<uint64_t>(nIdx) * sizeof(Sqe), pAddr);
}

bool ControllerCore::cqEntryAddr(const CompletionQueue &q, uint32_t nIdx, uint64_t *pAddr) const {
    return ringAddr(q.nBase, q.pages, static_cast<uint64_t>(nIdx) * sizeof(Cqe), pAddr);
}

bool ControllerCore::processQueues() {
    const uint32_t nQueues = static_cast<uint32_t>(m_sq.size());
    const uint32_t nAb = m_feat.nArbitration & 7;
    const uint32_t nBurst = nAb == 7 ? 0xFFFFFFFFu : (1u << nAb);
    int nBudget = 256;
    bool bProgress = true;
    while (nBudget > 0 && bProgress) {
        bProgress = false;
        for (uint32_t k = 0; k < nQueues && nBudget > 0; ++k) {
            const uint32_t i = (m_nRrNext + k) % nQueues;
            SubmissionQueue &sq = m_sq[i];
            for (uint32_t b = 0; b < nBurst && nBudget > 0; ++b) {
                if (!sq.bValid || sq.nHead == sq.nTail)
                    break;
                CompletionQueue &cq = m_cq[sq.nCqId];
                if (!cq.bValid || !cq.hasRoom())
                    break;
                Sqe e;
                uint64_t nAddr = 0;
                if (!sqEntryAddr(sq, sq.nHead, &nAddr) || !m_dma.read(nAddr, &e, sizeof e)) {
                    fatal();   // the ring is not in host memory any more
                    return false;
                }
                sq.nHead = (sq.nHead + 1) % sq.nSize;
                ++cq.nReserved;
                --nBudget;
                bProgress = true;
                execute(static_cast<uint16_t>(i), e);
                if (m_csts.load() & CSTS_CFS)
                    return false;
            }
        }
        m_nRrNext = (m_nRrNext + 1) % nQueues;
    }
    for (const auto &sq : m_sq)
        if (sq.bValid && sq.nHead != sq.nTail && m_cq[sq.nCqId].bValid && m_cq[sq.nCqId].hasRoom())
            return true;
    return false;
}

void ControllerCore::execute(uint16_t nSqId, const Sqe &e) {
    const bool bAdmin = nSqId == 0;
    Completion c{nSqId, e.cid(), 0, 0, {}};
    uint16_t nInjected = 0;
    bool bBogusCid = false;
    const bool bInjected = m_faults.onCommand(bAdmin, e.opc(), &nInjected, &bBogusCid);
    if (bInjected) {
        c.nStatus = nInjected;
    } else if (bAdmin) {
        bool bDeferred = false;
        c.nStatus = admin(e, &c.nDw0, &bDeferred);
        if (bDeferred)
            return;
    } else {
        c.nNsid = e.nsid();
        c.nStatus = io(e, &c.nDw0, &c.nDw1);
    }
    if (c.nStatus) {
        // The command's entry in the Error Information log is announced by
        // the More bit. An injected status reaches the host exactly as
        // configured.
        if (!bInjected)
            c.nStatus |= STATUS_MORE;
        addErrorEntry(nSqId, e.cid(), c.nStatus, e.nsid(), 0);
    }
    if (bBogusCid)
        c.nCid ^= 0x8000;
    finish(c, bAdmin);
}

void ControllerCore::finish(const Completion &cIn, bool bAdmin) {
    (void)bAdmin;
    Completion c = cIn;
    const uint32_t nExtra = m_nExtraDelayUs;
    m_nExtraDelayUs = 0;
    if (m_faults.withholding()) {
        m_withheld.push_back(c);
        m_nWithheldCount = m_withheld.size();
        return;
    }
    if (m_faults.hasLatency() || nExtra) {
        const uint32_t nLatency = m_faults.hasLatency() ? m_faults.drawLatencyUs() : 0;
        c.due = Clock::now() + std::chrono::microseconds(nLatency + nExtra);
        m_delayed.push_back(c);
        std::push_heap(m_delayed.begin(), m_delayed.end(), dueLater);
        return;
    }
    post(c);
}

bool ControllerCore::post(const Completion &c) {
    if (c.nSqId >= m_sq.size())
        return false;
    SubmissionQueue &sq = m_sq[c.nSqId];
    if (!sq.bValid)
        return false;
    CompletionQueue &cq = m_cq[sq.nCqId];
    if (!cq.bValid)
        return false;
    if (cq.nReserved)
        --cq.nReserved;
    if ((cq.nTail + 1) % cq.nSize == cq.nHead)
        return false;   // never overwrite an entry the host has not consumed
    uint64_t nAddr = 0;
    uint8_t *p = nullptr;
    if (cqEntryAddr(cq, cq.nTail, &nAddr))
        p = m_dma.translate(nAddr, sizeof(Cqe));
    if (!p) {
        fatal();
        return false;
    }
    Cqe e{};
    e.setDw0(c.nDw0);
    e.setDw1(c.nDw1);
    e.setSqhd(static_cast<uint16_t>(sq.nHead));
    e.setSqid(c.nSqId);
    e.setCid(c.nCid);
    e.setStatus(c.nStatus);
    e.setPhase(cq.nPhase);
    // Everything but the status half word first; that one, with the new
    // phase, is stored last so the host never sees a half-written entry.
    std::memcpy(p, &e, CQE_STATUS_OFFSET);
    std::atomic_ref<uint16_t>(*reinterpret_cast<uint16_t *>(p + CQE_STATUS_OFFSET))
        .store(e.statusPhase(), std::memory_order_release);
    if (++cq.nTail == cq.nSize) {
        cq.nTail = 0;
        cq.nPhase ^= 1;
    }
    m_nCompleted.fetch_add(1, std::memory_order_relaxed);
    return true;
}

} // namespace nvmesim
