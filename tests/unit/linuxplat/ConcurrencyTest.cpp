// Every operation may be called from several threads on one device: here
// configuration, register and reset traffic run beside opens, closes and
// scans over the fake tree, and a thread that uses a handle another thread
// closed gets all ones, never a crash.
#include "FakeSysfs.h"
#include "LinuxPlatform.h"

#include <gtest/gtest.h>

#include "nvmewire/Pci.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace kxmplat;
using namespace nvmewire::pci;
using linuxplat_test::FakeSysfs;

namespace {

TEST(LinuxConcurrency, TrafficOnOneDeviceFromSeveralThreads)
{
    FakeSysfs fake;
    fake.add({.sAddress = "0000:00:03.0"});
    fake.add({.sAddress = "0000:00:04.0"});
    LinuxPlatformOptions o;
    o.sSysfsRoot = fake.root();
    o.sVfioDir = fake.root() + "/no-vfio";
    std::string sErr;
    auto plat = makeLinuxPlatform(o, &sErr);
    ASSERT_TRUE(plat) << sErr;
    const PciSlot s{0, 0, 3, 0};
    Device *pDev = nullptr;
    ASSERT_EQ(plat->openDevice(s, &pDev), 0);

    std::atomic<bool> bStop{false};
    std::atomic<int> nBad{0};
    std::vector<std::thread> threads;
    // Each register thread owns one dword and checks it reads back.
    for (uint32_t t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (uint32_t i = 0; i < 2000; ++i) {
                plat->mmioWrite32(pDev, 0x1000 + 4 * t, i);
                if (plat->mmioRead32(pDev, 0x1000 + 4 * t) != i)
                    ++nBad;
                uint32_t n = 0;
                if (plat->cfgRead(s, CFG_VENDOR_ID, &n, 4) != 0 || n != 0x00101b36u)
                    ++nBad;
                plat->cfgWrite(s, 0x80 + 4 * t, i, 4);
            }
        });
    }
    // Opens, closes and scans beside them, on the other function and on
    // handles of this one.
    threads.emplace_back([&] {
        while (!bStop) {
            Device *p = nullptr;
            if (plat->openDevice(PciSlot{0, 0, 4, 0}, &p) == 0) {
                plat->mmioRead32(p, 0);
                plat->closeDevice(p);
                plat->mmioRead32(p, 0);         // stale: all ones
            }
            Device *q = nullptr;
            if (plat->openDevice(s, &q) == 0)
                plat->closeDevice(q);
            std::vector<PciFunctionInfo> v;
            if (plat->enumerate(v, 16) != 2)
                ++nBad;
            plat->hotReset(pDev);
        }
    });
    for (size_t i = 0; i < 3; ++i)
        threads[i].join();
    bStop = true;
    threads.back().join();
    EXPECT_EQ(nBad.load(), 0);
    plat->closeDevice(pDev);
    EXPECT_EQ(plat->close(), 1);
}

} // namespace
