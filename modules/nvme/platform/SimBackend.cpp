// Platform operations over the simulated bus. Devices handed out are
// records of this file (the platform's Device type stays opaque); DMA
// buffers come from the bus-address space of the simulation.
#include "SimBackend.h"

#include <mutex>

#include "nvmewire/Pci.h"
#include <unordered_set>

namespace kxmplat {

namespace {

struct SimDevice {
    nvmesim::Controller *pCtrl;
    nvmesim::Subsystem *pSubsys;
    PciSlot slot;
    SimDevice *pPhysical;   // set for a virtual function opened by sriovEnable()
};

SimDevice *sim(Device *p) { return reinterpret_cast<SimDevice *>(p); }

class SimPlatform final : public Platform {
public:
    explicit SimPlatform(std::unique_ptr<nvmesim::Bus> bus) : m_bus(std::move(bus)) {}
    ~SimPlatform() override { close(); }

    const char *name() const override { return "sim"; }

    int enumerate(std::vector<PciFunctionInfo> &out, size_t nMax) override {
        out.clear();
        for (size_t i = 0; i < m_bus->functionCount() && out.size() < nMax; ++i) {
            const nvmesim::BusFunction &f = m_bus->function(i);
            if (!f.pCtrl->present())
                continue;   // a virtual function that is not enabled
            PciFunctionInfo info;
            info.nVendorId = f.pCtrl->vendorId();
            info.nDeviceId = f.pCtrl->deviceId();
            info.slot = PciSlot{f.nDomain, f.nBus, f.nDevice, f.nFunction};
            out.push_back(info);
        }
        return static_cast<int>(out.size());
    }

    int cfgRead(const PciSlot &slot, uint32_t nOffset, uint32_t *pValue, int nWidth) override {
        nvmesim::Controller *c = find(slot);
        if (!c || !c->present()) {
            *pValue = nWidth == 1 ? 0xFF : nWidth == 2 ? 0xFFFF : 0xFFFFFFFFu;
            return -1;
        }
        return c->cfgRead(nOffset, pValue, nWidth);
    }

    int cfgWrite(const PciSlot &slot, uint32_t nOffset, uint32_t nValue, int nWidth) override {
        nvmesim::Controller *c = find(slot);
        return c && c->present() ? c->cfgWrite(nOffset, nValue, nWidth) : -1;
    }

    int openDevice(const PciSlot &slot, Device **ppDev) override {
        const nvmesim::BusFunction *f = findFunction(slot);
        if (!f || !ppDev || !f->pCtrl->present())
            return -1;
        auto *d = new SimDevice{f->pCtrl, f->pDevice, slot, nullptr};
        std::lock_guard lock(m_mutex);
        m_open.insert(d);
        *ppDev = reinterpret_cast<Device *>(d);
        return 0;
    }

    void closeDevice(Device *pDev) override {
        std::lock_guard lock(m_mutex);
        auto it = m_open.find(sim(pDev));
        if (it == m_open.end())
            return;   // unknown or already closed
        delete *it;
        m_open.erase(it);
    }

    uint32_t mmioRead32(Device *pDev, uint32_t nOffset) override {
        return pDev ? sim(pDev)->pCtrl->mmioRead32(nOffset) : 0xFFFFFFFFu;
    }

    void mmioWrite32(Device *pDev, uint32_t nOffset, uint32_t nValue) override {
        if (pDev)
            sim(pDev)->pCtrl->mmioWrite32(nOffset, nValue);
    }

    int dmaAlloc(Device *, size_t nSize, DmaBuffer *pBuf) override { return alloc(nSize, pBuf, false); }

    int dmaAllocPageAligned(Device *, size_t nSize, DmaBuffer *pBuf) override { return alloc(nSize, pBuf, true); }

    int alloc(size_t nSize, DmaBuffer *pBuf, bool bAligned) {
        if (!pBuf)
            return -1;
        void *pHost = nullptr;
        uint64_t nBus = 0;
        if (m_bus->dma().alloc(nSize, &pHost, &nBus, bAligned) != 0)
            return -1;
        pBuf->pHost = pHost;
        pBuf->nBusAddr = nBus;
        pBuf->nSize = nSize;
        pBuf->pHandle = reinterpret_cast<void *>(static_cast<uintptr_t>(nBus));
        return 0;
    }

    void dmaFree(Device *, DmaBuffer *pBuf) override {
        if (!pBuf || !pBuf->pHost)
            return;
        m_bus->dma().free(pBuf->nBusAddr);
        *pBuf = DmaBuffer();
    }

    int sriovTotalVFs(Device *pDev) override {
        SimDevice *d = known(pDev);
        if (!d || d->pCtrl->vfNumber() || &d->pSubsys->controller(0) != d->pCtrl)
            return 0;   // only the first physical function has the capability
        return d->pSubsys->config().sriov.nTotalVfs;
    }

    // As the kernel does it: VF Enable off, NumVFs, then VF Enable and VF
    // MSE through the physical function's SR-IOV capability; the virtual
    // functions opened before are closed.
    int sriovEnable(Device *pDev, int n, std::vector<Device *> &vfs) override {
        vfs.clear();
        const int nTotal = sriovTotalVFs(pDev);
        if (n < 0)
            return -1;
        if (nTotal == 0)
            return 0;   // no SR-IOV: none enabled
        if (n > nTotal)
            return -1;
        SimDevice *pf = known(pDev);
        nvmesim::Controller *c = pf->pCtrl;
        {
            std::lock_guard lock(m_mutex);
            for (auto it = m_open.begin(); it != m_open.end();) {
                if ((*it)->pPhysical == pf) {
                    delete *it;
                    it = m_open.erase(it);
                } else {
                    ++it;
                }
            }
        }
        using namespace nvmewire::pci;
        const uint32_t nCap = EXT_CAP_BASE;
        c->cfgWrite(nCap + SRIOV_CTRL, 0, 2);
        if (n == 0)
            return 0;
        c->cfgWrite(nCap + SRIOV_NUM_VFS, static_cast<uint32_t>(n), 2);
        c->cfgWrite(nCap + SRIOV_CTRL, SRIOV_CTRL_VFE | SRIOV_CTRL_MSE, 2);
        for (size_t i = 0; i < m_bus->functionCount(); ++i) {
            const nvmesim::BusFunction &f = m_bus->function(i);
            if (f.pDevice != pf->pSubsys || !f.nVfNumber || !f.pCtrl->present())
                continue;
            auto *d = new SimDevice{f.pCtrl, f.pDevice, PciSlot{f.nDomain, f.nBus, f.nDevice, f.nFunction}, pf};
            std::lock_guard lock(m_mutex);
            m_open.insert(d);
            vfs.push_back(reinterpret_cast<Device *>(d));
        }
        return static_cast<int>(vfs.size());
    }

    int hotReset(Device *pDev) override {
        nvmesim::Subsystem *s = subsystemOf(pDev);
        if (!s)
            return 0;
        s->hotReset();
        return 1;
    }

    int slotPower(Device *pDev, bool bOn) override {
        SimDevice *d = known(pDev);
        if (!d)
            return 0;
        if (d->pCtrl->vfNumber())
            return -1;   // a virtual function has no slot of its own
        nvmesim::Subsystem *s = d->pSubsys;
        if (bOn)
            s->powerOn();
        else
            s->powerOff();
        return 1;
    }

    int close() override {
        std::lock_guard lock(m_mutex);
        for (SimDevice *d : m_open)
            delete d;
        m_open.clear();
        return 1;
    }

    nvmesim::Bus *bus() { return m_bus.get(); }

    nvmesim::Controller *controllerOf(Device *pDev) {
        std::lock_guard lock(m_mutex);
        auto it = m_open.find(sim(pDev));
        return it == m_open.end() ? nullptr : (*it)->pCtrl;
    }

private:
    // The record of an open handle; null for a forged or closed one.
    SimDevice *known(Device *pDev) {
        std::lock_guard lock(m_mutex);
        auto it = m_open.find(sim(pDev));
        return it == m_open.end() ? nullptr : *it;
    }
    nvmesim::Subsystem *subsystemOf(Device *pDev) {
        SimDevice *d = known(pDev);
        return d ? d->pSubsys : nullptr;
    }

    const nvmesim::BusFunction *findFunction(const PciSlot &s) const {
        for (size_t i = 0; i < m_bus->functionCount(); ++i) {
            const nvmesim::BusFunction &f = m_bus->function(i);
            if (f.nDomain == s.nDomain && f.nBus == s.nBus && f.nDevice == s.nDevice && f.nFunction == s.nFunction)
                return &f;
        }
        return nullptr;
    }
    nvmesim::Controller *find(const PciSlot &s) const {
        const nvmesim::BusFunction *f = findFunction(s);
        return f ? f->pCtrl : nullptr;
    }

    std::unique_ptr<nvmesim::Bus> m_bus;
    std::mutex m_mutex;
    std::unordered_set<SimDevice *> m_open;
};

} // namespace

std::unique_ptr<Platform> makeSimPlatform(std::string *pErr) {
    std::string szErr;
    nvmesim::SimConfig cfg;
    if (!nvmesim::configFromEnvironment(&cfg, &szErr)) {
        if (pErr)
            *pErr = "KXM_NVME_SIM: " + szErr;
        return nullptr;
    }
    auto bus = nvmesim::Bus::create(cfg, &szErr);
    if (!bus) {
        if (pErr)
            *pErr = "KXM_NVME_SIM: " + szErr;
        return nullptr;
    }
    return std::make_unique<SimPlatform>(std::move(bus));
}

nvmesim::Bus *simBusOf(Platform *pPlat) {
    auto *p = dynamic_cast<SimPlatform *>(pPlat);
    return p ? p->bus() : nullptr;
}

nvmesim::Controller *simControllerOf(Platform *pPlat, Device *pDev) {
    auto *p = dynamic_cast<SimPlatform *>(pPlat);
    return p ? p->controllerOf(pDev) : nullptr;
}

} // namespace kxmplat
