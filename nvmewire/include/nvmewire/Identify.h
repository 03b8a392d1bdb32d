// Identify data: the layouts are libnvme's (struct nvme_id_ctrl and
// struct nvme_id_ns, little-endian); these accessors read the fields an
// NVMe host needs, in host byte order.
#pragma once
#include <cstdint>
#include <string>

#include <endian.h>
#include <nvme/types.h>

namespace nvmewire {

using IdCtrl = nvme_id_ctrl;
using IdNs = nvme_id_ns;
using LbaFormat = nvme_lbaf;
static_assert(sizeof(IdCtrl) == 4096 && sizeof(IdNs) == 4096, "identify data is 4 KiB");
static_assert(sizeof(LbaFormat) == 4, "LBA formats are 4 bytes");

// An ASCII identify field (SN, MN, FR) without its trailing blanks.
template <size_t N>
std::string idString(const char (&a)[N])
{
    size_t n = 0;
    while (n < N && a[n] != '\0')
        ++n;
    while (n > 0 && a[n - 1] == ' ')
        --n;
    return std::string(a, n);
}

// Identify Controller.
inline uint16_t vid(const IdCtrl &c) { return le16toh(c.vid); }
inline uint16_t ssvid(const IdCtrl &c) { return le16toh(c.ssvid); }
inline std::string sn(const IdCtrl &c) { return idString(c.sn); }
inline std::string mn(const IdCtrl &c) { return idString(c.mn); }
inline std::string fr(const IdCtrl &c) { return idString(c.fr); }
inline uint8_t mdts(const IdCtrl &c) { return c.mdts; }
inline uint16_t cntlid(const IdCtrl &c) { return le16toh(c.cntlid); }
inline uint32_t ver(const IdCtrl &c) { return le32toh(c.ver); }
inline uint16_t oacs(const IdCtrl &c) { return le16toh(c.oacs); }
inline uint32_t sanicap(const IdCtrl &c) { return le32toh(c.sanicap); }
inline uint32_t ctratt(const IdCtrl &c) { return le32toh(c.ctratt); }
inline uint32_t nn(const IdCtrl &c) { return le32toh(c.nn); }
inline uint32_t sgls(const IdCtrl &c) { return le32toh(c.sgls); }
// Largest transfer in bytes for the controller's minimum page size, 0 when
// MDTS sets no limit.
inline uint64_t maxTransferBytes(const IdCtrl &c, uint64_t nMinPageSize)
{
    return c.mdts == 0 || c.mdts >= 52 ? 0 : nMinPageSize << c.mdts;
}
// OACS bits.
constexpr uint16_t OACS_SECURITY = NVME_CTRL_OACS_SECURITY;
constexpr uint16_t OACS_FORMAT = NVME_CTRL_OACS_FORMAT;
constexpr uint16_t OACS_FW = NVME_CTRL_OACS_FW;
constexpr uint16_t OACS_NS_MGMT = NVME_CTRL_OACS_NS_MGMT;
constexpr uint16_t OACS_SELF_TEST = NVME_CTRL_OACS_SELF_TEST;
constexpr uint16_t OACS_DIRECTIVES = NVME_CTRL_OACS_DIRECTIVES;
constexpr uint16_t OACS_NVME_MI = NVME_CTRL_OACS_NVME_MI;
constexpr uint16_t OACS_VIRT_MGMT = NVME_CTRL_OACS_VIRT_MGMT;
constexpr uint16_t OACS_DBBUF_CFG = NVME_CTRL_OACS_DBBUF_CFG;
constexpr uint16_t OACS_LBA_STATUS = NVME_CTRL_OACS_LBA_STATUS;
constexpr uint16_t OACS_LOCKDOWN = NVME_CTRL_OACS_CMD_FEAT_LD;

// LPA bits (log page attributes).
constexpr uint8_t LPA_SMART_PER_NS = NVME_CTRL_LPA_SMART_PER_NS;
constexpr uint8_t LPA_CMD_EFFECTS = NVME_CTRL_LPA_CMD_EFFECTS;
constexpr uint8_t LPA_EXTENDED = NVME_CTRL_LPA_EXTENDED;
constexpr uint8_t LPA_TELEMETRY = NVME_CTRL_LPA_TELEMETRY;
constexpr uint8_t LPA_PERSISTENT_EVENT = NVME_CTRL_LPA_PERSETENT_EVENT;

// SANICAP bits: the sanitize actions offered, No-Deallocate Inhibited and
// No-Deallocate Modifies Media After Sanitize (bits 31:30; 01b: the media
// is not modified further).
constexpr uint32_t SANICAP_CRYPTO_ERASE = NVME_CTRL_SANICAP_CES;
constexpr uint32_t SANICAP_BLOCK_ERASE = NVME_CTRL_SANICAP_BES;
constexpr uint32_t SANICAP_OVERWRITE = NVME_CTRL_SANICAP_OWS;
constexpr uint32_t SANICAP_NDI = NVME_CTRL_SANICAP_NDI;
constexpr uint32_t SANICAP_NODMMAS_NOT_MODIFIED = 1u << 30;

// Power state descriptors: flags, and the Power Management feature (power
// state in bits 4:0, workload hint in bits 7:5).
constexpr uint8_t PSD_FLAG_NON_OPERATIONAL = NVME_PSD_FLAGS_NOPS;
inline uint8_t npss(const IdCtrl &c) { return c.npss; }
inline bool nonOperational(const IdCtrl &c, uint32_t nPs) { return nPs < 32 && (c.psd[nPs].flags & PSD_FLAG_NON_OPERATIONAL); }
constexpr uint32_t powerMgmtValue(uint8_t nPs, uint8_t nWorkload) { return (nPs & 0x1Fu) | ((nWorkload & 7u) << 5); }

// ONCS bits.
constexpr uint16_t ONCS_COMPARE = NVME_CTRL_ONCS_COMPARE;
constexpr uint16_t ONCS_WRITE_UNCORRECTABLE = NVME_CTRL_ONCS_WRITE_UNCORRECTABLE;
constexpr uint16_t ONCS_DSM = NVME_CTRL_ONCS_DSM;
constexpr uint16_t ONCS_WRITE_ZEROES = NVME_CTRL_ONCS_WRITE_ZEROES;
constexpr uint16_t ONCS_SAVE_FEATURES = NVME_CTRL_ONCS_SAVE_FEATURES;
constexpr uint16_t ONCS_RESERVATIONS = NVME_CTRL_ONCS_RESERVATIONS;
constexpr uint16_t ONCS_TIMESTAMP = NVME_CTRL_ONCS_TIMESTAMP;
constexpr uint16_t ONCS_VERIFY = NVME_CTRL_ONCS_VERIFY;
constexpr uint16_t ONCS_COPY = NVME_CTRL_ONCS_COPY;

// Identify Namespace.
inline uint64_t nsze(const IdNs &n) { return le64toh(n.nsze); }
inline uint64_t ncap(const IdNs &n) { return le64toh(n.ncap); }
inline uint64_t nuse(const IdNs &n) { return le64toh(n.nuse); }
// Number of LBA formats, 0's based as the field is.
inline uint8_t nlbaf(const IdNs &n) { return n.nlbaf; }
inline uint8_t flbas(const IdNs &n) { return n.flbas; }
// Index of the format in use: FLBAS bits 3:0, with bits 6:5 as the upper
// bits when more than 16 formats exist.
inline uint32_t formatIndex(const IdNs &n) { return (n.flbas & 0xF) | (((n.flbas >> 5) & 3u) << 4); }
// FLBAS bit 4: metadata at the end of each block (extended LBA).
inline bool extendedLba(const IdNs &n) { return n.flbas & 0x10; }
// LBA format i: metadata bytes and data size (log2 of bytes).
inline uint16_t lbafMs(const IdNs &n, uint32_t i) { return i < 64 ? le16toh(n.lbaf[i].ms) : 0; }
inline uint8_t lbafLbads(const IdNs &n, uint32_t i) { return i < 64 ? n.lbaf[i].ds : 0; }
// Block size in bytes of the format in use (0 when LBADS is unusable).
inline uint64_t blockSize(const IdNs &n)
{
    const uint8_t nDs = lbafLbads(n, formatIndex(n));
    return nDs >= 9 && nDs < 64 ? uint64_t(1) << nDs : 0;
}
inline uint16_t metadataSize(const IdNs &n) { return lbafMs(n, formatIndex(n)); }

// End-to-end data protection: capabilities (DPC) and the settings of the
// namespace (DPS: type in bits 2:0, bit 3 set when the protection
// information is in the first eight bytes of the metadata).
constexpr uint8_t NS_DPC_TYPE1 = NVME_NS_DPC_PI_TYPE1;
constexpr uint8_t NS_DPC_TYPE2 = NVME_NS_DPC_PI_TYPE2;
constexpr uint8_t NS_DPC_TYPE3 = NVME_NS_DPC_PI_TYPE3;
constexpr uint8_t NS_DPC_FIRST = NVME_NS_DPC_PI_FIRST;
constexpr uint8_t NS_DPC_LAST = NVME_NS_DPC_PI_LAST;
constexpr uint8_t NS_DPS_TYPE_MASK = NVME_NS_DPS_PI_MASK;
constexpr uint8_t NS_DPS_FIRST = NVME_NS_DPS_PI_FIRST;
inline uint8_t piType(const IdNs &n) { return n.dps & NS_DPS_TYPE_MASK; }
inline bool piFirst(const IdNs &n) { return n.dps & NS_DPS_FIRST; }

} // namespace nvmewire
