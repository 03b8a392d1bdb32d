// Zoned namespace command set: zone states, actions, report layouts and
// the identify structures (libnvme's struct nvme_zns_*).
#pragma once
#include <cstdint>

#include <nvme/types.h>

#include "nvmewire/LogPages.h"

namespace nvmewire {

using ZoneDesc = nvme_zns_desc;
using ZoneReportHeader = nvme_zone_report;
using IdNsZoned = nvme_zns_id_ns;
using IdCtrlZoned = nvme_zns_id_ctrl;
using ChangedZoneLog = nvme_zns_changed_zone_log;
static_assert(sizeof(ZoneDesc) == 64 && sizeof(ZoneReportHeader) == 64, "zone report entries are 64 bytes");
static_assert(sizeof(IdNsZoned) == 4096 && sizeof(IdCtrlZoned) == 4096, "identify data is 4 KiB");

// Zone type: sequential write required.
constexpr uint8_t ZONE_TYPE_SEQ_WRITE = NVME_ZONE_TYPE_SEQWRITE_REQ;

// Zone states (ZS, the upper nibble of byte 1 of a descriptor).
constexpr uint8_t ZS_EMPTY = NVME_ZNS_ZS_EMPTY;
constexpr uint8_t ZS_IMPLICIT_OPEN = NVME_ZNS_ZS_IMPL_OPEN;
constexpr uint8_t ZS_EXPLICIT_OPEN = NVME_ZNS_ZS_EXPL_OPEN;
constexpr uint8_t ZS_CLOSED = NVME_ZNS_ZS_CLOSED;
constexpr uint8_t ZS_READ_ONLY = NVME_ZNS_ZS_READ_ONLY;
constexpr uint8_t ZS_FULL = NVME_ZNS_ZS_FULL;
constexpr uint8_t ZS_OFFLINE = NVME_ZNS_ZS_OFFLINE;
constexpr uint8_t zoneState(const ZoneDesc &d) { return uint8_t(d.zs >> 4); }

// Zone attributes.
constexpr uint8_t ZA_FINISHED_BY_CONTROLLER = NVME_ZNS_ZA_ZFC;
constexpr uint8_t ZA_FINISH_RECOMMENDED = NVME_ZNS_ZA_FZR;
constexpr uint8_t ZA_RESET_RECOMMENDED = NVME_ZNS_ZA_RZR;
constexpr uint8_t ZA_DESC_EXT_VALID = NVME_ZNS_ZA_ZDEV;

// Zone Management Send: zone send action (CDW13 7:0), Select All (bit 8).
constexpr uint8_t ZSA_CLOSE = NVME_ZNS_ZSA_CLOSE;
constexpr uint8_t ZSA_FINISH = NVME_ZNS_ZSA_FINISH;
constexpr uint8_t ZSA_OPEN = NVME_ZNS_ZSA_OPEN;
constexpr uint8_t ZSA_RESET = NVME_ZNS_ZSA_RESET;
constexpr uint8_t ZSA_OFFLINE = NVME_ZNS_ZSA_OFFLINE;
constexpr uint8_t ZSA_SET_DESC_EXT = NVME_ZNS_ZSA_SET_DESC_EXT;
constexpr uint32_t ZMS_SELECT_ALL = 1u << 8;

// Zone Management Receive: action (CDW13 7:0), reporting options (15:8),
// partial report (bit 16).
constexpr uint8_t ZRA_REPORT = NVME_ZNS_ZRA_REPORT_ZONES;
constexpr uint8_t ZRA_EXTENDED_REPORT = NVME_ZNS_ZRA_EXTENDED_REPORT_ZONES;
constexpr uint8_t ZRAS_ALL = NVME_ZNS_ZRAS_REPORT_ALL;
constexpr uint8_t ZRAS_EMPTY = NVME_ZNS_ZRAS_REPORT_EMPTY;
constexpr uint8_t ZRAS_IMPLICIT_OPEN = NVME_ZNS_ZRAS_REPORT_IMPL_OPENED;
constexpr uint8_t ZRAS_EXPLICIT_OPEN = NVME_ZNS_ZRAS_REPORT_EXPL_OPENED;
constexpr uint8_t ZRAS_CLOSED = NVME_ZNS_ZRAS_REPORT_CLOSED;
constexpr uint8_t ZRAS_FULL = NVME_ZNS_ZRAS_REPORT_FULL;
constexpr uint8_t ZRAS_READ_ONLY = NVME_ZNS_ZRAS_REPORT_READ_ONLY;
constexpr uint8_t ZRAS_OFFLINE = NVME_ZNS_ZRAS_REPORT_OFFLINE;
// The zone state a reporting option lists (ZRAS_ALL: none).
constexpr uint8_t zrasState(uint8_t nOption)
{
    constexpr uint8_t kStates[] = {0, ZS_EMPTY, ZS_IMPLICIT_OPEN, ZS_EXPLICIT_OPEN, ZS_CLOSED, ZS_FULL, ZS_READ_ONLY, ZS_OFFLINE};
    return nOption < sizeof kStates ? kStates[nOption] : 0;
}
constexpr uint32_t ZMR_PARTIAL = 1u << 16;
constexpr uint32_t zmrCdw13(uint8_t nAction, uint8_t nOptions, bool bPartial)
{
    return nAction | (uint32_t(nOptions) << 8) | (bPartial ? ZMR_PARTIAL : 0);
}

// Identify (I/O command set specific namespace): OZCS bit 0, reads may
// cross zone boundaries.
constexpr uint16_t OZCS_READ_ACROSS_ZONES = 1;

// Changed Zone List log page and its event (notice, zone descriptor
// changed), enabled by bit 27 of Asynchronous Event Configuration.
constexpr uint16_t CHANGED_ZONES_MAX = NVME_ZNS_CHANGED_ZONES_MAX;
constexpr uint8_t AER_NOTICE_ZONE_DESC_CHANGED = 0xEF;
constexpr uint32_t AEC_ZONE_DESC_CHANGED = 1u << 27;

} // namespace nvmewire
