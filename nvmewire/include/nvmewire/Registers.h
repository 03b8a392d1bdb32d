// Controller registers in BAR0: offsets, doorbell addressing and the
// fields of CAP, CC, CSTS and AQA.
#pragma once
#include <cstdint>

#include <nvme/types.h>

namespace nvmewire {

constexpr uint32_t REG_CAP = NVME_REG_CAP;
constexpr uint32_t REG_VS = NVME_REG_VS;
constexpr uint32_t REG_INTMS = NVME_REG_INTMS;
constexpr uint32_t REG_INTMC = NVME_REG_INTMC;
constexpr uint32_t REG_CC = NVME_REG_CC;
constexpr uint32_t REG_CSTS = NVME_REG_CSTS;
constexpr uint32_t REG_NSSR = NVME_REG_NSSR;
constexpr uint32_t REG_AQA = NVME_REG_AQA;
constexpr uint32_t REG_ASQ = NVME_REG_ASQ;
constexpr uint32_t REG_ACQ = NVME_REG_ACQ;
constexpr uint32_t REG_CRTO = NVME_REG_CRTO;
constexpr uint32_t REG_DOORBELL_BASE = 0x1000;
// Written to NSSR, starts an NVM subsystem reset ("NVMe").
constexpr uint32_t NSSR_RESET_VALUE = 0x4E564D65;

// Doorbell stride in bytes for a CAP.DSTRD value.
constexpr uint32_t doorbellStride(uint32_t nDstrd) { return 4u << nDstrd; }
constexpr uint32_t sqTailDoorbell(uint32_t qid, uint32_t strideBytes)
{
    return REG_DOORBELL_BASE + 2 * qid * strideBytes;
}
constexpr uint32_t cqHeadDoorbell(uint32_t qid, uint32_t strideBytes)
{
    return REG_DOORBELL_BASE + (2 * qid + 1) * strideBytes;
}

namespace detail {
constexpr uint32_t field(uint64_t v, unsigned nShift, uint32_t nMask) { return uint32_t(v >> nShift) & nMask; }
constexpr uint32_t place(uint32_t v, unsigned nShift, uint32_t nMask) { return (v & nMask) << nShift; }
} // namespace detail

// CAP: controller capabilities (64 bits).
struct Cap {
    uint64_t raw = 0;

    constexpr uint32_t mqes() const { return detail::field(raw, NVME_CAP_MQES_SHIFT, NVME_CAP_MQES_MASK); }
    constexpr bool cqr() const { return detail::field(raw, NVME_CAP_CQR_SHIFT, NVME_CAP_CQR_MASK); }
    constexpr uint32_t ams() const { return detail::field(raw, NVME_CAP_AMS_SHIFT, NVME_CAP_AMS_MASK); }
    constexpr uint32_t to() const { return detail::field(raw, NVME_CAP_TO_SHIFT, NVME_CAP_TO_MASK); }
    constexpr uint32_t dstrd() const { return detail::field(raw, NVME_CAP_DSTRD_SHIFT, NVME_CAP_DSTRD_MASK); }
    constexpr bool nssrs() const { return detail::field(raw, NVME_CAP_NSSRC_SHIFT, NVME_CAP_NSSRC_MASK); }
    constexpr uint32_t css() const { return detail::field(raw, NVME_CAP_CSS_SHIFT, NVME_CAP_CSS_MASK); }
    constexpr bool bps() const { return detail::field(raw, NVME_CAP_BPS_SHIFT, NVME_CAP_BPS_MASK); }
    constexpr uint32_t mpsmin() const { return detail::field(raw, NVME_CAP_MPSMIN_SHIFT, NVME_CAP_MPSMIN_MASK); }
    constexpr uint32_t mpsmax() const { return detail::field(raw, NVME_CAP_MPSMAX_SHIFT, NVME_CAP_MPSMAX_MASK); }
    constexpr bool pmrs() const { return detail::field(raw, NVME_CAP_PMRS_SHIFT, NVME_CAP_PMRS_MASK); }
    constexpr bool cmbs() const { return detail::field(raw, NVME_CAP_CMBS_SHIFT, NVME_CAP_CMBS_MASK); }
    // Controller ready modes: bit 0 with media (CRWMS), bit 1 independent
    // of media (CRIMS).
    constexpr uint32_t crms() const { return detail::field(raw, NVME_CAP_CRMS_SHIFT, NVME_CAP_CRMS_MASK); }

    // Derived values: entries per queue (MQES is 0's based), doorbell
    // stride in bytes, page sizes in bytes, time-out in milliseconds.
    constexpr uint32_t maxQueueEntries() const { return mqes() + 1; }
    constexpr uint32_t doorbellStrideBytes() const { return doorbellStride(dstrd()); }
    constexpr uint64_t minPageSize() const { return uint64_t(1) << (12 + mpsmin()); }
    constexpr uint64_t maxPageSize() const { return uint64_t(1) << (12 + mpsmax()); }
    constexpr uint32_t timeoutMs() const { return to() * 500; }
};

// CAP.CRMS values and the CRTO fields (500 ms units).
constexpr uint32_t CAP_CRMS_CRWMS = 0x1;
constexpr uint32_t CAP_CRMS_CRIMS = 0x2;
constexpr uint32_t CRTO_CRWMT_MASK = NVME_CRTO_CRWMT_MASK;
constexpr uint32_t CRTO_CRIMT_SHIFT = NVME_CRTO_CRIMT_SHIFT;

// CAP.CSS bits.
constexpr uint32_t CAP_CSS_NVM = NVME_CAP_CSS_NVM;
constexpr uint32_t CAP_CSS_CSI = NVME_CAP_CSS_CSI;
constexpr uint32_t CAP_CSS_ADMIN = NVME_CAP_CSS_ADMIN;

// CC: controller configuration.
constexpr uint32_t CC_EN = 1u << NVME_CC_EN_SHIFT;
constexpr uint32_t CC_CRIME = 1u << NVME_CC_CRIME_SHIFT;
constexpr uint32_t CC_CSS_SHIFT = NVME_CC_CSS_SHIFT;
constexpr uint32_t CC_MPS_SHIFT = NVME_CC_MPS_SHIFT;
constexpr uint32_t CC_AMS_SHIFT = NVME_CC_AMS_SHIFT;
constexpr uint32_t CC_SHN_SHIFT = NVME_CC_SHN_SHIFT;
constexpr uint32_t CC_IOSQES_SHIFT = NVME_CC_IOSQES_SHIFT;
constexpr uint32_t CC_IOCQES_SHIFT = NVME_CC_IOCQES_SHIFT;
constexpr uint32_t CC_CSS_NVM = NVME_CC_CSS_NVM;
constexpr uint32_t CC_CSS_CSI = NVME_CC_CSS_CSI;
constexpr uint32_t CC_CSS_ADMIN = NVME_CC_CSS_ADMIN;
constexpr uint32_t CC_AMS_RR = NVME_CC_AMS_RR;
constexpr uint32_t CC_AMS_WRRU = NVME_CC_AMS_WRRU;
constexpr uint32_t CC_AMS_VS = NVME_CC_AMS_VS;
constexpr uint32_t CC_SHN_NONE = NVME_CC_SHN_NONE;
constexpr uint32_t CC_SHN_NORMAL = NVME_CC_SHN_NORMAL;
constexpr uint32_t CC_SHN_ABRUPT = NVME_CC_SHN_ABRUPT;
constexpr uint32_t CC_SHN_MASK = uint32_t(NVME_CC_SHN_MASK) << NVME_CC_SHN_SHIFT;
// Queue entry sizes as CC.IOSQES / CC.IOCQES hold them (log2 of bytes).
constexpr uint32_t SQE_SIZE_LOG2 = 6;
constexpr uint32_t CQE_SIZE_LOG2 = 4;

struct Cc {
    uint32_t raw = 0;

    constexpr bool en() const { return detail::field(raw, NVME_CC_EN_SHIFT, NVME_CC_EN_MASK); }
    constexpr uint32_t css() const { return detail::field(raw, NVME_CC_CSS_SHIFT, NVME_CC_CSS_MASK); }
    constexpr uint32_t mps() const { return detail::field(raw, NVME_CC_MPS_SHIFT, NVME_CC_MPS_MASK); }
    constexpr uint32_t ams() const { return detail::field(raw, NVME_CC_AMS_SHIFT, NVME_CC_AMS_MASK); }
    constexpr uint32_t shn() const { return detail::field(raw, NVME_CC_SHN_SHIFT, NVME_CC_SHN_MASK); }
    constexpr uint32_t iosqes() const { return detail::field(raw, NVME_CC_IOSQES_SHIFT, NVME_CC_IOSQES_MASK); }
    constexpr uint32_t iocqes() const { return detail::field(raw, NVME_CC_IOCQES_SHIFT, NVME_CC_IOCQES_MASK); }
    // Memory page size in bytes.
    constexpr uint64_t pageSize() const { return uint64_t(1) << (12 + mps()); }

    // Builders: each returns a copy with one field replaced.
    constexpr Cc withEn(bool b) const { return with(b ? 1 : 0, NVME_CC_EN_SHIFT, NVME_CC_EN_MASK); }
    constexpr Cc withCss(uint32_t v) const { return with(v, NVME_CC_CSS_SHIFT, NVME_CC_CSS_MASK); }
    constexpr Cc withMps(uint32_t v) const { return with(v, NVME_CC_MPS_SHIFT, NVME_CC_MPS_MASK); }
    constexpr Cc withAms(uint32_t v) const { return with(v, NVME_CC_AMS_SHIFT, NVME_CC_AMS_MASK); }
    constexpr Cc withShn(uint32_t v) const { return with(v, NVME_CC_SHN_SHIFT, NVME_CC_SHN_MASK); }
    constexpr Cc withIosqes(uint32_t v) const { return with(v, NVME_CC_IOSQES_SHIFT, NVME_CC_IOSQES_MASK); }
    constexpr Cc withIocqes(uint32_t v) const { return with(v, NVME_CC_IOCQES_SHIFT, NVME_CC_IOCQES_MASK); }

    // The usual enable value: 64-byte SQ and 16-byte CQ entries, page size
    // 2^(12 + nMps), the given command set and arbitration, EN set.
    static constexpr Cc make(uint32_t nMps, uint32_t nCss = CC_CSS_NVM, uint32_t nAms = CC_AMS_RR, bool bEn = true)
    {
        return Cc{}
            .withIosqes(SQE_SIZE_LOG2)
            .withIocqes(CQE_SIZE_LOG2)
            .withMps(nMps)
            .withCss(nCss)
            .withAms(nAms)
            .withEn(bEn);
    }

private:
    constexpr Cc with(uint32_t v, unsigned nShift, uint32_t nMask) const
    {
        return Cc{(raw & ~(nMask << nShift)) | detail::place(v, nShift, nMask)};
    }
};

// CSTS: controller status.
constexpr uint32_t CSTS_RDY = 1u << NVME_CSTS_RDY_SHIFT;
constexpr uint32_t CSTS_CFS = 1u << NVME_CSTS_CFS_SHIFT;
constexpr uint32_t CSTS_SHST_SHIFT = NVME_CSTS_SHST_SHIFT;
constexpr uint32_t CSTS_SHST_MASK = 3u << NVME_CSTS_SHST_SHIFT;
constexpr uint32_t CSTS_NSSRO = 1u << NVME_CSTS_NSSRO_SHIFT;
constexpr uint32_t CSTS_PP = 1u << NVME_CSTS_PP_SHIFT;
// CSTS.SHST values.
constexpr uint32_t SHST_NORMAL = NVME_CSTS_SHST_NORMAL;
constexpr uint32_t SHST_OCCURRING = NVME_CSTS_SHST_OCCUR;
constexpr uint32_t SHST_COMPLETE = NVME_CSTS_SHST_CMPLT;

struct Csts {
    uint32_t raw = 0;

    constexpr bool rdy() const { return raw & CSTS_RDY; }
    constexpr bool cfs() const { return raw & CSTS_CFS; }
    constexpr uint32_t shst() const { return (raw & CSTS_SHST_MASK) >> CSTS_SHST_SHIFT; }
    constexpr bool nssro() const { return raw & CSTS_NSSRO; }
    constexpr bool pp() const { return raw & CSTS_PP; }
};

// AQA: admin queue sizes, both 0's based.
struct Aqa {
    uint32_t raw = 0;

    constexpr uint32_t asqs() const { return raw & 0xFFF; }
    constexpr uint32_t acqs() const { return (raw >> 16) & 0xFFF; }
    // From entry counts (1's based), as the register wants them.
    static constexpr Aqa make(uint32_t nSqEntries, uint32_t nCqEntries)
    {
        return Aqa{((nSqEntries - 1) & 0xFFF) | (((nCqEntries - 1) & 0xFFF) << 16)};
    }
};

// VS: version, major.minor.tertiary.
struct Vs {
    uint32_t raw = 0;

    constexpr uint32_t mjr() const { return raw >> 16; }
    constexpr uint32_t mnr() const { return (raw >> 8) & 0xFF; }
    constexpr uint32_t ter() const { return raw & 0xFF; }
    static constexpr Vs make(uint32_t nMajor, uint32_t nMinor, uint32_t nTertiary = 0)
    {
        return Vs{(nMajor << 16) | ((nMinor & 0xFF) << 8) | (nTertiary & 0xFF)};
    }
};

} // namespace nvmewire
