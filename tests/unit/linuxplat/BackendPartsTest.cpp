// Pieces of the linux backend that need no device: PCI addresses, the
// device list, bus-address ranges, hugepage sizes and hugepage memory.
#include "DeviceSelection.h"
#include "HugepageMemory.h"
#include "IovaRanges.h"
#include "PciAddress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>

using namespace kxmplat;
using namespace kxmplat::linuxplat;

namespace {

TEST(PciAddress, ParsesBothSpellingsAndFormatsCanonically)
{
    PciSlot s;
    ASSERT_TRUE(parsePciAddress("0000:3a:00.1", &s));
    EXPECT_EQ(s.nDomain, 0u);
    EXPECT_EQ(s.nBus, 0x3Au);
    EXPECT_EQ(s.nDevice, 0u);
    EXPECT_EQ(s.nFunction, 1u);
    ASSERT_TRUE(parsePciAddress("10000:00:1F.7", &s) == false);
    ASSERT_TRUE(parsePciAddress("ABCD:FF:1F.7", &s));
    EXPECT_EQ(formatPciAddress(s), "abcd:ff:1f.7");
    ASSERT_TRUE(parsePciAddress("02:01.0", &s));
    EXPECT_EQ(formatPciAddress(s), "0000:02:01.0");
    for (const char *sz : {"", "0000:00:00", "0000:00:00.", "0000:0:00.0", "00:00.0x", "0000:00:20.0",
                           "0000:00:00.8", "g000:00:00.0", "0000:00:00:00.0", "0000-00-00.0"})
        EXPECT_FALSE(parsePciAddress(sz, &s)) << sz;
}

TEST(DeviceSelection, RoutesFollowTheBoundDriver)
{
    EXPECT_EQ(routeForDriver(""), Route::Sysfs);
    EXPECT_EQ(routeForDriver("uio_pci_generic"), Route::Sysfs);
    EXPECT_EQ(routeForDriver("vfio-pci"), Route::Vfio);
    for (const char *sz : {"nvme", "ahci", "pcieport", "vfio", "uio", "igb_uio"})
        EXPECT_EQ(routeForDriver(sz), Route::None) << sz;
    EXPECT_TRUE(isNvmeClass(0x010802));
    EXPECT_TRUE(isNvmeClass(0x010803));
    EXPECT_FALSE(isNvmeClass(0x010801));
    EXPECT_FALSE(isNvmeClass(0x010601));

    SysfsFunction f;
    f.sAddress = "0000:00:03.0";
    f.nClass = 0x010802;
    f.sDriver = "nvme";
    DeviceFilter all;
    EXPECT_EQ(refusalReason(f, all), "bound to the kernel driver 'nvme'");
    f.sDriver = "";
    EXPECT_EQ(refusalReason(f, all), "");
    DeviceFilter some;
    ASSERT_TRUE(DeviceFilter::parse(" 0000:00:04.0 ", &some, nullptr));
    EXPECT_EQ(refusalReason(f, some), "not named in KXM_NVME_DEVICES");
    f.nClass = 0x030000;
    EXPECT_EQ(refusalReason(f, all), "not an NVMe function");
}

TEST(IovaRanges, FirstFitPageGranularWithCoalescing)
{
    IovaRanges r(0x100000, 0x10000, 0x1000);
    uint64_t a = r.allocate(1);
    uint64_t b = r.allocate(0x1001);
    uint64_t c = r.allocate(0x3000);
    EXPECT_EQ(a, 0x100000u);
    EXPECT_EQ(b, 0x101000u);
    EXPECT_EQ(c, 0x103000u);
    EXPECT_EQ(r.allocate(0), 0u);
    EXPECT_EQ(r.allocate(0x10000), 0u) << "no room left for the whole window";
    EXPECT_FALSE(r.release(0x100800)) << "not an address it gave";
    EXPECT_TRUE(r.release(b));
    EXPECT_FALSE(r.release(b)) << "twice";
    EXPECT_EQ(r.allocate(0x2000), b) << "the hole is reused";
    EXPECT_TRUE(r.release(a));
    EXPECT_TRUE(r.release(b));
    EXPECT_TRUE(r.release(c));
    EXPECT_EQ(r.freeBytes(), 0x10000u);
    EXPECT_EQ(r.allocate(0x10000), 0x100000u) << "freed neighbours merge back into one range";
    EXPECT_EQ(r.allocate(UINT64_MAX), 0u);
}

TEST(HugepageMemory, SizeComesFromMeminfo)
{
    EXPECT_EQ(hugepageSizeFromMeminfo("MemTotal: 1 kB\nHugepagesize:    2048 kB\n"), size_t(2) << 20);
    EXPECT_EQ(hugepageSizeFromMeminfo("Hugepagesize: 1048576 kB\n"), size_t(1) << 30);
    EXPECT_EQ(hugepageSizeFromMeminfo(""), size_t(2) << 20);
    EXPECT_EQ(hugepageSizeFromMeminfo("Hugepagesize: 3000 kB\n"), size_t(2) << 20);
}

// Needs hugepages reserved and root for the physical addresses; skipped
// where the machine has neither.
TEST(HugepageMemory, BuffersAreCarvedFromOneHugepageAtPhysicalAddresses)
{
    HugepageMemory mem;
    const size_t nHuge = mem.hugepageSize();
    void *p = nullptr;
    uint64_t nBus = 0;
    std::string sErr;
    EXPECT_FALSE(mem.allocate(nHuge + 1, &p, &nBus, &sErr));
    EXPECT_NE(sErr.find("larger than one hugepage"), std::string::npos) << sErr;
    EXPECT_FALSE(mem.allocate(0, &p, &nBus, &sErr));
    if (!mem.allocate(100, &p, &nBus, &sErr))
        GTEST_SKIP() << sErr;
    EXPECT_EQ(nBus % 4096, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
    void *q = nullptr;
    uint64_t nBusQ = 0;
    ASSERT_TRUE(mem.allocate(3 * 4096, &q, &nBusQ, &sErr)) << sErr;
    // Same hugepage: host and bus addresses keep their distance.
    EXPECT_EQ(int64_t(nBusQ - nBus), static_cast<uint8_t *>(q) - static_cast<uint8_t *>(p));
    std::memset(q, 0xA5, 3 * 4096);
    EXPECT_FALSE(mem.release(static_cast<uint8_t *>(q) + 4096)) << "inside a buffer";
    EXPECT_TRUE(mem.release(q));
    EXPECT_FALSE(mem.release(q));
    void *r = nullptr;
    ASSERT_TRUE(mem.allocate(nHuge, &r, &nBusQ, &sErr)) << sErr;     // a whole second hugepage
    EXPECT_TRUE(mem.release(r));
    EXPECT_TRUE(mem.release(p));
}

} // namespace
