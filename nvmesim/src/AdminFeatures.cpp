// Get Features and Set Features.
#include <cstring>

#include "ControllerCore.h"
#include "nvmesim/Subsystem.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }
} // namespace

bool knownFeature(uint8_t nFid, bool bVwc) {
    switch (nFid) {
    case NVME_FEAT_FID_ARBITRATION:
    case NVME_FEAT_FID_POWER_MGMT:
    case NVME_FEAT_FID_TEMP_THRESH:
    case NVME_FEAT_FID_ERR_RECOVERY:
    case NVME_FEAT_FID_NUM_QUEUES:
    case NVME_FEAT_FID_IRQ_COALESCE:
    case NVME_FEAT_FID_IRQ_CONFIG:
    case NVME_FEAT_FID_WRITE_ATOMIC:
    case NVME_FEAT_FID_ASYNC_EVENT:
    case NVME_FEAT_FID_HOST_MEM_BUF:
    case NVME_FEAT_FID_TIMESTAMP:
    case NVME_FEAT_FID_KATO:
        return true;
    case NVME_FEAT_FID_VOLATILE_WC:
        return bVwc;
    default:
        return false;
    }
}

uint16_t ControllerCore::adminGetFeatures(const Sqe &e, uint32_t *pDw0) {
    const uint8_t nFid = e.cdw10() & 0xFF;
    const uint8_t nSel = (e.cdw10() >> 8) & 7;
    const bool bVwc = m_subsys.config().bVolatileWriteCache;
    if (nFid == FEAT_IOCS_PROFILE)
        return iocsProfileFeature(e, pDw0, false);
    if (nSel > 3)
        return gen(SC_INVALID_FIELD);
    if (isResvFeature(nFid))
        return m_bResv ? resvGetFeature(e, nSel, pDw0) : gen(SC_INVALID_FIELD);
    if (!knownFeature(nFid, bVwc))
        return gen(SC_INVALID_FIELD);
    if (nSel == 3) {
        *pDw0 = 0x4;   // changeable, not saveable, not namespace specific
        return 0;
    }
    // Nothing is saveable, so the saved value is the default.
    const FeatureState def;
    const FeatureState &f = nSel == 0 ? m_feat : def;
    const uint32_t nPairs = std::max<uint32_t>(ioQueueLimit(), 1) - 1;
    switch (nFid) {
    case NVME_FEAT_FID_ARBITRATION: *pDw0 = f.nArbitration; break;
    case NVME_FEAT_FID_POWER_MGMT: *pDw0 = nSel == 0 ? m_power.value() : 0; break;
    case NVME_FEAT_FID_TEMP_THRESH: {
        const uint32_t nTmpSel = (e.cdw11() >> 16) & 0xF, nThSel = (e.cdw11() >> 20) & 3;
        if (nThSel > 1 || (nTmpSel != 0 && nTmpSel != 0xF))
            return gen(SC_INVALID_FIELD);
        *pDw0 = nThSel ? f.nTempUnder : f.nTempOver;
        break;
    }
    case NVME_FEAT_FID_ERR_RECOVERY: *pDw0 = f.nErrorRecovery; break;
    case NVME_FEAT_FID_VOLATILE_WC: *pDw0 = f.nVolatileWc; break;
    case NVME_FEAT_FID_NUM_QUEUES:
        *pDw0 = (nSel == 0 && f.bNumQueuesSet) ? f.nNumQueues : (nPairs | (nPairs << 16));
        break;
    case NVME_FEAT_FID_IRQ_COALESCE: *pDw0 = f.nIrqCoalescing; break;
    case NVME_FEAT_FID_IRQ_CONFIG: {
        const uint16_t nIv = e.cdw11() & 0xFFFF;
        if (nIv >= vectorLimit())
            return gen(SC_INVALID_FIELD);
        *pDw0 = nIv | (f.nIrqConfig & 0x10000);
        break;
    }
    case NVME_FEAT_FID_WRITE_ATOMIC: *pDw0 = f.nWriteAtomicity; break;
    case NVME_FEAT_FID_ASYNC_EVENT: *pDw0 = f.nAsyncEventCfg; break;
    case NVME_FEAT_FID_HOST_MEM_BUF: {
        *pDw0 = f.nHmb & 1;
        nvme_host_mem_buf_attrs a;
        std::memset(&a, 0, sizeof a);
        a.hsize = f.nHmbSize;
        a.hmdlal = static_cast<uint32_t>(f.nHmbList);
        a.hmdlau = static_cast<uint32_t>(f.nHmbList >> 32);
        a.hmdlec = f.nHmbCount;
        uint8_t buf[4096] = {};
        std::memcpy(buf, &a, sizeof a);
        return sendData(e, buf, sizeof buf);
    }
    case NVME_FEAT_FID_TIMESTAMP: {
        uint8_t ts[8] = {};
        const auto nElapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - f.timestampSetAt).count();
        const uint64_t nMs = static_cast<uint64_t>(f.nTimestampBase + nElapsed) & 0xFFFFFFFFFFFFull;
        std::memcpy(ts, &nMs, 6);
        ts[6] = f.bTimestampSet ? 0x02 : 0x00;   // origin: set by a host
        return sendData(e, ts, sizeof ts);
    }
    case NVME_FEAT_FID_KATO: *pDw0 = f.nKato; break;
    default: return gen(SC_INVALID_FIELD);
    }
    return 0;
}

uint16_t ControllerCore::adminSetFeatures(const Sqe &e, uint32_t *pDw0) {
    const uint8_t nFid = e.cdw10() & 0xFF;
    const bool bSave = e.cdw10() >> 31;
    if (nFid == FEAT_IOCS_PROFILE)
        return iocsProfileFeature(e, pDw0, true);
    const bool bResvFeature = m_bResv && isResvFeature(nFid);
    if (!bResvFeature && !knownFeature(nFid, m_subsys.config().bVolatileWriteCache))
        return gen(SC_INVALID_FIELD);
    if (bSave)
        return specific(SC_FEATURE_NOT_SAVEABLE);
    if (bResvFeature)
        return resvSetFeature(e, pDw0);
    const uint32_t v = e.cdw11();
    switch (nFid) {
    case NVME_FEAT_FID_ARBITRATION: m_feat.nArbitration = v; break;
    case NVME_FEAT_FID_POWER_MGMT: return m_power.set(v);
    case NVME_FEAT_FID_TEMP_THRESH: {
        const uint32_t nTmpSel = (v >> 16) & 0xF, nThSel = (v >> 20) & 3;
        if (nThSel > 1 || (nTmpSel != 0 && nTmpSel != 0xF))
            return gen(SC_INVALID_FIELD);
        (nThSel ? m_feat.nTempUnder : m_feat.nTempOver) = static_cast<uint16_t>(v & 0xFFFF);
        const uint16_t nTemp = m_subsys.config().nTemperatureK;
        if (nTemp > m_feat.nTempOver || nTemp < m_feat.nTempUnder)
            postEvent(NVME_AER_SMART, 0x01, NVME_LOG_LID_SMART);   // temperature threshold
        break;
    }
    case NVME_FEAT_FID_ERR_RECOVERY:
        if (v & (1u << 16))
            return gen(SC_INVALID_FIELD);   // no deallocated-block errors
        m_feat.nErrorRecovery = v;
        break;
    case NVME_FEAT_FID_VOLATILE_WC:
        // Turning the cache off writes back what it holds.
        if (!(v & 1) && m_feat.nVolatileWc && !flushNamespaces())
            return makeStatus(SCT_MEDIA, SC_WRITE_FAULT);
        m_feat.nVolatileWc = v & 1;
        break;
    case NVME_FEAT_FID_NUM_QUEUES: {
        const uint32_t nSq = v & 0xFFFF, nCq = v >> 16;
        if (nSq == 0xFFFF || nCq == 0xFFFF)
            return gen(SC_INVALID_FIELD);
        for (size_t i = 1; i < m_sq.size(); ++i)
            if (m_sq[i].bValid || m_cq[i].bValid)
                return gen(SC_CMD_SEQ_ERROR);
        const uint32_t nMax = std::max<uint32_t>(ioQueueLimit(), 1) - 1;
        m_feat.nNumQueues = std::min(nSq, nMax) | (std::min(nCq, nMax) << 16);
        m_feat.bNumQueuesSet = true;
        *pDw0 = m_feat.nNumQueues;
        break;
    }
    case NVME_FEAT_FID_IRQ_COALESCE: m_feat.nIrqCoalescing = v & 0xFFFF; break;
    case NVME_FEAT_FID_IRQ_CONFIG:
        if ((v & 0xFFFF) >= vectorLimit())
            return gen(SC_INVALID_FIELD);
        m_feat.nIrqConfig = v & 0x1FFFF;
        break;
    case NVME_FEAT_FID_WRITE_ATOMIC: m_feat.nWriteAtomicity = v & 1; break;
    case NVME_FEAT_FID_ASYNC_EVENT: m_feat.nAsyncEventCfg = v; break;
    case NVME_FEAT_FID_HOST_MEM_BUF:
        if (v & 1) {
            if (e.cdw12() == 0 || e.cdw15() == 0 || (e.cdw13() & 0xF))
                return gen(SC_INVALID_FIELD);
            m_feat.nHmbSize = e.cdw12();
            m_feat.nHmbList = e.cdw13() | (static_cast<uint64_t>(e.cdw14()) << 32);
            m_feat.nHmbCount = e.cdw15();
        }
        m_feat.nHmb = v & 1;
        break;
    case NVME_FEAT_FID_TIMESTAMP: {
        uint8_t ts[8] = {};
        const uint16_t s = recvData(e, ts, sizeof ts);
        if (s)
            return s;
        uint64_t nMs = 0;
        std::memcpy(&nMs, ts, 6);
        m_feat.nTimestampBase = static_cast<int64_t>(nMs);
        m_feat.timestampSetAt = Clock::now();
        m_feat.bTimestampSet = true;
        break;
    }
    case NVME_FEAT_FID_KATO:
        // Granularity of 100 ms (KAS = 1): round up.
        m_feat.nKato = (v + 99) / 100 * 100;
        m_kaDeadline = m_feat.nKato ? Clock::now() + std::chrono::milliseconds(m_feat.nKato) : Clock::time_point::max();
        break;
    default: return gen(SC_INVALID_FIELD);
    }
    return 0;
}

} // namespace nvmesim
