// Reservations: the fields of Reservation Register, Acquire, Release and
// Report, the reservation types, the notification log page, the features
// that go with them and the Identify bits that advertise them.
#pragma once
#include <cstdint>

#include <nvme/types.h>

#include "nvmewire/LogPages.h"

namespace nvmewire {

// Reservation types (RTYPE).
constexpr uint8_t RESV_TYPE_NONE = 0;
constexpr uint8_t RESV_WRITE_EXCLUSIVE = NVME_RESERVATION_RTYPE_WE;
constexpr uint8_t RESV_EXCLUSIVE_ACCESS = NVME_RESERVATION_RTYPE_EA;
constexpr uint8_t RESV_WRITE_EXCLUSIVE_REG_ONLY = NVME_RESERVATION_RTYPE_WERO;
constexpr uint8_t RESV_EXCLUSIVE_ACCESS_REG_ONLY = NVME_RESERVATION_RTYPE_EARO;
constexpr uint8_t RESV_WRITE_EXCLUSIVE_ALL_REGS = NVME_RESERVATION_RTYPE_WEAR;
constexpr uint8_t RESV_EXCLUSIVE_ACCESS_ALL_REGS = NVME_RESERVATION_RTYPE_EAAR;

// Reservation Register: CDW10 bits 2:0 RREGA, bit 3 IEKEY, bits 31:30
// CPTPL; data CRKEY then NRKEY.
constexpr uint8_t RESV_REGISTER = NVME_RESERVATION_RREGA_REGISTER_KEY;
constexpr uint8_t RESV_UNREGISTER = NVME_RESERVATION_RREGA_UNREGISTER_KEY;
constexpr uint8_t RESV_REPLACE = NVME_RESERVATION_RREGA_REPLACE_KEY;
constexpr uint8_t RESV_CPTPL_NO_CHANGE = NVME_RESERVATION_CPTPL_NO_CHANGE;
constexpr uint8_t RESV_CPTPL_CLEAR = NVME_RESERVATION_CPTPL_CLEAR;
constexpr uint8_t RESV_CPTPL_PERSIST = NVME_RESERVATION_CPTPL_PERSIST;
// Reservation Acquire: CDW10 bits 2:0 RACQA, bit 3 IEKEY, bits 15:8 RTYPE;
// data CRKEY then PRKEY.
constexpr uint8_t RESV_ACQUIRE = NVME_RESERVATION_RACQA_ACQUIRE;
constexpr uint8_t RESV_PREEMPT = NVME_RESERVATION_RACQA_PREEMPT;
constexpr uint8_t RESV_PREEMPT_AND_ABORT = NVME_RESERVATION_RACQA_PREEMPT_AND_ABORT;
// Reservation Release: CDW10 bits 2:0 RRELA, bit 3 IEKEY, bits 15:8 RTYPE;
// data CRKEY.
constexpr uint8_t RESV_RELEASE = NVME_RESERVATION_RRELA_RELEASE;
constexpr uint8_t RESV_CLEAR = NVME_RESERVATION_RRELA_CLEAR;
// Reservation Report: CDW10 NUMD (0-based dwords), CDW11 bit 0 EDS.
constexpr uint32_t RESV_REPORT_EDS = 1u << 0;
// Reservation status header and the registered controller entries.
constexpr uint32_t RESV_STATUS_HEADER = 24;
constexpr uint32_t RESV_STATUS_HEADER_EXT = 64;
constexpr uint8_t RESV_RCSTS_HOLDS = 1u << 0;

// Reservation Notification log page (one entry per read) and its types.
constexpr uint8_t RESV_NOTIFY_EMPTY = NVME_RESV_NOTIFY_RNLPT_EMPTY;
constexpr uint8_t RESV_NOTIFY_REGISTRATION_PREEMPTED = NVME_RESV_NOTIFY_RNLPT_REGISTRATION_PREEMPTED;
constexpr uint8_t RESV_NOTIFY_RESERVATION_RELEASED = NVME_RESV_NOTIFY_RNLPT_RESERVATION_RELEASED;
constexpr uint8_t RESV_NOTIFY_RESERVATION_PREEMPTED = NVME_RESV_NOTIFY_RNLPT_RESERVATION_PREEMPTED;
// Asynchronous event: I/O command specific status, reservation log page
// available.
constexpr uint8_t AER_IO_CMD_SPECIFIC = NVME_AER_CSS;
constexpr uint8_t AER_RESERVATION_LOG = NVME_AER_CSS_NVM_RESERVATION;

// Features: Host Identifier (CDW11 bit 0 EXHID: 128-bit), Reservation
// Notification Mask (CDW11 bit 1 REGPRE, 2 RESREL, 3 RESPRE), Reservation
// Persistence (CDW11 bit 0 PTPL).
constexpr uint8_t FEAT_HOST_ID = NVME_FEAT_FID_HOST_ID;
constexpr uint8_t FEAT_RESV_MASK = NVME_FEAT_FID_RESV_MASK;
constexpr uint8_t FEAT_RESV_PERSIST = NVME_FEAT_FID_RESV_PERSIST;
constexpr uint32_t HOST_ID_EXHID = 1u << 0;
constexpr uint32_t RESV_MASK_VALID = 0xEu;

// Identify: ONCS bit 5 (see Identify.h), CTRATT bit 0 (128-bit host
// identifiers), RESCAP of a namespace.
constexpr uint32_t CTRATT_HOST_ID_128 = NVME_CTRL_CTRATT_128_ID;
constexpr uint8_t RESCAP_ALL = NVME_NS_RESCAP_PTPL | NVME_NS_RESCAP_WE | NVME_NS_RESCAP_EA | NVME_NS_RESCAP_WERO |
                               NVME_NS_RESCAP_EARO | NVME_NS_RESCAP_WEAR | NVME_NS_RESCAP_EAAR |
                               NVME_NS_RESCAP_IEK_13;

} // namespace nvmewire
