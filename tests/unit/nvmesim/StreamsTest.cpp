// The streams directive inside the simulator: the pool the namespaces
// without an allocation share (the oldest stream makes room when it is
// used up), and the state of a namespace that is deleted and created again.
#include "SimHost.h"
#include "nvmewire/Directives.h"

#include <vector>

using namespace nvmehost;
using namespace nvmewire;

namespace {

uint16_t enableStreams(SimHost &h, uint32_t nNsid, bool bOn) {
    Sqe e = SimHost::cmd(ADMIN_DIRECTIVE_SEND, nNsid);
    e.setCdw11(directiveCdw11(DOPER_SEND_IDENTIFY_ENABLE, DTYPE_IDENTIFY, 0));
    e.setCdw12(enableDirectiveCdw12(DTYPE_STREAMS, bOn));
    return h.run(0, e);
}

uint16_t receive(SimHost &h, uint32_t nNsid, uint8_t nDoper, uint32_t nCdw12, SimBuffer &b, Cqe *pOut = nullptr) {
    Sqe e = SimHost::cmd(ADMIN_DIRECTIVE_RECV, nNsid);
    e.setPrp1(b.nBus);
    e.setCdw10(4096 / 4 - 1);
    e.setCdw11(directiveCdw11(nDoper, DTYPE_STREAMS, 0));
    e.setCdw12(nCdw12);
    return h.run(0, e, pOut);
}

StreamsParams params(SimHost &h, uint32_t nNsid) {
    SimBuffer b = h.alloc(4096);
    EXPECT_EQ(receive(h, nNsid, DOPER_RECV_STREAMS_PARAMS, 0, b), 0);
    StreamsParams p;
    std::memcpy(&p, b.p, sizeof p);
    return p;
}

std::vector<uint16_t> openStreams(SimHost &h, uint32_t nNsid) {
    SimBuffer b = h.alloc(4096);
    EXPECT_EQ(receive(h, nNsid, DOPER_RECV_STREAMS_STATUS, 0, b), 0);
    const auto *p = reinterpret_cast<const uint16_t *>(b.p);
    return std::vector<uint16_t>(p + 1, p + 1 + p[0]);
}

uint16_t streamWrite(SimHost &h, uint32_t nNsid, uint16_t nId) {
    SimBuffer b = h.alloc(512);
    Sqe e = SimHost::cmd(NVM_WRITE, nNsid);
    e.setPrp1(b.nBus);
    e.setCdw12(uint32_t(DTYPE_STREAMS) << 20);
    e.setCdw13(uint32_t(nId) << 16);
    return h.run(1, e);
}

TEST(Streams, SharedPoolAndANamespaceDeletedWithItsStreams) {
    SimHost h(R"({"devices":[{"streams":4,"namespaces":[{"nsid":1,"size":"4M"}]}]})");
    ASSERT_TRUE(h.bringUp());
    ASSERT_EQ(enableStreams(h, 1, true), 0);
    // Without an allocation namespace 1 draws on the pool of four.
    for (uint16_t id : {3, 1, 2})
        ASSERT_EQ(streamWrite(h, 1, id), 0) << "stream " << id;
    ASSERT_EQ(streamWrite(h, 1, 1), 0);   // open already
    EXPECT_EQ(params(h, 1).nsso, 3u);
    EXPECT_EQ(streamWrite(h, 1, 5), st(SCT_GENERIC, SC_INVALID_FIELD)) << "identifiers end at MSL";

    // A second namespace, streams enabled on all, one stream its own.
    SimBuffer idb = h.alloc(4096);
    reinterpret_cast<nvme_id_ns *>(idb.p)->nsze = reinterpret_cast<nvme_id_ns *>(idb.p)->ncap = 2048;
    Sqe create = SimHost::cmd(ADMIN_NS_MGMT);
    create.setPrp1(idb.nBus);
    Cqe r{};
    ASSERT_EQ(h.run(0, create, &r), 0);
    const uint32_t nNew = r.dw0();
    SimBuffer lb = h.alloc(4096);
    reinterpret_cast<uint16_t *>(lb.p)[0] = 1;
    reinterpret_cast<uint16_t *>(lb.p)[1] = 1;
    Sqe att = SimHost::cmd(ADMIN_NS_ATTACH, nNew);
    att.setPrp1(lb.nBus);
    ASSERT_EQ(h.run(0, att), 0);
    ASSERT_EQ(enableStreams(h, NVME_NSID_ALL, true), 0);
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(receive(h, nNew, DOPER_RECV_STREAMS_ALLOCATE, 1, b, &r), 0);
    EXPECT_EQ(r.dw0(), 1u);
    EXPECT_EQ(params(h, 1).nssa, 3u);
    // The pool is used up: namespace 1's oldest stream makes room.
    ASSERT_EQ(streamWrite(h, 1, 4), 0);
    EXPECT_EQ(openStreams(h, 1), (std::vector<uint16_t>{1, 2, 4}));
    EXPECT_EQ(params(h, 1).nsso, 3u);
    // Namespace 1 asks for four and gets the three left; its pool streams end.
    ASSERT_EQ(receive(h, 1, DOPER_RECV_STREAMS_ALLOCATE, 4, b, &r), 0);
    EXPECT_EQ(r.dw0(), 3u);
    StreamsParams p = params(h, 1);
    EXPECT_EQ(p.nssa, 0u);
    EXPECT_EQ(p.nsso, 0u);
    EXPECT_EQ(p.nsa, 3u);
    EXPECT_TRUE(openStreams(h, 1).empty());
    ASSERT_EQ(streamWrite(h, nNew, 1), 0);
    EXPECT_EQ(streamWrite(h, nNew, 2), st(SCT_GENERIC, SC_INVALID_FIELD)) << "beyond the namespace's allocation";
    EXPECT_EQ(openStreams(h, nNew), std::vector<uint16_t>{1});

    // Deleting the namespace gives its stream back; created again under
    // the same id it starts with streams disabled.
    Sqe del = SimHost::cmd(ADMIN_NS_MGMT, nNew);
    del.setCdw10(1);
    ASSERT_EQ(h.run(0, del), 0);
    EXPECT_EQ(params(h, 1).nssa, 1u);
    ASSERT_EQ(h.run(0, create, &r), 0);
    ASSERT_EQ(r.dw0(), nNew);
    ASSERT_EQ(h.run(0, att), 0);
    EXPECT_EQ(streamWrite(h, nNew, 1), st(SCT_GENERIC, SC_INVALID_FIELD));
    p = params(h, nNew);
    EXPECT_EQ(p.nsa, 0u);
    EXPECT_EQ(p.nso, 0u);
    // Disabling streams on namespace 1 releases its allocation as well.
    ASSERT_EQ(enableStreams(h, 1, false), 0);
    EXPECT_EQ(params(h, 1).nssa, 4u);
    EXPECT_EQ(receive(h, 1, DOPER_RECV_STREAMS_STATUS, 0, b), st(SCT_GENERIC, SC_INVALID_FIELD));
}

} // namespace
