// Log page identifiers and the layouts libnvme does not describe: the
// Supported Log Pages entry bits, the Sanitize Status fields and the
// Command and Feature Lockdown log page.
#pragma once
#include <cstdint>

#include <nvme/types.h>

namespace nvmewire {

constexpr uint8_t LID_SUPPORTED_LOG_PAGES = NVME_LOG_LID_SUPPORTED_LOG_PAGES;
constexpr uint8_t LID_ERROR = NVME_LOG_LID_ERROR;
constexpr uint8_t LID_SMART = NVME_LOG_LID_SMART;
constexpr uint8_t LID_FW_SLOT = NVME_LOG_LID_FW_SLOT;
constexpr uint8_t LID_CHANGED_NS = NVME_LOG_LID_CHANGED_NS;
constexpr uint8_t LID_CMD_EFFECTS = NVME_LOG_LID_CMD_EFFECTS;
constexpr uint8_t LID_DEVICE_SELF_TEST = NVME_LOG_LID_DEVICE_SELF_TEST;
constexpr uint8_t LID_TELEMETRY_HOST = NVME_LOG_LID_TELEMETRY_HOST;
constexpr uint8_t LID_TELEMETRY_CTRL = NVME_LOG_LID_TELEMETRY_CTRL;
constexpr uint8_t LID_PERSISTENT_EVENT = NVME_LOG_LID_PERSISTENT_EVENT;
constexpr uint8_t LID_CMD_FEAT_LOCKDOWN = 0x14;
constexpr uint8_t LID_RESERVATION = NVME_LOG_LID_RESERVATION;
constexpr uint8_t LID_SANITIZE = NVME_LOG_LID_SANITIZE;
constexpr uint8_t LID_ZNS_CHANGED_ZONES = NVME_LOG_LID_ZNS_CHANGED_ZONES;

// Supported Log Pages: one dword per log identifier.
constexpr uint32_t LID_SUPP_LSUPP = 1u << 0;         // the log page is supported
constexpr uint32_t LID_SUPP_IOS = 1u << 1;           // index offset supported
constexpr uint32_t LID_SUPP_LIDSP_SHIFT = 16;        // log specific parameter, bits 31:16

// Sanitize Status: SSTAT.
constexpr uint16_t SSTAT_NEVER_SANITIZED = NVME_SANITIZE_SSTAT_STATUS_NEVER_SANITIZED;
constexpr uint16_t SSTAT_COMPLETE_SUCCESS = NVME_SANITIZE_SSTAT_STATUS_COMPLETE_SUCCESS;
constexpr uint16_t SSTAT_IN_PROGRESS = NVME_SANITIZE_SSTAT_STATUS_IN_PROGESS;
constexpr uint16_t SSTAT_FAILED = NVME_SANITIZE_SSTAT_STATUS_COMPLETED_FAILED;
constexpr uint16_t SSTAT_ND_COMPLETE_SUCCESS = NVME_SANITIZE_SSTAT_STATUS_ND_COMPLETE_SUCCESS;
constexpr uint16_t SSTAT_STATUS_MASK = NVME_SANITIZE_SSTAT_STATUS_MASK;
constexpr uint16_t SSTAT_PASSES_SHIFT = NVME_SANITIZE_SSTAT_COMPLETED_PASSES_SHIFT;
constexpr uint16_t SSTAT_PASSES_MASK = NVME_SANITIZE_SSTAT_COMPLETED_PASSES_MASK;
constexpr uint16_t SSTAT_GLOBAL_DATA_ERASED = NVME_SANITIZE_SSTAT_GLOBAL_DATA_ERASED;

// Command and Feature Lockdown log page. The Get Log Page LSP selects the
// scope (bits 3:0, as the Lockdown command's SCP) and the content (bits
// 5:4: 00b the identifiers that may be prohibited, 01b those prohibited
// now). Byte 0 of the page repeats the scope (bits 3:0) and gives the
// content type (bits 5:4: 01b supported list, 10b prohibited list);
// bytes 3:2 hold the length in bytes of the identifier list that starts
// at byte 4, one byte per identifier in ascending order.
constexpr uint8_t LOCKDOWN_LSP_SUPPORTED = 0x0;
constexpr uint8_t LOCKDOWN_LSP_PROHIBITED = 0x1;
constexpr uint8_t LOCKDOWN_CT_SUPPORTED = 0x1;
constexpr uint8_t LOCKDOWN_CT_PROHIBITED = 0x2;
struct LockdownLog {
    uint8_t nAttributes;     // scope bits 3:0, content type bits 5:4
    uint8_t reserved1;
    uint16_t nListLength;    // little-endian, bytes
    uint8_t ids[508];
};
static_assert(sizeof(LockdownLog) == 512, "the lockdown log page is 512 bytes");

// Asynchronous events of the NVM command set (type 6).
constexpr uint8_t AER_CSS = NVME_AER_CSS;
constexpr uint8_t AER_CSS_SANITIZE_COMPLETED = NVME_AER_CSS_NVM_SANITIZE_COMPLETED;
constexpr uint8_t AER_CSS_SANITIZE_UNEXPECTED_DEALLOC = NVME_AER_CSS_NVM_UNEXPECTED_SANITIZE_DEALLOC;

} // namespace nvmewire
