#include "nvmesim/Bus.h"

#include "ControllerCore.h"

namespace nvmesim {

std::unique_ptr<Bus> Bus::create(const SimConfig &cfgIn, std::string *pErr) {
    SimConfig cfg = cfgIn;
    std::unique_ptr<Bus> bus(new Bus());
    bus->m_dma = std::make_unique<DmaSpace>(4096, cfg.nDmaInPageOffset);
    for (size_t i = 0; i < cfg.devices.size(); ++i) {
        completeDevice(cfg.devices[i], i);
        auto dev = std::make_unique<Subsystem>(cfg.devices[i], i, *bus->m_dma);
        if (!dev->init(pErr))
            return nullptr;
        const SriovConfig &sr = dev->config().sriov;
        for (size_t f = 0; f < dev->controllerCount(); ++f) {
            BusFunction bf;
            bf.nBus = static_cast<uint32_t>(i + 1);
            bf.nFunction = static_cast<uint32_t>(f);
            if (f >= dev->primaryCount()) {
                // Routing id of VF k: the first function's + offset + (k - 1) * stride.
                bf.nVfNumber = static_cast<uint16_t>(f - dev->primaryCount() + 1);
                const uint32_t nRid = sr.nVfOffset + (bf.nVfNumber - 1u) * sr.nVfStride;
                bf.nDevice = (nRid >> 3) & 0x1F;
                bf.nFunction = nRid & 0x7;
            }
            bf.pCtrl = &dev->controller(f);
            bf.pDevice = dev.get();
            bus->m_funcs.push_back(bf);
        }
        bus->m_devices.push_back(std::move(dev));
    }
    return bus;
}

Bus::~Bus() {
    // Controllers stop before the DMA space they use goes away.
    m_devices.clear();
}

Controller *Bus::find(uint32_t nDomain, uint32_t nBus, uint32_t nDevice, uint32_t nFunction) const {
    for (const auto &f : m_funcs)
        if (f.nDomain == nDomain && f.nBus == nBus && f.nDevice == nDevice && f.nFunction == nFunction)
            return f.pCtrl;
    return nullptr;
}

} // namespace nvmesim
