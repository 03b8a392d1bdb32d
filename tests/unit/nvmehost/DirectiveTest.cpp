// Directives: the identify directive's return parameters and enabling the
// streams directive for a namespace; streams parameters, allocation,
// writes that name a stream (which opens it), the open stream list, and
// releasing identifiers and resources; what a controller reset leaves.
// A controller without directives answers both directive commands with
// Invalid Command Opcode.
#include "HostFixture.h"
#include "PrpBuilder.h"
#include "nvmewire/Directives.h"
#include "nvmewire/Identify.h"

#include <nvme/types.h>

#include <algorithm>
#include <cstring>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

constexpr uint8_t kDirectiveSend = 0x19;
constexpr uint8_t kDirectiveReceive = 0x1A;

class HostDirectives : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{"streams": 8,
            "namespaces": [{"nsid": 1, "size": "16M"}, {"nsid": 2, "size": "16M"}]}]})";
    }

    void SetUp() override
    {
        if (!setUpWithIo(32))
            return;
        ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
        if (!(oacs(id) & OACS_DIRECTIVES))
            GTEST_SKIP() << "the controller does not support directives (OACS bit 5)";
        ns = firstNamespace();
        if (ns.nMetaSize)
            GTEST_SKIP() << "plain data formats only";
    }

    Completion receive(uint32_t nNsid, uint8_t nDoper, uint8_t nDtype, uint32_t nCdw12, void *pOut, uint32_t nBytes)
    {
        DmaMemory buf = dataBuffer(std::max<uint32_t>(nBytes, 4), ctl->pageSize());
        Sqe cmd{};
        cmd.setOpc(kDirectiveReceive);
        cmd.setNsid(nNsid);
        cmd.setCdw10(nBytes / 4 - 1);
        cmd.setCdw11(directiveCdw11(nDoper, nDtype, 0));
        cmd.setCdw12(nCdw12);
        PrpBuilder prp(*ctl);
        prp.build(cmd, buf.bus(), nBytes, nullptr);
        Completion c = ctl->admin(cmd);
        if (pOut)
            std::memcpy(pOut, buf.host(), nBytes);
        return c;
    }

    Completion send(uint32_t nNsid, uint8_t nDoper, uint8_t nDtype, uint16_t nDspec, uint32_t nCdw12)
    {
        Sqe cmd{};
        cmd.setOpc(kDirectiveSend);
        cmd.setNsid(nNsid);
        cmd.setCdw11(directiveCdw11(nDoper, nDtype, nDspec));
        cmd.setCdw12(nCdw12);
        return ctl->admin(cmd);
    }

    IdDirectives identifyDirective(uint32_t nNsid)
    {
        IdDirectives d{};
        Completion c = receive(nNsid, DOPER_RECV_IDENTIFY_PARAMS, DTYPE_IDENTIFY, 0, &d, sizeof d);
        EXPECT_TRUE(c.ok()) << std::hex << c.status();
        return d;
    }

    StreamsParams streamsParams(uint32_t nNsid)
    {
        StreamsParams p{};
        Completion c = receive(nNsid, DOPER_RECV_STREAMS_PARAMS, DTYPE_STREAMS, 0, &p, sizeof p);
        EXPECT_TRUE(c.ok()) << std::hex << c.status();
        return p;
    }

    std::vector<uint16_t> openStreams(uint32_t nNsid)
    {
        uint16_t a[64] = {};
        Completion c = receive(nNsid, DOPER_RECV_STREAMS_STATUS, DTYPE_STREAMS, 0, a, sizeof a);
        EXPECT_TRUE(c.ok()) << std::hex << c.status();
        std::vector<uint16_t> v(a + 1, a + 1 + std::min<uint16_t>(a[0], 63));
        std::sort(v.begin(), v.end());
        return v;
    }

    // A write of one block at nSlba naming a directive.
    Completion streamWrite(uint64_t nSlba, uint8_t nDtype, uint16_t nDspec, const DmaMemory &data)
    {
        Sqe w = makeRw(NVM_WRITE, ns.nNsid, nSlba, 1);
        w.setCdw12(w.cdw12() | (uint32_t(nDtype) << 20));
        w.setCdw13(uint32_t(nDspec) << 16);
        PrpBuilder prp(*ctl);
        prp.build(w, data.bus(), ns.nBlockSize, nullptr);
        return ctl->execute(*ctl->sq(1), w);
    }

    nvme_id_ctrl id{};
    NamespaceInfo ns;
};

TEST_F(HostDirectives, StreamsFromEnablingToRelease)
{
    IdDirectives d = identifyDirective(ns.nNsid);
    if (!(d.supported[0] & (1u << DTYPE_STREAMS)))
        GTEST_SKIP() << "the streams directive is not supported";
    EXPECT_TRUE(d.supported[0] & (1u << DTYPE_IDENTIFY));
    EXPECT_TRUE(d.enabled[0] & (1u << DTYPE_IDENTIFY)) << "the identify directive is always enabled";
    EXPECT_FALSE(d.enabled[0] & (1u << DTYPE_STREAMS)) << "streams start disabled";

    DmaMemory w = dataBuffer(ns.nBlockSize, ctl->pageSize());
    fillPattern(w.host(), ns.nBlockSize, 71);
    // Streams not enabled yet: a write naming one and an allocation fail.
    EXPECT_TRUE(streamWrite(10, DTYPE_STREAMS, 1, w).is(0, 0x02));
    EXPECT_TRUE(receive(ns.nNsid, DOPER_RECV_STREAMS_ALLOCATE, DTYPE_STREAMS, 2, nullptr, 4).is(0, 0x02));
    // The identify directive cannot be switched; an unknown type neither.
    EXPECT_TRUE(send(ns.nNsid, DOPER_SEND_IDENTIFY_ENABLE, DTYPE_IDENTIFY, 0, enableDirectiveCdw12(DTYPE_IDENTIFY, false))
                    .is(0, 0x02));
    EXPECT_TRUE(send(ns.nNsid, DOPER_SEND_IDENTIFY_ENABLE, DTYPE_IDENTIFY, 0, enableDirectiveCdw12(9, true)).is(0, 0x02));

    Completion c = send(ns.nNsid, DOPER_SEND_IDENTIFY_ENABLE, DTYPE_IDENTIFY, 0, enableDirectiveCdw12(DTYPE_STREAMS, true));
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_TRUE(identifyDirective(ns.nNsid).enabled[0] & (1u << DTYPE_STREAMS));

    StreamsParams p = streamsParams(ns.nNsid);
    ASSERT_GE(p.msl, 3u);
    EXPECT_EQ(p.nsa, 0u);
    EXPECT_EQ(p.nso, 0u);
    const uint16_t nAvailable = p.nssa;

    // Three streams for the namespace.
    c = receive(ns.nNsid, DOPER_RECV_STREAMS_ALLOCATE, DTYPE_STREAMS, 3, nullptr, 4);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    const uint16_t nAllocated = c.dw0() & 0xFFFF;
    ASSERT_GE(nAllocated, 2u);
    ASSERT_LE(nAllocated, 3u);
    p = streamsParams(ns.nNsid);
    EXPECT_EQ(p.nsa, nAllocated);
    EXPECT_EQ(p.nssa, nAvailable - nAllocated);

    // Writes naming streams open them; identifiers past the allocation, 0
    // and an unsupported directive type are refused.
    ASSERT_TRUE(streamWrite(10, DTYPE_STREAMS, 2, w).ok());
    ASSERT_TRUE(streamWrite(11, DTYPE_STREAMS, 1, w).ok());
    ASSERT_TRUE(streamWrite(12, DTYPE_STREAMS, 2, w).ok());
    EXPECT_TRUE(streamWrite(13, DTYPE_STREAMS, uint16_t(nAllocated + 1), w).is(0, 0x02));
    EXPECT_TRUE(streamWrite(13, DTYPE_STREAMS, 0, w).is(0, 0x02));
    EXPECT_TRUE(streamWrite(13, 0x7, 1, w).is(0, 0x02));
    EXPECT_EQ(openStreams(ns.nNsid), (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(streamsParams(ns.nNsid).nso, 2u);
    // What went through a stream reads back.
    DmaMemory r = dataBuffer(3 * ns.nBlockSize, ctl->pageSize());
    ASSERT_TRUE(io(NVM_READ, ns.nNsid, 10, 3, r).ok());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::memcmp(r.host() + i * ns.nBlockSize, w.host(), ns.nBlockSize), 0) << "block " << 10 + i;

    // Releasing one identifier closes it; releasing the resources ends all.
    ASSERT_TRUE(send(ns.nNsid, DOPER_SEND_STREAMS_RELEASE_ID, DTYPE_STREAMS, 2, 0).ok());
    EXPECT_EQ(openStreams(ns.nNsid), (std::vector<uint16_t>{1}));
    ASSERT_TRUE(send(ns.nNsid, DOPER_SEND_STREAMS_RELEASE_RESOURCES, DTYPE_STREAMS, 0, 0).ok());
    p = streamsParams(ns.nNsid);
    EXPECT_EQ(p.nsa, 0u);
    EXPECT_EQ(p.nso, 0u);
    EXPECT_EQ(p.nssa, nAvailable);

    if (onSim(*plat)) {
        // The simulator asks for a release before a second allocation.
        ASSERT_TRUE(receive(ns.nNsid, DOPER_RECV_STREAMS_ALLOCATE, DTYPE_STREAMS, 1, nullptr, 4).ok());
        EXPECT_TRUE(receive(ns.nNsid, DOPER_RECV_STREAMS_ALLOCATE, DTYPE_STREAMS, 1, nullptr, 4).is(0, 0x0C));
    }

    // Streams stay off on the other namespace, and a controller reset
    // disables the directive again.
    for (uint32_t nOther : activeNamespaces(*ctl))
        if (nOther != ns.nNsid) {
            EXPECT_FALSE(identifyDirective(nOther).enabled[0] & (1u << DTYPE_STREAMS)) << "namespace " << nOther;
        }
    ASSERT_NO_FATAL_FAILURE(bringUpWithIo(32));
    EXPECT_FALSE(identifyDirective(ns.nNsid).enabled[0] & (1u << DTYPE_STREAMS));
    EXPECT_TRUE(streamWrite(10, DTYPE_STREAMS, 1, w).is(0, 0x02));
    if (onSim(*plat)) {
        EXPECT_EQ(streamsParams(ns.nNsid).nssa, p.msl) << "the reset gave the allocation back";
    }
}

// The default simulated device has no directives.
class HostWithoutDirectives : public HostFixture {
protected:
    void SetUp() override
    {
        if (!setUpWithIo(16))
            return;
        nvme_id_ctrl id;
        ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
        if (oacs(id) & OACS_DIRECTIVES)
            GTEST_SKIP() << "the controller supports directives";
    }
};

TEST_F(HostWithoutDirectives, DirectiveCommandsAreInvalidOpcodes)
{
    Sqe cmd{};
    cmd.setOpc(kDirectiveSend);
    cmd.setNsid(1);
    cmd.setCdw11(directiveCdw11(DOPER_SEND_IDENTIFY_ENABLE, DTYPE_IDENTIFY, 0));
    cmd.setCdw12(enableDirectiveCdw12(DTYPE_STREAMS, true));
    Completion c = ctl->admin(cmd);
    EXPECT_TRUE(c.is(0, 0x01)) << std::hex << c.status();
    DmaMemory buf = dataBuffer(4096, ctl->pageSize());
    cmd = Sqe{};
    cmd.setOpc(kDirectiveReceive);
    cmd.setNsid(1);
    cmd.setCdw10(1023);
    cmd.setCdw11(directiveCdw11(DOPER_RECV_IDENTIFY_PARAMS, DTYPE_IDENTIFY, 0));
    PrpBuilder prp(*ctl);
    prp.build(cmd, buf.bus(), 4096, nullptr);
    c = ctl->admin(cmd);
    EXPECT_TRUE(c.is(0, 0x01)) << std::hex << c.status();
}

} // namespace
