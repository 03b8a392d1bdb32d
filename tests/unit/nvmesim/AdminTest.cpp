#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;

namespace {
uint16_t getLog(SimHost &h, uint8_t nLid, SimBuffer &b, uint32_t nLen, uint32_t nNsid = 0xFFFFFFFF, uint64_t nOffset = 0,
                bool bRae = false) {
    Sqe e = SimHost::cmd(ADMIN_GET_LOG_PAGE, nNsid);
    e.setPrp1(b.nBus);
    e.setPrp2(nLen > 4096 ? b.nBus + 4096 : 0);
    const uint32_t nNumd = nLen / 4 - 1;
    e.setCdw10(nLid | (bRae ? 0x8000u : 0) | ((nNumd & 0xFFFF) << 16));
    e.setCdw11(nNumd >> 16);
    e.setCdw12(static_cast<uint32_t>(nOffset));
    e.setCdw13(static_cast<uint32_t>(nOffset >> 32));
    return h.run(0, e);
}
uint16_t features(SimHost &h, bool bSet, uint32_t nCdw10, uint32_t nCdw11, Cqe *pOut, SimBuffer *pBuf = nullptr) {
    Sqe e = SimHost::cmd(bSet ? ADMIN_SET_FEATURES : ADMIN_GET_FEATURES);
    e.setCdw10(nCdw10);
    e.setCdw11(nCdw11);
    if (pBuf)
        e.setPrp1(pBuf->nBus);
    return h.run(0, e, pOut);
}
uint64_t le128lo(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
} // namespace

TEST(Admin, IdentifyControllerAndNamespace) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(h.identify(CNS_CTRL, 0, b), 0);
    auto *id = reinterpret_cast<nvme_id_ctrl *>(b.p);
    EXPECT_EQ(id->vid, 0xC1A0);
    EXPECT_EQ(id->cntlid, 1);
    EXPECT_EQ(id->ver, 0x00020000u);
    EXPECT_EQ(id->sqes, 0x66);
    EXPECT_EQ(id->cqes, 0x44);
    EXPECT_EQ(id->nn, 32u);
    EXPECT_EQ(id->mdts, 5);
    EXPECT_EQ(std::string(id->mn, 8), "Korvel s");
    EXPECT_NE(id->oacs & 0x8, 0);   // namespace management
    ASSERT_EQ(h.identify(CNS_NS, 1, b), 0);
    auto *ns = reinterpret_cast<nvme_id_ns *>(b.p);
    EXPECT_EQ(ns->nsze, (1ull << 30) / 512);
    EXPECT_EQ(ns->ncap, ns->nsze);
    EXPECT_EQ(ns->flbas & 0xF, 0);
    EXPECT_EQ(ns->lbaf[0].ds, 9);
    EXPECT_EQ(ns->lbaf[2].ds, 12);
    EXPECT_EQ(ns->lbaf[1].ms, 8);
    EXPECT_EQ(ns->nlbaf, 4);
    // An inactive id gives zeros, an invalid one an error.
    std::memset(b.p, 0xEE, 4096);
    ASSERT_EQ(h.identify(CNS_NS, 7, b), 0);
    EXPECT_EQ(reinterpret_cast<nvme_id_ns *>(b.p)->nsze, 0u);
    EXPECT_EQ(h.identify(CNS_NS, 33, b), st(SCT_GENERIC, SC_INVALID_NS));
    EXPECT_EQ(h.identify(0x55, 0, b), st(SCT_GENERIC, SC_INVALID_FIELD));
}

TEST(Admin, IdentifyListsAndDescriptors) {
    SimHost h(R"({"devices":[{"controllerCount":2,"namespaces":[{"nsid":1,"size":"1M"},{"nsid":5,"size":"1M","attach":[1]}]}]})");
    ASSERT_TRUE(h.enable());
    SimBuffer b = h.alloc(4096);
    auto *list = reinterpret_cast<uint32_t *>(b.p);
    ASSERT_EQ(h.identify(CNS_NS_ACTIVE_LIST, 0, b), 0);
    EXPECT_EQ(list[0], 1u);
    EXPECT_EQ(list[1], 0u);
    ASSERT_EQ(h.identify(CNS_ALLOCATED_NS_LIST, 0, b), 0);
    EXPECT_EQ(list[0], 1u);
    EXPECT_EQ(list[1], 5u);
    ASSERT_EQ(h.identify(CNS_ALLOCATED_NS_LIST, 1, b), 0);
    EXPECT_EQ(list[0], 5u);
    auto *ids = reinterpret_cast<uint16_t *>(b.p);
    ASSERT_EQ(h.identify(CNS_NS_CTRL_LIST, 5, b), 0);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 2);
    ASSERT_EQ(h.identify(CNS_CTRL_LIST, 0, b), 0);
    EXPECT_EQ(ids[0], 2);
    ASSERT_EQ(h.identify(CNS_CTRL_LIST, 0, b, 2), 0);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 2);
    ASSERT_EQ(h.identify(CNS_NS_DESC_LIST, 1, b), 0);
    EXPECT_EQ(b.p[0], 2);    // NGUID first
    EXPECT_EQ(b.p[1], 16);
    EXPECT_EQ(h.identify(CNS_NS_DESC_LIST, 5, b), st(SCT_GENERIC, SC_INVALID_NS));
    ASSERT_EQ(h.identify(CNS_COMMAND_SET_STRUCTURE, 0, b), 0);
    EXPECT_EQ(reinterpret_cast<uint64_t *>(b.p)[0], IOCS_NVM | IOCS_KV | IOCS_ZNS);
    EXPECT_EQ(reinterpret_cast<uint64_t *>(b.p)[3], IOCS_NVM);
    ASSERT_EQ(h.identify(CNS_ALLOCATED_NS, 5, b), 0);
    EXPECT_EQ(reinterpret_cast<nvme_id_ns *>(b.p)->nsze, 2048u);
}

TEST(Admin, QueueCreationValidation) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    EXPECT_EQ(h.createCq(0, 16), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
    EXPECT_EQ(h.createCq(65, 16), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
    EXPECT_EQ(h.createCq(1, 1), st(SCT_CMD_SPECIFIC, SC_QUEUE_SIZE));
    EXPECT_EQ(h.createCq(1, 1025), st(SCT_CMD_SPECIFIC, SC_QUEUE_SIZE));
    EXPECT_EQ(h.createSq(1, 1, 16), st(SCT_CMD_SPECIFIC, SC_CQ_INVALID));
    EXPECT_EQ(h.createCq(1, 1024), 0);
    EXPECT_EQ(h.createCq(1, 16), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
    EXPECT_EQ(h.createSq(1, 0, 16), st(SCT_CMD_SPECIFIC, SC_CQ_INVALID));
    EXPECT_EQ(h.createSq(1, 1, 16), 0);
    EXPECT_EQ(h.createSq(2, 1, 16), 0);
    // Non-contiguous queues are refused while CAP.CQR is set.
    Sqe e = SimHost::cmd(ADMIN_CREATE_CQ);
    e.setPrp1(h.alloc(4096).nBus);
    e.setCdw10((15u << 16) | 3);
    EXPECT_EQ(h.run(0, e), st(SCT_GENERIC, SC_INVALID_FIELD));
    // Deletion: a CQ in use cannot go; SQs then CQ can.
    Sqe d = SimHost::cmd(ADMIN_DELETE_CQ);
    d.setCdw10(1);
    EXPECT_EQ(h.run(0, d), st(SCT_CMD_SPECIFIC, SC_INVALID_QUEUE));
    Sqe ds = SimHost::cmd(ADMIN_DELETE_SQ);
    ds.setCdw10(0);
    EXPECT_EQ(h.run(0, ds), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
    ds.setCdw10(3);
    EXPECT_EQ(h.run(0, ds), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
    ds.setCdw10(1);
    EXPECT_EQ(h.run(0, ds), 0);
    ds.setCdw10(2);
    EXPECT_EQ(h.run(0, ds), 0);
    EXPECT_EQ(h.run(0, d), 0);
    EXPECT_EQ(h.run(0, d), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
}

TEST(Admin, NumberOfQueuesLimitsCreation) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    Cqe r{};
    ASSERT_EQ(features(h, false, NVME_FEAT_FID_NUM_QUEUES | (1u << 8), 0, &r), 0);
    EXPECT_EQ(r.dw0(), 63u | (63u << 16));
    ASSERT_EQ(features(h, true, NVME_FEAT_FID_NUM_QUEUES, 1 | (0u << 16), &r), 0);
    EXPECT_EQ(r.dw0(), 1u);
    EXPECT_EQ(h.createCq(2, 16), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
    ASSERT_EQ(h.createCq(1, 16), 0);
    EXPECT_EQ(h.createSq(2, 1, 16), 0);
    EXPECT_EQ(h.createSq(3, 1, 16), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
    // Not again once queues exist.
    EXPECT_EQ(features(h, true, NVME_FEAT_FID_NUM_QUEUES, 3, &r), st(SCT_GENERIC, SC_CMD_SEQ_ERROR));
    EXPECT_EQ(features(h, true, NVME_FEAT_FID_NUM_QUEUES, 0xFFFF, &r), st(SCT_GENERIC, SC_INVALID_FIELD));
}

TEST(Admin, FeaturesRoundTrip) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    Cqe r{};
    struct {
        uint8_t nFid;
        uint32_t nValue;
    } cases[] = {{NVME_FEAT_FID_ARBITRATION, 0x03020103}, {NVME_FEAT_FID_VOLATILE_WC, 0},
                 {NVME_FEAT_FID_IRQ_COALESCE, 0x0A05}, {NVME_FEAT_FID_WRITE_ATOMIC, 1},
                 {NVME_FEAT_FID_ASYNC_EVENT, 0x100}, {NVME_FEAT_FID_KATO, 2000}};
    for (auto &c : cases) {
        ASSERT_EQ(features(h, true, c.nFid, c.nValue, &r), 0) << int(c.nFid);
        ASSERT_EQ(features(h, false, c.nFid, 0, &r), 0);
        EXPECT_EQ(r.dw0(), c.nValue) << int(c.nFid);
        ASSERT_EQ(features(h, false, c.nFid | (1u << 8), 0, &r), 0);   // default
        ASSERT_EQ(features(h, false, c.nFid | (3u << 8), 0, &r), 0);   // capabilities
        EXPECT_EQ(r.dw0(), 4u);
    }
    EXPECT_EQ(features(h, true, NVME_FEAT_FID_KATO, 0, &r), 0);
    // Temperature threshold selects over/under by THSEL.
    ASSERT_EQ(features(h, true, NVME_FEAT_FID_TEMP_THRESH, 350, &r), 0);
    ASSERT_EQ(features(h, true, NVME_FEAT_FID_TEMP_THRESH, 260 | (1u << 20), &r), 0);
    ASSERT_EQ(features(h, false, NVME_FEAT_FID_TEMP_THRESH, 0, &r), 0);
    EXPECT_EQ(r.dw0(), 350u);
    ASSERT_EQ(features(h, false, NVME_FEAT_FID_TEMP_THRESH, 1u << 20, &r), 0);
    EXPECT_EQ(r.dw0(), 260u);
    // Saving is not supported; unknown features are refused.
    EXPECT_EQ(features(h, true, NVME_FEAT_FID_ARBITRATION | (1u << 31), 0, &r), st(SCT_CMD_SPECIFIC, SC_FEATURE_NOT_SAVEABLE));
    EXPECT_EQ(features(h, false, 0x7F, 0, &r), st(SCT_GENERIC, SC_INVALID_FIELD));
    // Power states beyond NPSS (the default table has PS0-PS4).
    EXPECT_EQ(features(h, true, NVME_FEAT_FID_POWER_MGMT, 5, &r), st(SCT_GENERIC, SC_INVALID_FIELD));
    // Timestamp and host memory buffer carry data.
    SimBuffer b = h.alloc(4096);
    const uint64_t nTs = 1700000000000ull;
    std::memcpy(b.p, &nTs, 6);
    Sqe e = SimHost::cmd(ADMIN_SET_FEATURES);
    e.setCdw10(NVME_FEAT_FID_TIMESTAMP);
    e.setPrp1(b.nBus);
    ASSERT_EQ(h.run(0, e), 0);
    std::memset(b.p, 0, 16);
    ASSERT_EQ(features(h, false, NVME_FEAT_FID_TIMESTAMP, 0, &r, &b), 0);
    uint64_t nBack = 0;
    std::memcpy(&nBack, b.p, 6);
    EXPECT_GE(nBack, nTs);
    EXPECT_LT(nBack, nTs + 5000);
    Sqe hm = SimHost::cmd(ADMIN_SET_FEATURES);
    hm.setCdw10(NVME_FEAT_FID_HOST_MEM_BUF);
    hm.setCdw11(1);
    hm.setCdw12(256);
    hm.setCdw13(0x1000);
    hm.setCdw15(1);
    ASSERT_EQ(h.run(0, hm), 0);
    ASSERT_EQ(features(h, false, NVME_FEAT_FID_HOST_MEM_BUF, 0, &r, &b), 0);
    EXPECT_EQ(r.dw0(), 1u);
    EXPECT_EQ(reinterpret_cast<nvme_host_mem_buf_attrs *>(b.p)->hsize, 256u);
}

TEST(Admin, LogPages) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    SimBuffer d = h.alloc(4096);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(h.rw(true, 1, i, 1, d), 0);
    ASSERT_EQ(h.rw(false, 1, 0, 8, d), 0);
    SimBuffer b = h.alloc(8192);
    ASSERT_EQ(getLog(h, NVME_LOG_LID_SMART, b, 512), 0);
    auto *s = reinterpret_cast<nvme_smart_log *>(b.p);
    EXPECT_EQ(le128lo(s->host_writes), 3u);
    EXPECT_EQ(le128lo(s->host_reads), 1u);
    EXPECT_EQ(le128lo(s->data_units_read), 1u);   // 8 units of 512 bytes, in thousands rounded up
    EXPECT_EQ(s->temperature[0] | (s->temperature[1] << 8), 313);
    EXPECT_EQ(getLog(h, NVME_LOG_LID_SMART, b, 512, 1), st(SCT_GENERIC, SC_INVALID_FIELD));
    // An error shows up in the error log, newest first.
    EXPECT_EQ(h.rw(false, 1, 1ull << 40, 1, d), st(SCT_GENERIC, SC_LBA_RANGE));
    ASSERT_EQ(getLog(h, NVME_LOG_LID_ERROR, b, 4096), 0);
    auto *el = reinterpret_cast<nvme_error_log_page *>(b.p);
    EXPECT_EQ(el[0].error_count, 2u);   // the refused SMART read came first
    EXPECT_EQ(el[1].error_count, 1u);
    EXPECT_EQ(el[0].sqid, 1);
    EXPECT_EQ(el[1].sqid, 0);
    // The entry holds the status as completed, More bit included.
    EXPECT_EQ((el[0].status_field >> 1), st(SCT_GENERIC, SC_LBA_RANGE) | STATUS_MORE);
    ASSERT_EQ(getLog(h, NVME_LOG_LID_FW_SLOT, b, 512), 0);
    EXPECT_EQ(b.p[0] & 7, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b.p) + 8, 3), "1.0");
    ASSERT_EQ(getLog(h, NVME_LOG_LID_CMD_EFFECTS, b, 4096), 0);
    auto *fx = reinterpret_cast<nvme_cmd_effects_log *>(b.p);
    EXPECT_EQ(fx->acs[ADMIN_IDENTIFY] & 1, 1u);
    EXPECT_EQ(fx->iocs[NVM_WRITE] & 3, 3u);
    EXPECT_EQ(fx->iocs[0x7F], 0u);
    // Offsets: dword aligned and inside the page.
    ASSERT_EQ(getLog(h, NVME_LOG_LID_SMART, b, 16, 0xFFFFFFFF, 0x20), 0);
    EXPECT_EQ(le128lo(b.p), 1u);   // data units read
    EXPECT_EQ(getLog(h, NVME_LOG_LID_SMART, b, 16, 0xFFFFFFFF, 2), st(SCT_GENERIC, SC_INVALID_FIELD));
    EXPECT_EQ(getLog(h, NVME_LOG_LID_SMART, b, 16, 0xFFFFFFFF, 4096), st(SCT_GENERIC, SC_INVALID_FIELD));
    EXPECT_EQ(getLog(h, 0x7E, b, 512), st(SCT_CMD_SPECIFIC, SC_INVALID_LOG_PAGE));
}

TEST(Admin, UnsupportedOpcodes) {
    SimHost h;
    ASSERT_TRUE(h.bringUp());
    EXPECT_EQ(h.run(0, SimHost::cmd(0x7E)), st(SCT_GENERIC, SC_INVALID_OPCODE));
    EXPECT_EQ(h.run(0, SimHost::cmd(ADMIN_CAP_MGMT)), st(SCT_GENERIC, SC_INVALID_OPCODE));
    EXPECT_EQ(h.run(1, SimHost::cmd(OPC_FABRICS, 1)), st(SCT_GENERIC, SC_INVALID_OPCODE));
    EXPECT_EQ(h.run(1, SimHost::cmd(NVM_RESV_REGISTER, 1)), st(SCT_GENERIC, SC_INVALID_OPCODE));
}

TEST(Admin, AsyncEventsForInvalidDoorbellsAndNamespaceChanges) {
    SimHost h(R"({"devices":[{"controllerCount":2}]})");
    ASSERT_TRUE(h.bringUp());
    const uint16_t nAer = h.push(0, SimHost::cmd(ADMIN_ASYNC_EVENT));
    // A tail beyond the queue size is an invalid doorbell write value.
    h.ring(1, true, 500);
    Cqe r{};
    ASSERT_TRUE(h.reap(0, &r));
    EXPECT_EQ(r.cid(), nAer);
    EXPECT_EQ(r.dw0() & 0x7, 0u);                 // error
    EXPECT_EQ((r.dw0() >> 8) & 0xFF, 1u);         // invalid doorbell write value
    EXPECT_EQ((r.dw0() >> 16) & 0xFF, 1u);        // error log
    // Further error events stay masked until the error log is read.
    h.push(0, SimHost::cmd(ADMIN_ASYNC_EVENT));
    h.ring(9, true, 1);                          // queue 9 does not exist
    EXPECT_FALSE(h.reap(0, &r, 100));
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(getLog(h, NVME_LOG_LID_ERROR, b, 64), 0);
    EXPECT_EQ(reinterpret_cast<nvme_error_log_page *>(b.p)->sqid, 0xFFFF);   // not tied to a command
    EXPECT_EQ(reinterpret_cast<nvme_error_log_page *>(b.p)->error_count, 2u);   // both doorbell errors so far
    ASSERT_TRUE(h.reap(0, &r));
    EXPECT_EQ((r.dw0() >> 8) & 0xFF, 0u);         // write to invalid doorbell register
    // Namespace notices need enabling.
    Cqe f{};
    ASSERT_EQ(features(h, true, NVME_FEAT_FID_ASYNC_EVENT, 1u << 8, &f), 0);
    h.push(0, SimHost::cmd(ADMIN_ASYNC_EVENT));
    Sqe att = SimHost::cmd(ADMIN_NS_ATTACH, 1);
    auto *list = reinterpret_cast<uint16_t *>(b.p);
    list[0] = 1;
    list[1] = 2;
    att.setPrp1(b.nBus);
    att.setCdw10(1);   // detach controller 2: not this one, no notice here
    ASSERT_EQ(h.run(0, att), 0);
    list[1] = 1;
    const uint16_t nDetach = h.push(0, att);
    Cqe a{}, c2{};
    ASSERT_TRUE(h.reap(0, &a));
    ASSERT_TRUE(h.reap(0, &c2));
    if (a.cid() == nDetach)
        std::swap(a, c2);
    EXPECT_EQ(a.dw0(), 2u | (0u << 8) | (4u << 16));
    ASSERT_EQ(getLog(h, NVME_LOG_LID_CHANGED_NS, b, 4096), 0);
    EXPECT_EQ(reinterpret_cast<uint32_t *>(b.p)[0], 1u);
    EXPECT_EQ(reinterpret_cast<uint32_t *>(b.p)[1], 0u);
    ASSERT_EQ(getLog(h, NVME_LOG_LID_CHANGED_NS, b, 4096), 0);
    EXPECT_EQ(reinterpret_cast<uint32_t *>(b.p)[0], 0u);   // cleared by the read
}

TEST(Admin, AsyncEventRequestLimit) {
    SimHost h;
    ASSERT_TRUE(h.enable(32, 32));
    for (int i = 0; i < 4; ++i)
        h.push(0, SimHost::cmd(ADMIN_ASYNC_EVENT));
    Cqe r{};
    EXPECT_EQ(h.run(0, SimHost::cmd(ADMIN_ASYNC_EVENT), &r), st(SCT_CMD_SPECIFIC, SC_ASYNC_LIMIT));
}

TEST(Admin, AbortFindsOutstandingCommands) {
    SimHost h;
    ASSERT_TRUE(h.enable(32, 32));
    const uint16_t nAer = h.push(0, SimHost::cmd(ADMIN_ASYNC_EVENT));
    Sqe ab = SimHost::cmd(ADMIN_ABORT);
    ab.setCdw10((static_cast<uint32_t>(nAer) << 16) | 0);
    const uint16_t nAbort = h.push(0, ab);
    Cqe a{}, b{};
    ASSERT_TRUE(h.reap(0, &a));
    ASSERT_TRUE(h.reap(0, &b));
    if (a.cid() != nAer)
        std::swap(a, b);
    EXPECT_EQ(a.cid(), nAer);
    EXPECT_EQ(a.status(), st(SCT_GENERIC, SC_ABORT_REQ, false));
    EXPECT_EQ(b.cid(), nAbort);
    EXPECT_EQ(b.dw0() & 1, 0u);
    // Nothing to abort: bit 0 set.
    ab.setCdw10((0x3333u << 16) | 1);
    Cqe r{};
    ASSERT_EQ(h.run(0, ab, &r), 0);
    EXPECT_EQ(r.dw0() & 1, 1u);
}

TEST(Admin, NamespaceManagementWithCapacityAccounting) {
    SimHost h(R"({"devices":[{"capacity":"64M","namespaces":[{"nsid":1,"size":"16M"}]}]})");
    ASSERT_TRUE(h.bringUp());
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(h.identify(CNS_CTRL, 0, b), 0);
    EXPECT_EQ(le128lo(reinterpret_cast<nvme_id_ctrl *>(b.p)->tnvmcap), 64ull << 20);
    EXPECT_EQ(le128lo(reinterpret_cast<nvme_id_ctrl *>(b.p)->unvmcap), 48ull << 20);
    auto create = [&](uint64_t nBlocks, uint8_t nFlbas, Cqe *pOut) {
        std::memset(b.p, 0, 4096);
        auto *id = reinterpret_cast<nvme_id_ns *>(b.p);
        id->nsze = nBlocks;
        id->ncap = nBlocks;
        id->flbas = nFlbas;
        Sqe e = SimHost::cmd(ADMIN_NS_MGMT);
        e.setPrp1(b.nBus);
        return h.run(0, e, pOut);
    };
    Cqe r{};
    ASSERT_EQ(create(8192, 2, &r), 0);   // 32 MiB of 4 KiB blocks
    const uint32_t nNew = r.dw0();
    EXPECT_EQ(nNew, 2u);
    EXPECT_EQ(create(8192, 2, &r), st(SCT_CMD_SPECIFIC, SC_NS_INSUFFICIENT_CAP));
    EXPECT_EQ(create(16, 9, &r), st(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT));
    // Created but not attached: allocated, not active.
    auto *list = reinterpret_cast<uint32_t *>(b.p);
    ASSERT_EQ(h.identify(CNS_NS_ACTIVE_LIST, 0, b), 0);
    EXPECT_EQ(list[1], 0u);
    EXPECT_EQ(h.rw(false, nNew, 0, 1, b), st(SCT_GENERIC, SC_INVALID_NS));
    Sqe att = SimHost::cmd(ADMIN_NS_ATTACH, nNew);
    SimBuffer lb = h.alloc(4096);
    reinterpret_cast<uint16_t *>(lb.p)[0] = 1;
    reinterpret_cast<uint16_t *>(lb.p)[1] = 1;
    att.setPrp1(lb.nBus);
    ASSERT_EQ(h.run(0, att), 0);
    EXPECT_EQ(h.run(0, att), st(SCT_CMD_SPECIFIC, SC_NS_ALREADY_ATTACHED));
    reinterpret_cast<uint16_t *>(lb.p)[1] = 9;
    EXPECT_EQ(h.run(0, att), st(SCT_CMD_SPECIFIC, SC_CTRL_LIST_INVALID));
    SimBuffer d = h.alloc(4096);
    std::memset(d.p, 0x77, 4096);
    ASSERT_EQ(h.rw(true, nNew, 8191, 1, d), 0);
    EXPECT_EQ(h.rw(true, nNew, 8192, 1, d), st(SCT_GENERIC, SC_LBA_RANGE));
    // Deleting gives the capacity back.
    Sqe del = SimHost::cmd(ADMIN_NS_MGMT, nNew);
    del.setCdw10(1);
    ASSERT_EQ(h.run(0, del), 0);
    EXPECT_EQ(h.run(0, del), st(SCT_GENERIC, SC_INVALID_NS));
    EXPECT_EQ(h.rw(false, nNew, 0, 1, d), st(SCT_GENERIC, SC_INVALID_NS));
    ASSERT_EQ(create(8192, 2, &r), 0);
}

TEST(Admin, FormatChangesBlockSizeAndErases) {
    SimHost h(R"({"devices":[{"namespaces":[{"nsid":1,"size":"8M"}],"timings":{"formatUs":30000}}]})");
    ASSERT_TRUE(h.bringUp());
    SimBuffer d = h.alloc(8192);
    std::memset(d.p, 0xAB, 4096);
    ASSERT_EQ(h.rw(true, 1, 0, 8, d), 0);
    Sqe f = SimHost::cmd(ADMIN_FORMAT_NVM, 1);
    f.setCdw10(2);   // 4096-byte blocks
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(h.run(0, f), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(29));
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(h.identify(CNS_NS, 1, b), 0);
    auto *id = reinterpret_cast<nvme_id_ns *>(b.p);
    EXPECT_EQ(id->flbas & 0xF, 2);
    EXPECT_EQ(id->nsze, 2048u);
    ASSERT_EQ(h.rw(false, 1, 0, 1, d), 0);
    EXPECT_EQ(d.p[0], 0);
    EXPECT_EQ(d.p[4095], 0);
    f.setCdw10(12);
    EXPECT_EQ(h.run(0, f), st(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT));
    f.setCdw10(0 | (1u << 5));   // protection information in a format without metadata
    EXPECT_EQ(h.run(0, f), st(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT));
    f.setNsid(9);
    f.setCdw10(0);
    EXPECT_EQ(h.run(0, f), st(SCT_GENERIC, SC_INVALID_NS));
}

TEST(Admin, FirmwareDownloadAndCommit) {
    SimHost h;
    ASSERT_TRUE(h.enable());
    SimBuffer img = h.alloc(4096);
    std::memcpy(img.p, "2.5.1RC1", 8);
    Sqe dl = SimHost::cmd(ADMIN_FW_DOWNLOAD);
    dl.setPrp1(img.nBus);
    dl.setCdw10(4096 / 4 - 1);
    dl.setCdw11(0);
    ASSERT_EQ(h.run(0, dl), 0);
    Sqe cm = SimHost::cmd(ADMIN_FW_COMMIT);
    cm.setCdw10(2 | (1u << 3));   // slot 2, activate at next reset
    ASSERT_EQ(h.run(0, cm), 0);
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(getLog(h, NVME_LOG_LID_FW_SLOT, b, 512), 0);
    EXPECT_EQ(b.p[0], 1 | (2 << 4));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b.p) + 16, 8), "2.5.1RC1");
    // Without an image, replacing fails; a bad slot fails.
    EXPECT_EQ(h.run(0, cm), st(SCT_CMD_SPECIFIC, SC_FIRMWARE_IMAGE));
    cm.setCdw10(5 | (2u << 3));
    EXPECT_EQ(h.run(0, cm), st(SCT_CMD_SPECIFIC, SC_FIRMWARE_SLOT));
    // The pending slot becomes active with the controller reset.
    ASSERT_TRUE(h.disable());
    ASSERT_TRUE(h.enable());
    ASSERT_EQ(h.identify(CNS_CTRL, 0, b), 0);
    EXPECT_EQ(std::string(reinterpret_cast<nvme_id_ctrl *>(b.p)->fr, 8), "2.5.1RC1");
}

TEST(Admin, DeviceSelfTest) {
    SimHost h(R"({"devices":[{"timings":{"selfTestShortMs":50}}]})");
    ASSERT_TRUE(h.enable());
    Sqe t = SimHost::cmd(ADMIN_DEV_SELF_TEST, 0);
    t.setCdw10(1);
    ASSERT_EQ(h.run(0, t), 0);
    EXPECT_EQ(h.run(0, t), st(SCT_CMD_SPECIFIC, SC_SELF_TEST_IN_PROGRESS));
    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(getLog(h, NVME_LOG_LID_DEVICE_SELF_TEST, b, 564), 0);
    EXPECT_EQ(b.p[0], 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    ASSERT_EQ(getLog(h, NVME_LOG_LID_DEVICE_SELF_TEST, b, 564), 0);
    EXPECT_EQ(b.p[0], 0);
    EXPECT_EQ(b.p[4], 0x10);   // short test, no error
    EXPECT_EQ(b.p[4 + 28], 0x0F);   // second entry unused
    // Abort of a running extended test.
    t.setCdw10(2);
    ASSERT_EQ(h.run(0, t), 0);
    t.setCdw10(0xF);
    ASSERT_EQ(h.run(0, t), 0);
    ASSERT_EQ(getLog(h, NVME_LOG_LID_DEVICE_SELF_TEST, b, 564), 0);
    EXPECT_EQ(b.p[4], 0x21);
    EXPECT_EQ(b.p[4 + 28], 0x10);
}

TEST(Admin, FormatNoticeReachesTheOtherControllers) {
    SimHost a(R"({"devices":[{"controllerCount":2,"namespaces":[{"nsid":1,"size":"4M"}]}]})");
    ASSERT_TRUE(a.enable());
    SimHost b(a, a.bus->function(1).pCtrl);
    ASSERT_TRUE(b.enable());
    Cqe f{};
    ASSERT_EQ(features(b, true, NVME_FEAT_FID_ASYNC_EVENT, 1u << 8, &f), 0);
    ASSERT_EQ(features(a, true, NVME_FEAT_FID_ASYNC_EVENT, 1u << 8, &f), 0);
    const uint16_t nAerB = b.push(0, SimHost::cmd(ADMIN_ASYNC_EVENT));
    a.push(0, SimHost::cmd(ADMIN_ASYNC_EVENT));
    Sqe fm = SimHost::cmd(ADMIN_FORMAT_NVM, 1);
    fm.setCdw10(2);
    Cqe r{};
    ASSERT_EQ(a.run(0, fm, &r), 0);   // the issuing controller gets no notice
    ASSERT_TRUE(b.reap(0, &r));
    EXPECT_EQ(r.cid(), nAerB);
    EXPECT_EQ(r.dw0(), 2u | (4u << 16));
}
