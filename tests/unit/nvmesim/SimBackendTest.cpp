#include "SimBackend.h"

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "nvmewire/Pci.h"

using namespace kxmplat;
using namespace nvmewire::pci;

namespace {
struct EnvGuard {
    explicit EnvGuard(const char *pValue) {
        if (pValue)
            setenv("KXM_NVME_SIM", pValue, 1);
        else
            unsetenv("KXM_NVME_SIM");
    }
    ~EnvGuard() { unsetenv("KXM_NVME_SIM"); }
};
} // namespace

TEST(SimBackend, MalformedConfigurationNamesTheField) {
    EnvGuard env(R"({"devices":[{"namespaces":[{"size":"3K","format":2}]}]})");
    std::string err;
    EXPECT_EQ(makeSimPlatform(&err), nullptr);
    EXPECT_EQ(err.rfind("KXM_NVME_SIM: devices[0].namespaces[0].size:", 0), 0u) << err;
    EnvGuard env2("/no/such/file.json");
    EXPECT_EQ(makeSimPlatform(&err), nullptr);
    EXPECT_NE(err.find("/no/such/file.json"), std::string::npos);
}

TEST(SimBackend, EnumerationAndConfigurationBySlot) {
    EnvGuard env(R"({"devices":[{"controllerCount":2},{"deviceId":"0x5101"}]})");
    std::string err;
    auto p = makeSimPlatform(&err);
    ASSERT_NE(p, nullptr) << err;
    EXPECT_STREQ(p->name(), "sim");
    std::vector<PciFunctionInfo> fns;
    ASSERT_EQ(p->enumerate(fns), 3);
    EXPECT_EQ(fns[0].slot.nBus, 1u);
    EXPECT_EQ(fns[1].slot.nFunction, 1u);
    EXPECT_EQ(fns[2].slot.nBus, 2u);
    EXPECT_EQ(fns[2].nDeviceId, 0x5101u);
    ASSERT_EQ(p->enumerate(fns, 1), 1);
    uint32_t v = 0;
    ASSERT_EQ(p->cfgRead(fns[0].slot, CFG_CLASS_REV, &v, 4), 0);
    EXPECT_EQ(v >> 8, 0x010802u);
    PciSlot nowhere{0, 9, 0, 0};
    EXPECT_NE(p->cfgRead(nowhere, CFG_VENDOR_ID, &v, 2), 0);
    EXPECT_EQ(v, 0xFFFFu);
    EXPECT_NE(p->cfgWrite(nowhere, CFG_COMMAND, 6, 2), 0);
    EXPECT_NE(p->cfgRead(fns[0].slot, 3, &v, 4), 0);   // misaligned
    Device *d = nullptr;
    EXPECT_NE(p->openDevice(nowhere, &d), 0);
    ASSERT_EQ(p->openDevice(fns[0].slot, &d), 0);
    EXPECT_EQ(p->mmioRead32(d, 8), 0xFFFFFFFFu);   // decoding still off
    ASSERT_EQ(p->cfgWrite(fns[0].slot, CFG_COMMAND, CMD_MEMORY | CMD_BUS_MASTER, 2), 0);
    EXPECT_EQ(p->mmioRead32(d, 8), 0x00020000u);
    EXPECT_EQ(simControllerOf(p.get(), d), simBusOf(p.get())->function(0).pCtrl);
    EXPECT_EQ(p->sriovTotalVFs(d), 0);
    std::vector<Device *> vfs;
    EXPECT_EQ(p->sriovEnable(d, 2, vfs), 0);
    EXPECT_TRUE(vfs.empty());
    // A hot reset puts the function back to its reset values.
    EXPECT_GT(p->hotReset(d), 0);
    EXPECT_EQ(p->mmioRead32(d, 8), 0xFFFFFFFFu);
    p->closeDevice(d);
    p->closeDevice(d);   // a second close is ignored
    EXPECT_EQ(simControllerOf(p.get(), d), nullptr);
    EXPECT_EQ(p->close(), 1);
}

TEST(SimBackend, DmaBuffers) {
    EnvGuard env(R"({"dmaInPageOffset":64})");
    std::string err;
    auto p = makeSimPlatform(&err);
    ASSERT_NE(p, nullptr) << err;
    std::vector<PciFunctionInfo> fns;
    ASSERT_EQ(p->enumerate(fns), 1);
    Device *d = nullptr;
    ASSERT_EQ(p->openDevice(fns[0].slot, &d), 0);
    DmaBuffer a, b;
    ASSERT_EQ(p->dmaAlloc(d, 10000, &a), 0);
    EXPECT_EQ(a.nBusAddr % 4096, 64u);
    EXPECT_EQ(a.nSize, 10000u);
    std::memset(a.pHost, 0xAB, 10000);
    ASSERT_EQ(p->dmaAllocPageAligned(d, 4096, &b), 0);
    EXPECT_EQ(b.nBusAddr % 4096, 0u);
    EXPECT_NE(p->dmaAlloc(d, 0, &a), 0);
    p->dmaFree(d, &a);
    EXPECT_EQ(a.pHost, nullptr);
    p->dmaFree(d, &a);   // nothing left to free
    p->dmaFree(d, &b);
    EXPECT_EQ(simBusOf(p.get())->dma().bufferCount(), 0u);
    p->closeDevice(d);
}

TEST(SimBackend, UnusableBackingFileNamesTheField) {
    EnvGuard env(R"({"devices":[{"namespaces":[{"size":"1M"},{"size":"1M","backingFile":"/nonexistent-dir/ns.img"}]}]})");
    std::string err;
    EXPECT_EQ(makeSimPlatform(&err), nullptr);
    EXPECT_EQ(err.rfind("KXM_NVME_SIM: devices[0].namespaces[1].backingFile: ", 0), 0u) << err;
}
