// Test fixture: opens the platform (backend from KXM_NVME_PLATFORM), puts
// a configuration for the simulated bus into KXM_NVME_SIM first, and opens
// the first NVMe function it finds. Tests that need something the device
// does not offer skip themselves.
#pragma once
#include "DmaMemory.h"
#include "HostController.h"
#include "NvmCommands.h"
#include "PciAccess.h"
#include "Platform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace nvmehost {

class HostFixture : public ::testing::Test {
protected:
    // JSON for the simulated bus; empty: its defaults.
    virtual std::string simConfig() const { return ""; }

    void SetUp() override;
    void TearDown() override;

    // Admin queues up, number of queues asked for.
    void bringUp(uint32_t nAdminEntries = 32);
    // bringUp() plus one I/O CQ/SQ pair (id 1) of the given size.
    void bringUpWithIo(uint32_t nEntries = 64);
    // For a derived SetUp(): SetUp() and bringUpWithIo(nEntries); false when
    // the test was skipped or a fatal failure stopped it.
    bool setUpWithIo(uint32_t nEntries);
    // The first active namespace.
    NamespaceInfo firstNamespace();

    // Synchronous I/O on queue pair 1 over a data buffer (PRPs).
    Completion io(uint8_t nOpcode, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks, const DmaMemory &data,
                  size_t nOffset = 0);
    DmaMemory dataBuffer(size_t nBytes, size_t nAlign = 0);

    std::unique_ptr<kxmplat::Platform> plat;
    std::unique_ptr<HostController> ctl;
    kxmplat::PciSlot slot;
    uint32_t nCcCss = nvmewire::CC_CSS_NVM;   // CC.CSS of bringUp()
    uint32_t nSqGranted = 0;
    uint32_t nCqGranted = 0;
};

// Fills a buffer with a pattern that differs per seed and per byte.
void fillPattern(uint8_t *p, size_t n, uint32_t nSeed);

} // namespace nvmehost
