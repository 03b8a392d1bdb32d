// SR-IOV: the capability of the physical function, virtual functions on the
// bus through the platform, and each virtual function as a secondary
// controller managed through Virtualization Management.
#include "PciAccess.h"
#include "SimHost.h"

using namespace nvmehost;
using namespace nvmewire;

namespace {

const char *kConfig = R"({"devices":[{"namespaces":[{"nsid":1,"size":"4M"},{"nsid":2,"size":"4M"}],
    "sriov":{"totalVFs":3,"flexibleQueues":12,"flexibleInterrupts":6,"maxQueuesPerVF":4,"maxInterruptsPerVF":2}}]})";

uint16_t virt(SimHost &h, uint8_t nAct, uint8_t nRt, uint16_t nCntlid, uint16_t nNr, uint32_t *pDw0 = nullptr) {
    Sqe e = SimHost::cmd(ADMIN_VIRTUAL_MGMT);
    e.setCdw10(nAct | (uint32_t(nRt) << 8) | (uint32_t(nCntlid) << 16));
    e.setCdw11(nNr);
    Cqe r{};
    const uint16_t s = h.run(0, e, &r);
    if (pDw0)
        *pDw0 = r.dw0();
    return s;
}

uint16_t attach(SimHost &h, uint32_t nNsid, uint16_t nCntlid) {
    SimBuffer b = h.alloc(4096);
    auto *p = reinterpret_cast<uint16_t *>(b.p);
    p[0] = 1;
    p[1] = nCntlid;
    Sqe e = SimHost::cmd(ADMIN_NS_ATTACH, nNsid);
    e.setPrp1(b.nBus);
    e.setCdw10(NVME_NS_ATTACH_SEL_CTRL_ATTACH);
    return h.run(0, e);
}

std::vector<uint16_t> ctrlList(SimHost &h, uint8_t nCns, uint32_t nNsid) {
    SimBuffer b = h.alloc(4096);
    EXPECT_EQ(h.identify(nCns, nNsid, b), 0);
    auto *p = reinterpret_cast<const uint16_t *>(b.p);
    return std::vector<uint16_t>(p + 1, p + 1 + p[0]);
}

// Admin queues set up and CC.EN written; true if the controller became
// ready within 200 ms.
bool tryEnable(SimHost &h) {
    std::string sErr;
    if (!h.ctl)
        h.ctl = HostController::open(*h.plat, h.slot, &sErr);
    return h.ctl && h.ctl->bringUp(16, 16, &sErr, 200);
}

constexpr uint16_t kVqInvalid = st(SCT_CMD_SPECIFIC, SC_INVALID_CTRL_RESOURCES);
constexpr uint16_t kBadState = st(SCT_CMD_SPECIFIC, SC_INVALID_SEC_CTRL_STATE);
constexpr uint16_t kBadCntlid = st(SCT_CMD_SPECIFIC, SC_INVALID_CTRL_ID);

} // namespace

TEST(Sriov, CapabilityAndVirtualFunctionsOnTheBus) {
    SimHost h(kConfig);
    kxmplat::Platform &plat = *h.plat;
    ASSERT_TRUE(h.enable());
    const int nCap = findExtCapability(plat, h.slot, pci::EXT_CAP_ID_SRIOV);
    ASSERT_EQ(nCap, int(pci::EXT_CAP_BASE));
    const uint32_t c = uint32_t(nCap);
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_TOTAL_VFS, 2), 3u);
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_INITIAL_VFS, 2), 3u);
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_NUM_VFS, 2), 0u);
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_VF_OFFSET, 2), 1u);
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_VF_STRIDE, 2), 1u);
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_VF_DID, 2), 0x5101u);
    const uint32_t nBar = cfgRead(plat, h.slot, c + pci::SRIOV_VF_BAR0, 4);
    EXPECT_EQ(nBar & 0x6, pci::BAR_MEM_TYPE_64);
    EXPECT_NE((nBar & pci::BAR_ADDR_MASK) | cfgRead(plat, h.slot, c + pci::SRIOV_VF_BAR0 + 4, 4), 0u);
    cfgWrite(plat, h.slot, c + pci::SRIOV_VF_BAR0, 0xFFFFFFFF, 4);   // sizing
    EXPECT_GE(~(cfgRead(plat, h.slot, c + pci::SRIOV_VF_BAR0, 4) & pci::BAR_ADDR_MASK) + 1, 16384u);
    cfgWrite(plat, h.slot, c + pci::SRIOV_VF_BAR0, nBar, 4);

    std::vector<kxmplat::PciFunctionInfo> fns;
    EXPECT_EQ(plat.enumerate(fns), 1);
    std::vector<kxmplat::Device *> vfs;
    EXPECT_EQ(plat.sriovTotalVFs(h.ctl->device()), 3);
    EXPECT_EQ(plat.sriovEnable(h.ctl->device(), 4, vfs), -1);
    EXPECT_EQ(plat.sriovEnable(h.ctl->device(), -1, vfs), -1);
    ASSERT_EQ(plat.sriovEnable(h.ctl->device(), 2, vfs), 2);
    ASSERT_EQ(vfs.size(), 2u);
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_NUM_VFS, 2), 2u);
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_CTRL, 2) & 0x9, pci::SRIOV_CTRL_VFE | pci::SRIOV_CTRL_MSE);
    cfgWrite(plat, h.slot, c + pci::SRIOV_NUM_VFS, 3, 2);   // fixed while VF Enable is set
    EXPECT_EQ(cfgRead(plat, h.slot, c + pci::SRIOV_NUM_VFS, 2), 2u);

    // The VFs: functions 1 and 2 of the device, with their own configuration
    // space (ids all ones, no BARs, no memory enable of their own) and BAR0.
    ASSERT_EQ(plat.enumerate(fns), 3);
    for (int k = 1; k <= 2; ++k) {
        const kxmplat::PciSlot s = fns[k].slot;
        EXPECT_EQ(s.nBus, h.slot.nBus);
        EXPECT_EQ(s.nFunction, uint32_t(k));
        EXPECT_EQ(fns[k].nVendorId, 0xC1A0u);
        EXPECT_EQ(fns[k].nDeviceId, 0x5101u);
        EXPECT_EQ(cfgRead(plat, s, pci::CFG_VENDOR_ID, 4), 0xFFFFFFFFu);
        EXPECT_EQ(pci::classCode(cfgRead(plat, s, pci::CFG_CLASS_REV, 4)), pci::CLASS_NVME);
        EXPECT_EQ(cfgRead(plat, s, pci::CFG_BAR0, 4), 0u);
        cfgWrite(plat, s, pci::CFG_COMMAND, pci::CMD_MEMORY | pci::CMD_BUS_MASTER, 2);
        EXPECT_EQ(cfgRead(plat, s, pci::CFG_COMMAND, 2), pci::CMD_BUS_MASTER);
        EXPECT_EQ(Cap{plat.mmioRead32(vfs[k - 1], REG_CAP) | (uint64_t(plat.mmioRead32(vfs[k - 1], REG_CAP + 4)) << 32)}.mqes(), 1023u);
        EXPECT_EQ(plat.mmioRead32(vfs[k - 1], REG_CSTS), 0u);
        EXPECT_EQ(plat.sriovTotalVFs(vfs[k - 1]), 0);
        EXPECT_EQ(plat.slotPower(vfs[k - 1], false), -1);
    }
    uint32_t v = 0;
    EXPECT_EQ(plat.cfgRead(kxmplat::PciSlot{0, h.slot.nBus, 0, 3}, pci::CFG_CLASS_REV, &v, 4), -1);   // VF 3 is not enabled
    EXPECT_EQ(v, 0xFFFFFFFFu);
    // The physical function's VF MSE gates every VF's BAR0.
    cfgWrite(plat, h.slot, c + pci::SRIOV_CTRL, pci::SRIOV_CTRL_VFE, 2);
    EXPECT_EQ(plat.mmioRead32(vfs[0], REG_CAP), 0xFFFFFFFFu);
    cfgWrite(plat, h.slot, c + pci::SRIOV_CTRL, pci::SRIOV_CTRL_VFE | pci::SRIOV_CTRL_MSE, 2);
    EXPECT_NE(plat.mmioRead32(vfs[0], REG_CAP), 0xFFFFFFFFu);

    // An FLR of the physical function clears VF Enable: the VFs go.
    ASSERT_TRUE(functionLevelReset(plat, h.slot));
    EXPECT_EQ(plat.enumerate(fns), 1);
    ASSERT_EQ(plat.sriovEnable(h.ctl->device(), 1, vfs), 1);
    EXPECT_EQ(plat.enumerate(fns), 2);
    EXPECT_EQ(plat.sriovEnable(h.ctl->device(), 0, vfs), 0);
    EXPECT_EQ(plat.enumerate(fns), 1);
}

TEST(Sriov, SecondaryControllersUnderVirtualizationManagement) {
    SimHost h(kConfig);
    ASSERT_TRUE(h.bringUp());
    std::vector<kxmplat::Device *> vfs;
    ASSERT_EQ(h.plat->sriovEnable(h.ctl->device(), 2, vfs), 2);
    nvmesim::Subsystem &dev = h.bus->device(0);
    nvmesim::Controller *vf1 = dev.virtualFunction(1), *vf2 = dev.virtualFunction(2);
    ASSERT_TRUE(vf1 && vf2);
    EXPECT_EQ(vf1->controllerId(), 2);
    EXPECT_EQ(vf2->controllerId(), 3);

    SimBuffer b = h.alloc(4096);
    ASSERT_EQ(h.identify(CNS_CTRL, 0, b), 0);
    EXPECT_TRUE(reinterpret_cast<const nvme_id_ctrl *>(b.p)->oacs & OACS_VIRT_MGMT);
    ASSERT_EQ(h.identify(CNS_PRIMARY_CTRL_CAP, 0, b), 0);
    const auto *pc = reinterpret_cast<const nvme_primary_ctrl_cap *>(b.p);
    EXPECT_EQ(pc->cntlid, 1);
    EXPECT_EQ(pc->crt, 3);
    EXPECT_EQ(pc->vqfrt, 12u);
    EXPECT_EQ(pc->vqrfa, 0u);
    EXPECT_EQ(pc->vqprt, 65);
    EXPECT_EQ(pc->vqfrsm, 4);
    EXPECT_EQ(pc->vifrt, 6u);
    EXPECT_EQ(pc->vifrsm, 2);
    EXPECT_EQ(ctrlList(h, CNS_CTRL_LIST, 0), (std::vector<uint16_t>{1, 2, 3, 4}));
    ASSERT_EQ(h.identify(CNS_SECONDARY_CTRL_LIST, 0, b, 3), 0);
    const auto *sl = reinterpret_cast<const nvme_secondary_ctrl_list *>(b.p);
    ASSERT_EQ(sl->num, 2);   // from SCID 3 on
    EXPECT_EQ(sl->sc_entry[0].scid, 3);
    EXPECT_EQ(sl->sc_entry[0].pcid, 1);
    EXPECT_EQ(sl->sc_entry[0].vfn, 2);
    EXPECT_EQ(sl->sc_entry[0].scs, 0);
    EXPECT_EQ(sl->sc_entry[1].scid, 4);

    // The standard's rules and status codes.
    EXPECT_EQ(virt(h, VIRT_ACT_SECONDARY_ONLINE, 0, 2, 0), kBadState);            // no resources
    EXPECT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, 2, 5), kVqInvalid);   // above VQFRSM
    EXPECT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, 1, 2), kBadCntlid);   // the primary
    EXPECT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, 9, 2), kBadCntlid);
    EXPECT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, 2, 2, 2), st(SCT_CMD_SPECIFIC, SC_INVALID_RESOURCE_ID));
    EXPECT_EQ(virt(h, 3, 0, 2, 0), st(SCT_GENERIC, SC_INVALID_FIELD));
    EXPECT_EQ(virt(h, VIRT_ACT_PRIMARY_FLEX_ALLOC, VIRT_RT_VQ, 2, 1), kBadCntlid);
    uint32_t nDw0 = 0;
    for (uint16_t id : {2, 3, 4}) {
        ASSERT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, id, 4, &nDw0), 0);
        EXPECT_EQ(nDw0, 4u);
    }
    EXPECT_EQ(virt(h, VIRT_ACT_PRIMARY_FLEX_ALLOC, VIRT_RT_VQ, 1, 1), kVqInvalid);   // the pool is used up
    ASSERT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, 4, 0), 0);              // removed
    ASSERT_EQ(virt(h, VIRT_ACT_PRIMARY_FLEX_ALLOC, VIRT_RT_VQ, 1, 4, &nDw0), 0);
    EXPECT_EQ(nDw0, 4u);
    EXPECT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, 4, 1), kVqInvalid);
    ASSERT_EQ(virt(h, VIRT_ACT_PRIMARY_FLEX_ALLOC, VIRT_RT_VQ, 1, 0), 0);
    ASSERT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VI, 2, 2), 0);
    ASSERT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VI, 3, 1), 0);
    ASSERT_EQ(virt(h, VIRT_ACT_SECONDARY_ONLINE, 0, 2, 0), 0);
    EXPECT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, 2, 3), kBadState);     // online
    ASSERT_EQ(h.identify(CNS_PRIMARY_CTRL_CAP, 0, b), 0);
    EXPECT_EQ(pc->vqrfa, 8u);
    EXPECT_EQ(pc->virfa, 3u);

    // An offline secondary cannot be enabled.
    SimHost h2(h, vf2);
    EXPECT_FALSE(tryEnable(h2));
    EXPECT_TRUE(h2.csts() & CSTS_CFS);
    EXPECT_EQ(h2.c->mmioRead32(REG_CC) & CC_EN, CC_EN);

    // VF 1 online: three I/O queue pairs, no namespace until one is attached.
    SimHost h1(h, vf1);
    ASSERT_TRUE(h1.enable());
    ASSERT_EQ(h1.identify(CNS_CTRL, 0, b), 0);
    const auto *ic = reinterpret_cast<const nvme_id_ctrl *>(b.p);
    EXPECT_EQ(ic->cntlid, 2);
    EXPECT_EQ(ic->oacs & (OACS_VIRT_MGMT | OACS_NS_MGMT), 0);
    EXPECT_EQ(ic->cmic & 0x4, 0x4);
    EXPECT_EQ(h1.identify(CNS_PRIMARY_CTRL_CAP, 0, b), st(SCT_GENERIC, SC_INVALID_FIELD));
    EXPECT_EQ(virt(h1, VIRT_ACT_SECONDARY_ONLINE, 0, 3, 0), st(SCT_GENERIC, SC_INVALID_OPCODE));
    EXPECT_EQ(attach(h1, 2, 2), st(SCT_GENERIC, SC_INVALID_OPCODE));
    Sqe nq = SimHost::cmd(ADMIN_SET_FEATURES);
    nq.setCdw10(NVME_FEAT_FID_NUM_QUEUES);
    nq.setCdw11(0x00070007);
    Cqe r{};
    EXPECT_EQ(h1.run(0, nq, &r), 0);
    EXPECT_EQ(r.dw0(), 0x00020002u);
    ASSERT_EQ(h1.createCq(1, 64), 0);
    ASSERT_EQ(h1.createSq(1, 1, 64), 0);
    EXPECT_EQ(h1.createCq(3, 16), 0);
    EXPECT_EQ(h1.createCq(4, 16), st(SCT_CMD_SPECIFIC, SC_QID_INVALID));
    SimBuffer d = h1.alloc(4096);
    EXPECT_EQ(h1.rw(false, 1, 0, 8, d), st(SCT_GENERIC, SC_INVALID_NS));
    ASSERT_EQ(attach(h, 2, 2), 0);
    EXPECT_EQ(ctrlList(h, CNS_NS_CTRL_LIST, 2), (std::vector<uint16_t>{1, 2}));
    std::memset(d.p, 0x5A, 4096);
    ASSERT_EQ(h1.rw(true, 2, 40, 8, d), 0);
    SimBuffer pfRead = h.alloc(4096);
    ASSERT_EQ(h.rw(false, 2, 40, 8, pfRead), 0);   // the same namespace through the primary
    EXPECT_EQ(pfRead.p[4095], 0x5A);

    // VF 2 online too; an FLR of VF 1 leaves VF 2 and the primary running.
    ASSERT_EQ(virt(h, VIRT_ACT_SECONDARY_ONLINE, 0, 3, 0), 0);
    ASSERT_EQ(attach(h, 2, 3), 0);
    ASSERT_TRUE(h2.bringUp());
    ASSERT_TRUE(functionLevelReset(*h.plat, h1.slot));
    EXPECT_EQ(h1.csts() & CSTS_RDY, 0u);
    EXPECT_EQ(h1.c->mmioRead32(REG_CC), 0u);
    EXPECT_EQ(cfgRead(*h.plat, h1.slot, pci::CFG_COMMAND, 2) & pci::CMD_BUS_MASTER, 0u);
    SimBuffer d2 = h2.alloc(4096);
    EXPECT_EQ(h2.rw(false, 2, 40, 8, d2), 0);
    EXPECT_EQ(d2.p[0], 0x5A);
    EXPECT_EQ(h.rw(false, 2, 40, 8, pfRead), 0);
    ASSERT_EQ(h.identify(CNS_SECONDARY_CTRL_LIST, 0, b), 0);
    EXPECT_EQ(sl->sc_entry[0].scs, 1);   // an FLR leaves the secondary online
    ASSERT_TRUE(h1.bringUp());
    EXPECT_EQ(h1.rw(false, 2, 40, 8, d), 0);

    // Offline: a controller-level reset of the secondary, the others run on.
    ASSERT_EQ(virt(h, VIRT_ACT_SECONDARY_OFFLINE, 0, 2, 0), 0);
    EXPECT_EQ(h1.csts() & CSTS_RDY, 0u);
    ASSERT_EQ(h.identify(CNS_SECONDARY_CTRL_LIST, 0, b), 0);
    EXPECT_EQ(sl->sc_entry[0].scs, 0);
    EXPECT_EQ(sl->sc_entry[0].nvq, 4);
    EXPECT_FALSE(tryEnable(h1));
    EXPECT_TRUE(h1.csts() & CSTS_CFS);
    EXPECT_EQ(h2.rw(false, 2, 40, 8, d2), 0);
    EXPECT_EQ(virt(h, VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, 2, 2), 0);   // offline: resources may change
}
