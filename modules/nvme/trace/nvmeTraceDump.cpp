#include "nvmeTraceDump.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "nvmeCmdNames.h"
#include "nvmeTrace.h"

namespace kxmnvme {

namespace {

// A slot's contents, copied out under its lock.
struct CmdRow {
    nvmewire::Sqe cmd{};
    sysTimeVal_t tStart = 0;
    sysTimeVal_t tEnd = 0;
    uint8_t nFlags = 0;
    uint8_t nCmdSet = 0;
    uint16_t nStatus = 0;
};

struct EvtRow {
    uint32_t nEvent = 0;
    uint32_t nValue = 0;
    uint8_t bTimedOut = 0;
    sysTimeVal_t tStart = 0;
    sysTimeVal_t tEnd = 0;
};

bool readSlot(const NvmeCmdTraceRec &r, CmdRow &row)
{
    std::lock_guard<NvmeSlotLock> guard(r.lock);
    if (!(r.nFlags & NVME_TRACE_IN_USE))
        return false;
    row.cmd = r.cmd;
    row.tStart = r.tStart;
    row.tEnd = r.tEnd;
    row.nFlags = r.nFlags;
    row.nCmdSet = r.nCmdSet;
    row.nStatus = r.nStatus;
    return true;
}

bool readSlot(const NvmeEvtTraceRec &r, EvtRow &row)
{
    std::lock_guard<NvmeSlotLock> guard(r.lock);
    if (!r.bInUse)
        return false;
    row.nEvent = r.nEvent;
    row.nValue = r.nValue;
    row.bTimedOut = r.bTimedOut;
    row.tStart = r.tStart;
    row.tEnd = r.tEnd;
    return true;
}

// Walks a ring from its newest slot towards older ones; stops at a slot not
// in use or after a full turn. The caller holds the lock that guards the
// ring's write position.
template <typename Mgr, typename Row, uint32_t N>
class Cursor {
public:
    explicit Cursor(const Mgr *pMgr)
        : m_pMgr(pMgr), m_nPos(pMgr ? uint32_t(pMgr->nNext) : 0), m_nLeft(pMgr ? N : 0)
    {
        next();
    }
    bool has() const { return m_bHave; }
    const Row &row() const { return m_row; }
    void next()
    {
        m_bHave = false;
        if (m_nLeft == 0)
            return;
        m_nPos = m_nPos ? m_nPos - 1 : N - 1;
        m_nLeft--;
        m_bHave = readSlot(m_pMgr->recs[m_nPos], m_row);
        if (!m_bHave)
            m_nLeft = 0;
    }

private:
    const Mgr *m_pMgr;
    uint32_t m_nPos;
    uint32_t m_nLeft;
    bool m_bHave = false;
    Row m_row;
};

using CmdCursor = Cursor<NvmeCmdTraceMgr, CmdRow, NVME_CMD_TRACE_NUM>;
using EvtCursor = Cursor<NvmeEvtTraceMgr, EvtRow, NVME_EVT_TRACE_NUM>;

void putHeader(NvmeTextOut &out)
{
    out.put("                                           Command C\n");
    out.put("                                               /   P Execution\n");
    out.put(" No.          Start Timestamp  Q  CID        Event L Time (us) ");
    for (int i = 0; i < 10; i++)
        out.put("     CDW%d", i);
    for (int i = 10; i < 16; i++)
        out.put("    CDW%d", i);
    out.put(" Status\n");
    out.put("---- ------------------------ -- ---- ------------ - ----------");
    for (int i = 0; i < 16; i++)
        out.put(" --------");
    out.put(" ------\n");
}

void putExeTime(NvmeTextOut &out, sysTimeVal_t tStart, sysTimeVal_t tEnd)
{
    if (tEnd == NVME_TIME_NOT_FINISHED)
        out.put(" **********");
    else
        out.put(" %10lld", static_cast<long long>(nvmeExeTimeUs(tStart, tEnd)));
}

void putCmdRow(NvmeTextOut &out, const NvmeTimeBase &base, int64_t nRow, uint16_t qID, const CmdRow &r)
{
    char szTime[48];
    nvmeTimeStampText(szTime, sizeof szTime, base, r.tStart, NVME_TS_TRACE);
    const char *szName = qID == 0 ? nvmeAdmCmdName(r.cmd.opc()) : nvmeIOCmdName(r.nCmdSet, r.cmd.opc());
    out.put("%04lld %s %2d %04X %12s %d", static_cast<long long>(nRow), szTime, qID, r.cmd.cid(), szName,
            r.nFlags & NVME_TRACE_COMPLETED);
    putExeTime(out, r.tStart, r.tEnd);
    for (uint32_t dw : r.cmd.dw)
        out.put(" %08X", dw);
    if (r.tEnd == NVME_TIME_NOT_FINISHED)
        out.put("  ****\n");
    else
        out.put("  %04Xh\n", r.nStatus);
}

void putEvtRow(NvmeTextOut &out, const NvmeTimeBase &base, int64_t nRow, const EvtRow &r)
{
    char szTime[48];
    nvmeTimeStampText(szTime, sizeof szTime, base, r.tStart, NVME_TS_TRACE);
    out.put("%04lld %s%8s %12s", static_cast<long long>(nRow), szTime, "", nvmeEvtName(r.nEvent));
    switch (r.nEvent) {
    case NVME_EVT_POWER_OFF:
        break;
    case NVME_EVT_FL_RST:
    case NVME_EVT_CNTL_RST:
    case NVME_EVT_NVMSS_RST:
    case NVME_EVT_PCIE_HOT_RST:
    case NVME_EVT_POWER_ON:
    case NVME_EVT_SHUTDOWN_NTF:
        out.put("  ");
        putExeTime(out, r.tStart, r.tEnd);
        if (r.nEvent != NVME_EVT_NVMSS_RST && r.nEvent != NVME_EVT_PCIE_HOT_RST && r.bTimedOut)
            out.put(" Time Out");
        if (r.nEvent == NVME_EVT_SHUTDOWN_NTF)
            out.put(" CC.SHN:%lld", static_cast<long long>(r.nValue));
        break;
    default:
        break;
    }
    out.put("\n");
}

// An SQ's queue lock, waited for a bounded time. Besides the builders,
// which hold it for a moment, the creator of an I/O SQ holds it from the
// submission of Create I/O SQ until that command's post-processing, which in
// polling mode runs only when the script checks the command: a script that
// dumps or cleans in between would otherwise wait for itself forever. The
// ring is safe to read without the lock (the write position is atomic and
// every slot is read under its own lock); a dump without it may show a
// command that is being recorded at that moment.
class QueueLockGuard {
public:
    explicit QueueLockGuard(NvmeSQ *pSQ)
        : m_pSQ(pSQ), m_bHeld(pSQ->qLock.try_acquire_for(std::chrono::milliseconds(kWaitMs)))
    {
    }
    ~QueueLockGuard()
    {
        if (m_bHeld)
            m_pSQ->qLock.release();
    }
    QueueLockGuard(const QueueLockGuard &) = delete;
    QueueLockGuard &operator=(const QueueLockGuard &) = delete;

private:
    static constexpr int kWaitMs = 500;
    NvmeSQ *m_pSQ;
    bool m_bHeld;
};

bool rowsLeft(int64_t nRow, int64_t nMaxRows)
{
    return nMaxRows <= 0 || nRow < nMaxRows;
}

// The SQs of a controller a merged dump shows, by ascending id.
std::vector<NvmeSQ *> shownSQs(NvmeCntl *pCntl)
{
    std::vector<NvmeSQ *> sqs;
    for (NvmeSQ *pSQ : pCntl->pSQs)
        if (pSQ && pSQ->nState != NVME_SQ_DELETED)
            sqs.push_back(pSQ);
    return sqs;
}

} // namespace

void nvmeDumpTraceSQ(const NvmeTimeBase &base, NvmeSQ *pSQ, int64_t nMaxRows, NvmeTextOut &out)
{
    putHeader(out);
    QueueLockGuard sqLock(pSQ);
    int64_t nRow = 0;
    for (CmdCursor c(pSQ->pQCmdTraceMgr); c.has() && rowsLeft(nRow, nMaxRows); c.next())
        putCmdRow(out, base, ++nRow, pSQ->qID, c.row());
}

void nvmeDumpTraceCntl(const NvmeTimeBase &base, NvmeCntl *pCntl, int64_t nMaxRows, NvmeTextOut &out)
{
    putHeader(out);
    std::lock_guard<std::recursive_mutex> guard(pCntl->lock);
    const std::vector<NvmeSQ *> sqs = shownSQs(pCntl);
    std::vector<std::unique_ptr<QueueLockGuard>> sqLocks;   // ascending id
    for (NvmeSQ *pSQ : sqs)
        sqLocks.push_back(std::make_unique<QueueLockGuard>(pSQ));

    EvtCursor evt(pCntl->pSEvtTraceMgr);
    std::vector<CmdCursor> cmds;
    cmds.reserve(sqs.size());
    for (NvmeSQ *pSQ : sqs)
        cmds.emplace_back(pSQ->pQCmdTraceMgr);

    int64_t nRow = 0;
    while (rowsLeft(nRow, nMaxRows)) {
        // The latest head; a later source wins only with a strictly later
        // time, so ties go to the event ring, then to the lower SQ id.
        int nBest = -2;      // -1: the event ring; 0..: index in cmds
        sysTimeVal_t tBest = 0;
        if (evt.has()) {
            nBest = -1;
            tBest = evt.row().tStart;
        }
        for (size_t i = 0; i < cmds.size(); i++)
            if (cmds[i].has() && (nBest == -2 || cmds[i].row().tStart > tBest)) {
                nBest = static_cast<int>(i);
                tBest = cmds[i].row().tStart;
            }
        if (nBest == -2)
            break;
        if (nBest == -1) {
            putEvtRow(out, base, ++nRow, evt.row());
            evt.next();
        } else {
            putCmdRow(out, base, ++nRow, sqs[nBest]->qID, cmds[nBest].row());
            cmds[nBest].next();
        }
    }

    while (!sqLocks.empty())
        sqLocks.pop_back();   // released in descending id
}

void nvmeCleanTraceSQ(NvmeSQ *pSQ)
{
    QueueLockGuard sqLock(pSQ);
    nvmeTraceClean(pSQ->pQCmdTraceMgr);
}

void nvmeCleanTraceCntl(NvmeCntl *pCntl)
{
    std::lock_guard<std::recursive_mutex> guard(pCntl->lock);
    nvmeEvtTraceClean(pCntl->pSEvtTraceMgr);
    for (NvmeSQ *pSQ : pCntl->pSQs)
        if (pSQ)
            nvmeCleanTraceSQ(pSQ);
}

} // namespace kxmnvme
