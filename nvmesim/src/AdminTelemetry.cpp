// Telemetry log pages. The host-initiated log holds what the controller
// captured at the host's last request (Create Telemetry Host-Initiated
// Data): a header block, then data area 1 (block 1: controller counters),
// data area 2 (block 2: the queues) and data area 3 (block 3: the newest
// error log entries). Until the host asks for a capture only the header
// is there. The controller never captures data on its own, so its log
// (08h) is a header that reports nothing available.
#include <cstdio>
#include <cstring>

#include "ControllerCore.h"
#include "PersistentEventLog.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/EventLogs.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }

constexpr uint16_t kDataAreaLast[3] = {1, 2, 3};   // last block of data areas 1, 2, 3

struct TelemetryQueue {   // one queue in data area 2
    uint16_t nSqId;
    uint16_t nCqId;
    uint32_t nSize;
    uint32_t nHead;
    uint32_t nTail;
};
} // namespace

void ControllerCore::captureTelemetry() {
    ++m_nTelemetryGen;
    m_telemetry.assign(static_cast<size_t>(kDataAreaLast[2] + 1) * TELEMETRY_BLOCK, 0);
    auto *h = reinterpret_cast<TelemetryHeader *>(m_telemetry.data());
    h->lpi = LID_TELEMETRY_HOST;
    h->dalb1 = kDataAreaLast[0];
    h->dalb2 = kDataAreaLast[1];
    h->dalb3 = kDataAreaLast[2];
    h->hostdgn = m_nTelemetryGen;
    std::snprintf(reinterpret_cast<char *>(h->rsnident), sizeof h->rsnident, "host request %u", m_nTelemetryGen);
    // Data area 1: the controller's counters, as text.
    char *p1 = reinterpret_cast<char *>(m_telemetry.data() + TELEMETRY_BLOCK);
    std::snprintf(p1, TELEMETRY_BLOCK,
                  "cntlid %u\ngeneration %u\nresets %llu\ncompleted %llu\nhost reads %llu\nhost writes %llu\n"
                  "media errors %llu\nerrors %llu\npower state %u\n",
                  cntlid(), m_nTelemetryGen, static_cast<unsigned long long>(m_nResets.load()),
                  static_cast<unsigned long long>(m_nCompleted.load()),
                  static_cast<unsigned long long>(m_nHostReads.load()),
                  static_cast<unsigned long long>(m_nHostWrites.load()),
                  static_cast<unsigned long long>(m_nMediaErrors.load()),
                  static_cast<unsigned long long>(m_nErrorCount), m_power.current());
    // Data area 2: the submission queues in use with their completion queues.
    auto *pq = reinterpret_cast<TelemetryQueue *>(m_telemetry.data() + 2 * TELEMETRY_BLOCK);
    size_t n = 0;
    for (size_t i = 0; i < m_sq.size() && n < TELEMETRY_BLOCK / sizeof(TelemetryQueue); ++i)
        if (m_sq[i].bValid)
            pq[n++] = TelemetryQueue{static_cast<uint16_t>(i), m_sq[i].nCqId, m_sq[i].nSize, m_sq[i].nHead, m_sq[i].nTail};
    // Data area 3: the newest error log entries.
    auto *pe = reinterpret_cast<nvme_error_log_page *>(m_telemetry.data() + 3 * TELEMETRY_BLOCK);
    const uint64_t nErrors = std::min<uint64_t>({m_nErrorCount, m_errors.size(), TELEMETRY_BLOCK / sizeof *pe});
    for (uint64_t i = 0; i < nErrors; ++i)
        pe[i] = m_errors[(m_nErrorCount - 1 - i) % m_errors.size()];
    m_subsys.eventLog().record(PEL_TELEMETRY_CREATE, cntlid(), m_telemetry.data(), TELEMETRY_BLOCK);
}

// Offsets are whole blocks; LSP bit 0 of the host-initiated log captures
// new data before the transfer.
uint16_t ControllerCore::telemetryLog(uint8_t nLid, uint8_t nLsp, uint64_t nOffset, std::vector<uint8_t> &log) {
    if (nOffset % TELEMETRY_BLOCK)
        return gen(SC_INVALID_FIELD);
    if (nLid == LID_TELEMETRY_HOST) {
        if (nLsp & TELEMETRY_LSP_CREATE)
            captureTelemetry();
        if (!m_telemetry.empty()) {
            log = m_telemetry;
            return 0;
        }
    }
    log.assign(TELEMETRY_BLOCK, 0);
    auto *h = reinterpret_cast<TelemetryHeader *>(log.data());
    h->lpi = nLid;
    h->hostdgn = nLid == LID_TELEMETRY_HOST ? m_nTelemetryGen : 0;
    h->ctrlavail = 0;
    h->ctrldgn = 0;
    return 0;
}

} // namespace nvmesim
