// Sanitize: the command, the commands allowed while a sanitize operation
// runs (or after one failed), the I/O gate and the Sanitize Status log
// page. The operation itself is the subsystem's (SanitizeState).
#include <cstring>

#include "ControllerCore.h"
#include "SanitizeState.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/LogPages.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }

// Log pages a host may read while user data is off limits.
bool logAllowedWhileSanitizing(uint8_t nLid) {
    switch (nLid) {
    case LID_SUPPORTED_LOG_PAGES:
    case LID_ERROR:
    case LID_SMART:
    case LID_TELEMETRY_HOST:
    case LID_TELEMETRY_CTRL:
    case LID_PERSISTENT_EVENT:
    case LID_SANITIZE:
        return true;
    default:
        return false;
    }
}
} // namespace

uint32_t ControllerCore::sanicap() const {
    const SanitizeConfig &c = m_subsys.config().sanitize;
    const uint32_t nActions = (c.bCryptoErase ? SANICAP_CRYPTO_ERASE : 0) | (c.bBlockErase ? SANICAP_BLOCK_ERASE : 0) |
                              (c.bOverwrite ? SANICAP_OVERWRITE : 0);
    if (!nActions)
        return 0;
    return nActions | (c.bNoDeallocateInhibited ? SANICAP_NDI : 0) | SANICAP_NODMMAS_NOT_MODIFIED;
}

uint16_t ControllerCore::adminSanitize(const Sqe &e) {
    const uint32_t nCap = sanicap();
    if (!nCap)
        return gen(SC_INVALID_OPCODE);
    const uint32_t nCdw10 = e.cdw10();
    const uint8_t nAction = nCdw10 & 7;
    uint32_t nNeeded = 0;
    switch (nAction) {
    case SANACT_EXIT_FAILURE: return m_sanitize.exitFailureMode();
    case SANACT_BLOCK_ERASE: nNeeded = SANICAP_BLOCK_ERASE; break;
    case SANACT_OVERWRITE: nNeeded = SANICAP_OVERWRITE; break;
    case SANACT_CRYPTO_ERASE: nNeeded = SANICAP_CRYPTO_ERASE; break;
    default: return gen(SC_INVALID_FIELD);
    }
    if (!(nCap & nNeeded))
        return gen(SC_INVALID_FIELD);
    // Without a way to report the deallocation it would do anyway, a
    // controller that cannot skip it refuses the request.
    if ((nCdw10 & SANITIZE_NDAS) && (nCap & SANICAP_NDI))
        return gen(SC_INVALID_FIELD);
    const uint16_t s = m_sanitize.start(nCdw10 & 0x3FF, nAction == SANACT_OVERWRITE ? e.cdw11() : 0);
    if (!s && m_selfTest.nCurrent)
        finishSelfTest(NVME_ST_RESULT_ABORTED_SANITIZE);
    return s;
}

// While a sanitize operation is in progress, or after one failed, only
// commands that do not reach user data run; the rest get Sanitize In
// Progress or Sanitize Failed. After a failure, a Sanitize command is the
// way out.
uint16_t ControllerCore::sanitizeAdminRestriction(const Sqe &e) const {
    if (!(m_sanitize.gate() & SanitizeState::kRestricted))
        return 0;
    switch (e.opc()) {
    case ADMIN_ABORT:
    case ADMIN_ASYNC_EVENT:
    case ADMIN_GET_FEATURES:
    case ADMIN_SET_FEATURES:
    case ADMIN_IDENTIFY:
    case ADMIN_KEEP_ALIVE:
    case ADMIN_MI_SEND:
    case ADMIN_MI_RECV:
        return 0;
    case ADMIN_GET_LOG_PAGE:
        if (logAllowedWhileSanitizing(e.cdw10() & 0xFF))
            return 0;
        break;
    case ADMIN_SANITIZE:
        if (!m_sanitize.inProgress())
            return 0;
        break;
    default:
        break;
    }
    return m_sanitize.restriction();
}

// Reached only when the gate is set: refuses I/O while restricted, and
// notes the first write after a successful sanitize operation.
uint16_t ControllerCore::sanitizeIoGate(const Sqe &e) {
    const uint32_t g = m_sanitize.gate();
    if (g & SanitizeState::kRestricted) {
        if (const uint16_t s = m_sanitize.restriction())
            return s;
    }
    if (g & SanitizeState::kErasedArmed) {
        switch (e.opc()) {
        case NVM_WRITE:
        case NVM_WRITE_UNCOR:
        case NVM_WRITE_ZEROES:
        case NVM_COPY:
            m_sanitize.noteWrite();
            break;
        default:
            break;
        }
    }
    return 0;
}

void ControllerCore::fillSanitizeLog(std::vector<uint8_t> &log) const {
    log.assign(sizeof(nvme_sanitize_log_page), 0);
    nvme_sanitize_log_page p;
    m_sanitize.fillLog(p, Clock::now());
    std::memcpy(log.data(), &p, sizeof p);
}

} // namespace nvmesim
