// The route without an IOMMU over a fake tree: configuration space through
// the config file, BAR0 through resource0, reset, SR-IOV, and handles that
// are stale or forged.
#include "FakeSysfs.h"
#include "LinuxPlatform.h"

#include <gtest/gtest.h>

#include "nvmewire/Pci.h"
#include "nvmewire/Registers.h"

#include <cstring>
#include <filesystem>

using namespace kxmplat;
using namespace nvmewire::pci;
using nvmewire::REG_CC;
using linuxplat_test::FakeFunction;
using linuxplat_test::FakeSysfs;

namespace {

const PciSlot kSlot{0, 0, 3, 0};

class SysfsRoute : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.add({.sAddress = "0000:00:03.0", .nTotalVfs = 4});
        fake.add({.sAddress = "0000:00:03.1"});
        fake.add({.sAddress = "0000:00:03.2"});
        fake.add({.sAddress = "0000:00:03.3", .sDriver = "nvme"});
        fake.add({.sAddress = "0000:00:09.0", .nBar0Size = 0, .bResetFile = false});
        LinuxPlatformOptions o;
        o.sSysfsRoot = fake.root();
        o.sVfioDir = fake.root() + "/no-vfio";
        std::string sErr;
        plat = makeLinuxPlatform(o, &sErr);
        ASSERT_TRUE(plat) << sErr;
    }
    void TearDown() override
    {
        if (plat)
            plat->close();
    }

    uint32_t fileDword(const std::string &sFile, size_t nOffset)
    {
        auto v = fake.readFile(fake.dir("0000:00:03.0") + "/" + sFile);
        uint32_t n = 0;
        if (nOffset + 4 <= v.size())
            std::memcpy(&n, v.data() + nOffset, 4);
        return n;
    }

    FakeSysfs fake;
    std::unique_ptr<Platform> plat;
};

TEST_F(SysfsRoute, ConfigurationSpaceAtEveryWidth)
{
    uint32_t n = 0;
    ASSERT_EQ(plat->cfgRead(kSlot, CFG_VENDOR_ID, &n, 4), 0);
    EXPECT_EQ(n, 0x00101b36u);
    ASSERT_EQ(plat->cfgRead(kSlot, 2, &n, 2), 0);
    EXPECT_EQ(n, 0x0010u);
    ASSERT_EQ(plat->cfgRead(kSlot, 0x0B, &n, 1), 0);
    EXPECT_EQ(n, 0x01u);
    ASSERT_EQ(plat->cfgRead(kSlot, CFG_CLASS_REV, &n, 4), 0);
    EXPECT_EQ(classCode(n), CLASS_NVME);

    ASSERT_EQ(plat->cfgWrite(kSlot, 0x44, 0x0008, 2), 0);
    ASSERT_EQ(plat->cfgWrite(kSlot, 0x104, 0xA5, 1), 0);
    EXPECT_EQ(fileDword("config", 0x44), 0x0008u);
    EXPECT_EQ(fileDword("config", 0x104), 0xA5u);
    ASSERT_EQ(plat->cfgRead(kSlot, 0x104, &n, 4), 0);
    EXPECT_EQ(n, 0xA5u);

    // Misaligned, odd widths and offsets past the space are refused, and
    // the value reads as all ones.
    EXPECT_NE(plat->cfgRead(kSlot, 1, &n, 2), 0);
    EXPECT_EQ(n, 0xFFFFu);
    EXPECT_NE(plat->cfgRead(kSlot, 2, &n, 4), 0);
    EXPECT_NE(plat->cfgRead(kSlot, CFG_VENDOR_ID, &n, 3), 0);
    EXPECT_NE(plat->cfgRead(kSlot, 4096, &n, 1), 0);
    EXPECT_NE(plat->cfgWrite(kSlot, 4094, 0, 4), 0);
    EXPECT_NE(plat->cfgRead(kSlot, CFG_VENDOR_ID, nullptr, 4), 0);
    // A slot where nothing sits.
    EXPECT_NE(plat->cfgRead(PciSlot{0, 0, 0x1f, 7}, CFG_VENDOR_ID, &n, 4), 0);
    EXPECT_EQ(n, 0xFFFFFFFFu);
}

TEST_F(SysfsRoute, Bar0IsTheMappedResourceFile)
{
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pDev), 0);
    ASSERT_NE(pDev, nullptr);
    plat->mmioWrite32(pDev, REG_CC, 0x00460001);
    plat->mmioWrite32(pDev, 0x1000, 7);
    EXPECT_EQ(plat->mmioRead32(pDev, REG_CC), 0x00460001u);
    EXPECT_EQ(fileDword("resource0", 0x14), 0x00460001u);
    EXPECT_EQ(fileDword("resource0", 0x1000), 7u);
    // Outside BAR0 or misaligned: all ones, writes dropped.
    EXPECT_EQ(plat->mmioRead32(pDev, 0x4000), 0xFFFFFFFFu);
    EXPECT_EQ(plat->mmioRead32(pDev, 0x3FFE), 0xFFFFFFFFu);
    EXPECT_EQ(plat->mmioRead32(pDev, 0x15), 0xFFFFFFFFu);
    plat->mmioWrite32(pDev, 0x4000, 1);
    plat->mmioWrite32(pDev, 0x16, 1);
    EXPECT_EQ(fileDword("resource0", 0x14), 0x00460001u);

    // Two opens of one function share the mapping; it goes with the last.
    Device *pSecond = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pSecond), 0);
    plat->closeDevice(pDev);
    EXPECT_EQ(plat->mmioRead32(pSecond, REG_CC), 0x00460001u);
    plat->closeDevice(pSecond);
}

TEST_F(SysfsRoute, AFunctionWithoutBar0IsNotOpened)
{
    Device *pDev = nullptr;
    EXPECT_NE(plat->openDevice(PciSlot{0, 0, 9, 0}, &pDev), 0);
    EXPECT_EQ(pDev, nullptr);
    EXPECT_NE(linuxPlatformLastError(plat.get()).find("resource0"), std::string::npos);
}

TEST_F(SysfsRoute, StaleAndForgedHandlesAreRefused)
{
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pDev), 0);
    plat->closeDevice(pDev);
    plat->closeDevice(pDev);                            // twice: ignored
    EXPECT_EQ(plat->mmioRead32(pDev, REG_CC), 0xFFFFFFFFu);
    plat->mmioWrite32(pDev, REG_CC, 1);
    EXPECT_EQ(fileDword("resource0", 0x14), 0u);
    // A newer handle never takes an old one's place.
    Device *pNewer = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pNewer), 0);
    EXPECT_NE(pNewer, pDev);
    plat->mmioWrite32(pNewer, 0x18, 5);
    EXPECT_EQ(plat->mmioRead32(pDev, 0x18), 0xFFFFFFFFu);
    plat->closeDevice(pDev);                            // stale: the newer one stays open
    EXPECT_EQ(plat->mmioRead32(pNewer, 0x18), 5u);
    plat->closeDevice(pNewer);
    Device *pForged = reinterpret_cast<Device *>(&pDev);
    EXPECT_EQ(plat->mmioRead32(pForged, 0), 0xFFFFFFFFu);
    EXPECT_EQ(plat->mmioRead32(nullptr, 0), 0xFFFFFFFFu);
    DmaBuffer b;
    EXPECT_NE(plat->dmaAlloc(pForged, 4096, &b), 0);
    EXPECT_EQ(b.pHost, nullptr);
    b.pHandle = &b;
    plat->dmaFree(pForged, &b);                         // unknown: ignored
    plat->dmaFree(nullptr, nullptr);
    EXPECT_EQ(plat->hotReset(pForged), 0);
    EXPECT_EQ(plat->sriovTotalVFs(pForged), 0);
    std::vector<Device *> vfs;
    EXPECT_LT(plat->sriovEnable(pForged, 1, vfs), 0);
    EXPECT_NE(plat->openDevice(kSlot, nullptr), 0);
}

TEST_F(SysfsRoute, ContiguousBuffersLargerThanAHugepageAreRefused)
{
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pDev), 0);
    DmaBuffer b;
    EXPECT_NE(plat->dmaAlloc(pDev, size_t(1) << 31, &b), 0);
    EXPECT_EQ(b.pHost, nullptr);
    EXPECT_NE(linuxPlatformLastError(plat.get()).find("larger than one hugepage"), std::string::npos)
        << linuxPlatformLastError(plat.get());
    EXPECT_NE(plat->dmaAlloc(pDev, 0, &b), 0);
}

// Needs reserved hugepages and root; skipped where the machine has neither.
TEST_F(SysfsRoute, DmaBuffersComeFromHugepagesAndGoBack)
{
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pDev), 0);
    DmaBuffer a, b;
    if (plat->dmaAlloc(pDev, 8192, &a) != 0)
        GTEST_SKIP() << linuxPlatformLastError(plat.get());
    ASSERT_NE(a.pHost, nullptr);
    EXPECT_NE(a.nBusAddr, 0u);
    EXPECT_EQ(a.nBusAddr % 4096, 0u);
    EXPECT_EQ(a.nSize, 8192u);
    std::memset(a.pHost, 0x5A, 8192);
    ASSERT_EQ(plat->dmaAlloc(pDev, 100, &b), 0);
    EXPECT_NE(b.pHandle, a.pHandle);
    EXPECT_EQ(static_cast<uint8_t *>(b.pHost)[0], 0) << "buffers come zeroed";
    DmaBuffer stale = a;
    plat->dmaFree(pDev, &a);
    EXPECT_EQ(a.pHost, nullptr) << "the descriptor is cleared";
    plat->dmaFree(pDev, &stale);                        // twice: ignored
    // Buffers still held when the platform closes are released with it.
    EXPECT_EQ(plat->close(), 1);
    plat->dmaFree(pDev, &b);                            // after close: ignored
}

TEST_F(SysfsRoute, HotResetThroughTheResetFile)
{
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pDev), 0);
    EXPECT_EQ(plat->hotReset(pDev), 1);
    EXPECT_EQ(fake.readText(fake.dir("0000:00:03.0") + "/reset"), "1");
    // Without a reset file the answer is "not supported".
    std::remove((fake.dir("0000:00:03.0") + "/reset").c_str());
    EXPECT_EQ(plat->hotReset(pDev), -1);
}

TEST_F(SysfsRoute, VirtualFunctionsAreEnabledThroughSysfs)
{
    fake.linkVirtual("0000:00:03.0", 0, "0000:00:03.1");
    fake.linkVirtual("0000:00:03.0", 1, "0000:00:03.2");
    fake.linkVirtual("0000:00:03.0", 2, "0000:00:03.3");
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pDev), 0);
    EXPECT_EQ(plat->sriovTotalVFs(pDev), 4);
    std::vector<Device *> vfs;
    EXPECT_LT(plat->sriovEnable(pDev, 5, vfs), 0) << "more than the device offers";
    EXPECT_LT(plat->sriovEnable(pDev, -1, vfs), 0);

    ASSERT_EQ(plat->sriovEnable(pDev, 2, vfs), 2);
    ASSERT_EQ(vfs.size(), 2u);
    const std::string sPf = fake.dir("0000:00:03.0");
    EXPECT_EQ(fake.readText(sPf + "/sriov_numvfs"), "2");
    EXPECT_EQ(fake.readText(sPf + "/sriov_drivers_autoprobe"), "0") << "no kernel driver may claim the VFs";
    plat->mmioWrite32(vfs[1], REG_CC, 0x1234);
    auto bar = fake.readFile(fake.dir("0000:00:03.2") + "/resource0");
    ASSERT_GE(bar.size(), 0x18u);
    EXPECT_EQ(bar[0x14], 0x34);
    EXPECT_EQ(plat->sriovTotalVFs(vfs[0]), 0) << "a virtual function has none of its own";

    // The third virtual function is claimed by nvme: it is not handed out.
    fake.writeText(sPf + "/sriov_numvfs", "0");
    std::vector<Device *> vfs3;
    EXPECT_EQ(plat->sriovEnable(pDev, 3, vfs3), 2);
    // The earlier handles went with the earlier set.
    EXPECT_EQ(plat->mmioRead32(vfs[0], REG_CC), 0xFFFFFFFFu);

    std::vector<Device *> none;
    EXPECT_EQ(plat->sriovEnable(pDev, 0, none), 0);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(fake.readText(sPf + "/sriov_numvfs"), "0");
    EXPECT_EQ(plat->mmioRead32(vfs3[0], REG_CC), 0xFFFFFFFFu);

    // Closing the physical function closes its virtual functions.
    std::vector<Device *> again;
    ASSERT_EQ(plat->sriovEnable(pDev, 1, again), 1);
    plat->closeDevice(pDev);
    EXPECT_EQ(plat->mmioRead32(again[0], REG_CC), 0xFFFFFFFFu);
}

TEST_F(SysfsRoute, NoSriovFilesMeansNoVirtualFunctions)
{
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(PciSlot{0, 0, 3, 1}, &pDev), 0);
    EXPECT_EQ(plat->sriovTotalVFs(pDev), 0);
    std::vector<Device *> vfs;
    EXPECT_LT(plat->sriovEnable(pDev, 1, vfs), 0);
    EXPECT_EQ(plat->sriovEnable(pDev, 0, vfs), 0);
}

} // namespace

TEST_F(SysfsRoute, SlotPowerOnlyWhenAskedForAndThroughTheSlotsPowerFile)
{
    const std::string sSlot = fake.root() + "/bus/pci/slots/7";
    std::filesystem::create_directories(sSlot);
    fake.writeText(sSlot + "/address", "0000:00:03\n");
    fake.writeText(sSlot + "/power", "1\n");
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(kSlot, &pDev), 0);
    // Not asked for: "not supported", and the file is left alone.
    EXPECT_EQ(plat->slotPower(pDev, false), -1);
    EXPECT_EQ(fake.readText(sSlot + "/power"), "1\n");

    LinuxPlatformOptions o;
    o.sSysfsRoot = fake.root();
    o.sVfioDir = fake.root() + "/no-vfio";
    o.bSlotPower = true;
    std::string sErr;
    auto p2 = makeLinuxPlatform(o, &sErr);
    ASSERT_TRUE(p2) << sErr;
    Device *pDev2 = nullptr;
    ASSERT_EQ(p2->openDevice(kSlot, &pDev2), 0);
    EXPECT_EQ(p2->slotPower(pDev2, false), 1);
    EXPECT_EQ(fake.readText(sSlot + "/power"), "0");
    EXPECT_EQ(p2->slotPower(pDev2, true), 1);
    EXPECT_EQ(fake.readText(sSlot + "/power"), "1");
    // A function in no hotplug slot, and a forged handle.
    fake.writeText(sSlot + "/address", "0000:00:04\n");
    EXPECT_EQ(p2->slotPower(pDev2, false), -1);
    EXPECT_EQ(p2->slotPower(reinterpret_cast<Device *>(uintptr_t(0x1234)), false), 0);
    p2->close();
}
