// Security Send and Security Receive. Security protocol 00h (security
// protocol information) is the only one: Security Receive returns the
// supported protocol list (SP specific 0000h, which names 00h alone) and
// the certificate data (0001h, none: length 0). Other protocols, other SP
// specific values and every Security Send get Invalid Field in Command.
#include <algorithm>
#include <cstring>

#include "ControllerCore.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }

constexpr uint8_t kProtocolInfo = 0x00;
constexpr uint16_t kSupportedProtocols = 0x0000;
constexpr uint16_t kCertificate = 0x0001;

uint8_t secpOf(const Sqe &e) { return static_cast<uint8_t>(e.cdw10() >> 24); }
uint16_t spspOf(const Sqe &e) { return static_cast<uint16_t>(e.cdw10() >> 8); }
} // namespace

uint16_t ControllerCore::adminSecuritySend(const Sqe &e) {
    // Protocol 00h only reports; nothing can be sent to it.
    (void)e;
    return gen(SC_INVALID_FIELD);
}

uint16_t ControllerCore::adminSecurityReceive(const Sqe &e) {
    if (secpOf(e) != kProtocolInfo)
        return gen(SC_INVALID_FIELD);
    const uint64_t nAl = e.cdw11();   // allocation length in bytes
    if (nAl > maxTransfer())
        return gen(SC_INVALID_FIELD);
    uint8_t buf[16] = {};
    size_t nHave = 0;
    switch (spspOf(e)) {
    case kSupportedProtocols:
        // Six reserved bytes, the list length (big-endian), the list.
        buf[7] = 1;
        buf[8] = kProtocolInfo;
        nHave = 9;
        break;
    case kCertificate:
        // Two reserved bytes and a certificate length of 0.
        nHave = 4;
        break;
    default:
        return gen(SC_INVALID_FIELD);
    }
    if (nAl == 0)
        return 0;
    // The data is cut to the allocation length; zeros fill what is left.
    return sendPadded(e, buf, std::min<uint64_t>(nHave, nAl), nAl);
}

} // namespace nvmesim
