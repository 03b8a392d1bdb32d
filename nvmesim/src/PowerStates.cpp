// Power state descriptors and the Power Management feature.
#include "PowerStates.h"

#include <cstring>

#include "nvmewire/Identify.h"
#include "nvmewire/Completion.h"
#include "nvmewire/Status.h"

namespace nvmesim {

using namespace nvmewire;

void PowerStates::fillIdentify(nvme_id_ctrl &id) const {
    id.npss = static_cast<uint8_t>(m_states.size() - 1);
    for (size_t i = 0; i < m_states.size() && i < 32; ++i) {
        const PowerStateConfig &s = m_states[i];
        nvme_id_psd &d = id.psd[i];
        std::memset(&d, 0, sizeof d);
        d.mp = s.nMaxPower;   // in 0.01 W: MXPS clear
        d.flags = s.bNonOperational ? PSD_FLAG_NON_OPERATIONAL : 0;
        d.enlat = s.nEntryLatencyUs;
        d.exlat = s.nExitLatencyUs;
        d.rrt = s.nReadThroughput;
        d.rrl = s.nReadLatency;
        d.rwt = s.nWriteThroughput;
        d.rwl = s.nWriteLatency;
    }
}

uint16_t PowerStates::set(uint32_t nCdw11) {
    const uint8_t nPs = nCdw11 & 0x1F;
    const uint8_t nWorkload = (nCdw11 >> 5) & 7;
    if (nPs >= m_states.size() || nWorkload > NVME_PSD_WORKLOAD_2)
        return makeStatus(SCT_GENERIC, SC_INVALID_FIELD, true);
    m_nPs = nPs;
    m_nWorkload = nWorkload;
    m_bNonOperational = m_states[nPs].bNonOperational;
    if (!m_bNonOperational)
        m_nLastOperational = nPs;
    return 0;
}

void PowerStates::resumeForIo() {
    m_nPs = m_nLastOperational;
    m_bNonOperational = false;
}

void PowerStates::reset() {
    m_nPs = 0;
    m_nWorkload = 0;
    m_nLastOperational = 0;
    m_bNonOperational = false;
}

} // namespace nvmesim
