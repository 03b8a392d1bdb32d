// Identify data: controller, namespaces, lists, and the statuses for
// requests that name nothing.
#include "HostFixture.h"

#include "nvmewire/Identify.h"
#include "nvmewire/Opcodes.h"
#include "nvmewire/Status.h"

#include <nvme/types.h>

using namespace nvmehost;
using namespace nvmewire;
using namespace nvmewire::pci;

namespace {

using HostIdentify = HostFixture;

// ASCII fields are printable and padded with spaces, never NUL.
void expectAsciiField(const char *p, size_t n, const char *szName)
{
    bool bPrintable = true;
    for (size_t i = 0; i < n; ++i)
        bPrintable = bPrintable && p[i] >= 0x20 && p[i] <= 0x7E;
    EXPECT_TRUE(bPrintable) << szName << " holds non-printable bytes";
    EXPECT_NE(p[0], ' ') << szName << " is blank or left-padded";
}

TEST_F(HostIdentify, ControllerFieldsMatchRegistersAndConfigSpace)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    nvme_id_ctrl id;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    EXPECT_EQ(id.vid, cfgRead(*plat, slot, CFG_VENDOR_ID, 2));
    EXPECT_EQ(id.ssvid, cfgRead(*plat, slot, 0x2C, 2)) << "subsystem vendor id";
    expectAsciiField(id.sn, sizeof id.sn, "SN");
    expectAsciiField(id.mn, sizeof id.mn, "MN");
    expectAsciiField(id.fr, sizeof id.fr, "FR");
    EXPECT_EQ(id.ver, ctl->reg32(REG_VS));
    EXPECT_EQ(id.sqes & 0xF, 6) << "required SQ entry size 64 bytes";
    EXPECT_GE(id.sqes >> 4, 6);
    EXPECT_EQ(id.cqes & 0xF, 4) << "required CQ entry size 16 bytes";
    EXPECT_GE(id.cqes >> 4, 4);
    EXPECT_GE(id.nn, 1u);
    if (id.mdts) {
        EXPECT_GE((size_t(1) << id.mdts) * ctl->pageSize(), 4096u);
    }
}

TEST_F(HostIdentify, ActiveNamespacesAreAscendingAndDescribed)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    nvme_id_ctrl idc;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &idc).ok());
    auto v = activeNamespaces(*ctl);
    ASSERT_FALSE(v.empty());
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_LE(v[i], idc.nn);
        if (i) {
            EXPECT_LT(v[i - 1], v[i]);
        }
        NamespaceInfo ns;
        ASSERT_TRUE(readNamespaceInfo(*ctl, v[i], &ns)) << "nsid " << v[i];
        EXPECT_GT(ns.nSize, 0u);
        EXPECT_LE(ns.nCapacity, ns.nSize);
        EXPECT_GE(ns.nBlockSize, 512u);
        EXPECT_EQ(ns.nBlockSize & (ns.nBlockSize - 1), 0u);
    }
    // The list starting after the last id is empty.
    uint32_t aList[1024];
    ASSERT_TRUE(ctl->identify(CNS_NS_ACTIVE_LIST, v.back(), 0, aList).ok());
    EXPECT_EQ(aList[0], 0u);
}

TEST_F(HostIdentify, NamespaceIdsThatNameNothing)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    nvme_id_ctrl idc;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &idc).ok());
    uint8_t aBuf[4096];
    // Beyond NN: Invalid Namespace or Format.
    Completion c = ctl->identify(CNS_NS, idc.nn + 1, 0, aBuf);
    EXPECT_TRUE(c.is(0, 0x0B)) << std::hex << c.status();
    // 0xFFFFFFFF: the common namespace capabilities (with namespace
    // management) or an invalid namespace.
    c = ctl->identify(CNS_NS, 0xFFFFFFFFu, 0, aBuf);
    EXPECT_TRUE(c.ok() || c.is(0, 0x0B)) << std::hex << c.status();
    // The active list refuses 0xFFFFFFFE and 0xFFFFFFFF.
    c = ctl->identify(CNS_NS_ACTIVE_LIST, 0xFFFFFFFFu, 0, aBuf);
    EXPECT_TRUE(c.is(0, 0x0B)) << std::hex << c.status();
}

TEST_F(HostIdentify, ReservedCnsIsInvalidField)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    uint8_t aBuf[4096];
    Completion c = ctl->identify(0xFE, 0, 0, aBuf);
    EXPECT_TRUE(c.is(0, 0x02)) << std::hex << c.status();
}

TEST_F(HostIdentify, NamespaceDescriptorsCarryAUniqueId)
{
    ASSERT_NO_FATAL_FAILURE(bringUp());
    auto v = activeNamespaces(*ctl);
    ASSERT_FALSE(v.empty());
    uint8_t aBuf[4096];
    Completion c = ctl->identify(CNS_NS_DESC_LIST, v[0], 0, aBuf);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    // Descriptors: type, length, two reserved bytes, then the id. At least
    // one of EUI64 (1), NGUID (2) or UUID (3) is present.
    bool bFound = false;
    for (size_t n = 0; n + 4 <= sizeof aBuf && aBuf[n] != 0;) {
        uint8_t nType = aBuf[n], nLen = aBuf[n + 1];
        if (nType >= 1 && nType <= 3)
            bFound = true;
        if (nLen == 0)
            break;
        n += 4 + nLen;
    }
    EXPECT_TRUE(bFound);
}

TEST_F(HostIdentify, DataGoesThroughAnUnalignedPrp1)
{
    // PRP1 may start anywhere in a page (dword aligned); the data then
    // runs on into the page PRP2 names.
    ASSERT_NO_FATAL_FAILURE(bringUp());
    nvme_id_ctrl ref;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &ref).ok());
    size_t nPage = ctl->pageSize();
    DmaMemory buf = dataBuffer(2 * nPage, nPage);
    Sqe cmd{};
    cmd.setOpc(0x06);
    cmd.setCdw10(0x01);
    cmd.setPrp1(buf.bus() + nPage - 100);
    cmd.setPrp2(buf.bus() + nPage);
    // A small canary in front of the data must survive.
    std::memset(buf.host(), 0xA5, nPage - 100);
    Completion c = ctl->admin(cmd);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(std::memcmp(buf.host() + nPage - 100, &ref, 4096), 0);
    EXPECT_EQ(buf.host()[nPage - 101], 0xA5);
}

TEST_F(HostIdentify, OptionalCommandsAreAnsweredAsAdvertised)
{
    // Only commands that change nothing are sent: an advertised one must not
    // be refused as unknown, one not advertised must be.
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo());
    nvme_id_ctrl id;
    ASSERT_TRUE(ctl->identify(0x01, 0, 0, &id).ok());
    const NamespaceInfo ns = firstNamespace();
    DmaMemory buf = dataBuffer(4096);
    auto admin = [&](uint8_t nOpc, uint32_t nNsid, uint32_t nCdw10, uint32_t nCdw11 = 0, uint32_t nCdw12 = 0) {
        Sqe e = Sqe::make(nOpc, nNsid);
        e.setPrp1(buf.bus());
        e.setCdw10(nCdw10);
        e.setCdw11(nCdw11);
        e.setCdw12(nCdw12);
        return ctl->admin(e);
    };
    auto check = [](const Completion &c, bool bAdvertised, const char *szWhat) {
        ASSERT_FALSE(c.bTimedOut) << szWhat;
        EXPECT_EQ(c.is(SCT_GENERIC, SC_INVALID_OPCODE), !bAdvertised)
            << szWhat << (bAdvertised ? " is advertised but unknown" : " is not advertised but answered")
            << ", status " << std::hex << c.status();
    };
    // Receive-direction admin commands: Security Receive (protocol 00h),
    // Directive Receive (identify, return parameters), Get LBA Status of one
    // block, and the doorbell buffer and virtualization commands only when
    // they are not advertised (their probes would change state).
    check(admin(ADMIN_SECURITY_RECV, 0, 0, 4096), id.oacs & OACS_SECURITY, "Security Receive");
    check(admin(ADMIN_DIRECTIVE_RECV, ns.nNsid, 1023, 0x01), id.oacs & OACS_DIRECTIVES, "Directive Receive");
    check(admin(ADMIN_GET_LBA_STATUS, ns.nNsid, 0, 0, 1023), id.oacs & OACS_LBA_STATUS, "Get LBA Status");
    if (!(id.oacs & OACS_VIRT_MGMT))
        check(admin(ADMIN_VIRTUAL_MGMT, 0, 0), false, "Virtualization Management");
    if (!(id.oacs & OACS_DBBUF_CFG))
        check(admin(ADMIN_DBBUF, 0, 0), false, "Doorbell Buffer Config");
    // NVM commands that read: Compare, Verify, Reservation Report.
    check(io(NVM_COMPARE, ns.nNsid, 0, 1, buf), id.oncs & ONCS_COMPARE, "Compare");
    check(io(NVM_VERIFY, ns.nNsid, 0, 1, buf), id.oncs & ONCS_VERIFY, "Verify");
    Sqe rr = Sqe::make(NVM_RESV_REPORT, ns.nNsid);
    rr.setPrp1(buf.bus());
    rr.setCdw10(1023);
    check(ctl->execute(*ctl->sq(1), rr), id.oncs & ONCS_RESERVATIONS, "Reservation Report");
}

} // namespace
