// Telemetry host-initiated data (captures on request, generation number,
// block-aligned offsets), the controller-initiated log, and the persistent
// event log: reporting context, header, events, and a controller reset
// recorded in it.
#include "HostFixture.h"
#include "PrpBuilder.h"
#include "nvmewire/EventLogs.h"
#include "nvmewire/Identify.h"

#include <nvme/types.h>

#include <cstring>
#include <vector>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

class HostEventLogs : public HostFixture {
protected:
    void SetUp() override
    {
        if (!setUpWithIo(16))
            return;
        ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    }

    Completion getLog(uint8_t nLid, uint8_t nLsp, uint64_t nOffset, std::vector<uint8_t> &out, uint32_t nBytes)
    {
        DmaMemory buf = dataBuffer(nBytes, ctl->pageSize());
        std::memset(buf.host(), 0xA5, nBytes);
        Sqe cmd{};
        cmd.setOpc(0x02);
        cmd.setNsid(0xFFFFFFFFu);
        const uint32_t nNumd = nBytes / 4 - 1;
        cmd.setCdw10(nLid | (uint32_t(nLsp) << 8) | ((nNumd & 0xFFFF) << 16));
        cmd.setCdw11(nNumd >> 16);
        cmd.setCdw12(uint32_t(nOffset));
        cmd.setCdw13(uint32_t(nOffset >> 32));
        PrpBuilder prp(*ctl);
        std::string szErr;
        EXPECT_TRUE(prp.build(cmd, buf.bus(), nBytes, &szErr)) << szErr;
        Completion c = ctl->admin(cmd);
        out.assign(buf.host(), buf.host() + nBytes);
        return c;
    }

    nvme_id_ctrl id{};
};

TEST_F(HostEventLogs, TelemetryCapturesOnRequest)
{
    if (!(id.lpa & LPA_TELEMETRY))
        GTEST_SKIP() << "no telemetry log pages (LPA bit 3)";
    std::vector<uint8_t> a, b, c2;
    ASSERT_TRUE(getLog(LID_TELEMETRY_HOST, 0, 0, a, TELEMETRY_BLOCK).ok());
    const auto &h0 = *reinterpret_cast<const TelemetryHeader *>(a.data());
    EXPECT_EQ(h0.lpi, LID_TELEMETRY_HOST);
    const uint8_t nGen = h0.hostdgn;

    // Create: new data, the generation number moves on.
    Completion c = getLog(LID_TELEMETRY_HOST, TELEMETRY_LSP_CREATE, 0, a, TELEMETRY_BLOCK);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    const TelemetryHeader h1 = *reinterpret_cast<const TelemetryHeader *>(a.data());
    EXPECT_EQ(h1.lpi, LID_TELEMETRY_HOST);
    EXPECT_EQ(h1.hostdgn, uint8_t(nGen + 1));
    EXPECT_LE(h1.dalb1, h1.dalb2);
    EXPECT_LE(h1.dalb2, h1.dalb3);
    if (onSim(*plat)) {
        EXPECT_EQ(h1.dalb1, 1);
        EXPECT_EQ(h1.dalb2, 2);
        EXPECT_EQ(h1.dalb3, 3);
        EXPECT_EQ(h1.ctrlavail, 0) << "the simulator never captures data on its own";
    }
    const uint32_t nBytes = (uint32_t(h1.dalb3) + 1) * TELEMETRY_BLOCK;
    if (h1.dalb3 && nBytes <= 64 * 1024) {
        // Without create the same data stays; a block offset reads from there.
        ASSERT_TRUE(getLog(LID_TELEMETRY_HOST, 0, 0, a, nBytes).ok());
        ASSERT_TRUE(getLog(LID_TELEMETRY_HOST, 0, TELEMETRY_BLOCK, b, nBytes - TELEMETRY_BLOCK).ok());
        EXPECT_EQ(reinterpret_cast<const TelemetryHeader *>(a.data())->hostdgn, h1.hostdgn);
        EXPECT_EQ(std::memcmp(a.data() + TELEMETRY_BLOCK, b.data(), nBytes - TELEMETRY_BLOCK), 0);
    }
    // Offsets are whole blocks.
    c = getLog(LID_TELEMETRY_HOST, 0, 256, b, TELEMETRY_BLOCK);
    EXPECT_TRUE(c.is(0, 0x02)) << std::hex << c.status();
    // Another capture, another generation.
    ASSERT_TRUE(getLog(LID_TELEMETRY_HOST, TELEMETRY_LSP_CREATE, 0, a, TELEMETRY_BLOCK).ok());
    EXPECT_EQ(reinterpret_cast<const TelemetryHeader *>(a.data())->hostdgn, uint8_t(nGen + 2));

    // The controller-initiated log answers with its own identifier.
    c = getLog(LID_TELEMETRY_CTRL, 0, 0, c2, TELEMETRY_BLOCK);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(c2[0], LID_TELEMETRY_CTRL);
}

// Walks the events of a whole log: their count and types, the last one.
struct EventWalk {
    uint32_t nCount = 0;
    bool bWellFormed = true;
    size_t nLast = 0;   // offset of the last event
};

EventWalk walkEvents(const std::vector<uint8_t> &log, uint64_t nTll)
{
    EventWalk w;
    size_t nOff = sizeof(PelHeader);
    while (nOff + sizeof(PelEventHeader) <= nTll) {
        PelEventHeader e;
        std::memcpy(&e, log.data() + nOff, sizeof e);
        if (e.ehl != PEL_EVENT_HEADER_LENGTH)
            w.bWellFormed = false;
        w.nLast = nOff;
        nOff += 3 + e.ehl + e.el;
        ++w.nCount;
    }
    if (nOff != nTll)
        w.bWellFormed = false;
    return w;
}

TEST_F(HostEventLogs, PersistentEventLogRecordsAControllerReset)
{
    if (!(id.lpa & LPA_PERSISTENT_EVENT))
        GTEST_SKIP() << "no persistent event log (LPA bit 4)";
    const uint32_t nMax = std::min<uint32_t>(le32toh(id.pels) * 64 * 1024, 64 * 1024);
    ASSERT_GE(nMax, 4096u);
    std::vector<uint8_t> log;
    // Release first: no context from an earlier user then, and reading
    // without one is a command sequence error.
    ASSERT_TRUE(getLog(LID_PERSISTENT_EVENT, PEL_ACTION_RELEASE, 0, log, 512).ok());
    Completion c = getLog(LID_PERSISTENT_EVENT, PEL_ACTION_READ, 0, log, 512);
    EXPECT_TRUE(c.is(0, 0x0C)) << std::hex << c.status();

    c = getLog(LID_PERSISTENT_EVENT, PEL_ACTION_ESTABLISH, 0, log, nMax);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    PelHeader h;
    std::memcpy(&h, log.data(), sizeof h);
    EXPECT_EQ(h.lid, LID_PERSISTENT_EVENT);
    EXPECT_GE(h.tll, sizeof(PelHeader));
    ASSERT_LE(h.tll, nMax);
    EXPECT_EQ(h.vid, id.vid);
    EXPECT_EQ(h.ssvid, id.ssvid);
    EXPECT_EQ(std::memcmp(h.sn, id.sn, sizeof h.sn), 0);
    EXPECT_EQ(std::memcmp(h.mn, id.mn, sizeof h.mn), 0);
    EXPECT_EQ(std::strncmp(h.subnqn, id.subnqn, sizeof h.subnqn), 0);
    EXPECT_TRUE(h.seb[PEL_POWER_ON_RESET / 8] & (1u << (PEL_POWER_ON_RESET % 8))) << "power-on or reset events";
    EventWalk w = walkEvents(log, h.tll);
    EXPECT_TRUE(w.bWellFormed);
    EXPECT_EQ(w.nCount, h.tnev);
    if (onSim(*plat)) {
        EXPECT_EQ(h.lhl, PEL_LOG_HEADER_LENGTH);
        ASSERT_GE(h.tnev, 1u) << "the power-on is in the log";
    }
    // With the context the log reads the same from an offset.
    std::vector<uint8_t> tail;
    ASSERT_TRUE(getLog(LID_PERSISTENT_EVENT, PEL_ACTION_READ, 512, tail, 512).ok());
    EXPECT_EQ(std::memcmp(tail.data(), log.data() + 512, std::min<uint64_t>(512, h.tll - 512)), 0);

    // A controller reset: the context is gone, the event is there.
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(16));
    c = getLog(LID_PERSISTENT_EVENT, PEL_ACTION_READ, 0, log, 512);
    EXPECT_TRUE(c.is(0, 0x0C)) << "a controller reset releases the context, status " << std::hex << c.status();
    ASSERT_TRUE(getLog(LID_PERSISTENT_EVENT, PEL_ACTION_ESTABLISH, 0, log, nMax).ok());
    PelHeader h2;
    std::memcpy(&h2, log.data(), sizeof h2);
    EventWalk w2 = walkEvents(log, h2.tll);
    EXPECT_TRUE(w2.bWellFormed);
    EXPECT_EQ(w2.nCount, h2.tnev);
    if (h2.tll < nMax - 4096) {   // room enough: nothing dropped
        EXPECT_GT(h2.tnev, h.tnev);
    }
    PelEventHeader last;
    std::memcpy(&last, log.data() + w2.nLast, sizeof last);
    EXPECT_EQ(last.etype, PEL_POWER_ON_RESET);
    EXPECT_EQ(last.cntlid, id.cntlid);
    ASSERT_GE(last.el, 8 + sizeof(PelResetEntry));
    PelResetEntry entry;
    std::memcpy(&entry, log.data() + w2.nLast + sizeof last + last.vsil + 8, sizeof entry);
    EXPECT_EQ(entry.cid, id.cntlid);
    EXPECT_EQ(std::memcmp(log.data() + w2.nLast + sizeof last + last.vsil, id.fr, 8), 0) << "firmware revision";

    // Release: no more reads without a new context.
    ASSERT_TRUE(getLog(LID_PERSISTENT_EVENT, PEL_ACTION_RELEASE, 0, log, 512).ok());
    EXPECT_TRUE(getLog(LID_PERSISTENT_EVENT, PEL_ACTION_READ, 0, log, 512).is(0, 0x0C));
    // Action 3 is reserved.
    EXPECT_TRUE(getLog(LID_PERSISTENT_EVENT, 3, 0, log, 512).is(0, 0x02));
}

} // namespace
