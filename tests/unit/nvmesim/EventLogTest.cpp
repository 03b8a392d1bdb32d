// The persistent event log inside the simulator: every kind of reset and
// the commands that record events, in order, across a power cycle; the
// log's bound; and telemetry data that survives a controller reset.
#include "SimHost.h"
#include "nvmewire/EventLogs.h"

#include <string>
#include <vector>

using namespace nvmehost;
using namespace nvmewire;

namespace {

struct Event {
    uint8_t nType = 0;
    uint16_t nCntlid = 0;
    std::vector<uint8_t> data;
};

struct Log {
    PelHeader h{};
    std::vector<Event> events;
    bool bWellFormed = true;
};

// Establishes a reporting context and reads the whole log (64 KiB).
Log readLog(SimHost &h) {
    SimBuffer b = h.alloc(64 * 1024, true);
    Sqe e = SimHost::cmd(ADMIN_GET_LOG_PAGE, NVME_NSID_ALL);
    e.setPrp1(b.nBus);
    // A PRP list for the 16 pages.
    SimBuffer list = h.alloc(4096, true);
    auto *p = reinterpret_cast<uint64_t *>(list.p);
    for (int i = 1; i < 16; ++i)
        p[i - 1] = b.nBus + uint64_t(i) * 4096;
    e.setPrp2(list.nBus);
    e.setCdw10(LID_PERSISTENT_EVENT | (uint32_t(PEL_ACTION_ESTABLISH) << 8) | ((64u * 1024 / 4 - 1) << 16));
    Log log;
    EXPECT_EQ(h.run(0, e), 0);
    std::memcpy(&log.h, b.p, sizeof log.h);
    size_t nOff = sizeof(PelHeader);
    while (nOff + sizeof(PelEventHeader) <= log.h.tll && log.h.tll <= 64 * 1024) {
        PelEventHeader eh;
        std::memcpy(&eh, b.p + nOff, sizeof eh);
        log.bWellFormed = log.bWellFormed && eh.ehl == PEL_EVENT_HEADER_LENGTH && eh.vsil == 0;
        Event ev{eh.etype, eh.cntlid, {}};
        ev.data.assign(b.p + nOff + sizeof eh, b.p + nOff + sizeof eh + eh.el);
        log.events.push_back(std::move(ev));
        nOff += sizeof eh + eh.el;
    }
    log.bWellFormed = log.bWellFormed && nOff == log.h.tll && log.events.size() == log.h.tnev;
    return log;
}

// The controller ids a power-on or reset event lists, after the revision.
std::vector<uint16_t> resetEntries(const Event &ev, std::string *pFirmware = nullptr) {
    std::vector<uint16_t> ids;
    if (pFirmware)
        pFirmware->assign(reinterpret_cast<const char *>(ev.data.data()), 8);
    for (size_t off = 8; off + sizeof(PelResetEntry) <= ev.data.size(); off += sizeof(PelResetEntry)) {
        PelResetEntry r;
        std::memcpy(&r, ev.data.data() + off, sizeof r);
        ids.push_back(r.cid);
    }
    return ids;
}

TEST(EventLog, ResetsAndCommandsInOrderAcrossAPowerCycle) {
    SimHost h(R"({"devices":[{"controllerCount":2,"timings":{"linkDownMs":5,"linkUpMs":5}}]})");
    ASSERT_TRUE(h.bringUp());
    Log log = readLog(h);
    ASSERT_TRUE(log.bWellFormed);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].nType, PEL_POWER_ON_RESET);
    std::string szFw;
    EXPECT_EQ(resetEntries(log.events[0], &szFw), (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(szFw, "1.0     ");
    EXPECT_EQ(log.h.pcc, h.bus->device(0).powerCycles());
    uint8_t seb[32];
    std::memcpy(seb, log.h.seb, 32);
    for (uint8_t t : {PEL_FW_COMMIT, PEL_POWER_ON_RESET, PEL_CHANGE_NS, PEL_TELEMETRY_CREATE})
        EXPECT_TRUE(seb[t / 8] & (1u << (t % 8))) << "event type " << int(t);

    // Firmware commit to slot 2 for the next reset, then the reset.
    SimBuffer img = h.alloc(4096);
    std::memcpy(img.p, "3.0.0-EL", 8);
    Sqe dl = SimHost::cmd(ADMIN_FW_DOWNLOAD);
    dl.setPrp1(img.nBus);
    dl.setCdw10(4096 / 4 - 1);
    ASSERT_EQ(h.run(0, dl), 0);
    Sqe cm = SimHost::cmd(ADMIN_FW_COMMIT);
    cm.setCdw10(2 | (1u << 3));
    ASSERT_EQ(h.run(0, cm), 0);
    // A namespace created and deleted.
    SimBuffer idb = h.alloc(4096);
    auto *id = reinterpret_cast<nvme_id_ns *>(idb.p);
    id->nsze = id->ncap = 1024;
    Sqe create = SimHost::cmd(ADMIN_NS_MGMT);
    create.setPrp1(idb.nBus);
    Cqe r{};
    ASSERT_EQ(h.run(0, create, &r), 0);
    const uint32_t nNew = r.dw0();
    Sqe del = SimHost::cmd(ADMIN_NS_MGMT, nNew);
    del.setCdw10(1);
    ASSERT_EQ(h.run(0, del), 0);
    ASSERT_TRUE(h.disable());
    ASSERT_TRUE(h.bringUp());
    // Hot reset, NVM subsystem reset, power cycle.
    h.bus->device(0).hotReset();
    ASSERT_TRUE(h.bringUp());
    h.c->mmioWrite32(REG_NSSR, NSSR_RESET_VALUE);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(h.bringUp());
    h.bus->device(0).powerCycle();
    ASSERT_TRUE(h.bringUp());

    log = readLog(h);
    ASSERT_TRUE(log.bWellFormed);
    ASSERT_EQ(log.events.size(), 8u);
    const std::vector<uint8_t> types = {PEL_POWER_ON_RESET, PEL_FW_COMMIT, PEL_CHANGE_NS, PEL_CHANGE_NS,
                                        PEL_POWER_ON_RESET, PEL_POWER_ON_RESET, PEL_POWER_ON_RESET, PEL_POWER_ON_RESET};
    for (size_t i = 0; i < types.size(); ++i)
        EXPECT_EQ(log.events[i].nType, types[i]) << "event " << i;
    PelFwCommit fw;
    ASSERT_EQ(log.events[1].data.size(), sizeof fw);
    std::memcpy(&fw, log.events[1].data.data(), sizeof fw);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&fw.old_fw_rev), 8), "1.0     ");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&fw.new_fw_rev), 8), "3.0.0-EL");
    EXPECT_EQ(fw.fw_commit_action, 1);
    EXPECT_EQ(fw.fw_slot, 2);
    EXPECT_EQ(fw.sc_fw, 0);
    EXPECT_EQ(log.events[1].nCntlid, 1);
    PelChangeNs cn;
    std::memcpy(&cn, log.events[2].data.data(), sizeof cn);
    EXPECT_EQ(cn.nsid, nNew);
    EXPECT_EQ(cn.nsmgt_cdw10, 0u);
    EXPECT_EQ(cn.nsze, 1024u);
    std::memcpy(&cn, log.events[3].data.data(), sizeof cn);
    EXPECT_EQ(cn.nsid, nNew);
    EXPECT_EQ(cn.nsmgt_cdw10, 1u);
    // The controller reset: this controller only, with the firmware it
    // activated.
    EXPECT_EQ(log.events[4].nCntlid, 1);
    EXPECT_EQ(resetEntries(log.events[4], &szFw), (std::vector<uint16_t>{1}));
    EXPECT_EQ(szFw, "3.0.0-EL");
    PelResetEntry entry;
    std::memcpy(&entry, log.events[4].data.data() + 8, sizeof entry);
    EXPECT_EQ(entry.fw_act, 1);
    // Hot reset, subsystem reset and power-on: every controller.
    for (size_t i = 5; i < 8; ++i)
        EXPECT_EQ(resetEntries(log.events[i]), (std::vector<uint16_t>{1, 2})) << "event " << i;
    EXPECT_EQ(log.h.pcc, h.bus->device(0).powerCycles());
}

TEST(EventLog, BoundedLogDropsTheOldestAndTelemetrySurvivesAReset) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(4096);
    auto telemetry = [&](bool bCreate) {
        Sqe e = SimHost::cmd(ADMIN_GET_LOG_PAGE, NVME_NSID_ALL);
        e.setPrp1(b.nBus);
        e.setCdw10(LID_TELEMETRY_HOST | (uint32_t(bCreate ? TELEMETRY_LSP_CREATE : 0) << 8) | ((4096u / 4 - 1) << 16));
        return h.run(0, e);
    };
    // Each capture records its header in the event log: 150 of them do
    // not fit in 64 KiB.
    for (int i = 0; i < 150; ++i)
        ASSERT_EQ(telemetry(true), 0);
    const auto *th = reinterpret_cast<const TelemetryHeader *>(b.p);
    EXPECT_EQ(th->hostdgn, 150);
    Log log = readLog(h);
    ASSERT_TRUE(log.bWellFormed);
    EXPECT_LE(log.h.tll, 64u * 1024);
    EXPECT_GT(log.h.tll, 60u * 1024);
    ASSERT_FALSE(log.events.empty());
    EXPECT_EQ(log.events.front().nType, PEL_TELEMETRY_CREATE) << "the power-on event made room";
    EXPECT_LT(log.events.size(), 150u);
    const Event &last = log.events.back();
    ASSERT_EQ(last.data.size(), TELEMETRY_BLOCK);
    EXPECT_EQ(reinterpret_cast<const TelemetryHeader *>(last.data.data())->hostdgn, 150);

    // The capture stays through a controller reset.
    std::vector<uint8_t> before(b.p, b.p + 4 * TELEMETRY_BLOCK);
    ASSERT_TRUE(h.disable());
    ASSERT_TRUE(h.bringUp());
    ASSERT_EQ(telemetry(false), 0);
    EXPECT_EQ(std::memcmp(b.p, before.data(), before.size()), 0);
}

} // namespace
