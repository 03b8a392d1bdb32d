// Get Log Page: error information, SMART / health, firmware slot, changed
// namespace list, commands supported and effects, device self-test.
#include <cstring>

#include "ControllerCore.h"
#include "nvmesim/Subsystem.h"
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
    std::vector<uint8_t> &log = m_bounce2;
    uint8_t nEventType = 0xFF;
    switch (nLid) {
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
        auto *p = reinterpret_cast<nvme_cmd_effects_log *>(log.data());
        if (!fillIoEffects(p->iocs, nCsi))
            return gen(SC_INVALID_FIELD);
        constexpr uint32_t kSupp = 1, kLbcc = 2, kNcc = 4, kNic = 8, kCcc = 16;
        for (uint8_t op : {ADMIN_DELETE_SQ, ADMIN_CREATE_SQ, ADMIN_GET_LOG_PAGE, ADMIN_DELETE_CQ, ADMIN_CREATE_CQ,
                           ADMIN_IDENTIFY, ADMIN_ABORT, ADMIN_SET_FEATURES, ADMIN_GET_FEATURES, ADMIN_ASYNC_EVENT,
                           ADMIN_FW_DOWNLOAD, ADMIN_DEV_SELF_TEST, ADMIN_KEEP_ALIVE, ADMIN_GET_LBA_STATUS})
            p->acs[op] = kSupp;
        p->acs[ADMIN_FW_COMMIT] = kSupp | kCcc;
        if (m_subsys.config().bNamespaceManagement && !isVf()) {
            p->acs[ADMIN_NS_MGMT] = kSupp | kNic | kNcc;
            p->acs[ADMIN_NS_ATTACH] = kSupp | kNic | kNcc;
        }
        if (isPrimaryWithSriov())
            p->acs[ADMIN_VIRTUAL_MGMT] = kSupp;
        p->acs[ADMIN_FORMAT_NVM] = kSupp | kLbcc | kNcc | (1u << 16);   // no other commands outstanding
        break;
    }
    case LOG_CHANGED_ZONES:
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
