// The safety rule: a function bound to a kernel driver is never offered nor
// touched; KXM_NVME_DEVICES narrows the choice further but cannot widen it.
#include "FakeSysfs.h"
#include "LinuxPlatform.h"
#include "PciAddress.h"

#include <gtest/gtest.h>

#include "nvmewire/Pci.h"

#include <cstdlib>

using namespace kxmplat;
using namespace nvmewire::pci;
using linuxplat_test::FakeFunction;
using linuxplat_test::FakeSysfs;

namespace {

class SafetyRule : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.add({.sAddress = "0000:00:02.0", .sDriver = "nvme"});              // the system's disk
        fake.add({.sAddress = "0000:00:03.0"});                                 // unbound
        fake.add({.sAddress = "0000:00:04.0", .sDriver = "vfio-pci", .sIommuGroup = "7"});
        fake.add({.sAddress = "0000:00:05.0", .nClass = 0x010803, .sDriver = "uio_pci_generic"});
        fake.add({.sAddress = "0000:00:06.0", .nClass = 0x020000});             // a network card
        fake.add({.sAddress = "0000:00:07.0", .nClass = 0x010802, .sDriver = "ahci"});
        fake.add({.sAddress = "0000:00:08.0", .nClass = 0x010601});             // SATA, unbound
        fake.add({.sAddress = "0001:3a:00.0", .sDriver = "nvme"});
    }

    std::unique_ptr<Platform> open(const char *szList = nullptr, std::string *pErr = nullptr)
    {
        LinuxPlatformOptions o;
        o.sSysfsRoot = fake.root();
        o.sVfioDir = fake.root() + "/no-vfio";
        if (szList) {
            o.bDeviceList = true;
            o.sDeviceList = szList;
        }
        std::string sErr;
        auto p = makeLinuxPlatform(o, &sErr);
        if (pErr)
            *pErr = sErr;
        return p;
    }

    static std::vector<std::string> addresses(Platform &p)
    {
        std::vector<PciFunctionInfo> v;
        p.enumerate(v, 256);
        std::vector<std::string> s;
        for (const auto &f : v)
            s.push_back(linuxplat::formatPciAddress(f.slot));
        return s;
    }

    FakeSysfs fake;
};

const PciSlot kNvmeBound{0, 0, 2, 0};

TEST_F(SafetyRule, OnlyUnboundOrUserSpaceBoundNvmeFunctionsAreOffered)
{
    auto p = open();
    ASSERT_TRUE(p);
    EXPECT_STREQ(p->name(), "linux");
    EXPECT_EQ(addresses(*p), (std::vector<std::string>{"0000:00:03.0", "0000:00:04.0", "0000:00:05.0"}));

    std::vector<PciFunctionInfo> v;
    ASSERT_EQ(p->enumerate(v, 256), 3);
    EXPECT_EQ(v[0].nVendorId, 0x1b36u);
    EXPECT_EQ(v[0].nDeviceId, 0x0010u);
    // At most nMax.
    EXPECT_EQ(p->enumerate(v, 1), 1);
    EXPECT_EQ(v.size(), 1u);
}

TEST_F(SafetyRule, AFunctionBoundToNvmeIsNeverTouched)
{
    const std::string sDir = fake.dir("0000:00:02.0");
    auto cfgBefore = fake.readFile(sDir + "/config");
    auto barBefore = fake.readFile(sDir + "/resource0");
    auto p = open();
    ASSERT_TRUE(p);

    // Reads answer as an empty slot does, writes go nowhere.
    uint32_t n = 0;
    EXPECT_NE(p->cfgRead(kNvmeBound, CFG_VENDOR_ID, &n, 4), 0);
    EXPECT_EQ(n, 0xFFFFFFFFu);
    EXPECT_NE(p->cfgRead(kNvmeBound, 8, &n, 2), 0);
    EXPECT_EQ(n, 0xFFFFu);
    EXPECT_NE(p->cfgWrite(kNvmeBound, CFG_COMMAND, CMD_MEMORY | CMD_BUS_MASTER, 2), 0);
    EXPECT_NE(p->cfgWrite(kNvmeBound, 0x44, 0x8, 2), 0);
    Device *pDev = reinterpret_cast<Device *>(0x1);
    EXPECT_NE(p->openDevice(kNvmeBound, &pDev), 0);
    EXPECT_EQ(pDev, nullptr);

    // Not even a device list naming it offers it.
    auto q = open("0000:00:02.0");
    ASSERT_TRUE(q);
    EXPECT_TRUE(addresses(*q).empty());
    EXPECT_NE(q->openDevice(kNvmeBound, &pDev), 0);
    EXPECT_NE(q->cfgWrite(kNvmeBound, CFG_COMMAND, CMD_MEMORY | CMD_BUS_MASTER, 2), 0);
    p->close();
    q->close();

    EXPECT_EQ(fake.readFile(sDir + "/config"), cfgBefore);
    EXPECT_EQ(fake.readFile(sDir + "/resource0"), barBefore);
}

TEST_F(SafetyRule, AFunctionClaimedByAKernelDriverAfterTheScanIsNotOpened)
{
    auto p = open();
    ASSERT_TRUE(p);
    ASSERT_EQ(addresses(*p).size(), 3u);
    // Reached once (its configuration file is open from then on)...
    uint32_t n = 0;
    ASSERT_EQ(p->cfgRead(PciSlot{0, 0, 3, 0}, CFG_VENDOR_ID, &n, 4), 0);
    auto cfgBefore = fake.readFile(fake.dir("0000:00:03.0") + "/config");
    // ...then claimed by the kernel's driver.
    fake.bind("0000:00:03.0", "nvme");
    Device *pDev = nullptr;
    EXPECT_NE(p->openDevice(PciSlot{0, 0, 3, 0}, &pDev), 0);
    EXPECT_EQ(pDev, nullptr);
    EXPECT_NE(linuxPlatformLastError(p.get()).find("driver binding"), std::string::npos);
    EXPECT_NE(p->cfgWrite(PciSlot{0, 0, 3, 0}, 4, 0x6, 2), 0);
    EXPECT_EQ(fake.readFile(fake.dir("0000:00:03.0") + "/config"), cfgBefore);
    // And the next scan no longer offers it.
    EXPECT_EQ(addresses(*p), (std::vector<std::string>{"0000:00:04.0", "0000:00:05.0"}));
    EXPECT_NE(p->cfgRead(PciSlot{0, 0, 3, 0}, CFG_VENDOR_ID, &n, 4), 0);
    EXPECT_EQ(n, 0xFFFFFFFFu);
}

TEST_F(SafetyRule, DeviceListNarrowsTheChoice)
{
    auto p = open("0000:00:05.0, 00:03.0");
    ASSERT_TRUE(p);
    EXPECT_EQ(addresses(*p), (std::vector<std::string>{"0000:00:03.0", "0000:00:05.0"}));
    uint32_t n = 0;
    EXPECT_NE(p->cfgRead(PciSlot{0, 0, 4, 0}, CFG_VENDOR_ID, &n, 4), 0) << "a function left out of the list is not touched";

    // Upper case and a trailing comma are fine; an empty list offers nothing.
    auto q = open("0000:00:0A.0,0000:00:03.0,");
    ASSERT_TRUE(q);
    EXPECT_EQ(addresses(*q), (std::vector<std::string>{"0000:00:03.0"}));
    auto r = open("");
    ASSERT_TRUE(r);
    EXPECT_TRUE(addresses(*r).empty());
}

TEST_F(SafetyRule, MalformedDeviceListIsAClearErrorAtOpen)
{
    std::string sErr;
    EXPECT_FALSE(open("0000:00:03.0,nvme0", &sErr));
    EXPECT_NE(sErr.find("KXM_NVME_DEVICES"), std::string::npos) << sErr;
    EXPECT_NE(sErr.find("'nvme0'"), std::string::npos) << sErr;
    EXPECT_FALSE(open("00:20.0", &sErr)) << "device numbers stop at 1f";
    EXPECT_FALSE(open("0000:00:03.8", &sErr)) << "function numbers stop at 7";
}

TEST_F(SafetyRule, SelectedThroughTheEnvironment)
{
    setenv("KXM_NVME_PLATFORM", "linux", 1);
    setenv("KXM_NVME_SYSFS_ROOT", fake.root().c_str(), 1);
    setenv("KXM_NVME_DEVICES", "0000:00:02.0,0000:00:05.0", 1);
    std::string sErr;
    auto p = Platform::open(&sErr);
    unsetenv("KXM_NVME_DEVICES");
    ASSERT_TRUE(p) << sErr;
    EXPECT_STREQ(p->name(), "linux");
    EXPECT_EQ(addresses(*p), (std::vector<std::string>{"0000:00:05.0"}));
    EXPECT_EQ(p->close(), 1);

    setenv("KXM_NVME_SYSFS_ROOT", (fake.root() + "/nowhere").c_str(), 1);
    EXPECT_FALSE(Platform::open(&sErr));
    EXPECT_NE(sErr.find("nowhere/bus/pci/devices"), std::string::npos) << sErr;
    unsetenv("KXM_NVME_SYSFS_ROOT");
    unsetenv("KXM_NVME_PLATFORM");
}

} // namespace
