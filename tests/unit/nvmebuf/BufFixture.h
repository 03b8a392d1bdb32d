// A simulated platform whose DMA buffers start nInPageOffset bytes into
// their first page, and a controller's view of its DMA space.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Platform.h"
#include "SimBackend.h"
#include "nvmeBuf.h"

namespace bufTest {

class SimDma {
public:
    explicit SimDma(uint32_t nInPageOffset)
    {
        const char *pOld = std::getenv("KXM_NVME_SIM");
        if (pOld)
            m_sOld = pOld;
        m_bHad = pOld != nullptr;
        const std::string sCfg = "{\"dmaInPageOffset\": " + std::to_string(nInPageOffset) + "}";
        setenv("KXM_NVME_SIM", sCfg.c_str(), 1);
        std::string sErr;
        plat = kxmplat::makeSimPlatform(&sErr);
        EXPECT_TRUE(plat) << sErr;
        bus = kxmplat::simBusOf(plat.get());
    }
    ~SimDma()
    {
        plat.reset();
        if (m_bHad)
            setenv("KXM_NVME_SIM", m_sOld.c_str(), 1);
        else
            unsetenv("KXM_NVME_SIM");
    }

    kxmnvme::NvmeBufTarget target(uint32_t nPageSize, kxmplat::Platform *pVia = nullptr)
    {
        kxmnvme::NvmeBufTarget t;
        t.pPlat = pVia ? pVia : plat.get();
        t.pRegistry = &registry;
        t.nPageSize = nPageSize;
        return t;
    }

    // What a controller reads at a bus address.
    uint64_t read64(uint64_t nBus)
    {
        uint8_t b[8] = {};
        bus->dma().lockShared();
        const bool bOk = bus->dma().read(nBus, b, 8);
        bus->dma().unlockShared();
        EXPECT_TRUE(bOk) << std::hex << "unmapped bus address " << nBus;
        uint64_t v = 0;
        for (int i = 7; i >= 0; i--)
            v = (v << 8) | b[i];
        return v;
    }
    bool mapped(uint64_t nBus, size_t n)
    {
        bus->dma().lockShared();
        const bool bOk = bus->dma().translate(nBus, n) != nullptr;
        bus->dma().unlockShared();
        return bOk;
    }
    size_t blocks() const { return bus->dma().bufferCount(); }

    std::unique_ptr<kxmplat::Platform> plat;
    nvmesim::Bus *bus = nullptr;
    kxmnvme::HandleRegistry registry;

private:
    std::string m_sOld;
    bool m_bHad = false;
};

} // namespace bufTest
