// Command opcodes (admin, NVM, key value, zoned, fabrics) and command set
// identifiers.
#pragma once
#include <cstdint>

#include <nvme/types.h>

namespace nvmewire {

// Admin commands.
constexpr uint8_t ADMIN_DELETE_SQ = nvme_admin_delete_sq;
constexpr uint8_t ADMIN_CREATE_SQ = nvme_admin_create_sq;
constexpr uint8_t ADMIN_GET_LOG_PAGE = nvme_admin_get_log_page;
constexpr uint8_t ADMIN_DELETE_CQ = nvme_admin_delete_cq;
constexpr uint8_t ADMIN_CREATE_CQ = nvme_admin_create_cq;
constexpr uint8_t ADMIN_IDENTIFY = nvme_admin_identify;
constexpr uint8_t ADMIN_ABORT = nvme_admin_abort_cmd;
constexpr uint8_t ADMIN_SET_FEATURES = nvme_admin_set_features;
constexpr uint8_t ADMIN_GET_FEATURES = nvme_admin_get_features;
constexpr uint8_t ADMIN_ASYNC_EVENT = nvme_admin_async_event;
constexpr uint8_t ADMIN_NS_MGMT = nvme_admin_ns_mgmt;
constexpr uint8_t ADMIN_FW_COMMIT = nvme_admin_fw_commit;
constexpr uint8_t ADMIN_FW_DOWNLOAD = nvme_admin_fw_download;
constexpr uint8_t ADMIN_DEV_SELF_TEST = nvme_admin_dev_self_test;
constexpr uint8_t ADMIN_NS_ATTACH = nvme_admin_ns_attach;
constexpr uint8_t ADMIN_KEEP_ALIVE = nvme_admin_keep_alive;
constexpr uint8_t ADMIN_DIRECTIVE_SEND = nvme_admin_directive_send;
constexpr uint8_t ADMIN_DIRECTIVE_RECV = nvme_admin_directive_recv;
constexpr uint8_t ADMIN_VIRTUAL_MGMT = nvme_admin_virtual_mgmt;
constexpr uint8_t ADMIN_MI_SEND = nvme_admin_nvme_mi_send;
constexpr uint8_t ADMIN_MI_RECV = nvme_admin_nvme_mi_recv;
constexpr uint8_t ADMIN_CAP_MGMT = nvme_admin_capacity_mgmt;
constexpr uint8_t ADMIN_LOCKDOWN = nvme_admin_lockdown;
constexpr uint8_t ADMIN_DBBUF = nvme_admin_dbbuf;
constexpr uint8_t ADMIN_FORMAT_NVM = nvme_admin_format_nvm;
constexpr uint8_t ADMIN_SECURITY_SEND = nvme_admin_security_send;
constexpr uint8_t ADMIN_SECURITY_RECV = nvme_admin_security_recv;
constexpr uint8_t ADMIN_SANITIZE = nvme_admin_sanitize_nvm;
constexpr uint8_t ADMIN_GET_LBA_STATUS = nvme_admin_get_lba_status;

// Fabrics commands share one opcode; the command type tells them apart.
constexpr uint8_t OPC_FABRICS = nvme_admin_fabrics;

// NVM command set I/O commands.
constexpr uint8_t NVM_FLUSH = nvme_cmd_flush;
constexpr uint8_t NVM_WRITE = nvme_cmd_write;
constexpr uint8_t NVM_READ = nvme_cmd_read;
constexpr uint8_t NVM_WRITE_UNCOR = nvme_cmd_write_uncor;
constexpr uint8_t NVM_COMPARE = nvme_cmd_compare;
constexpr uint8_t NVM_WRITE_ZEROES = nvme_cmd_write_zeroes;
constexpr uint8_t NVM_DSM = nvme_cmd_dsm;
constexpr uint8_t NVM_VERIFY = nvme_cmd_verify;
constexpr uint8_t NVM_RESV_REGISTER = nvme_cmd_resv_register;
constexpr uint8_t NVM_RESV_REPORT = nvme_cmd_resv_report;
constexpr uint8_t NVM_RESV_ACQUIRE = nvme_cmd_resv_acquire;
constexpr uint8_t NVM_RESV_RELEASE = nvme_cmd_resv_release;
constexpr uint8_t NVM_COPY = nvme_cmd_copy;

// Key value command set.
constexpr uint8_t KV_STORE = 0x01;
constexpr uint8_t KV_RETRIEVE = 0x02;
constexpr uint8_t KV_LIST = 0x06;
constexpr uint8_t KV_DELETE = 0x10;
constexpr uint8_t KV_EXIST = 0x14;

// Zoned namespace command set.
constexpr uint8_t ZNS_MGMT_SEND = nvme_zns_cmd_mgmt_send;
constexpr uint8_t ZNS_MGMT_RECV = nvme_zns_cmd_mgmt_recv;
constexpr uint8_t ZNS_APPEND = nvme_zns_cmd_append;

// Fabrics command types (CDW0 byte 4 of a fabrics command).
constexpr uint8_t FCTYPE_PROPERTY_SET = nvme_fabrics_type_property_set;
constexpr uint8_t FCTYPE_CONNECT = nvme_fabrics_type_connect;
constexpr uint8_t FCTYPE_PROPERTY_GET = nvme_fabrics_type_property_get;
constexpr uint8_t FCTYPE_AUTH_SEND = nvme_fabrics_type_auth_send;
constexpr uint8_t FCTYPE_AUTH_RECEIVE = nvme_fabrics_type_auth_receive;
constexpr uint8_t FCTYPE_DISCONNECT = nvme_fabrics_type_disconnect;

// Command set identifiers (CSI).
constexpr uint8_t CSI_NVM = NVME_CSI_NVM;
constexpr uint8_t CSI_KV = NVME_CSI_KV;
constexpr uint8_t CSI_ZNS = NVME_CSI_ZNS;
// I/O command set vectors: bit n is the command set with CSI n.
constexpr uint64_t IOCS_NVM = 1ull << NVME_CSI_NVM;
constexpr uint64_t IOCS_KV = 1ull << NVME_CSI_KV;
constexpr uint64_t IOCS_ZNS = 1ull << NVME_CSI_ZNS;
// Feature I/O Command Set Profile: CDW11 8:0, the combination index.
constexpr uint8_t FEAT_IOCS_PROFILE = NVME_FEAT_FID_IOCS_PROFILE;
constexpr uint32_t IOCS_PROFILE_INDEX_MASK = 0x1FF;

// Identify CNS values.
constexpr uint8_t CNS_NS = NVME_IDENTIFY_CNS_NS;
constexpr uint8_t CNS_CTRL = NVME_IDENTIFY_CNS_CTRL;
constexpr uint8_t CNS_NS_ACTIVE_LIST = NVME_IDENTIFY_CNS_NS_ACTIVE_LIST;
constexpr uint8_t CNS_NS_DESC_LIST = NVME_IDENTIFY_CNS_NS_DESC_LIST;
constexpr uint8_t CNS_CSI_NS = NVME_IDENTIFY_CNS_CSI_NS;
constexpr uint8_t CNS_CSI_CTRL = NVME_IDENTIFY_CNS_CSI_CTRL;
constexpr uint8_t CNS_ALLOCATED_NS_LIST = NVME_IDENTIFY_CNS_ALLOCATED_NS_LIST;
constexpr uint8_t CNS_ALLOCATED_NS = NVME_IDENTIFY_CNS_ALLOCATED_NS;
constexpr uint8_t CNS_NS_CTRL_LIST = NVME_IDENTIFY_CNS_NS_CTRL_LIST;
constexpr uint8_t CNS_CTRL_LIST = NVME_IDENTIFY_CNS_CTRL_LIST;
constexpr uint8_t CNS_CSI_INDEPENDENT_NS = NVME_IDENTIFY_CNS_CSI_INDEPENDENT_ID_NS;
constexpr uint8_t CNS_CSI_NS_ACTIVE_LIST = NVME_IDENTIFY_CNS_CSI_NS_ACTIVE_LIST;
constexpr uint8_t CNS_CSI_ALLOCATED_NS_LIST = NVME_IDENTIFY_CNS_CSI_ALLOCATED_NS_LIST;
constexpr uint8_t CNS_COMMAND_SET_STRUCTURE = NVME_IDENTIFY_CNS_COMMAND_SET_STRUCTURE;
constexpr uint8_t CNS_PRIMARY_CTRL_CAP = NVME_IDENTIFY_CNS_PRIMARY_CTRL_CAP;
constexpr uint8_t CNS_SECONDARY_CTRL_LIST = NVME_IDENTIFY_CNS_SECONDARY_CTRL_LIST;

// CDW12 of Read, Write, Write Zeroes and Copy: Force Unit Access.
constexpr uint32_t CDW12_FUA = static_cast<uint32_t>(NVME_IO_FUA) << 16;

// CDW12 of Read, Write, Compare, Verify and Write Zeroes: the protection
// information field PRINFO (bits 29:26). Copy has PRINFOW there for the
// destination and PRINFOR in bits 15:12 for the sources. CDW14 holds the
// initial logical block reference tag (ILBRT, EILBRT for reads), CDW15 the
// application tag (bits 15:0) and its mask (bits 31:16).
constexpr uint32_t CDW12_PRINFO_SHIFT = 26;
constexpr uint32_t COPY_CDW12_PRINFOR_SHIFT = 12;
// PRINFO as a four-bit field: PRACT, then the checks of PRCHK.
constexpr uint8_t PRINFO_PRCHK_REF = NVME_IO_PRINFO_PRCHK_REF >> 10;
constexpr uint8_t PRINFO_PRCHK_APP = NVME_IO_PRINFO_PRCHK_APP >> 10;
constexpr uint8_t PRINFO_PRCHK_GUARD = NVME_IO_PRINFO_PRCHK_GUARD >> 10;
constexpr uint8_t PRINFO_PRACT = NVME_IO_PRINFO_PRACT >> 10;

// Format NVM CDW10: protection information type (bits 7:5) and location
// (PIL, bit 8: the first bytes of the metadata).
constexpr uint32_t FORMAT_CDW10_PI_SHIFT = 5;
constexpr uint32_t FORMAT_CDW10_PIL = 1u << 8;

// Virtualization Management actions (CDW10 bits 3:0) and resource types
// (bits 10:8).
constexpr uint8_t VIRT_ACT_PRIMARY_FLEX_ALLOC = NVME_VIRT_MGMT_ACT_PRIM_CTRL_FLEX_ALLOC;
constexpr uint8_t VIRT_ACT_SECONDARY_OFFLINE = NVME_VIRT_MGMT_ACT_OFFLINE_SEC_CTRL;
constexpr uint8_t VIRT_ACT_SECONDARY_ASSIGN = NVME_VIRT_MGMT_ACT_ASSIGN_SEC_CTRL;
constexpr uint8_t VIRT_ACT_SECONDARY_ONLINE = NVME_VIRT_MGMT_ACT_ONLINE_SEC_CTRL;
constexpr uint8_t VIRT_RT_VQ = NVME_VIRT_MGMT_RT_VQ_RESOURCE;
constexpr uint8_t VIRT_RT_VI = NVME_VIRT_MGMT_RT_VI_RESOURCE;

// Sanitize actions (CDW10 bits 2:0) and the other CDW10 fields.
constexpr uint8_t SANACT_EXIT_FAILURE = NVME_SANITIZE_SANACT_EXIT_FAILURE;
constexpr uint8_t SANACT_BLOCK_ERASE = NVME_SANITIZE_SANACT_START_BLOCK_ERASE;
constexpr uint8_t SANACT_OVERWRITE = NVME_SANITIZE_SANACT_START_OVERWRITE;
constexpr uint8_t SANACT_CRYPTO_ERASE = NVME_SANITIZE_SANACT_START_CRYPTO_ERASE;
constexpr uint32_t SANITIZE_AUSE = 1u << 3;          // allow unrestricted sanitize exit
constexpr uint32_t SANITIZE_OWPASS_SHIFT = 4;        // overwrite passes, 0: 16
constexpr uint32_t SANITIZE_OIPBP = 1u << 8;         // invert the pattern between passes
constexpr uint32_t SANITIZE_NDAS = 1u << 9;          // no deallocate after sanitize

// Lockdown CDW10: scope (bits 3:0), prohibit (bit 4), interface (bits 6:5),
// opcode or feature identifier (bits 15:8).
constexpr uint8_t LOCKDOWN_SCOPE_ADMIN = 0x0;        // admin command opcodes
constexpr uint8_t LOCKDOWN_SCOPE_SET_FEATURES = 0x2; // Set Features feature identifiers
constexpr uint8_t LOCKDOWN_SCOPE_MI = 0x3;           // management interface command opcodes
constexpr uint8_t LOCKDOWN_SCOPE_PCIE = 0x4;         // PCIe command set opcodes
constexpr uint8_t LOCKDOWN_IFC_ADMIN_SQ = 0x0;       // the admin submission queue
constexpr uint8_t LOCKDOWN_IFC_BOTH = 0x1;           // admin submission queue and management endpoint
constexpr uint8_t LOCKDOWN_IFC_MI = 0x2;             // management endpoint only

} // namespace nvmewire
