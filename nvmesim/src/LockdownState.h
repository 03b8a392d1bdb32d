// Command and Feature Lockdown of an NVM subsystem: the admin command
// opcodes and Set Features feature identifiers prohibited on the admin
// submission queue, and what was recorded for the management endpoint
// (management interface and PCIe command opcodes, and the endpoint's side
// of the other scopes; no management endpoint is modelled, so those are
// only kept and reported). Volatile: a power cycle clears it.
#pragma once
#include <atomic>
#include <bitset>
#include <cstdint>
#include <mutex>
#include <vector>

#include "nvmewire/Opcodes.h"

namespace nvmesim {

class LockdownState {
public:
    // Whether anything is prohibited on the admin submission queue; one
    // relaxed load on the admin path.
    bool any() const { return m_bAny.load(std::memory_order_relaxed); }

    // Scope as the Lockdown command's SCP; bMi: the management endpoint's
    // side.
    bool prohibited(uint8_t nScope, bool bMi, uint8_t nId) const {
        std::lock_guard lock(m_mutex);
        const int s = slot(nScope);
        return s >= 0 && m_bits[s][bMi][nId];
    }

    // nIfc as the Lockdown command's IFC (00b, 01b or 10b).
    void set(uint8_t nScope, uint8_t nIfc, uint8_t nId, bool bProhibit) {
        std::lock_guard lock(m_mutex);
        const int s = slot(nScope);
        if (s < 0)
            return;
        if (nIfc != nvmewire::LOCKDOWN_IFC_MI)
            m_bits[s][0][nId] = bProhibit;
        if (nIfc != nvmewire::LOCKDOWN_IFC_ADMIN_SQ)
            m_bits[s][1][nId] = bProhibit;
        m_bAny.store(m_bits[0][0].any() || m_bits[1][0].any(), std::memory_order_relaxed);
    }

    // The identifiers prohibited in a scope, ascending.
    std::vector<uint8_t> list(uint8_t nScope, bool bMi) const {
        std::lock_guard lock(m_mutex);
        std::vector<uint8_t> out;
        const int s = slot(nScope);
        for (unsigned i = 0; s >= 0 && i < 256; ++i)
            if (m_bits[s][bMi][i])
                out.push_back(static_cast<uint8_t>(i));
        return out;
    }

    void clear() {
        std::lock_guard lock(m_mutex);
        for (auto &scope : m_bits)
            for (auto &b : scope)
                b.reset();
        m_bAny.store(false, std::memory_order_relaxed);
    }

private:
    static int slot(uint8_t nScope) {
        switch (nScope) {
        case nvmewire::LOCKDOWN_SCOPE_ADMIN: return 0;
        case nvmewire::LOCKDOWN_SCOPE_SET_FEATURES: return 1;
        case nvmewire::LOCKDOWN_SCOPE_MI: return 2;
        case nvmewire::LOCKDOWN_SCOPE_PCIE: return 3;
        default: return -1;
        }
    }

    mutable std::mutex m_mutex;
    std::bitset<256> m_bits[4][2];   // [scope][admin SQ, management endpoint]
    std::atomic<bool> m_bAny{false};
};

} // namespace nvmesim
