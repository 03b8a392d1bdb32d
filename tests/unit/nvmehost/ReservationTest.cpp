// Reservations across the controllers of one subsystem: host identifiers,
// registration, the access rules of every reservation type with their
// exact status codes, preempt and preempt-and-abort, release and clear
// with their notifications (log page and asynchronous event), the report
// in both layouts, and persistence through power loss. The controllers are
// PCI functions of one simulated device sharing namespaces; the host
// identifiers come from the device's configuration. Elsewhere the tests
// skip themselves.
#include "HostFixture.h"
#include "PciAccess.h"
#include "PrpBuilder.h"
#include "SimBackend.h"
#include "nvmesim/Controller.h"
#include "nvmewire/Identify.h"
#include "nvmewire/Reservation.h"
#include "nvmewire/Status.h"

#include <nvme/types.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

constexpr uint64_t kKeyA = 0xA0A0A0A0A0A0A0A0ull, kKeyB = 0xB0B0B0B0B0B0B0B0ull, kKeyC = 0xC0C0C0C0C0C0C0C0ull;

// One controller as a host uses it: admin queues and I/O queue pair 1.
struct Host {
    std::unique_ptr<HostController> ctl;
    DmaMemory buf;

    bool open(kxmplat::Platform &plat, const kxmplat::PciSlot &slot, std::string *pErr)
    {
        ctl = HostController::open(plat, slot, pErr);
        if (!ctl || !ctl->bringUp(16, 16, pErr) || !ctl->setQueueCount(1, 1, nullptr, nullptr).ok() ||
            !ctl->createIoCq(1, 16).ok() || !ctl->createIoSq(1, 16, 1).ok())
            return false;
        return ctl->allocData(8192, 4096, &buf, pErr);
    }
    void close()
    {
        buf.release();
        ctl.reset();
    }

    Sqe withBuf(uint8_t nOpc, uint32_t nNsid)
    {
        Sqe e = Sqe::make(nOpc, nNsid);
        e.setPrp1(buf.bus());
        return e;
    }
    Completion ioCmd(const Sqe &e) { return ctl->execute(*ctl->sq(1), e); }
    Completion admin(const Sqe &e) { return ctl->admin(e); }

    // The reservation commands; the keys go in the data buffer.
    Completion keys(uint8_t nOpc, uint32_t nCdw10, uint64_t k1, uint64_t k2, uint32_t nNsid)
    {
        std::memcpy(buf.host(), &k1, 8);
        std::memcpy(buf.host() + 8, &k2, 8);
        Sqe e = withBuf(nOpc, nNsid);
        e.setCdw10(nCdw10);
        return ioCmd(e);
    }
    Completion reg(uint8_t nAction, uint64_t nCrkey, uint64_t nNrkey, bool bIekey = false, uint8_t nCptpl = 0,
                   uint32_t nNsid = 1)
    {
        return keys(NVM_RESV_REGISTER, nAction | (bIekey ? 8u : 0u) | uint32_t(nCptpl) << 30, nCrkey, nNrkey, nNsid);
    }
    Completion acq(uint8_t nAction, uint8_t nType, uint64_t nCrkey, uint64_t nPrkey = 0, bool bIekey = false)
    {
        return keys(NVM_RESV_ACQUIRE, nAction | (bIekey ? 8u : 0u) | uint32_t(nType) << 8, nCrkey, nPrkey, 1);
    }
    Completion rel(uint8_t nAction, uint8_t nType, uint64_t nCrkey)
    {
        return keys(NVM_RESV_RELEASE, nAction | uint32_t(nType) << 8, nCrkey, 0, 1);
    }
    // Reservation Report of nBytes into the buffer.
    Completion report(bool bEds, uint32_t nBytes = 4096)
    {
        std::memset(buf.host(), 0xEE, buf.size());
        Sqe e = withBuf(NVM_RESV_REPORT, 1);
        e.setCdw10(nBytes / 4 - 1);
        e.setCdw11(bEds ? RESV_REPORT_EDS : 0);
        return ioCmd(e);
    }
    const nvme_resv_status &status() const { return *reinterpret_cast<const nvme_resv_status *>(buf.host()); }
    uint16_t regctl() const { return uint16_t(status().regctl[0] | status().regctl[1] << 8); }

    // One block of namespace 1 (or nNsid) read or written, or another
    // command of the read or write group.
    Completion block(uint8_t nOpc, uint32_t nNsid = 1)
    {
        Sqe e = withBuf(nOpc, nNsid);
        if (nOpc == NVM_DSM)
            std::memset(buf.host(), 0, 16);   // one range of no blocks
        return ioCmd(e);
    }

    Completion setFeature(uint8_t nFid, uint32_t nNsid, uint32_t nCdw11)
    {
        Sqe e = withBuf(ADMIN_SET_FEATURES, nNsid);
        e.setCdw10(nFid);
        e.setCdw11(nCdw11);
        return admin(e);
    }
    Completion getFeature(uint8_t nFid, uint32_t nNsid, uint32_t nCdw11 = 0)
    {
        Sqe e = withBuf(ADMIN_GET_FEATURES, nNsid);
        e.setCdw10(nFid);
        e.setCdw11(nCdw11);
        return admin(e);
    }
    Completion setHostId(uint64_t nLow, uint64_t nHigh = 0, bool bExtended = false)
    {
        std::memcpy(buf.host(), &nLow, 8);
        std::memcpy(buf.host() + 8, &nHigh, 8);
        return setFeature(FEAT_HOST_ID, 0, bExtended ? HOST_ID_EXHID : 0);
    }
    // The next entry of the reservation notification log.
    nvme_resv_notification_log resvLog()
    {
        std::memset(buf.host(), 0xEE, 64);
        Sqe e = withBuf(ADMIN_GET_LOG_PAGE, NVME_NSID_ALL);
        e.setCdw10(LID_RESERVATION | (15u << 16));
        Completion c = admin(e);
        EXPECT_TRUE(c.ok()) << std::hex << c.status();
        nvme_resv_notification_log x;
        std::memcpy(&x, buf.host(), sizeof x);
        return x;
    }
    // An Asynchronous Event Request left outstanding; its CID.
    uint16_t armEvent()
    {
        Sqe e = Sqe::make(ADMIN_ASYNC_EVENT, 0);
        EXPECT_TRUE(ctl->submit(ctl->adminSq(), e));
        return e.cid();
    }
    Completion event(uint16_t nCid, int nMs) { return ctl->waitCompletion(ctl->adminCq(), 0, nCid, nMs); }
};

// The status of a completion as SCT << 8 | SC.
uint16_t code(const Completion &c) { return c.bTimedOut ? 0xFFFF : uint16_t(c.sct() << 8 | c.sc()); }
constexpr uint16_t kConflict = SC_RESERVATION_CONFLICT;
constexpr uint16_t kInvalidField = SC_INVALID_FIELD;
constexpr uint16_t kHostIdFormat = SC_HOSTID_FORMAT;

// Three physical functions: hosts A and B, and a third controller whose
// host identifier the tests choose (zero at first).
class Reservations : public HostFixture {
protected:
    std::string szBacking;   // file of namespace 1 when set before SetUp

    std::string simConfig() const override
    {
        const std::string szNs1 = szBacking.empty() ? R"({"nsid": 1, "size": "4M"})"
                                                    : R"({"nsid": 1, "size": "4M", "backingFile": ")" + szBacking + "\"}";
        return R"({"devices": [{"reservations": true, "timings": {"linkUpMs": 1, "linkDownMs": 1},
            "controllers": [{"hostId": "0x1111"}, {"hostId": 8738}, {}],
            "namespaces": [)" + szNs1 + R"(, {"nsid": 2, "size": "4M"}]}]})";
    }
    void SetUp() override
    {
        HostFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (!onSim(*plat))
            GTEST_SKIP() << "needs the configured simulated device with reservations";
        ctl.reset();
        ASSERT_NO_FATAL_FAILURE(openHosts());
    }
    void TearDown() override
    {
        a.close();
        b.close();
        c.close();
        HostFixture::TearDown();
    }
    void openHosts()
    {
        auto funcs = findNvmeFunctions(*plat);
        ASSERT_EQ(funcs.size(), 3u);
        std::string sErr;
        ASSERT_TRUE(a.open(*plat, funcs[0].slot, &sErr)) << sErr;
        ASSERT_TRUE(b.open(*plat, funcs[1].slot, &sErr)) << sErr;
        ASSERT_TRUE(c.open(*plat, funcs[2].slot, &sErr)) << sErr;
    }
    // Slot power off and on; the hosts come back once the link is up.
    void powerCycle()
    {
        a.close();
        b.close();
        c.close();
        auto funcs = findNvmeFunctions(*plat);
        kxmplat::Device *pDev = nullptr;
        ASSERT_EQ(plat->openDevice(funcs[0].slot, &pDev), 0);
        ASSERT_EQ(plat->slotPower(pDev, false), 1);
        ASSERT_EQ(plat->slotPower(pDev, true), 1);
        plat->closeDevice(pDev);
        waitLink(funcs[0].slot);
        ASSERT_NO_FATAL_FAILURE(openHosts());
    }
    void waitLink(const kxmplat::PciSlot &s)
    {
        for (int i = 0; i < 400 && cfgRead(*plat, s, 0, 2) == 0xFFFF; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_NE(cfgRead(*plat, s, 0, 2), 0xFFFFu);
    }

    Host a, b, c;
};

// ---------------------------------------------------------------------------

TEST_F(Reservations, CapabilitiesAndHostIdentifiers)
{
    uint8_t id[4096];
    ASSERT_TRUE(a.ctl->identify(CNS_CTRL, 0, 0, id).ok());
    const auto *ic = reinterpret_cast<const nvme_id_ctrl *>(id);
    EXPECT_TRUE(ic->oncs & ONCS_RESERVATIONS);
    EXPECT_TRUE(ic->ctratt & CTRATT_HOST_ID_128);
    ASSERT_TRUE(a.ctl->identify(CNS_NS, 1, 0, id).ok());
    const auto *ns = reinterpret_cast<const nvme_id_ns *>(id);
    EXPECT_EQ(ns->rescap, 0xFF);
    EXPECT_EQ(ns->nmic & 1, 1);

    Sqe e = a.withBuf(ADMIN_GET_LOG_PAGE, 0);
    e.setCdw10(NVME_LOG_LID_CMD_EFFECTS | (1023u << 16));
    ASSERT_TRUE(a.admin(e).ok());
    const auto *fx = reinterpret_cast<const nvme_cmd_effects_log *>(a.buf.host());
    for (uint8_t op : {NVM_RESV_REGISTER, NVM_RESV_REPORT, NVM_RESV_ACQUIRE, NVM_RESV_RELEASE})
        EXPECT_EQ(fx->iocs[op] & 1, 1u) << int(op);

    // Host identifiers as configured: 64-bit 1111h and 2222h (8738), none.
    Completion r = a.getFeature(FEAT_HOST_ID, 0);
    ASSERT_TRUE(r.ok());
    uint64_t v = 0;
    std::memcpy(&v, a.buf.host(), 8);
    EXPECT_EQ(v, 0x1111u);
    ASSERT_TRUE(b.getFeature(FEAT_HOST_ID, 0).ok());
    std::memcpy(&v, b.buf.host(), 8);
    EXPECT_EQ(v, 0x2222u);

    // A host without an identifier cannot register.
    EXPECT_EQ(code(c.reg(RESV_REGISTER, 0, kKeyC)), kHostIdFormat);
    // A 128-bit identifier: read back in full; not as 64 bits, and not in
    // the 64-bit report.
    ASSERT_TRUE(c.setHostId(0x3333, 0x77, true).ok());
    ASSERT_TRUE(c.getFeature(FEAT_HOST_ID, 0, HOST_ID_EXHID).ok());
    uint64_t hi = 0;
    std::memcpy(&v, c.buf.host(), 8);
    std::memcpy(&hi, c.buf.host() + 8, 8);
    EXPECT_EQ(v, 0x3333u);
    EXPECT_EQ(hi, 0x77u);
    EXPECT_EQ(code(c.getFeature(FEAT_HOST_ID, 0, 0)), kHostIdFormat);
    EXPECT_EQ(code(c.report(false)), kHostIdFormat);
    // Identifiers of both sizes do not mix among the registrants.
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    EXPECT_EQ(code(c.reg(RESV_REGISTER, 0, kKeyC)), kHostIdFormat);

    // A registrant's controller keeps its identifier; the same value again
    // is fine.
    EXPECT_EQ(code(a.setHostId(0x9999)), SC_CMD_SEQ_ERROR);
    EXPECT_TRUE(a.setHostId(0x1111).ok());

    // The third controller takes A's identifier: it is the same host, so
    // registered and listed twice in the report, and A's reservation is
    // its reservation.
    ASSERT_TRUE(c.setHostId(0x1111).ok());
    EXPECT_EQ(code(c.reg(RESV_REGISTER, 0, kKeyC)), kConflict);   // already registered with another key
    EXPECT_TRUE(c.reg(RESV_REGISTER, 0, kKeyA).ok());              // the same key: nothing changes
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE, kKeyA).ok());
    EXPECT_TRUE(c.block(NVM_WRITE).ok());
    EXPECT_EQ(code(b.block(NVM_WRITE)), kConflict);
    ASSERT_TRUE(b.report(false).ok());
    EXPECT_EQ(b.regctl(), 2);
    EXPECT_EQ(b.status().rtype, RESV_WRITE_EXCLUSIVE);
    EXPECT_EQ(b.status().regctl_ds[0].cntlid, 1);
    EXPECT_EQ(b.status().regctl_ds[1].cntlid, 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(b.status().regctl_ds[i].hostid, 0x1111u);
        EXPECT_EQ(b.status().regctl_ds[i].rkey, kKeyA);
        EXPECT_EQ(b.status().regctl_ds[i].rcsts, 1);
    }
    // Namespace 2 has no registrants: nothing is checked there.
    EXPECT_TRUE(b.block(NVM_WRITE, 2).ok());

    // Bad fields and namespaces get their statuses.
    EXPECT_EQ(code(a.reg(3, 0, kKeyA)), kInvalidField);
    EXPECT_EQ(code(a.reg(RESV_REGISTER, 0, kKeyA, false, 1)), kInvalidField);   // CPTPL 01b
    EXPECT_EQ(code(a.acq(3, RESV_WRITE_EXCLUSIVE, kKeyA)), kInvalidField);
    EXPECT_EQ(code(a.acq(RESV_ACQUIRE, 7, kKeyA)), kInvalidField);
    EXPECT_EQ(code(a.acq(RESV_ACQUIRE, 0, kKeyA)), kInvalidField);
    EXPECT_EQ(code(a.rel(2, RESV_WRITE_EXCLUSIVE, kKeyA)), kInvalidField);
    EXPECT_EQ(code(a.reg(RESV_REGISTER, 0, kKeyA, false, 0, 9)), SC_INVALID_NS);
    EXPECT_EQ(code(a.reg(RESV_REGISTER, 0, kKeyA, false, 0, NVME_NSID_ALL)), SC_INVALID_NS);
    EXPECT_EQ(code(a.getFeature(FEAT_RESV_PERSIST, NVME_NSID_ALL)), kInvalidField);
    EXPECT_EQ(code(a.getFeature(FEAT_RESV_MASK, 9)), SC_INVALID_NS);
    EXPECT_EQ(a.getFeature(FEAT_RESV_MASK, 1, 0).dw0(), 0u);
    Sqe caps = Sqe::make(ADMIN_GET_FEATURES, 1);
    caps.setCdw10(FEAT_RESV_MASK | (3u << 8));
    EXPECT_EQ(a.admin(caps).dw0(), 0x6u);   // changeable, per namespace
}

TEST_F(Reservations, AccessRulesOfEveryType)
{
    ASSERT_TRUE(c.setHostId(0x3333).ok());   // registers nothing: a non-registrant
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(b.reg(RESV_REGISTER, 0, kKeyB).ok());

    struct Rule {
        uint8_t nType;
        bool bRegRead, bRegWrite, bOtherRead, bOtherWrite;
    };
    const Rule rules[] = {
        {RESV_WRITE_EXCLUSIVE, true, false, true, false},
        {RESV_EXCLUSIVE_ACCESS, false, false, false, false},
        {RESV_WRITE_EXCLUSIVE_REG_ONLY, true, true, true, false},
        {RESV_EXCLUSIVE_ACCESS_REG_ONLY, true, true, false, false},
        {RESV_WRITE_EXCLUSIVE_ALL_REGS, true, true, true, false},
        {RESV_EXCLUSIVE_ACCESS_ALL_REGS, true, true, false, false},
    };
    const uint8_t reads[] = {NVM_READ, NVM_COMPARE, NVM_VERIFY};
    // (Write Zeroes after Write Uncorrectable makes the block readable again.)
    const uint8_t writes[] = {NVM_WRITE, NVM_WRITE_UNCOR, NVM_WRITE_ZEROES, NVM_DSM, NVM_FLUSH};
    std::memset(a.buf.host(), 0, 512);
    ASSERT_TRUE(a.block(NVM_WRITE).ok());   // zeros, so Compare of a zero buffer matches
    for (const Rule &r : rules) {
        SCOPED_TRACE("type " + std::to_string(r.nType));
        ASSERT_TRUE(a.acq(RESV_ACQUIRE, r.nType, kKeyA).ok());
        auto expect = [&](Host &h, const uint8_t *ops, size_t n, bool bAllowed, const char *who) {
            for (size_t i = 0; i < n; ++i) {
                std::memset(h.buf.host(), 0, 512);
                const Completion x = h.block(ops[i]);
                EXPECT_EQ(code(x), bAllowed ? 0 : kConflict) << who << " opcode " << int(ops[i]);
                if (!bAllowed) {
                    EXPECT_TRUE(x.dnr());
                }
            }
        };
        expect(a, reads, 3, true, "holder");
        expect(a, writes, 5, true, "holder");
        expect(b, reads, 3, r.bRegRead, "registrant");
        expect(b, writes, 5, r.bRegWrite, "registrant");
        expect(c, reads, 3, r.bOtherRead, "non-registrant");
        expect(c, writes, 5, r.bOtherWrite, "non-registrant");
        // Admin commands and the reservation commands are not affected.
        EXPECT_TRUE(c.report(false).ok());
        EXPECT_EQ(c.status().rtype, r.nType);
        uint8_t id[4096];
        EXPECT_TRUE(c.ctl->identify(CNS_NS, 1, 0, id).ok());

        const bool bAllRegs = r.nType >= RESV_WRITE_EXCLUSIVE_ALL_REGS;
        ASSERT_TRUE(b.report(true).ok());
        ASSERT_EQ(b.regctl(), 2);
        EXPECT_EQ(b.status().regctl_eds[0].rcsts, 1);
        EXPECT_EQ(b.status().regctl_eds[1].rcsts, bAllRegs ? 1 : 0);
        // Acquiring the same type again is fine for a holder; another
        // type, or another host's reservation, is a conflict.
        EXPECT_TRUE(a.acq(RESV_ACQUIRE, r.nType, kKeyA).ok());
        EXPECT_EQ(code(a.acq(RESV_ACQUIRE, r.nType % 6 + 1, kKeyA)), kConflict);
        EXPECT_EQ(code(b.acq(RESV_ACQUIRE, r.nType, kKeyB)), bAllRegs ? 0 : kConflict);
        EXPECT_EQ(code(c.acq(RESV_ACQUIRE, r.nType, kKeyC)), kConflict);   // not a registrant
        EXPECT_EQ(code(a.acq(RESV_ACQUIRE, r.nType, kKeyB)), kConflict);   // wrong key
        // Release: the type must match; a registrant that does not hold it
        // releases nothing.
        EXPECT_EQ(code(a.rel(RESV_RELEASE, r.nType % 6 + 1, kKeyA)), kInvalidField);
        EXPECT_EQ(code(a.rel(RESV_RELEASE, r.nType, kKeyB)), kConflict);
        if (!bAllRegs) {
            EXPECT_TRUE(b.rel(RESV_RELEASE, r.nType, kKeyB).ok());
            ASSERT_TRUE(b.report(false).ok());
            EXPECT_EQ(b.status().rtype, r.nType);
        }
        ASSERT_TRUE(a.rel(RESV_RELEASE, r.nType, kKeyA).ok());
        ASSERT_TRUE(b.report(false).ok());
        EXPECT_EQ(b.status().rtype, 0);
        std::memset(c.buf.host(), 0, 512);
        EXPECT_TRUE(c.block(NVM_WRITE).ok());   // no reservation: anyone
    }
}

TEST_F(Reservations, RegistrationKeysGenerationAndReport)
{
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(a.report(false).ok());
    const uint32_t nGen = a.status().gen;
    EXPECT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    EXPECT_EQ(code(a.reg(RESV_REGISTER, 0, kKeyB)), kConflict);
    EXPECT_EQ(code(a.reg(RESV_UNREGISTER, kKeyB, 0)), kConflict);
    EXPECT_EQ(code(a.reg(RESV_REPLACE, kKeyB, kKeyC)), kConflict);
    EXPECT_EQ(code(b.reg(RESV_UNREGISTER, kKeyB, 0)), kConflict);   // not a registrant
    EXPECT_EQ(code(b.reg(RESV_REPLACE, kKeyB, kKeyC)), kConflict);
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.status().gen, nGen) << "failed commands change nothing";
    ASSERT_TRUE(a.reg(RESV_REPLACE, kKeyA, kKeyC).ok());
    ASSERT_TRUE(a.reg(RESV_REPLACE, 0, kKeyA, true).ok());   // IEKEY: CRKEY not checked
    ASSERT_TRUE(b.reg(RESV_REGISTER, 0, kKeyB).ok());
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE_REG_ONLY, 0, 0, true).ok());

    // The standard layout: 24-byte header and entries, 64-bit identifiers.
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.status().gen, nGen + 3);
    EXPECT_EQ(a.status().rtype, RESV_WRITE_EXCLUSIVE_REG_ONLY);
    EXPECT_EQ(a.status().ptpls, 0);
    ASSERT_EQ(a.regctl(), 2);
    const nvme_registered_ctrl &ra = a.status().regctl_ds[0], &rb = a.status().regctl_ds[1];
    EXPECT_EQ(ra.cntlid, 1);
    EXPECT_EQ(ra.rcsts, 1);
    EXPECT_EQ(ra.hostid, 0x1111u);
    EXPECT_EQ(ra.rkey, kKeyA);
    EXPECT_EQ(rb.cntlid, 2);
    EXPECT_EQ(rb.rcsts, 0);
    EXPECT_EQ(rb.hostid, 0x2222u);
    EXPECT_EQ(rb.rkey, kKeyB);
    EXPECT_EQ(a.buf.host()[24 + 2 * 24], 0) << "the rest of the buffer is zero";
    // The extended layout: 64-byte header and entries, 128-bit identifiers.
    ASSERT_TRUE(a.report(true).ok());
    ASSERT_EQ(a.regctl(), 2);
    const nvme_registered_ctrl_ext &xa = a.status().regctl_eds[0], &xb = a.status().regctl_eds[1];
    EXPECT_EQ(xa.cntlid, 1);
    EXPECT_EQ(xa.rcsts, 1);
    EXPECT_EQ(xa.rkey, kKeyA);
    EXPECT_EQ(xa.hostid[0], 0x11);
    EXPECT_EQ(xa.hostid[1], 0x11);
    EXPECT_EQ(xb.cntlid, 2);
    EXPECT_EQ(xb.rkey, kKeyB);
    EXPECT_EQ(xb.hostid[1], 0x22);
    // A short buffer gets what fits; the count stays whole.
    ASSERT_TRUE(a.report(false, 32).ok());
    EXPECT_EQ(a.regctl(), 2);
    EXPECT_EQ(a.buf.host()[32], 0xEE) << "nothing past the 32 bytes asked for";

    // Unregistering the holder releases a registrants-only reservation and
    // tells the other registrants.
    ASSERT_TRUE(a.reg(RESV_UNREGISTER, kKeyA, 0).ok());
    ASSERT_TRUE(b.report(false).ok());
    EXPECT_EQ(b.status().rtype, 0);
    EXPECT_EQ(b.regctl(), 1);
    EXPECT_EQ(b.status().gen, nGen + 4);
    const nvme_resv_notification_log x = b.resvLog();
    EXPECT_EQ(x.rnlpt, RESV_NOTIFY_RESERVATION_RELEASED);
    EXPECT_EQ(x.nsid, 1u);
    // An all-registrants reservation stays while any registrant is left.
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_EXCLUSIVE_ACCESS_ALL_REGS, kKeyA).ok());
    ASSERT_TRUE(a.reg(RESV_UNREGISTER, kKeyA, 0).ok());
    ASSERT_TRUE(b.report(false).ok());
    EXPECT_EQ(b.status().rtype, RESV_EXCLUSIVE_ACCESS_ALL_REGS);
    EXPECT_EQ(code(a.block(NVM_READ)), kConflict);
    ASSERT_TRUE(b.reg(RESV_UNREGISTER, 0, 0, true).ok());
    ASSERT_TRUE(b.report(false).ok());
    EXPECT_EQ(b.status().rtype, 0);
    EXPECT_EQ(b.regctl(), 0);
    EXPECT_TRUE(a.block(NVM_READ).ok());
}

TEST_F(Reservations, NotificationsThroughLogPageAndEvent)
{
    ASSERT_TRUE(c.setHostId(0x3333).ok());
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(b.reg(RESV_REGISTER, 0, kKeyB).ok());
    ASSERT_TRUE(c.reg(RESV_REGISTER, 0, kKeyC).ok());
    const uint16_t nAer = b.armEvent();
    EXPECT_TRUE(b.event(nAer, 50).bTimedOut) << "nothing to report yet";

    // Release of a registrants-only reservation: the others are told, the
    // releasing host is not.
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE_REG_ONLY, kKeyA).ok());
    ASSERT_TRUE(a.rel(RESV_RELEASE, RESV_WRITE_EXCLUSIVE_REG_ONLY, kKeyA).ok());
    Completion ev = b.event(nAer, 2000);
    ASSERT_TRUE(ev.ok());
    EXPECT_EQ(ev.dw0(), uint32_t(AER_IO_CMD_SPECIFIC) | uint32_t(AER_RESERVATION_LOG) << 8 | uint32_t(LID_RESERVATION) << 16);
    nvme_resv_notification_log x = b.resvLog();
    EXPECT_EQ(x.lpc, 1u);
    EXPECT_EQ(x.rnlpt, RESV_NOTIFY_RESERVATION_RELEASED);
    EXPECT_EQ(x.nalp, 0);
    EXPECT_EQ(x.nsid, 1u);
    x = b.resvLog();
    EXPECT_EQ(x.lpc, 0u);
    EXPECT_EQ(x.rnlpt, RESV_NOTIFY_EMPTY);
    EXPECT_EQ(c.resvLog().rnlpt, RESV_NOTIFY_RESERVATION_RELEASED);
    EXPECT_EQ(a.resvLog().rnlpt, RESV_NOTIFY_EMPTY);
    // Write Exclusive and Exclusive Access releases tell nobody.
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_EXCLUSIVE_ACCESS, kKeyA).ok());
    ASSERT_TRUE(a.rel(RESV_RELEASE, RESV_EXCLUSIVE_ACCESS, kKeyA).ok());
    EXPECT_EQ(b.resvLog().rnlpt, RESV_NOTIFY_EMPTY);

    // Masked notifications leave no entry and raise no event.
    ASSERT_TRUE(b.setFeature(FEAT_RESV_MASK, NVME_NSID_ALL, 1u << RESV_NOTIFY_RESERVATION_RELEASED).ok());
    EXPECT_EQ(b.getFeature(FEAT_RESV_MASK, 1).dw0(), 1u << RESV_NOTIFY_RESERVATION_RELEASED);
    const uint16_t nAer2 = b.armEvent();
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_EXCLUSIVE_ACCESS_REG_ONLY, kKeyA).ok());
    ASSERT_TRUE(a.rel(RESV_RELEASE, RESV_EXCLUSIVE_ACCESS_REG_ONLY, kKeyA).ok());
    EXPECT_TRUE(b.event(nAer2, 50).bTimedOut);
    EXPECT_EQ(b.resvLog().rnlpt, RESV_NOTIFY_EMPTY);
    EXPECT_EQ(c.resvLog().lpc, 2u) << "C's mask is its own";

    // Preempt: the holder's registration goes (Registration Preempted),
    // the other registrants learn the reservation was preempted.
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE, kKeyA).ok());
    ASSERT_TRUE(b.acq(RESV_PREEMPT, RESV_EXCLUSIVE_ACCESS, kKeyB, kKeyA).ok());
    x = a.resvLog();
    EXPECT_EQ(x.rnlpt, RESV_NOTIFY_REGISTRATION_PREEMPTED);
    EXPECT_EQ(c.resvLog().rnlpt, RESV_NOTIFY_RESERVATION_PREEMPTED);
    ev = b.event(nAer2, 50);
    EXPECT_TRUE(ev.bTimedOut) << "B preempted: nothing for B";
    ASSERT_TRUE(b.report(false).ok());
    EXPECT_EQ(b.status().rtype, RESV_EXCLUSIVE_ACCESS);
    EXPECT_EQ(b.regctl(), 2);   // B and C
    EXPECT_EQ(code(a.block(NVM_READ)), kConflict);
    // A preempt with a key nobody has is a conflict; key 0 against a
    // holder's other key is an invalid field.
    EXPECT_EQ(code(b.acq(RESV_PREEMPT, RESV_EXCLUSIVE_ACCESS, kKeyB, 0x5555)), kConflict);
    EXPECT_EQ(code(b.acq(RESV_PREEMPT, RESV_EXCLUSIVE_ACCESS, kKeyB, 0)), kInvalidField);
    // Clear: every registration goes; the others hear of a preempted
    // reservation.
    ASSERT_TRUE(b.rel(RESV_CLEAR, 0, kKeyB).ok());
    EXPECT_EQ(c.resvLog().rnlpt, RESV_NOTIFY_RESERVATION_PREEMPTED);
    ASSERT_TRUE(b.report(false).ok());
    EXPECT_EQ(b.regctl(), 0);
    EXPECT_EQ(b.status().rtype, 0);
    EXPECT_TRUE(a.block(NVM_WRITE).ok());

    // More notifications than the log keeps: the oldest are lost and the
    // count shows the gap.
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(c.reg(RESV_REGISTER, 0, kKeyC).ok());
    const uint64_t nBase = c.resvLog().lpc;   // empty: 0
    EXPECT_EQ(nBase, 0u);
    for (int i = 0; i < 70; ++i) {
        ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE_ALL_REGS, kKeyA).ok());
        ASSERT_TRUE(a.rel(RESV_RELEASE, RESV_WRITE_EXCLUSIVE_ALL_REGS, kKeyA).ok());
    }
    x = c.resvLog();
    EXPECT_EQ(x.lpc, 4u + 70 - 64 + 1) << "entries 5 to 10 were lost";
    EXPECT_EQ(x.nalp, 63);
    for (int i = 0; i < 63; ++i)
        x = c.resvLog();
    EXPECT_EQ(x.lpc, 4u + 70);
    EXPECT_EQ(x.nalp, 0);
    EXPECT_EQ(c.resvLog().rnlpt, RESV_NOTIFY_EMPTY);
}

TEST_F(Reservations, PreemptAndAbortAbortsThePreemptedHostsCommands)
{
    nvmesim::Controller *pB = kxmplat::simControllerOf(plat.get(), b.ctl->device());
    ASSERT_NE(pB, nullptr);
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(b.reg(RESV_REGISTER, 0, kKeyB).ok());

    // B's commands executed, completions held back: one to each namespace.
    auto holdTwoWrites = [&](uint16_t *pCid1, uint16_t *pCid2) {
        pB->faults().setWithholdCompletions(true);
        Sqe w1 = b.withBuf(NVM_WRITE, 1), w2 = b.withBuf(NVM_WRITE, 2);
        ASSERT_TRUE(b.ctl->submit(*b.ctl->sq(1), w1));
        ASSERT_TRUE(b.ctl->submit(*b.ctl->sq(1), w2));
        *pCid1 = w1.cid();
        *pCid2 = w2.cid();
        for (int i = 0; i < 400 && pB->withheldCount() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(pB->withheldCount(), 2u);
    };
    auto releaseAndReap = [&](uint16_t nCid1, uint16_t nCid2, Completion *p1, Completion *p2) {
        pB->faults().setWithholdCompletions(false);
        pB->faults().releaseWithheld();
        *p1 = b.ctl->waitCompletion(*b.ctl->cq(1), 1, nCid1, 2000);
        *p2 = b.ctl->waitCompletion(*b.ctl->cq(1), 1, nCid2, 2000);
    };

    // A plain preempt takes B's registration but aborts nothing.
    uint16_t n1 = 0, n2 = 0;
    ASSERT_NO_FATAL_FAILURE(holdTwoWrites(&n1, &n2));
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE, kKeyA).ok());
    ASSERT_TRUE(a.acq(RESV_PREEMPT, RESV_WRITE_EXCLUSIVE, kKeyA, kKeyB).ok());
    Completion c1, c2;
    releaseAndReap(n1, n2, &c1, &c2);
    EXPECT_TRUE(c1.ok()) << std::hex << c1.status();
    EXPECT_TRUE(c2.ok()) << std::hex << c2.status();
    EXPECT_EQ(code(b.block(NVM_WRITE)), kConflict);

    // Preempt and abort: what B still holds for namespace 1 completes as
    // aborted, namespace 2 is untouched. (B's key is not the holder's:
    // the reservation stays as it is.)
    ASSERT_TRUE(b.reg(RESV_REGISTER, 0, kKeyB).ok());
    ASSERT_TRUE(a.rel(RESV_RELEASE, RESV_WRITE_EXCLUSIVE, kKeyA).ok());
    ASSERT_NO_FATAL_FAILURE(holdTwoWrites(&n1, &n2));
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE, kKeyA).ok());
    ASSERT_TRUE(a.acq(RESV_PREEMPT_AND_ABORT, RESV_EXCLUSIVE_ACCESS, kKeyA, kKeyB).ok());
    releaseAndReap(n1, n2, &c1, &c2);
    EXPECT_EQ(code(c1), SC_CMD_ABORTED_PREEMPT);
    EXPECT_FALSE(c1.dnr());
    EXPECT_TRUE(c2.ok()) << std::hex << c2.status();
    EXPECT_TRUE(b.block(NVM_READ).ok());
    EXPECT_EQ(code(b.block(NVM_WRITE)), kConflict);
    EXPECT_EQ(b.resvLog().rnlpt, RESV_NOTIFY_REGISTRATION_PREEMPTED);
    EXPECT_EQ(b.resvLog().rnlpt, RESV_NOTIFY_REGISTRATION_PREEMPTED);   // both preempts
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.regctl(), 1);
    EXPECT_EQ(a.status().rtype, RESV_WRITE_EXCLUSIVE);
    // Preempting with the holder's own key changes the type.
    ASSERT_TRUE(a.acq(RESV_PREEMPT, RESV_EXCLUSIVE_ACCESS, kKeyA, kKeyA).ok());
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.status().rtype, RESV_EXCLUSIVE_ACCESS);
    EXPECT_EQ(a.regctl(), 1);
    EXPECT_EQ(code(b.block(NVM_READ)), kConflict);
}

// A virtual function is a controller of its own: with the host identifier
// of a physical function's host it is that host.
class ReservationsWithVf : public Reservations {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{"reservations": true,
            "controllers": [{"hostId": "0x1111"}, {"hostId": "0x2222"}, {}],
            "namespaces": [{"nsid": 1, "size": "4M"}, {"nsid": 2, "size": "4M"}],
            "sriov": {"totalVFs": 1, "maxQueuesPerVF": 2, "maxInterruptsPerVF": 1}}]})";
    }
    Completion virt(uint8_t nAct, uint8_t nRt, uint16_t nCntlid, uint16_t nNr)
    {
        Sqe e = Sqe::make(ADMIN_VIRTUAL_MGMT, 0);
        e.setCdw10(nAct | uint32_t(nRt) << 8 | uint32_t(nCntlid) << 16);
        e.setCdw11(nNr);
        return a.admin(e);
    }
    void TearDown() override
    {
        vf.close();
        Reservations::TearDown();
    }
    Host vf;
};

TEST_F(ReservationsWithVf, VirtualFunctionSharesItsHostsRegistration)
{
    std::vector<kxmplat::Device *> vfs;
    ASSERT_EQ(plat->sriovEnable(a.ctl->device(), 1, vfs), 1);
    const uint16_t nVfId = 4;   // after the three physical functions
    ASSERT_TRUE(virt(VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VQ, nVfId, 2).ok());
    ASSERT_TRUE(virt(VIRT_ACT_SECONDARY_ASSIGN, VIRT_RT_VI, nVfId, 1).ok());
    ASSERT_TRUE(virt(VIRT_ACT_SECONDARY_ONLINE, 0, nVfId, 0).ok());
    uint16_t *pList = reinterpret_cast<uint16_t *>(a.buf.host());
    pList[0] = 1;
    pList[1] = nVfId;
    Sqe at = a.withBuf(ADMIN_NS_ATTACH, 1);
    at.setCdw10(NVME_NS_ATTACH_SEL_CTRL_ATTACH);
    ASSERT_TRUE(a.admin(at).ok());
    auto funcs = findNvmeFunctions(*plat);
    ASSERT_EQ(funcs.size(), 4u);
    std::string sErr;
    ASSERT_TRUE(vf.open(*plat, funcs[3].slot, &sErr)) << sErr;

    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(b.reg(RESV_REGISTER, 0, kKeyB).ok());
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE_REG_ONLY, kKeyA).ok());
    std::memset(vf.buf.host(), 0, 512);
    EXPECT_EQ(code(vf.block(NVM_WRITE)), kConflict);   // no identifier yet: not a registrant
    ASSERT_TRUE(vf.setHostId(0x2222).ok());
    std::memset(vf.buf.host(), 0, 512);
    EXPECT_TRUE(vf.block(NVM_WRITE).ok());              // B's host: a registrant
    ASSERT_TRUE(vf.report(false).ok());
    ASSERT_EQ(vf.regctl(), 3);
    EXPECT_EQ(vf.status().regctl_ds[0].cntlid, 1);
    EXPECT_EQ(vf.status().regctl_ds[1].cntlid, 2);
    EXPECT_EQ(vf.status().regctl_ds[2].cntlid, nVfId);
    EXPECT_EQ(vf.status().regctl_ds[2].rkey, kKeyB);
    // B's host preempted: both of its controllers hear of it.
    ASSERT_TRUE(a.acq(RESV_PREEMPT, RESV_WRITE_EXCLUSIVE_REG_ONLY, kKeyA, kKeyB).ok());
    EXPECT_EQ(vf.resvLog().rnlpt, RESV_NOTIFY_REGISTRATION_PREEMPTED);
    EXPECT_EQ(b.resvLog().rnlpt, RESV_NOTIFY_REGISTRATION_PREEMPTED);
    EXPECT_EQ(code(vf.block(NVM_WRITE)), kConflict);
    EXPECT_TRUE(vf.block(NVM_READ).ok());
    vf.close();
    EXPECT_EQ(plat->sriovEnable(a.ctl->device(), 0, vfs), 0);
}

// A device without reservations offers none of it.
class NoReservations : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{"namespaces": [{"nsid": 1, "size": "4M"}]}]})";
    }
};

TEST_F(NoReservations, CommandsFeaturesAndLogAreNotThere)
{
    if (!onSim(*plat))
        GTEST_SKIP() << "needs the configured simulated device";
    Host h;
    std::string sErr;
    ctl.reset();
    ASSERT_TRUE(h.open(*plat, slot, &sErr)) << sErr;
    uint8_t id[4096];
    ASSERT_TRUE(h.ctl->identify(CNS_CTRL, 0, 0, id).ok());
    EXPECT_FALSE(reinterpret_cast<const nvme_id_ctrl *>(id)->oncs & ONCS_RESERVATIONS);
    ASSERT_TRUE(h.ctl->identify(CNS_NS, 1, 0, id).ok());
    EXPECT_EQ(reinterpret_cast<const nvme_id_ns *>(id)->rescap, 0);
    EXPECT_EQ(code(h.reg(RESV_REGISTER, 0, kKeyA)), SC_INVALID_OPCODE);
    EXPECT_EQ(code(h.report(false)), SC_INVALID_OPCODE);
    EXPECT_EQ(code(h.getFeature(FEAT_HOST_ID, 0)), kInvalidField);
    EXPECT_EQ(code(h.setHostId(0x1111)), kInvalidField);
    EXPECT_EQ(code(h.setFeature(FEAT_RESV_PERSIST, 1, 1)), kInvalidField);
    Sqe e = h.withBuf(ADMIN_GET_LOG_PAGE, NVME_NSID_ALL);
    e.setCdw10(LID_RESERVATION | (15u << 16));
    EXPECT_EQ(code(h.admin(e)), uint16_t(SCT_CMD_SPECIFIC << 8 | SC_INVALID_LOG_PAGE));
    h.close();
}

TEST_F(Reservations, ControllerResetKeepsThemPowerLossOnlyWithPersistence)
{
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_EXCLUSIVE_ACCESS, kKeyA).ok());
    // A controller reset of the holder and of another host keeps both.
    std::string sErr;
    a.close();
    b.close();
    c.close();
    ASSERT_NO_FATAL_FAILURE(openHosts());   // each bring-up disables the controller first
    EXPECT_EQ(code(b.block(NVM_READ)), kConflict);
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.status().rtype, RESV_EXCLUSIVE_ACCESS);

    // Without PTPL a power loss clears them; so does a subsystem reset.
    ASSERT_NO_FATAL_FAILURE(powerCycle());
    EXPECT_TRUE(b.block(NVM_READ).ok());
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.regctl(), 0);
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    a.ctl->setReg32(REG_NSSR, NSSR_RESET_VALUE);
    a.close();
    b.close();
    c.close();
    waitLink(slot);
    ASSERT_NO_FATAL_FAILURE(openHosts());
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.regctl(), 0);

    // With PTPL (through Register's CPTPL, or the feature) they survive,
    // host identifiers coming back from the configuration.
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA, false, RESV_CPTPL_PERSIST).ok());
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE, kKeyA).ok());
    EXPECT_EQ(a.getFeature(FEAT_RESV_PERSIST, 1).dw0(), 1u);
    ASSERT_NO_FATAL_FAILURE(powerCycle());
    EXPECT_EQ(code(b.block(NVM_WRITE)), kConflict);
    EXPECT_TRUE(a.block(NVM_WRITE).ok());
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.status().ptpls, 1);
    EXPECT_EQ(a.regctl(), 1);
    EXPECT_EQ(a.status().rtype, RESV_WRITE_EXCLUSIVE);
    // PTPL off through the feature: the next power loss clears them.
    ASSERT_TRUE(b.setFeature(FEAT_RESV_PERSIST, 1, 0).ok());
    EXPECT_EQ(code(b.setFeature(FEAT_RESV_PERSIST | 0u, 9, 1)), SC_INVALID_NS);
    ASSERT_NO_FATAL_FAILURE(powerCycle());
    EXPECT_TRUE(b.block(NVM_WRITE).ok());
    ASSERT_TRUE(a.report(false).ok());
    EXPECT_EQ(a.regctl(), 0);
    EXPECT_EQ(a.status().ptpls, 0);
}

// A file-backed namespace keeps persistent registrations beside its file,
// so they survive the process as well (here: the bus built anew).
class ReservationsOnFile : public Reservations {
protected:
    void SetUp() override
    {
        char szPath[] = "/tmp/nvmesim-resv-XXXXXX";
        const int fd = mkstemp(szPath);
        ASSERT_GE(fd, 0);
        ::close(fd);
        szBacking = szPath;
        Reservations::SetUp();
    }
    void TearDown() override
    {
        Reservations::TearDown();
        std::remove(szBacking.c_str());
        std::remove((szBacking + ".resv").c_str());
    }
    void reopenPlatform()
    {
        a.close();
        b.close();
        c.close();
        plat->close();
        std::string sErr;
        plat = kxmplat::Platform::open(&sErr);
        ASSERT_TRUE(plat) << sErr;
        ASSERT_NO_FATAL_FAILURE(openHosts());
    }
};

TEST_F(ReservationsOnFile, PersistentStateLivesBesideTheBackingFile)
{
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA).ok());
    ASSERT_TRUE(b.reg(RESV_REGISTER, 0, kKeyB, false, RESV_CPTPL_PERSIST).ok());
    ASSERT_TRUE(a.acq(RESV_ACQUIRE, RESV_WRITE_EXCLUSIVE_REG_ONLY, kKeyA).ok());
    ASSERT_TRUE(c.setHostId(0x3333).ok());
    EXPECT_EQ(code(c.block(NVM_WRITE)), kConflict);
    ASSERT_NO_FATAL_FAILURE(reopenPlatform());
    ASSERT_TRUE(c.report(false).ok());   // C's identifier is zero again; reports need none
    EXPECT_EQ(c.regctl(), 2);
    EXPECT_EQ(c.status().rtype, RESV_WRITE_EXCLUSIVE_REG_ONLY);
    EXPECT_EQ(c.status().ptpls, 1);
    EXPECT_EQ(c.status().regctl_ds[0].rcsts, 1);
    EXPECT_EQ(c.status().regctl_ds[1].rkey, kKeyB);
    EXPECT_TRUE(b.block(NVM_WRITE).ok());
    EXPECT_EQ(code(c.block(NVM_WRITE)), kConflict);
    // PTPL off: the side file goes, and the next process starts clean.
    ASSERT_TRUE(a.reg(RESV_REGISTER, 0, kKeyA, false, RESV_CPTPL_CLEAR).ok());
    std::ifstream f(szBacking + ".resv");
    EXPECT_FALSE(f.good());
    ASSERT_NO_FATAL_FAILURE(reopenPlatform());
    ASSERT_TRUE(c.report(false).ok());
    EXPECT_EQ(c.regctl(), 0);
    EXPECT_TRUE(c.block(NVM_WRITE).ok());

    // A damaged side file stops the platform from opening, naming it.
    {
        std::ofstream bad(szBacking + ".resv");
        bad << "reservations 1\ntype 9\n";
    }
    a.close();
    b.close();
    c.close();
    plat->close();
    std::string sErr;
    plat = kxmplat::Platform::open(&sErr);
    EXPECT_FALSE(plat);
    EXPECT_NE(sErr.find(".resv line 2: malformed"), std::string::npos) << sErr;
}

} // namespace
