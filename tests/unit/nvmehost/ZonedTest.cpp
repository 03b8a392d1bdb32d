// Zoned namespaces: command set selection, every zone state transition of
// Zone Management Send, the write pointer and resource checks of writes
// and appends, zone reports, the Changed Zone List and what survives a
// power loss. The zoned namespace is found through the command set
// Identify data (CNS 07h, CSI 02h), so the tests run against any controller
// that has one; checks that need the configured simulator skip elsewhere.
#include "HostFixture.h"
#include "PrpBuilder.h"
#include "SimBackend.h"
#include "nvmesim/Bus.h"
#include "nvmewire/Status.h"
#include "nvmewire/Zoned.h"

#include <nvme/types.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

constexpr uint16_t kInvalidTransition = SC_ZONE_INVALID_TRANSITION;

class Zoned : public HostFixture {
protected:
    std::string simConfig() const override
    {
        std::string sFile = backingFile();
        return R"({"devices": [{
            "controllers": [{"zasl": 1, "mdts": 5}],
            "namespaces": [{"nsid": 1, "size": "8M"},
                           {"nsid": 2, "size": "8M", "type": "zoned",
                            "zoned": {"zoneSize": "1M", "zoneCapacity": "768K", "maxActive": 4, "maxOpen": 2,
                                      "descriptorExtension": 64}},
                           {"nsid": 3, "size": "1M", "type": "kv"})" +
               (sFile.empty() ? std::string() :
                                R"(, {"nsid": 4, "size": "4M", "type": "zoned", "backingFile": ")" + sFile +
                                    R"(", "zoned": {"zoneSize": "1M"}})") +
               "]}]}";
    }
    virtual std::string backingFile() const { return ""; }

    void SetUp() override
    {
        HostFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (!(ctl->caps().css() & CAP_CSS_CSI))
            GTEST_SKIP() << "CAP.CSS offers no I/O command sets";
        nCcCss = CC_CSS_CSI;
        ASSERT_NO_FATAL_FAILURE(bringUpWithIo(64));
        ASSERT_NO_FATAL_FAILURE(findZoned());
    }

    // The first zoned namespace and its geometry; skips without one.
    void findZoned()
    {
        uint32_t list[1024] = {};
        Completion c = identifyCsi(CNS_CSI_NS_ACTIVE_LIST, 0, CSI_ZNS, list);
        if (!c.ok())
            GTEST_SKIP() << "the controller has no zoned command set";
        if (!list[0])
            GTEST_SKIP() << "no zoned namespace";
        nNsid = list[0];
        ASSERT_TRUE(readNamespaceInfo(*ctl, nNsid, &info));
        IdNsZoned id{};
        c = identifyCsi(CNS_CSI_NS, nNsid, CSI_ZNS, &id);
        ASSERT_TRUE(c.ok()) << std::hex << c.status();
        nZoneSize = id.lbafe[info.nFormatIndex].zsze;
        nExtSize = id.lbafe[info.nFormatIndex].zdes * 64u;
        nMaxActive = id.mar == 0xFFFFFFFF ? 0 : id.mar + 1;
        nMaxOpen = id.mor == 0xFFFFFFFF ? 0 : id.mor + 1;
        bReadAcross = id.ozcs & OZCS_READ_ACROSS_ZONES;
        IdCtrlZoned idc{};
        ASSERT_TRUE(identifyCsi(CNS_CSI_CTRL, 0, CSI_ZNS, &idc).ok());
        nZasl = idc.zasl;
        ASSERT_GT(nZoneSize, 0u);
        nZones = info.nSize / nZoneSize;
        ASSERT_GE(nZones, 5u) << "the tests need five zones";
        ASSERT_TRUE(zms(0, ZSA_RESET, true).ok());
        std::vector<ZoneDesc> z = report(0, ZRAS_ALL, false, 64 + 64, nullptr);
        ASSERT_EQ(z.size(), 1u);
        nZoneCap = z[0].zcap;
        ASSERT_GE(nZoneCap, 64u);
    }

    Completion identifyCsi(uint8_t nCns, uint32_t nId, uint8_t nCsi, void *pOut)
    {
        DmaMemory b = dataBuffer(4096, 4096);
        Sqe e = Sqe::make(ADMIN_IDENTIFY, nId);
        e.setCdw10(nCns);
        e.setCdw11(uint32_t(nCsi) << 24);
        e.setPrp1(b.bus());
        Completion c = ctl->admin(e);
        std::memcpy(pOut, b.host(), 4096);
        return c;
    }

    Completion ioCmd(Sqe e, DmaMemory *pBuf = nullptr, size_t nLen = 0)
    {
        PrpBuilder prp(*ctl);   // its lists live until the command completes
        if (pBuf) {
            std::string sErr;
            EXPECT_TRUE(prp.build(e, pBuf->bus(), nLen, &sErr)) << sErr;
        }
        return ctl->execute(*ctl->sq(1), e);
    }

    uint64_t zone(uint64_t i) const { return i * nZoneSize; }

    Completion zms(uint64_t nSlba, uint8_t nAction, bool bAll = false, DmaMemory *pExt = nullptr)
    {
        Sqe e = Sqe::make(ZNS_MGMT_SEND, nNsid);
        e.setCdw10(uint32_t(nSlba));
        e.setCdw11(uint32_t(nSlba >> 32));
        e.setCdw13(nAction | (bAll ? ZMS_SELECT_ALL : 0));
        return ioCmd(e, pExt, nExtSize);
    }

    // Zone Management Receive of nBytes; the descriptors and (pExt) their
    // extensions, the number of zones from the header in *pCount.
    std::vector<ZoneDesc> report(uint64_t nSlba, uint8_t nOption, bool bPartial, size_t nBytes, uint64_t *pCount,
                                 bool bExtended = false, std::vector<uint8_t> *pExt = nullptr, Completion *pC = nullptr)
    {
        DmaMemory b = dataBuffer(nBytes, 4096);
        std::memset(b.host(), 0xEE, nBytes);
        Sqe e = Sqe::make(ZNS_MGMT_RECV, nNsid);
        e.setCdw10(uint32_t(nSlba));
        e.setCdw11(uint32_t(nSlba >> 32));
        e.setCdw12(uint32_t(nBytes / 4 - 1));
        e.setCdw13(zmrCdw13(bExtended ? ZRA_EXTENDED_REPORT : ZRA_REPORT, nOption, bPartial));
        Completion c = ioCmd(e, &b, nBytes);
        if (pC)
            *pC = c;
        std::vector<ZoneDesc> out;
        if (!c.ok()) {
            if (!pC)
                ADD_FAILURE() << "report status " << std::hex << c.status();
            return out;
        }
        uint64_t nCount = 0;
        std::memcpy(&nCount, b.host(), 8);
        if (pCount)
            *pCount = nCount;
        const size_t nEntry = 64 + (bExtended ? nExtSize : 0);
        const uint64_t nFit = (nBytes - 64) / nEntry;
        const uint64_t nHere = bPartial ? nCount : std::min(nCount, nFit);
        for (uint64_t i = 0; i < nHere && i < nFit; ++i) {
            ZoneDesc d;
            std::memcpy(&d, b.host() + 64 + i * nEntry, 64);
            out.push_back(d);
            if (pExt)
                pExt->insert(pExt->end(), b.host() + 64 + i * nEntry + 64, b.host() + 64 + (i + 1) * nEntry);
        }
        return out;
    }

    ZoneDesc desc(uint64_t nZslba)
    {
        std::vector<ZoneDesc> z = report(nZslba, ZRAS_ALL, true, 128, nullptr);
        EXPECT_EQ(z.size(), 1u);
        return z.empty() ? ZoneDesc{} : z[0];
    }
    uint8_t state(uint64_t nZslba) { return zoneState(desc(nZslba)); }

    Completion write(uint64_t nSlba, uint32_t nBlocks, uint8_t nOpc = NVM_WRITE, uint32_t nSeed = 1, bool bFua = false)
    {
        DmaMemory b = dataBuffer(size_t(nBlocks) * info.nBlockSize, 4096);
        fillPattern(b.host(), size_t(nBlocks) * info.nBlockSize, nSeed);
        Sqe e = makeRw(nOpc, nNsid, nSlba, nBlocks);
        if (bFua)
            e.setCdw12(e.cdw12() | CDW12_FUA);
        return ioCmd(e, &b, size_t(nBlocks) * info.nBlockSize);
    }
    Completion read(uint64_t nSlba, uint32_t nBlocks, DmaMemory &b)
    {
        return ioCmd(makeRw(NVM_READ, nNsid, nSlba, nBlocks), &b, size_t(nBlocks) * info.nBlockSize);
    }

    // Puts zone i into a state reachable by host commands alone.
    void prepare(uint64_t i, uint8_t nState)
    {
        ASSERT_TRUE(zms(zone(i), ZSA_RESET).ok());
        switch (nState) {
        case ZS_IMPLICIT_OPEN: ASSERT_TRUE(write(zone(i), 1).ok()); break;
        case ZS_EXPLICIT_OPEN: ASSERT_TRUE(zms(zone(i), ZSA_OPEN).ok()); break;
        case ZS_CLOSED:
            ASSERT_TRUE(write(zone(i), 1).ok());
            ASSERT_TRUE(zms(zone(i), ZSA_CLOSE).ok());
            break;
        case ZS_FULL: ASSERT_TRUE(zms(zone(i), ZSA_FINISH).ok()); break;
        default: break;
        }
        ASSERT_EQ(state(zone(i)), nState);
    }

    uint32_t nNsid = 0;
    NamespaceInfo info;
    uint64_t nZoneSize = 0, nZoneCap = 0, nZones = 0;
    uint32_t nExtSize = 0, nMaxActive = 0, nMaxOpen = 0;
    uint8_t nZasl = 0;
    bool bReadAcross = false;
};

// ------------------------------------------------------ command set choice

TEST_F(Zoned, CommandSetsAreSelectedAndIdentified)
{
    nvme_id_iocs iocs{};
    ASSERT_TRUE(identifyCsi(CNS_COMMAND_SET_STRUCTURE, 0, 0, &iocs).ok());
    EXPECT_TRUE(iocs.iocsc[0] & IOCS_ZNS) << "combination 0 (the default) has the zoned command set";
    uint32_t nProfile = 99;
    {
        Sqe e = Sqe::make(ADMIN_GET_FEATURES);
        e.setCdw10(FEAT_IOCS_PROFILE);
        Completion c = ctl->admin(e);
        ASSERT_TRUE(c.ok()) << std::hex << c.status();
        nProfile = c.dw0();
    }
    EXPECT_EQ(nProfile, 0u);
    // The zoned namespace is in its own command set's list only, its
    // identification descriptors carry CSI 02h, and it has the NVM command
    // set's specific data as well.
    uint32_t list[1024] = {};
    ASSERT_TRUE(identifyCsi(CNS_CSI_NS_ACTIVE_LIST, 0, CSI_NVM, list).ok());
    EXPECT_EQ(std::find(list, list + 1024, nNsid), list + 1024);
    uint8_t buf[4096];
    EXPECT_TRUE(identifyCsi(CNS_CSI_NS, nNsid, CSI_NVM, buf).ok());
    uint8_t desc[4096] = {};
    ASSERT_TRUE(identifyCsi(CNS_NS_DESC_LIST, nNsid, 0, desc).ok());
    bool bCsiSeen = false;
    for (size_t at = 0; at + 4 < sizeof desc && desc[at]; at += 4 + desc[at + 1])
        if (desc[at] == 4) {
            EXPECT_EQ(desc[at + 4], CSI_ZNS);
            bCsiSeen = true;
        }
    EXPECT_TRUE(bCsiSeen);
    EXPECT_TRUE(identifyCsi(CNS_CSI_NS, nNsid, 0x3F, buf).is(SCT_GENERIC, SC_INVALID_FIELD)) << "unsupported CSI";
    // The commands of the zoned command set.
    {
        DmaMemory b = dataBuffer(4096, 4096);
        Sqe e = Sqe::make(ADMIN_GET_LOG_PAGE, 0);
        e.setCdw10(NVME_LOG_LID_CMD_EFFECTS | ((4096 / 4 - 1) << 16));
        e.setCdw14(uint32_t(CSI_ZNS) << 24);
        e.setPrp1(b.bus());
        ASSERT_TRUE(ctl->admin(e).ok());
        auto *p = reinterpret_cast<nvme_cmd_effects_log *>(b.host());
        for (uint8_t op : {ZNS_MGMT_SEND, ZNS_MGMT_RECV, ZNS_APPEND, NVM_WRITE, NVM_READ})
            EXPECT_TRUE(p->iocs[op] & 1) << "opcode " << int(op);
    }
    if (!onSim(*plat))
        return;
    // The configured simulator: the NVM namespace is no zoned one, the key
    // value namespace is listed for its own command set only.
    EXPECT_TRUE(identifyCsi(CNS_CSI_NS, 1, CSI_ZNS, buf).is(SCT_GENERIC, SC_INVALID_FIELD));
    ASSERT_TRUE(identifyCsi(CNS_CSI_NS_ACTIVE_LIST, 0, CSI_NVM, list).ok());
    EXPECT_EQ(list[0], 1u);
    EXPECT_EQ(list[1], 0u);
    ASSERT_TRUE(identifyCsi(CNS_CSI_NS_ACTIVE_LIST, 0, CSI_KV, list).ok());
    EXPECT_EQ(list[0], 3u);
    EXPECT_EQ(list[1], 0u);
    EXPECT_EQ(iocs.iocsc[3], IOCS_NVM);
    // The profile changes only without I/O queues.
    Sqe set = Sqe::make(ADMIN_SET_FEATURES);
    set.setCdw10(FEAT_IOCS_PROFILE);
    set.setCdw11(3);
    EXPECT_TRUE(ctl->admin(set).is(SCT_GENERIC, SC_CMD_SEQ_ERROR));
    ASSERT_TRUE(ctl->deleteIoSq(1).ok());
    ASSERT_TRUE(ctl->deleteIoCq(1).ok());
    set.setCdw11(4);
    EXPECT_TRUE(ctl->admin(set).is(SCT_CMD_SPECIFIC, SC_IOCS_COMBINATION_REJECTED));
    set.setCdw11(3);   // NVM only: the zoned and key value namespaces go inactive
    ASSERT_TRUE(ctl->admin(set).ok());
    EXPECT_EQ(activeNamespaces(*ctl), std::vector<uint32_t>{1});
    ASSERT_TRUE(identifyCsi(CNS_CSI_NS_ACTIVE_LIST, 0, CSI_ZNS, list).ok());
    EXPECT_EQ(list[0], 0u);
    set.setCdw11(1);   // NVM and zoned
    ASSERT_TRUE(ctl->admin(set).ok());
    EXPECT_EQ(activeNamespaces(*ctl), (std::vector<uint32_t>{1, 2}));
    // CC.CSS 000b: the NVM command set alone, and the profile is fixed.
    nCcCss = CC_CSS_NVM;
    ASSERT_NO_FATAL_FAILURE(bringUp());
    EXPECT_EQ(activeNamespaces(*ctl), std::vector<uint32_t>{1});
    set.setCdw11(0);
    EXPECT_TRUE(ctl->admin(set).is(SCT_GENERIC, SC_CMD_SEQ_ERROR));
    // Namespace Management creates namespaces of enabled command sets only.
    DmaMemory b = dataBuffer(4096, 4096);
    auto *id = reinterpret_cast<nvme_id_ns *>(b.host());
    id->nsze = id->ncap = 32768;
    Sqe create = Sqe::make(ADMIN_NS_MGMT);
    create.setCdw11(uint32_t(CSI_ZNS) << 24);
    create.setPrp1(b.bus());
    EXPECT_TRUE(ctl->admin(create).is(SCT_CMD_SPECIFIC, SC_IOCS_NOT_ENABLED));
    create.setCdw11(9u << 24);
    EXPECT_TRUE(ctl->admin(create).is(SCT_CMD_SPECIFIC, SC_IOCS_NOT_SUPPORTED));
    nCcCss = CC_CSS_CSI;
    ASSERT_NO_FATAL_FAILURE(bringUp());
    create.setCdw11(uint32_t(CSI_ZNS) << 24);
    Completion c = ctl->admin(create);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    const uint32_t nNew = c.dw0();
    ASSERT_TRUE(identifyCsi(CNS_CSI_ALLOCATED_NS_LIST, 0, CSI_ZNS, list).ok());
    EXPECT_EQ(list[0], 2u);
    EXPECT_EQ(list[1], nNew);
    EXPECT_EQ(list[2], 0u);
    id->nsze = id->ncap = 1000;   // not a whole number of 16 MiB zones
    EXPECT_TRUE(ctl->admin(create).is(SCT_GENERIC, SC_INVALID_FIELD));
}

// ------------------------------------------------------ state transitions

TEST_F(Zoned, EveryZoneManagementTransition)
{
    struct Row {
        uint8_t nFrom;
        uint8_t nAction;
        uint16_t nSc;    // 0: success
        uint8_t nTo;
    };
    const Row rows[] = {
        {ZS_EMPTY, ZSA_OPEN, 0, ZS_EXPLICIT_OPEN},
        {ZS_EMPTY, ZSA_CLOSE, kInvalidTransition, ZS_EMPTY},
        {ZS_EMPTY, ZSA_FINISH, 0, ZS_FULL},
        {ZS_EMPTY, ZSA_RESET, 0, ZS_EMPTY},
        {ZS_EMPTY, ZSA_OFFLINE, kInvalidTransition, ZS_EMPTY},
        {ZS_IMPLICIT_OPEN, ZSA_OPEN, 0, ZS_EXPLICIT_OPEN},
        {ZS_IMPLICIT_OPEN, ZSA_CLOSE, 0, ZS_CLOSED},
        {ZS_IMPLICIT_OPEN, ZSA_FINISH, 0, ZS_FULL},
        {ZS_IMPLICIT_OPEN, ZSA_RESET, 0, ZS_EMPTY},
        {ZS_IMPLICIT_OPEN, ZSA_OFFLINE, kInvalidTransition, ZS_IMPLICIT_OPEN},
        {ZS_EXPLICIT_OPEN, ZSA_OPEN, 0, ZS_EXPLICIT_OPEN},
        {ZS_EXPLICIT_OPEN, ZSA_CLOSE, 0, ZS_CLOSED},
        {ZS_EXPLICIT_OPEN, ZSA_FINISH, 0, ZS_FULL},
        {ZS_EXPLICIT_OPEN, ZSA_RESET, 0, ZS_EMPTY},
        {ZS_EXPLICIT_OPEN, ZSA_OFFLINE, kInvalidTransition, ZS_EXPLICIT_OPEN},
        {ZS_CLOSED, ZSA_OPEN, 0, ZS_EXPLICIT_OPEN},
        {ZS_CLOSED, ZSA_CLOSE, 0, ZS_CLOSED},
        {ZS_CLOSED, ZSA_FINISH, 0, ZS_FULL},
        {ZS_CLOSED, ZSA_RESET, 0, ZS_EMPTY},
        {ZS_CLOSED, ZSA_OFFLINE, kInvalidTransition, ZS_CLOSED},
        {ZS_FULL, ZSA_OPEN, kInvalidTransition, ZS_FULL},
        {ZS_FULL, ZSA_CLOSE, kInvalidTransition, ZS_FULL},
        {ZS_FULL, ZSA_FINISH, 0, ZS_FULL},
        {ZS_FULL, ZSA_RESET, 0, ZS_EMPTY},
        {ZS_FULL, ZSA_OFFLINE, kInvalidTransition, ZS_FULL},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << "from state " << int(r.nFrom) << ", action " << int(r.nAction));
        ASSERT_NO_FATAL_FAILURE(prepare(1, r.nFrom));
        Completion c = zms(zone(1), r.nAction);
        if (r.nSc) {
            EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, r.nSc)) << std::hex << c.status();
        } else {
            EXPECT_TRUE(c.ok()) << std::hex << c.status();
        }
        const ZoneDesc d = desc(zone(1));
        EXPECT_EQ(zoneState(d), r.nTo);
        if (r.nTo == ZS_EMPTY) {
            EXPECT_EQ(d.wp, zone(1));
        }
        if (r.nTo == ZS_FULL && r.nFrom != ZS_FULL && onSim(*plat)) {
            EXPECT_EQ(d.wp, zone(1) + nZoneCap);
        }
    }
    // The descriptor extension: an empty zone becomes closed with ZDEV set;
    // other states cannot take one; a reset clears it.
    if (nExtSize) {
        DmaMemory ext = dataBuffer(nExtSize, 4096);
        fillPattern(ext.host(), nExtSize, 7);
        ASSERT_NO_FATAL_FAILURE(prepare(1, ZS_EMPTY));
        ASSERT_TRUE(zms(zone(1), ZSA_SET_DESC_EXT, false, &ext).ok());
        std::vector<uint8_t> got;
        std::vector<ZoneDesc> z = report(zone(1), ZRAS_ALL, true, 64 + 64 + nExtSize, nullptr, true, &got);
        ASSERT_EQ(z.size(), 1u);
        EXPECT_EQ(zoneState(z[0]), ZS_CLOSED);
        EXPECT_TRUE(z[0].za & ZA_DESC_EXT_VALID);
        ASSERT_EQ(got.size(), nExtSize);
        EXPECT_EQ(std::memcmp(got.data(), ext.host(), nExtSize), 0);
        Completion c = zms(zone(1), ZSA_SET_DESC_EXT, false, &ext);
        EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, kInvalidTransition)) << std::hex << c.status();
        EXPECT_TRUE(zms(zone(1), ZSA_SET_DESC_EXT, true, &ext).is(SCT_GENERIC, SC_INVALID_FIELD)) << "with Select All";
        ASSERT_TRUE(zms(zone(1), ZSA_RESET).ok());
        EXPECT_FALSE(desc(zone(1)).za & ZA_DESC_EXT_VALID);
    }
    // Malformed commands.
    EXPECT_TRUE(zms(zone(1) + 1, ZSA_OPEN).is(SCT_GENERIC, SC_INVALID_FIELD)) << "SLBA inside a zone";
    EXPECT_TRUE(zms(zone(1), 0x0F).is(SCT_GENERIC, SC_INVALID_FIELD)) << "unknown action";
    EXPECT_TRUE(zms(info.nSize, ZSA_OPEN).is(SCT_GENERIC, SC_LBA_RANGE)) << "past the namespace";
}

TEST_F(Zoned, SelectAllActsOnTheZonesItFits)
{
    // (The closed zone first: writing it opens it for a moment.)
    ASSERT_NO_FATAL_FAILURE(prepare(0, ZS_FULL));
    ASSERT_NO_FATAL_FAILURE(prepare(3, ZS_CLOSED));
    ASSERT_NO_FATAL_FAILURE(prepare(1, ZS_IMPLICIT_OPEN));
    ASSERT_NO_FATAL_FAILURE(prepare(2, ZS_EXPLICIT_OPEN));
    ASSERT_TRUE(zms(0, ZSA_CLOSE, true).ok());
    const uint8_t afterClose[] = {ZS_FULL, ZS_CLOSED, ZS_CLOSED, ZS_CLOSED, ZS_EMPTY};
    for (uint64_t i = 0; i < 5; ++i)
        EXPECT_EQ(state(zone(i)), afterClose[i]) << "zone " << i;
    if (!nMaxOpen || nMaxOpen >= 3) {
        ASSERT_TRUE(zms(0, ZSA_OPEN, true).ok());
        for (uint64_t i = 1; i < 4; ++i)
            EXPECT_EQ(state(zone(i)), ZS_EXPLICIT_OPEN) << "zone " << i;
    } else if (onSim(*plat)) {
        // More closed zones than open resources: none opens. (QEMU opens
        // as many as it can and succeeds; see docs/real-controllers.md.)
        Completion c = zms(0, ZSA_OPEN, true);
        EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_TOO_MANY_OPEN)) << std::hex << c.status();
        for (uint64_t i = 1; i < 4; ++i)
            EXPECT_EQ(state(zone(i)), ZS_CLOSED) << "zone " << i;
    }
    ASSERT_TRUE(zms(0, ZSA_FINISH, true).ok());
    for (uint64_t i = 0; i < 4; ++i)
        EXPECT_EQ(state(zone(i)), ZS_FULL) << "zone " << i;
    EXPECT_EQ(state(zone(4)), ZS_EMPTY) << "Finish All leaves empty zones";
    ASSERT_TRUE(zms(0, ZSA_RESET, true).ok());
    for (uint64_t i = 0; i < 5; ++i)
        EXPECT_EQ(state(zone(i)), ZS_EMPTY) << "zone " << i;
}

// ------------------------------------------------------ writes and reads

TEST_F(Zoned, WritesFollowTheWritePointer)
{
    const uint64_t z = zone(2);
    const size_t nBs = info.nBlockSize;
    ASSERT_TRUE(write(z, 8, NVM_WRITE, 11).ok());
    ZoneDesc d = desc(z);
    EXPECT_EQ(zoneState(d), ZS_IMPLICIT_OPEN);
    EXPECT_EQ(d.wp, z + 8);
    Completion c = write(z + 9, 1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_INVALID_WRITE)) << std::hex << c.status();
    c = write(z, 1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_INVALID_WRITE)) << "behind the write pointer " << std::hex << c.status();
    ASSERT_TRUE(write(z + 8, 4, NVM_WRITE_ZEROES).ok());
    // Zone Append: the LBA written comes back in dwords 0-1.
    DmaMemory a = dataBuffer(4 * nBs, 4096);
    fillPattern(a.host(), 4 * nBs, 12);
    Sqe e = makeRw(ZNS_APPEND, nNsid, z, 4);
    c = ioCmd(e, &a, 4 * nBs);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(c.dw0(), uint32_t(z + 12));
    EXPECT_EQ(c.dw1(), 0u);
    e = makeRw(ZNS_APPEND, nNsid, z + 1, 1);
    EXPECT_TRUE(ioCmd(e, &a, nBs).is(SCT_GENERIC, SC_INVALID_FIELD)) << "append not at the zone start";
    // Everything reads back; blocks past the write pointer read as zeros.
    DmaMemory r = dataBuffer(20 * nBs, 4096);
    c = read(z, 20, r);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    std::vector<uint8_t> want(20 * nBs, 0);
    fillPattern(want.data(), 8 * nBs, 11);
    std::memcpy(want.data() + 12 * nBs, a.host(), 4 * nBs);
    EXPECT_EQ(std::memcmp(r.host(), want.data(), want.size()), 0);
    // Appends (within ZASL) up to four blocks short of the capacity; the
    // capacity is the limit then.
    uint32_t nChunk = 64;
    if (nZasl) {
        nChunk = uint32_t(std::min<size_t>(nChunk, (size_t(4096) << nZasl) / nBs));
        const uint32_t nOver = uint32_t((size_t(4096) << nZasl) / nBs) + 1;
        DmaMemory over = dataBuffer(size_t(nOver) * nBs, 4096);
        e = makeRw(ZNS_APPEND, nNsid, z, nOver);
        c = ioCmd(e, &over, size_t(nOver) * nBs);
        EXPECT_TRUE(c.is(SCT_GENERIC, SC_INVALID_FIELD)) << "beyond ZASL " << std::hex << c.status();
    }
    DmaMemory chunk = dataBuffer(size_t(nChunk) * nBs, 4096);
    uint64_t nWp = z + 16;
    while (nWp < z + nZoneCap - 4) {
        const uint32_t n = uint32_t(std::min<uint64_t>(nChunk, z + nZoneCap - 4 - nWp));
        e = makeRw(ZNS_APPEND, nNsid, z, n);
        c = ioCmd(e, &chunk, size_t(n) * nBs);
        ASSERT_TRUE(c.ok()) << std::hex << c.status();
        ASSERT_EQ(c.dw0(), uint32_t(nWp));
        nWp += n;
    }
    c = write(nWp, 5);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_BOUNDARY_ERROR)) << std::hex << c.status();
    e = makeRw(ZNS_APPEND, nNsid, z, 5);
    c = ioCmd(e, &chunk, 5 * nBs);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_BOUNDARY_ERROR)) << "append " << std::hex << c.status();
    ASSERT_TRUE(write(nWp, 4).ok());
    d = desc(z);
    EXPECT_EQ(zoneState(d), ZS_FULL);
    c = write(z + nZoneCap, 1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_FULL)) << std::hex << c.status();
    e = makeRw(ZNS_APPEND, nNsid, z, 1);
    EXPECT_TRUE(ioCmd(e, &a, nBs).is(SCT_CMD_SPECIFIC, SC_ZONE_FULL));
    // A read across the zone boundary, as OZCS says.
    c = read(z + nZoneSize - 1, 2, r);
    if (bReadAcross) {
        EXPECT_TRUE(c.ok()) << std::hex << c.status();
    } else {
        EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_BOUNDARY_ERROR)) << std::hex << c.status();
    }
    EXPECT_TRUE(read(info.nSize - 1, 2, r).is(SCT_GENERIC, SC_LBA_RANGE));
}

TEST_F(Zoned, OpenAndActiveResourcesAreLimited)
{
    if (!nMaxOpen || !nMaxActive || nMaxActive + 1 > nZones)
        GTEST_SKIP() << "the zoned namespace has no open and active limits";
    // Explicitly opened zones up to the limit.
    for (uint32_t i = 0; i < nMaxOpen; ++i)
        ASSERT_TRUE(zms(zone(i), ZSA_OPEN).ok()) << "zone " << i;
    Completion c = zms(zone(nMaxOpen), ZSA_OPEN);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_TOO_MANY_OPEN)) << std::hex << c.status();
    c = write(zone(nMaxOpen), 1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_TOO_MANY_OPEN)) << "implicit open " << std::hex << c.status();
    EXPECT_EQ(state(zone(nMaxOpen)), ZS_EMPTY);
    // Closed zones stay active: fill the active resources.
    for (uint32_t i = 0; i < nMaxOpen; ++i)
        ASSERT_TRUE(zms(zone(i), ZSA_CLOSE).ok());
    for (uint32_t i = nMaxOpen; i < nMaxActive; ++i) {
        ASSERT_TRUE(write(zone(i), 1).ok()) << "zone " << i;
        ASSERT_TRUE(zms(zone(i), ZSA_CLOSE).ok());
    }
    // QEMU lets a write open one more zone than the active resources allow
    // (see docs/real-controllers.md): the rest is checked on the simulator.
    if (!onSim(*plat))
        return;
    const uint64_t zNew = zone(nMaxActive);
    c = write(zNew, 1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_TOO_MANY_ACTIVE)) << std::hex << c.status();
    c = zms(zNew, ZSA_OPEN);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_TOO_MANY_ACTIVE)) << std::hex << c.status();
    c = zms(zNew, ZSA_FINISH);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_TOO_MANY_ACTIVE)) << std::hex << c.status();
    EXPECT_EQ(state(zNew), ZS_EMPTY);
    // Finishing one active zone frees a resource.
    ASSERT_TRUE(zms(zone(0), ZSA_FINISH).ok());
    ASSERT_TRUE(write(zNew, 1).ok());
    EXPECT_EQ(state(zNew), ZS_IMPLICIT_OPEN);
    if (!onSim(*plat))
        return;
    // At the open limit with implicitly opened zones, writing a closed zone
    // closes the lowest implicitly opened one to take its resource.
    ASSERT_TRUE(zms(0, ZSA_RESET, true).ok());
    ASSERT_TRUE(write(zone(0), 1).ok());
    ASSERT_TRUE(zms(zone(0), ZSA_CLOSE).ok());
    for (uint32_t i = 1; i <= nMaxOpen; ++i)
        ASSERT_TRUE(write(zone(i), 1).ok());
    ASSERT_TRUE(write(zone(0) + 1, 1).ok());
    EXPECT_EQ(state(zone(0)), ZS_IMPLICIT_OPEN);
    EXPECT_EQ(state(zone(1)), ZS_CLOSED);
    EXPECT_EQ(state(zone(2)), ZS_IMPLICIT_OPEN);
}

TEST_F(Zoned, ReportsFilterAndCount)
{
    // (The closed zone first: writing it opens it for a moment.)
    ASSERT_NO_FATAL_FAILURE(prepare(0, ZS_FULL));
    ASSERT_NO_FATAL_FAILURE(prepare(3, ZS_CLOSED));
    ASSERT_NO_FATAL_FAILURE(prepare(1, ZS_IMPLICIT_OPEN));
    ASSERT_NO_FATAL_FAILURE(prepare(2, ZS_EXPLICIT_OPEN));
    uint64_t nCount = 0;
    std::vector<ZoneDesc> z = report(zone(1) + 5, ZRAS_ALL, false, 64 + 64 * nZones, &nCount);
    EXPECT_EQ(nCount, nZones - 1) << "from the zone holding SLBA";
    ASSERT_EQ(z.size(), nZones - 1);
    EXPECT_EQ(z[0].zslba, zone(1));
    EXPECT_EQ(z[0].zt, ZONE_TYPE_SEQ_WRITE);
    EXPECT_EQ(z[0].wp, zone(1) + 1);
    EXPECT_EQ(z[0].zcap, nZoneCap);
    const struct {
        uint8_t nOption;
        uint64_t nZone;
    } one[] = {{ZRAS_FULL, 0}, {ZRAS_IMPLICIT_OPEN, 1}, {ZRAS_EXPLICIT_OPEN, 2}, {ZRAS_CLOSED, 3}};
    for (const auto &o : one) {
        z = report(0, o.nOption, false, 64 + 64 * nZones, &nCount);
        EXPECT_EQ(nCount, 1u) << "option " << int(o.nOption);
        ASSERT_EQ(z.size(), 1u);
        EXPECT_EQ(z[0].zslba, zone(o.nZone));
    }
    z = report(0, ZRAS_EMPTY, false, 64 + 64 * nZones, &nCount);
    EXPECT_EQ(nCount, nZones - 4);
    report(0, ZRAS_OFFLINE, false, 4096, &nCount);
    EXPECT_EQ(nCount, 0u);
    // Room for two descriptors: the partial bit counts what was sent.
    z = report(0, ZRAS_ALL, false, 64 + 128, &nCount);
    EXPECT_EQ(nCount, nZones);
    EXPECT_EQ(z.size(), 2u);
    z = report(0, ZRAS_ALL, true, 64 + 128, &nCount);
    EXPECT_EQ(nCount, 2u);
    // Malformed requests.
    Completion c;
    report(0, 8, false, 4096, nullptr, false, nullptr, &c);
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_INVALID_FIELD)) << "reporting option " << std::hex << c.status();
    report(info.nSize, ZRAS_ALL, false, 4096, nullptr, false, nullptr, &c);
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_LBA_RANGE)) << std::hex << c.status();
    Sqe e = Sqe::make(ZNS_MGMT_RECV, nNsid);
    DmaMemory b = dataBuffer(4096, 4096);
    e.setCdw12(4096 / 4 - 1);
    e.setCdw13(2);
    EXPECT_TRUE(ioCmd(e, &b, 4096).is(SCT_GENERIC, SC_INVALID_FIELD)) << "receive action 2";
}

// ------------------------------------------------------ simulator only

TEST_F(Zoned, FailingZonesAreListedAndAnnounced)
{
    if (!onSim(*plat))
        GTEST_SKIP() << "needs the simulator to fail a zone";
    nvmesim::Subsystem &dev = kxmplat::simBusOf(plat.get())->device(0);
    // Zone descriptor changed notices enabled; an event request waits.
    Sqe aec = Sqe::make(ADMIN_SET_FEATURES);
    aec.setCdw10(NVME_FEAT_FID_ASYNC_EVENT);
    aec.setCdw11(AEC_ZONE_DESC_CHANGED);
    ASSERT_TRUE(ctl->admin(aec).ok());
    Sqe aer = Sqe::make(ADMIN_ASYNC_EVENT);
    ASSERT_TRUE(ctl->submit(ctl->adminSq(), aer));
    const uint16_t nAerCid = aer.cid();
    ASSERT_NO_FATAL_FAILURE(prepare(3, ZS_IMPLICIT_OPEN));
    ASSERT_TRUE(dev.failZone(nNsid, zone(3), false));
    Completion ev = ctl->waitCompletion(ctl->adminCq(), 0, nAerCid);
    ASSERT_TRUE(ev.ok());
    EXPECT_EQ(ev.dw0(), uint32_t(NVME_AER_NOTICE | (AER_NOTICE_ZONE_DESC_CHANGED << 8) | (LID_ZNS_CHANGED_ZONES << 16)));
    EXPECT_FALSE(dev.failZone(nNsid, zone(3) + 1, false)) << "not a zone start";
    auto readLog = [&](uint8_t nCsi, Completion *pC) {
        DmaMemory b = dataBuffer(4096, 4096);
        Sqe e = Sqe::make(ADMIN_GET_LOG_PAGE, nNsid);
        e.setCdw10(LID_ZNS_CHANGED_ZONES | ((4096 / 4 - 1) << 16));
        e.setCdw14(uint32_t(nCsi) << 24);
        e.setPrp1(b.bus());
        *pC = ctl->admin(e);
        ChangedZoneLog log;
        std::memcpy(&log, b.host(), sizeof log);
        return log;
    };
    Completion c;
    readLog(CSI_NVM, &c);
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_INVALID_FIELD)) << "the log belongs to the zoned command set";
    ChangedZoneLog log = readLog(CSI_ZNS, &c);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(log.nrzid, 1);
    EXPECT_EQ(log.zid[0], zone(3));
    log = readLog(CSI_ZNS, &c);
    EXPECT_EQ(log.nrzid, 0) << "reading the log cleared it";
    // A read-only zone: readable, not writable, only to be taken offline.
    EXPECT_EQ(state(zone(3)), ZS_READ_ONLY);
    DmaMemory r = dataBuffer(info.nBlockSize, 4096);
    EXPECT_TRUE(read(zone(3), 1, r).ok());
    c = write(zone(3) + 1, 1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_READ_ONLY)) << std::hex << c.status();
    for (uint8_t a : {ZSA_OPEN, ZSA_CLOSE, ZSA_FINISH, ZSA_RESET})
        EXPECT_TRUE(zms(zone(3), a).is(SCT_CMD_SPECIFIC, kInvalidTransition)) << "action " << int(a);
    ASSERT_TRUE(zms(0, ZSA_OFFLINE, true).ok());
    EXPECT_EQ(state(zone(3)), ZS_OFFLINE);
    EXPECT_TRUE(read(zone(3), 1, r).is(SCT_CMD_SPECIFIC, SC_ZONE_OFFLINE));
    c = write(zone(3) + 1, 1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_ZONE_OFFLINE)) << std::hex << c.status();
    EXPECT_TRUE(zms(zone(3), ZSA_OFFLINE).ok()) << "offline already";
    uint64_t nCount = 0;
    std::vector<ZoneDesc> z = report(0, ZRAS_OFFLINE, false, 4096, &nCount);
    EXPECT_EQ(nCount, 1u);
    ASSERT_TRUE(zms(0, ZSA_RESET, true).ok());
    EXPECT_EQ(state(zone(3)), ZS_OFFLINE) << "Reset All leaves offline zones";
}

class ZonedOnFile : public Zoned {
protected:
    std::string backingFile() const override { return sPath; }
    void SetUp() override
    {
        sPath = (std::filesystem::temp_directory_path() / ("korvel-zoned-" + std::to_string(getpid()))).string();
        for (const char *sfx : {"", ".zones"})
            std::filesystem::remove(sPath + sfx);
        Zoned::SetUp();
        if (!IsSkipped() && !HasFatalFailure() && !onSim(*plat))
            GTEST_SKIP() << "needs the configured simulated device";
    }
    void TearDown() override
    {
        Zoned::TearDown();
        for (const char *sfx : {"", ".zones", ".zones.tmp"})
            std::filesystem::remove(sPath + sfx);
    }
    void powerCycle()
    {
        kxmplat::simBusOf(plat.get())->device(0).powerCycle();
        std::string sErr;
        ctl.reset();
        ctl = HostController::open(*plat, slot, &sErr);
        ASSERT_TRUE(ctl) << sErr;
        ASSERT_NO_FATAL_FAILURE(bringUpWithIo(64));
    }
    std::string sPath;
};

TEST_F(ZonedOnFile, ZoneStatesFollowWhatReachedTheMedia)
{
    nNsid = 4;
    ASSERT_TRUE(readNamespaceInfo(*ctl, nNsid, &info));
    nZoneSize = nZoneCap = (1u << 20) / info.nBlockSize;
    const size_t nBs = info.nBlockSize;
    // Durable: a FUA write and a zone action. In the cache only: a write
    // to zone 0 after them.
    ASSERT_TRUE(write(zone(1), 4, NVM_WRITE, 21, true).ok());
    ASSERT_TRUE(zms(zone(2), ZSA_OPEN).ok());
    ASSERT_TRUE(write(zone(0), 4, NVM_WRITE, 22).ok());
    EXPECT_EQ(desc(zone(0)).wp, zone(0) + 4);
    ASSERT_NO_FATAL_FAILURE(powerCycle());
    ZoneDesc d = desc(zone(0));
    EXPECT_EQ(zoneState(d), ZS_EMPTY) << "the cached write was lost";
    EXPECT_EQ(d.wp, zone(0));
    DmaMemory r = dataBuffer(4 * nBs, 4096);
    ASSERT_TRUE(read(zone(0), 4, r).ok());
    EXPECT_TRUE(std::all_of(r.host(), r.host() + 4 * nBs, [](uint8_t x) { return x == 0; }));
    d = desc(zone(1));
    EXPECT_EQ(zoneState(d), ZS_CLOSED) << "opened zones come back closed";
    EXPECT_EQ(d.wp, zone(1) + 4);
    ASSERT_TRUE(read(zone(1), 4, r).ok());
    std::vector<uint8_t> want(4 * nBs);
    fillPattern(want.data(), want.size(), 21);
    EXPECT_EQ(std::memcmp(r.host(), want.data(), want.size()), 0);
    EXPECT_EQ(state(zone(2)), ZS_EMPTY) << "opened with nothing written";
    // A Flush makes cached writes and their zone states durable.
    ASSERT_TRUE(write(zone(0), 4, NVM_WRITE, 23).ok());
    ASSERT_TRUE(ioCmd(Sqe::make(NVM_FLUSH, nNsid)).ok());
    ASSERT_TRUE(write(zone(1) + 4, 2, NVM_WRITE, 24).ok());
    ASSERT_NO_FATAL_FAILURE(powerCycle());
    EXPECT_EQ(desc(zone(0)).wp, zone(0) + 4);
    EXPECT_EQ(desc(zone(1)).wp, zone(1) + 4) << "written after the flush";
    ASSERT_TRUE(read(zone(0), 4, r).ok());
    fillPattern(want.data(), want.size(), 23);
    EXPECT_EQ(std::memcmp(r.host(), want.data(), want.size()), 0);
    ASSERT_TRUE(write(zone(1) + 4, 2, NVM_WRITE, 25).ok()) << "the write pointer is where the media ends";
}

} // namespace
