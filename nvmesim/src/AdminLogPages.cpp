// Get Log Page: supported log pages, error information, SMART / health,
// firmware slot, changed namespace list, commands supported and effects,
// device self-test, command and feature lockdown, sanitize status.
#include <cstring>

#include "ControllerCore.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/EventLogs.h"
#include "nvmewire/LogPages.h"
#include "nvmewire/Reservation.h"
#include "nvmewire/Zoned.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }

void put128(uint8_t *p, uint64_t v) {
    std::memset(p, 0, 16);
    std::memcpy(p, &v, 8);
}
} // namespace

// The log pages this controller offers: Get Log Page refuses the others,
// and the Supported Log Pages log page and Identify LPA are built from
// here. A new log page is one line.
bool ControllerCore::logPageSupported(uint8_t nLid) const {
    switch (nLid) {
    case LID_SUPPORTED_LOG_PAGES: return true;
    case LID_ERROR: return true;
    case LID_SMART: return true;
    case LID_FW_SLOT: return true;
    case LID_CHANGED_NS: return true;
    case LID_CMD_EFFECTS: return true;
    case LID_DEVICE_SELF_TEST: return true;
    case LID_CMD_FEAT_LOCKDOWN: return true;
    case LID_SANITIZE: return sanicap() != 0;
    case LID_TELEMETRY_HOST: return true;
    case LID_TELEMETRY_CTRL: return true;
    case LID_PERSISTENT_EVENT: return true;
    case LID_RESERVATION: return m_bResv;
    case LID_ZNS_CHANGED_ZONES: return (supportedCommandSets() >> CSI_ZNS) & 1;
    default: return false;
    }
}

// Identify LPA from the same table (bit 2, extended data for Get Log Page,
// always holds).
uint8_t ControllerCore::logPageAttributes() const {
    uint8_t n = LPA_EXTENDED;
    if (logPageSupported(LID_CMD_EFFECTS))
        n |= LPA_CMD_EFFECTS;
    if (logPageSupported(LID_TELEMETRY_HOST) && logPageSupported(LID_TELEMETRY_CTRL))
        n |= LPA_TELEMETRY;
    if (logPageSupported(LID_PERSISTENT_EVENT))
        n |= LPA_PERSISTENT_EVENT;
    return n;
}

void ControllerCore::fillSupportedLogPages(std::vector<uint8_t> &log) const {
    log.assign(sizeof(nvme_supported_log_pages), 0);
    auto *p = reinterpret_cast<uint32_t *>(log.data());
    for (unsigned nLid = 0; nLid < 256; ++nLid)
        if (logPageSupported(static_cast<uint8_t>(nLid)))
            p[nLid] = LID_SUPP_LSUPP;
}

// The opcodes the controller executes, with their effects: the admin
// commands and the I/O commands of command set nCsi (false when the
// controller does not support that set).
bool ControllerCore::fillCommandEffects(nvme_cmd_effects_log &log, uint8_t nCsi) const {
    std::memset(&log, 0, sizeof log);
    auto *p = &log;
    constexpr uint32_t kSupp = 1, kLbcc = 2, kNcc = 4, kNic = 8, kCcc = 16;
    for (uint8_t op : {ADMIN_DELETE_SQ, ADMIN_CREATE_SQ, ADMIN_GET_LOG_PAGE, ADMIN_DELETE_CQ, ADMIN_CREATE_CQ,
                       ADMIN_IDENTIFY, ADMIN_ABORT, ADMIN_SET_FEATURES, ADMIN_GET_FEATURES, ADMIN_ASYNC_EVENT,
                       ADMIN_FW_DOWNLOAD, ADMIN_DEV_SELF_TEST, ADMIN_KEEP_ALIVE, ADMIN_GET_LBA_STATUS,
                       ADMIN_SECURITY_SEND, ADMIN_SECURITY_RECV, ADMIN_LOCKDOWN})
        p->acs[op] = kSupp;
    p->acs[ADMIN_FW_COMMIT] = kSupp | kCcc;
    if (m_subsys.config().bNamespaceManagement && !isVf()) {
        p->acs[ADMIN_NS_MGMT] = kSupp | kNic | kNcc;
        p->acs[ADMIN_NS_ATTACH] = kSupp | kNic | kNcc;
    }
    if (isPrimaryWithSriov())
        p->acs[ADMIN_VIRTUAL_MGMT] = kSupp;
    p->acs[ADMIN_FORMAT_NVM] = kSupp | kLbcc | kNcc | (1u << 16);   // no other commands outstanding
    if (sanicap())
        p->acs[ADMIN_SANITIZE] = kSupp | kLbcc;
    if (directivesSupported()) {
        p->acs[ADMIN_DIRECTIVE_SEND] = kSupp;
        p->acs[ADMIN_DIRECTIVE_RECV] = kSupp;
    }
    if (!fillIoEffects(p->iocs, nCsi))
        return false;
    if (m_bResv && nCsi != CSI_KV)
        for (uint8_t op : {NVM_RESV_REGISTER, NVM_RESV_REPORT, NVM_RESV_ACQUIRE, NVM_RESV_RELEASE})
            p->iocs[op] = kSupp;
    return true;
}

bool ControllerCore::adminOpcodeSupported(uint8_t nOpcode) const {
    nvme_cmd_effects_log log;
    fillCommandEffects(log, CSI_NVM);
    return log.acs[nOpcode] & 1;
}

uint16_t ControllerCore::adminGetLogPage(const Sqe &e) {
    const uint8_t nLid = e.cdw10() & 0xFF;
    const bool bRae = (e.cdw10() >> 15) & 1;
    const uint64_t nDwords = ((e.cdw10() >> 16) | (static_cast<uint64_t>(e.cdw11() & 0xFFFF) << 16)) + 1;
    const uint64_t nLen = nDwords * 4;
    const uint64_t nOffset = e.cdw12() | (static_cast<uint64_t>(e.cdw13()) << 32);
    const uint8_t nCsi = static_cast<uint8_t>(e.cdw14() >> 24);
    if (nOffset & 3)
        return gen(SC_INVALID_FIELD);
    if (nLen > maxTransfer())
        return gen(SC_INVALID_FIELD);
    if (!logPageSupported(nLid))
        return specific(SC_INVALID_LOG_PAGE);
    std::vector<uint8_t> &log = m_bounce2;
    uint8_t nEventType = 0xFF;
    switch (nLid) {
    case LID_SUPPORTED_LOG_PAGES:
        fillSupportedLogPages(log);
        break;
    case LID_CMD_FEAT_LOCKDOWN:
        if (const uint16_t s = fillLockdownLog(static_cast<uint8_t>((e.cdw10() >> 8) & 0x7F), log))
            return s;
        break;
    case LID_SANITIZE:
        fillSanitizeLog(log);
        nEventType = AER_CSS;
        break;
    case NVME_LOG_LID_ERROR: {
        log.assign(m_errors.size() * sizeof(nvme_error_log_page), 0);
        auto *p = reinterpret_cast<nvme_error_log_page *>(log.data());
        const uint64_t n = std::min<uint64_t>(m_nErrorCount, m_errors.size());
        for (uint64_t i = 0; i < n; ++i)   // newest first
            p[i] = m_errors[(m_nErrorCount - 1 - i) % m_errors.size()];
        nEventType = NVME_AER_ERROR;
        break;
    }
    case NVME_LOG_LID_SMART: {
        if (e.nsid() != 0 && e.nsid() != NVME_NSID_ALL)
            return gen(SC_INVALID_FIELD);
        log.assign(sizeof(nvme_smart_log), 0);
        auto *p = reinterpret_cast<nvme_smart_log *>(log.data());
        const uint16_t nTemp = m_subsys.config().nTemperatureK;
        p->critical_warning = (nTemp > m_feat.nTempOver || nTemp < m_feat.nTempUnder) ? 0x02 : 0;
        p->temperature[0] = static_cast<uint8_t>(nTemp);
        p->temperature[1] = static_cast<uint8_t>(nTemp >> 8);
        p->avail_spare = 100;
        p->spare_thresh = 10;
        put128(p->data_units_read, (m_nDataUnitsRead.load() + 999) / 1000);
        put128(p->data_units_written, (m_nDataUnitsWritten.load() + 999) / 1000);
        put128(p->host_reads, m_nHostReads.load());
        put128(p->host_writes, m_nHostWrites.load());
        put128(p->power_cycles, m_subsys.powerCycles());
        put128(p->power_on_hours,
               static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::hours>(Clock::now() - m_startedAt).count()));
        put128(p->unsafe_shutdowns, m_subsys.unsafeShutdowns());
        put128(p->media_errors, m_nMediaErrors.load());
        put128(p->num_err_log_entries, m_nErrorCount);
        p->temp_sensor[0] = nTemp;
        nEventType = NVME_AER_SMART;
        break;
    }
    case NVME_LOG_LID_FW_SLOT: {
        log.assign(sizeof(nvme_firmware_slot), 0);
        auto *p = reinterpret_cast<nvme_firmware_slot *>(log.data());
        p->afi = static_cast<uint8_t>(m_nFwActiveSlot | (m_nFwNextSlot << 4));
        for (int i = 0; i < 3; ++i)
            if (!m_fwSlots[i].empty()) {
                std::memset(p->frs[i], ' ', 8);
                std::memcpy(p->frs[i], m_fwSlots[i].data(), std::min<size_t>(8, m_fwSlots[i].size()));
            }
        break;
    }
    case NVME_LOG_LID_CHANGED_NS: {
        log.assign(4096, 0);
        auto *p = reinterpret_cast<uint32_t *>(log.data());
        std::lock_guard lock(m_eventMutex);
        if (m_bChangedNsOverflow)
            p[0] = 0xFFFFFFFF;
        else
            std::copy(m_changedNs.begin(), m_changedNs.end(), p);
        if (!bRae) {
            m_changedNs.clear();
            m_bChangedNsOverflow = false;
        }
        nEventType = NVME_AER_NOTICE;
        break;
    }
    case NVME_LOG_LID_CMD_EFFECTS: {
        log.assign(sizeof(nvme_cmd_effects_log), 0);
        if (!fillCommandEffects(*reinterpret_cast<nvme_cmd_effects_log *>(log.data()), nCsi))
            return gen(SC_INVALID_FIELD);
        break;
    }
    case LID_RESERVATION:
        if (!m_bResv)
            return specific(SC_INVALID_LOG_PAGE);
        fillResvLog(log);
        nEventType = AER_IO_CMD_SPECIFIC;
        break;
    case LID_ZNS_CHANGED_ZONES:
        if (const uint16_t s = changedZoneLog(e, bRae, log))
            return s;
        nEventType = NVME_AER_NOTICE;
        break;
    case NVME_LOG_LID_DEVICE_SELF_TEST: {
        log.assign(sizeof(nvme_self_test_log), 0);
        auto *p = reinterpret_cast<nvme_self_test_log *>(log.data());
        p->current_operation = m_selfTest.nCurrent;
        if (m_selfTest.nCurrent) {
            const auto nTotal = (m_selfTest.end - m_selfTest.start).count();
            const auto nDone = (Clock::now() - m_selfTest.start).count();
            p->completion = static_cast<uint8_t>(nTotal > 0 ? std::min<int64_t>(99, nDone * 100 / nTotal) : 0);
        }
        for (size_t i = 0; i < static_cast<size_t>(NVME_LOG_ST_MAX_RESULTS); ++i)
            p->result[i].dsts = 0x0F;   // unused entry
        for (size_t i = 0; i < m_selfTest.results.size() && i < static_cast<size_t>(NVME_LOG_ST_MAX_RESULTS); ++i)
            p->result[i] = m_selfTest.results[i];
        break;
    }
    case LID_TELEMETRY_HOST:
    case LID_TELEMETRY_CTRL:
        if (const uint16_t s = telemetryLog(nLid, logSpecific(e.cdw10()), nOffset, log))
            return s;
        break;
    case LID_PERSISTENT_EVENT: {
        bool bTransfer = true;
        if (const uint16_t s = persistentEventLog(logSpecific(e.cdw10()), log, &bTransfer))
            return s;
        if (!bTransfer)
            return 0;
        break;
    }
    default:
        return specific(SC_INVALID_LOG_PAGE);
    }
    if (nOffset > log.size())
        return gen(SC_INVALID_FIELD);
    if (!bRae && nEventType != 0xFF)
        m_nMaskedEvents &= ~(1u << nEventType);
    // Bytes past the end of the log read as zeros.
    return sendPadded(e, log.data() + nOffset, std::min<uint64_t>(nLen, log.size() - nOffset), nLen);
}

} // namespace nvmesim
