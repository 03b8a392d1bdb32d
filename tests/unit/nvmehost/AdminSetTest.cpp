// Optional admin command set as Identify advertises it: security protocol
// information through Security Receive, command and feature lockdown with
// its log page, capacity management refused where it is not offered, the
// Supported Log Pages log page agreeing with what Get Log Page accepts,
// and the I/O command set independent Identify Namespace data.
#include "HostFixture.h"
#include "PrpBuilder.h"
#include "nvmewire/Identify.h"
#include "nvmewire/LogPages.h"
#include "nvmewire/Status.h"

#include <nvme/types.h>

#include <algorithm>

using namespace nvmehost;
using namespace nvmewire;

namespace {

class HostAdminSet : public HostFixture {
protected:
    void SetUp() override
    {
        if (!setUpWithIo(16))
            return;
        ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    }

    // Admin command with a data buffer from the controller (PRPs).
    Completion adminIn(Sqe cmd, DmaMemory &buf, uint32_t nBytes)
    {
        PrpBuilder prp(*ctl);
        prp.build(cmd, buf.bus(), nBytes, nullptr);
        return ctl->admin(cmd);
    }

    Completion getLog(uint8_t nLid, void *pOut, uint32_t nBytes, uint8_t nLsp = 0)
    {
        DmaMemory buf = dataBuffer(nBytes, ctl->pageSize());
        Sqe cmd{};
        cmd.setOpc(0x02);
        cmd.setNsid(0xFFFFFFFF);
        const uint32_t nNumd = nBytes / 4 - 1;
        cmd.setCdw10(nLid | (uint32_t(nLsp & 0x7F) << 8) | ((nNumd & 0xFFFF) << 16));
        cmd.setCdw11(nNumd >> 16);
        Completion c = adminIn(cmd, buf, nBytes);
        std::memcpy(pOut, buf.host(), nBytes);
        return c;
    }

    Completion securityReceive(uint8_t nSecp, uint16_t nSpsp, uint32_t nAl, uint8_t *pOut)
    {
        DmaMemory buf = dataBuffer(4096, ctl->pageSize());
        std::memset(buf.host(), 0xEE, 4096);
        Sqe cmd{};
        cmd.setOpc(0x82);
        cmd.setCdw10(uint32_t(nSecp) << 24 | uint32_t(nSpsp) << 8);
        cmd.setCdw11(nAl);
        Completion c = adminIn(cmd, buf, 4096);
        std::memcpy(pOut, buf.host(), 4096);
        return c;
    }

    Completion lockdown(uint8_t nScope, bool bProhibit, uint8_t nIfc, uint8_t nId)
    {
        Sqe cmd{};
        cmd.setOpc(0x24);
        cmd.setCdw10(nScope | (bProhibit ? 0x10u : 0) | uint32_t(nIfc) << 5 | uint32_t(nId) << 8);
        return ctl->admin(cmd);
    }

    std::vector<uint8_t> lockdownList(uint8_t nScope, uint8_t nContent)
    {
        LockdownLog log{};
        Completion c = getLog(LID_CMD_FEAT_LOCKDOWN, &log, sizeof log, uint8_t(nScope | nContent << 4));
        EXPECT_TRUE(c.ok()) << "lockdown log, status " << std::hex << c.status();
        EXPECT_EQ(log.nAttributes & 0xF, nScope);
        EXPECT_EQ(log.nAttributes >> 4, nContent == LOCKDOWN_LSP_PROHIBITED ? LOCKDOWN_CT_PROHIBITED : LOCKDOWN_CT_SUPPORTED);
        return std::vector<uint8_t>(log.ids, log.ids + std::min<size_t>(log.nListLength, sizeof log.ids));
    }

    Completion features(bool bSet, uint8_t nFid, uint32_t nValue)
    {
        Sqe cmd{};
        cmd.setOpc(bSet ? 0x09 : 0x0A);
        cmd.setCdw10(nFid);
        cmd.setCdw11(nValue);
        return ctl->admin(cmd);
    }

    nvme_id_ctrl id{};
};

TEST_F(HostAdminSet, SecurityProtocolInformation)
{
    if (!(oacs(id) & OACS_SECURITY))
        GTEST_SKIP() << "Security Send/Receive not advertised";
    uint8_t a[4096];
    Completion c = securityReceive(0x00, 0x0000, 512, a);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    const uint16_t nLen = uint16_t(a[6] << 8 | a[7]);
    ASSERT_GE(nLen, 1u);
    EXPECT_TRUE(std::count(a + 8, a + 8 + nLen, 0x00) == 1) << "protocol 00h is listed";
    EXPECT_EQ(a[8], 0x00) << "the list is ascending";
    EXPECT_EQ(a[511], 0x00) << "the allocation length is filled";
    EXPECT_EQ(a[512], 0xEE) << "nothing beyond the allocation length";
    // Cut to the allocation length.
    c = securityReceive(0x00, 0x0000, 4, a);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(a[3], 0x00);
    EXPECT_EQ(a[4], 0xEE);
    const std::vector<uint8_t> listed(a + 8, a + 8 + nLen);
    c = securityReceive(0x00, 0x0001, 64, a);
    ASSERT_TRUE(c.ok()) << "certificate data, status " << std::hex << c.status();
    if (std::string(plat->name()) == "sim") {
        EXPECT_EQ(a[2] << 8 | a[3], 0) << "no certificate";
    }
    // A protocol the list does not name.
    for (unsigned nSecp = 0xEF; nSecp > 0; --nSecp)
        if (std::find(listed.begin(), listed.end(), nSecp) == listed.end()) {
            c = securityReceive(uint8_t(nSecp), 0x0000, 64, a);
            EXPECT_TRUE(c.is(0, SC_INVALID_FIELD)) << "unlisted protocol " << std::hex << nSecp << ": " << c.status();
            break;
        }
    // Protocol 00h only reports.
    Sqe send{};
    send.setOpc(0x81);
    send.setCdw10(0);
    c = ctl->admin(send);
    EXPECT_TRUE(c.is(0, SC_INVALID_FIELD)) << "Security Send to protocol 00h: " << std::hex << c.status();
    c = securityReceive(0x00, 0x0002, 64, a);
    if (std::string(plat->name()) == "sim") {
        EXPECT_TRUE(c.is(0, SC_INVALID_FIELD)) << "compliance information: " << std::hex << c.status();
    }
}

TEST_F(HostAdminSet, LockdownProhibitsAndAllowsAgain)
{
    if (!(oacs(id) & OACS_LOCKDOWN))
        GTEST_SKIP() << "command and feature lockdown not advertised";
    const std::vector<uint8_t> adminOk = lockdownList(LOCKDOWN_SCOPE_ADMIN, LOCKDOWN_LSP_SUPPORTED);
    const std::vector<uint8_t> fidOk = lockdownList(LOCKDOWN_SCOPE_SET_FEATURES, LOCKDOWN_LSP_SUPPORTED);
    ASSERT_NE(std::find(adminOk.begin(), adminOk.end(), ADMIN_FW_DOWNLOAD), adminOk.end());
    EXPECT_EQ(std::find(adminOk.begin(), adminOk.end(), ADMIN_LOCKDOWN), adminOk.end()) << "Lockdown stays allowed";
    ASSERT_NE(std::find(fidOk.begin(), fidOk.end(), NVME_FEAT_FID_TIMESTAMP), fidOk.end());
    EXPECT_TRUE(lockdownList(LOCKDOWN_SCOPE_ADMIN, LOCKDOWN_LSP_PROHIBITED).empty());

    ASSERT_TRUE(lockdown(LOCKDOWN_SCOPE_ADMIN, true, LOCKDOWN_IFC_ADMIN_SQ, ADMIN_FW_DOWNLOAD).ok());
    ASSERT_TRUE(lockdown(LOCKDOWN_SCOPE_SET_FEATURES, true, LOCKDOWN_IFC_BOTH, NVME_FEAT_FID_TIMESTAMP).ok());
    EXPECT_EQ(lockdownList(LOCKDOWN_SCOPE_ADMIN, LOCKDOWN_LSP_PROHIBITED), std::vector<uint8_t>{ADMIN_FW_DOWNLOAD});
    EXPECT_EQ(lockdownList(LOCKDOWN_SCOPE_SET_FEATURES, LOCKDOWN_LSP_PROHIBITED),
              std::vector<uint8_t>{NVME_FEAT_FID_TIMESTAMP});

    DmaMemory img = dataBuffer(4096, ctl->pageSize());
    Sqe dl{};
    dl.setOpc(ADMIN_FW_DOWNLOAD);
    dl.setCdw10(4096 / 4 - 1);
    Completion c = adminIn(dl, img, 4096);
    EXPECT_TRUE(c.is(0, SC_PROHIBITED_BY_LOCKDOWN)) << "prohibited command: " << std::hex << c.status();
    c = features(true, NVME_FEAT_FID_TIMESTAMP, 0);
    EXPECT_TRUE(c.is(0, SC_PROHIBITED_BY_LOCKDOWN)) << "prohibited feature: " << std::hex << c.status();
    EXPECT_TRUE(features(false, NVME_FEAT_FID_ARBITRATION, 0).ok()) << "Get Features stays";
    EXPECT_TRUE(features(true, NVME_FEAT_FID_ARBITRATION, 0).ok()) << "other features stay";

    // What cannot be prohibited, and bad requests.
    c = lockdown(LOCKDOWN_SCOPE_ADMIN, true, LOCKDOWN_IFC_ADMIN_SQ, ADMIN_LOCKDOWN);
    EXPECT_TRUE(c.is(1, SC_PROHIBITION_NOT_SUPPORTED)) << "Lockdown itself: " << std::hex << c.status();
    if (std::find(adminOk.begin(), adminOk.end(), ADMIN_CAP_MGMT) == adminOk.end()) {
        c = lockdown(LOCKDOWN_SCOPE_ADMIN, true, LOCKDOWN_IFC_ADMIN_SQ, ADMIN_CAP_MGMT);
        EXPECT_TRUE(c.is(1, SC_PROHIBITION_NOT_SUPPORTED)) << "unsupported opcode: " << std::hex << c.status();
    }
    c = lockdown(0x1, true, LOCKDOWN_IFC_ADMIN_SQ, ADMIN_FW_DOWNLOAD);
    EXPECT_TRUE(c.is(0, SC_INVALID_FIELD)) << "reserved scope: " << std::hex << c.status();
    c = lockdown(LOCKDOWN_SCOPE_ADMIN, true, 3, ADMIN_FW_DOWNLOAD);
    EXPECT_TRUE(c.is(0, SC_INVALID_FIELD)) << "reserved interface: " << std::hex << c.status();

    // Allowed again: the commands run, the lists are empty.
    ASSERT_TRUE(lockdown(LOCKDOWN_SCOPE_ADMIN, false, LOCKDOWN_IFC_ADMIN_SQ, ADMIN_FW_DOWNLOAD).ok());
    ASSERT_TRUE(lockdown(LOCKDOWN_SCOPE_SET_FEATURES, false, LOCKDOWN_IFC_BOTH, NVME_FEAT_FID_TIMESTAMP).ok());
    EXPECT_TRUE(lockdownList(LOCKDOWN_SCOPE_ADMIN, LOCKDOWN_LSP_PROHIBITED).empty());
    EXPECT_TRUE(lockdownList(LOCKDOWN_SCOPE_SET_FEATURES, LOCKDOWN_LSP_PROHIBITED).empty());
    c = adminIn(dl, img, 4096);
    EXPECT_FALSE(c.is(0, SC_PROHIBITED_BY_LOCKDOWN)) << std::hex << c.status();
    c = features(true, NVME_FEAT_FID_TIMESTAMP, 0);
    EXPECT_FALSE(c.is(0, SC_PROHIBITED_BY_LOCKDOWN)) << std::hex << c.status();
}

TEST_F(HostAdminSet, ManagementInterfaceLockdownIsRecorded)
{
    if (!(oacs(id) & OACS_LOCKDOWN) || std::string(plat->name()) != "sim")
        GTEST_SKIP() << "needs the simulated controller's lockdown";
    // No management endpoint is modelled: the prohibition is kept and
    // reported, the admin queue is not affected.
    ASSERT_TRUE(lockdown(LOCKDOWN_SCOPE_MI, true, LOCKDOWN_IFC_MI, 0x05).ok());
    ASSERT_TRUE(lockdown(LOCKDOWN_SCOPE_ADMIN, true, LOCKDOWN_IFC_MI, ADMIN_IDENTIFY).ok());
    EXPECT_EQ(lockdownList(LOCKDOWN_SCOPE_MI, LOCKDOWN_LSP_PROHIBITED), std::vector<uint8_t>{0x05});
    EXPECT_TRUE(lockdownList(LOCKDOWN_SCOPE_ADMIN, LOCKDOWN_LSP_PROHIBITED).empty());
    uint8_t a[4096];
    EXPECT_TRUE(ctl->identify(CNS_CTRL, 0, 0, a).ok()) << "prohibited on the management endpoint only";
    Completion c = lockdown(LOCKDOWN_SCOPE_MI, true, LOCKDOWN_IFC_ADMIN_SQ, 0x05);
    EXPECT_TRUE(c.is(0, SC_INVALID_FIELD)) << "management commands never reach the admin queue: " << std::hex
                                           << c.status();
    c = getLog(LID_CMD_FEAT_LOCKDOWN, a, 512, 0x7);
    EXPECT_TRUE(c.is(0, SC_INVALID_FIELD)) << "reserved scope in the log request: " << std::hex << c.status();
}

TEST_F(HostAdminSet, CapacityManagementIsRefusedWhenNotOffered)
{
    constexpr uint32_t kFixedCapMgmt = 1u << 11, kVariableCapMgmt = 1u << 12;
    if (ctratt(id) & (kFixedCapMgmt | kVariableCapMgmt))
        GTEST_SKIP() << "the controller offers capacity management";
    Sqe cmd{};
    cmd.setOpc(ADMIN_CAP_MGMT);
    cmd.setCdw10(0x0);   // select capacity configuration 0
    Completion c = ctl->admin(cmd);
    EXPECT_TRUE(c.is(0, SC_INVALID_OPCODE)) << std::hex << c.status();
    nvme_cmd_effects_log effects{};
    if (getLog(LID_CMD_EFFECTS, &effects, sizeof effects).ok()) {
        EXPECT_EQ(effects.acs[ADMIN_CAP_MGMT], 0u) << "not among the supported commands";
    }
}

TEST_F(HostAdminSet, SupportedLogPagesAgreeWithGetLogPage)
{
    nvme_supported_log_pages supp{};
    Completion c = getLog(LID_SUPPORTED_LOG_PAGES, &supp, sizeof supp);
    // (Some controllers refuse a log page they do not know with Invalid
    // Field in Command.)
    if (c.is(1, SC_INVALID_LOG_PAGE) || c.is(0, SC_INVALID_FIELD))
        GTEST_SKIP() << "no Supported Log Pages log page, status " << std::hex << c.status();
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    auto supported = [&](uint8_t nLid) { return (supp.lid_support[nLid] & LID_SUPP_LSUPP) != 0; };
    EXPECT_TRUE(supported(LID_SUPPORTED_LOG_PAGES));
    EXPECT_TRUE(supported(LID_ERROR));
    EXPECT_TRUE(supported(LID_SMART));
    EXPECT_TRUE(supported(LID_FW_SLOT));
    for (unsigned nLid = 1; nLid < 256; ++nLid) {
        uint8_t a[512];
        c = getLog(uint8_t(nLid), a, sizeof a);
        EXPECT_EQ(!c.is(1, SC_INVALID_LOG_PAGE), supported(uint8_t(nLid)))
            << "log page " << std::hex << nLid << ": status " << c.status();
    }
    // Identify agrees.
    EXPECT_EQ((id.lpa & LPA_CMD_EFFECTS) != 0, supported(LID_CMD_EFFECTS));
    EXPECT_EQ((id.lpa & LPA_TELEMETRY) != 0, supported(LID_TELEMETRY_HOST) && supported(LID_TELEMETRY_CTRL));
    EXPECT_EQ((id.lpa & LPA_PERSISTENT_EVENT) != 0, supported(LID_PERSISTENT_EVENT));
    EXPECT_EQ(sanicap(id) != 0, supported(LID_SANITIZE));
    EXPECT_EQ((oacs(id) & OACS_LOCKDOWN) != 0, supported(LID_CMD_FEAT_LOCKDOWN));
    // So do the commands supported and effects.
    nvme_cmd_effects_log effects{};
    if (supported(LID_CMD_EFFECTS)) {
        ASSERT_TRUE(getLog(LID_CMD_EFFECTS, &effects, sizeof effects).ok());
        EXPECT_EQ((effects.acs[ADMIN_SANITIZE] & 1) != 0, sanicap(id) != 0);
        EXPECT_EQ((effects.acs[ADMIN_SECURITY_RECV] & 1) != 0, (oacs(id) & OACS_SECURITY) != 0);
        EXPECT_EQ((effects.acs[ADMIN_SECURITY_SEND] & 1) != 0, (oacs(id) & OACS_SECURITY) != 0);
        EXPECT_EQ((effects.acs[ADMIN_LOCKDOWN] & 1) != 0, (oacs(id) & OACS_LOCKDOWN) != 0);
    }
}

TEST_F(HostAdminSet, IndependentIdentifyNamespace)
{
    NamespaceInfo ns = firstNamespace();
    alignas(8) uint8_t a[4096];
    Completion c = ctl->identify(CNS_CSI_INDEPENDENT_NS, ns.nNsid, 0, a);
    if (c.is(0, SC_INVALID_FIELD))
        GTEST_SKIP() << "CNS 08h not supported";
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    nvme_id_independent_id_ns ind;
    std::memcpy(&ind, a, sizeof ind);
    nvme_id_ns full;
    ASSERT_TRUE(ctl->identify(CNS_NS, ns.nNsid, 0, &full).ok());
    EXPECT_EQ(ind.nsfeat, full.nsfeat);
    EXPECT_EQ(ind.nmic, full.nmic);
    EXPECT_EQ(ind.rescap, full.rescap);
    EXPECT_EQ(ind.nstat & 1, 1) << "namespace ready";

    c = ctl->identify(CNS_CSI_INDEPENDENT_NS, 0, 0, a);
    EXPECT_TRUE(c.is(0, SC_INVALID_NS)) << "NSID 0: " << std::hex << c.status();
    c = ctl->identify(CNS_CSI_INDEPENDENT_NS, 0xFFFFFFFF, 0, a);
    EXPECT_TRUE(c.is(0, SC_INVALID_NS)) << "broadcast NSID: " << std::hex << c.status();
    c = ctl->identify(CNS_CSI_INDEPENDENT_NS, nn(id) + 1, 0, a);
    EXPECT_TRUE(c.is(0, SC_INVALID_NS)) << "NSID beyond NN: " << std::hex << c.status();
    // An inactive NSID gives zeros.
    const std::vector<uint32_t> active = activeNamespaces(*ctl);
    for (uint32_t n = 1; n <= nn(id) && n < 64; ++n) {
        if (std::find(active.begin(), active.end(), n) != active.end())
            continue;
        std::memset(a, 0xEE, sizeof a);
        c = ctl->identify(CNS_CSI_INDEPENDENT_NS, n, 0, a);
        ASSERT_TRUE(c.ok()) << "inactive NSID " << n << ": " << std::hex << c.status();
        EXPECT_EQ(std::count(a, a + sizeof a, 0), 4096) << "inactive NSID " << n;
        break;
    }
}

} // namespace
