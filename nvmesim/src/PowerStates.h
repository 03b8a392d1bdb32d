// The power states of one controller: the descriptors Identify Controller
// reports and the state the controller is in. A non-operational state
// holds until an I/O command arrives, which takes the controller back to
// the operational state it was in last; admin commands leave it alone.
// Worker thread only (under the controller's processing lock).
#pragma once
#include <cstdint>
#include <vector>

#include <nvme/types.h>

#include "nvmesim/Config.h"

namespace nvmesim {

class PowerStates {
public:
    explicit PowerStates(const std::vector<PowerStateConfig> &states) : m_states(states) {}

    // NPSS and the power state descriptors.
    void fillIdentify(nvme_id_ctrl &id) const;
    // Set Features, Power Management (CDW11: PS in bits 4:0, WH in 7:5):
    // a status field, 0 on success.
    uint16_t set(uint32_t nCdw11);
    // The feature's current value.
    uint32_t value() const { return m_nPs | (static_cast<uint32_t>(m_nWorkload) << 5); }
    uint8_t current() const { return m_nPs; }
    bool nonOperational() const { return m_bNonOperational; }
    // An I/O command is processed: back to the last operational state.
    void resumeForIo();
    // Controller reset or power cycle: PS0, no workload hint.
    void reset();

private:
    std::vector<PowerStateConfig> m_states;
    uint8_t m_nPs = 0;
    uint8_t m_nWorkload = 0;
    uint8_t m_nLastOperational = 0;
    bool m_bNonOperational = false;
};

} // namespace nvmesim
