// One simulated NVMe controller: a PCI function with its configuration
// space and BAR0 registers. The host reaches it as hardware would, through
// configuration and register accesses and the DMA space of its bus; tests
// additionally reach its fault injector and counters.
//
// Completion entries are written with the status word (the one holding the
// phase tag) last, as a 16-bit atomic store with release ordering; a host
// that polls the phase tag should read that word with acquire ordering
// (std::atomic_ref<uint16_t>) before reading the rest of the entry.
#pragma once
#include <cstdint>
#include <memory>

#include "nvmesim/Faults.h"

namespace nvmesim {

class ControllerCore;
class Subsystem;

class Controller {
public:
    ~Controller();
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    // Configuration space: nWidth 1, 2 or 4. Returns 0, or -1 for a
    // misaligned or out-of-range access. While the link is down (after an
    // NVM subsystem reset) reads give all ones.
    int cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth);
    int cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth);

    // BAR0. All ones and dropped writes while memory decoding is off, the
    // function is in D3hot or the link is down.
    uint32_t mmioRead32(uint32_t nOffset);
    void mmioWrite32(uint32_t nOffset, uint32_t nValue);

    // 0 for a physical function; n for virtual function n, which is
    // present (answers on the bus) only while its physical function has it
    // enabled.
    uint16_t vfNumber() const;
    bool present() const;

    FaultInjector &faults();
    uint16_t controllerId() const;       // CNTLID
    uint16_t vendorId() const;
    uint16_t deviceId() const;
    Subsystem &subsystem();

    // Counters for tests.
    uint64_t commandsCompleted() const;
    uint64_t resets() const;
    // Completions held back by the withholding fault.
    size_t withheldCount() const;

    // Internal.
    explicit Controller(std::unique_ptr<ControllerCore> p);
    ControllerCore &core() { return *m_p; }

private:
    std::unique_ptr<ControllerCore> m_p;
};

} // namespace nvmesim
