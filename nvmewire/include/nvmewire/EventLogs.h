// Telemetry and persistent event log pages: identifiers, log specific
// fields, layouts and event types.
#pragma once
#include <cstdint>

#include <nvme/types.h>

#include "nvmewire/LogPages.h"

namespace nvmewire {

// Get Log Page CDW10: log specific field, bits 14:8.
constexpr uint8_t logSpecific(uint32_t nCdw10) { return uint8_t((nCdw10 >> 8) & 0x7F); }

// Telemetry: 512-byte blocks, block 0 the header; LSP bit 0 of the
// host-initiated log captures new data.
using TelemetryHeader = nvme_telemetry_log;
constexpr uint32_t TELEMETRY_BLOCK = NVME_LOG_TELEM_BLOCK_SIZE;
constexpr uint8_t TELEMETRY_LSP_CREATE = NVME_LOG_TELEM_HOST_LSP_CREATE;
static_assert(sizeof(TelemetryHeader) == 512, "telemetry header is one block");

// Persistent event log: LSP bits 1:0 are the action.
using PelHeader = nvme_persistent_event_log;
using PelEventHeader = nvme_persistent_event_entry;
constexpr uint8_t PEL_ACTION_READ = NVME_PEVENT_LOG_READ;
constexpr uint8_t PEL_ACTION_ESTABLISH = NVME_PEVENT_LOG_EST_CTX_AND_READ;
constexpr uint8_t PEL_ACTION_RELEASE = NVME_PEVENT_LOG_RELEASE_CTX;
static_assert(sizeof(PelHeader) == 512 && sizeof(PelEventHeader) == 24, "persistent event log layouts");
// Event types.
constexpr uint8_t PEL_FW_COMMIT = NVME_PEL_FW_COMMIT_EVENT;
constexpr uint8_t PEL_POWER_ON_RESET = NVME_PEL_POWER_ON_RESET_EVENT;
constexpr uint8_t PEL_CHANGE_NS = NVME_PEL_CHANGE_NS_EVENT;
constexpr uint8_t PEL_FORMAT_START = NVME_PEL_FORMAT_START_EVENT;
constexpr uint8_t PEL_FORMAT_COMPLETION = NVME_PEL_FORMAT_COMPLETION_EVENT;
constexpr uint8_t PEL_TELEMETRY_CREATE = NVME_PEL_TELEMETRY_CRT;
// Event data.
using PelResetEntry = nvme_power_on_reset_info_list;
using PelFwCommit = nvme_fw_commit_event;
using PelChangeNs = nvme_change_ns_event;
// The event header length counts the bytes after its first three; the log
// header length the bytes after its first twenty.
constexpr uint8_t PEL_EVENT_HEADER_LENGTH = sizeof(PelEventHeader) - 3;
constexpr uint16_t PEL_LOG_HEADER_LENGTH = sizeof(PelHeader) - 20;

} // namespace nvmewire
