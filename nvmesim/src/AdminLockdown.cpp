// Lockdown: prohibiting and allowing admin commands (by opcode) and Set
// Features feature identifiers on the admin submission queue, recording
// management endpoint prohibitions, and the Command and Feature Lockdown
// log page. The state is the subsystem's (LockdownState).
#include <algorithm>
#include <cstring>

#include "ControllerCore.h"
#include "LockdownState.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/LogPages.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }

bool scopeSupported(uint8_t nScope) {
    return nScope == LOCKDOWN_SCOPE_ADMIN || nScope == LOCKDOWN_SCOPE_SET_FEATURES || nScope == LOCKDOWN_SCOPE_MI;
}
} // namespace

// Admin commands the controller supports, Lockdown itself excepted (it
// must stay available to lift a prohibition); the features Set Features
// knows; any management interface opcode (recorded only).
bool ControllerCore::lockdownMayProhibit(uint8_t nScope, uint8_t nId) const {
    switch (nScope) {
    case LOCKDOWN_SCOPE_ADMIN: return nId != ADMIN_LOCKDOWN && adminOpcodeSupported(nId);
    case LOCKDOWN_SCOPE_SET_FEATURES: return knownFeature(nId, m_subsys.config().bVolatileWriteCache);
    case LOCKDOWN_SCOPE_MI: return true;
    default: return false;
    }
}

uint16_t ControllerCore::adminLockdown(const Sqe &e) {
    const uint8_t nScope = e.cdw10() & 0xF;
    const bool bProhibit = (e.cdw10() >> 4) & 1;
    const uint8_t nIfc = (e.cdw10() >> 5) & 3;
    const uint8_t nId = static_cast<uint8_t>(e.cdw10() >> 8);
    if ((e.cdw14() & 0x7F) != 0)
        return gen(SC_INVALID_FIELD);   // no UUID list
    if (!scopeSupported(nScope) || nIfc > LOCKDOWN_IFC_MI)
        return gen(SC_INVALID_FIELD);
    // Management interface commands never arrive on the admin queue.
    if (nScope == LOCKDOWN_SCOPE_MI && nIfc == LOCKDOWN_IFC_ADMIN_SQ)
        return gen(SC_INVALID_FIELD);
    if (bProhibit && !lockdownMayProhibit(nScope, nId))
        return specific(SC_PROHIBITION_NOT_SUPPORTED);
    m_subsys.lockdown().set(nScope, nIfc, nId, bProhibit);
    return 0;
}

uint16_t ControllerCore::lockdownRestriction(const Sqe &e) const {
    const LockdownState &l = m_subsys.lockdown();
    if (!l.any())
        return 0;
    if (l.prohibited(LOCKDOWN_SCOPE_ADMIN, false, e.opc()) ||
        (e.opc() == ADMIN_SET_FEATURES && l.prohibited(LOCKDOWN_SCOPE_SET_FEATURES, false, e.cdw10() & 0xFF)))
        return gen(SC_PROHIBITED_BY_LOCKDOWN);
    return 0;
}

uint16_t ControllerCore::fillLockdownLog(uint8_t nLsp, std::vector<uint8_t> &log) const {
    const uint8_t nScope = nLsp & 0xF;
    const uint8_t nContent = (nLsp >> 4) & 7;
    if (!scopeSupported(nScope) || nContent > LOCKDOWN_LSP_PROHIBITED)
        return gen(SC_INVALID_FIELD);
    std::vector<uint8_t> ids;
    if (nContent == LOCKDOWN_LSP_PROHIBITED) {
        ids = m_subsys.lockdown().list(nScope, nScope == LOCKDOWN_SCOPE_MI);
    } else {
        for (unsigned i = 0; i < 256; ++i)
            if (lockdownMayProhibit(nScope, static_cast<uint8_t>(i)))
                ids.push_back(static_cast<uint8_t>(i));
    }
    LockdownLog p{};
    const uint8_t nType = nContent == LOCKDOWN_LSP_PROHIBITED ? LOCKDOWN_CT_PROHIBITED : LOCKDOWN_CT_SUPPORTED;
    p.nAttributes = static_cast<uint8_t>(nScope | nType << 4);
    p.nListLength = static_cast<uint16_t>(ids.size());
    std::copy(ids.begin(), ids.end(), p.ids);
    log.assign(sizeof p, 0);
    std::memcpy(log.data(), &p, sizeof p);
    return 0;
}

} // namespace nvmesim
