// The simulated PCIe bus: the devices of a configuration, their functions
// in bus order, and the one bus-address space that their DMA goes to.
//
//   std::string err;
//   nvmesim::SimConfig cfg = nvmesim::defaultConfig();
//   auto bus = nvmesim::Bus::create(cfg, &err);
//   nvmesim::Controller *c = bus->function(0).pCtrl;
//   c->faults().injectStatus(false, 0x02, 3, 0x0281);   // third read fails
//
// Device i sits on bus i + 1, device 0; its controllers are functions 0, 1...
// Its virtual functions follow at the routing ids the SR-IOV capability
// gives (First VF Offset, VF Stride); they are listed here whether enabled
// or not (Controller::present()).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nvmesim/Config.h"
#include "nvmesim/Controller.h"
#include "nvmesim/DmaSpace.h"
#include "nvmesim/Subsystem.h"

namespace nvmesim {

struct BusFunction {
    uint32_t nDomain = 0;
    uint32_t nBus = 0;
    uint32_t nDevice = 0;
    uint32_t nFunction = 0;
    Controller *pCtrl = nullptr;
    Subsystem *pDevice = nullptr;
    uint16_t nVfNumber = 0;   // 0: a physical function
};

class Bus {
public:
    // Builds every device and starts its controllers; null with a reason
    // on failure (a backing file that cannot be opened, for instance).
    static std::unique_ptr<Bus> create(const SimConfig &cfg, std::string *pErr);
    ~Bus();

    size_t functionCount() const { return m_funcs.size(); }
    const BusFunction &function(size_t i) const { return m_funcs[i]; }
    // The function at a bus location, or null.
    Controller *find(uint32_t nDomain, uint32_t nBus, uint32_t nDevice, uint32_t nFunction) const;
    size_t deviceCount() const { return m_devices.size(); }
    Subsystem &device(size_t i) { return *m_devices[i]; }
    DmaSpace &dma() { return *m_dma; }

private:
    Bus() = default;
    std::unique_ptr<DmaSpace> m_dma;
    std::vector<std::unique_ptr<Subsystem>> m_devices;
    std::vector<BusFunction> m_funcs;
};

} // namespace nvmesim
