// End-to-end protection information on a configured simulated device: the
// controller generating it (PRACT), the host reading it back raw, the
// guard, application tag and reference tag checks with their statuses, the
// application tag mask, Type 2 reference tag sequences, the Type 3 escape,
// interleaved and separate metadata with the protection information first
// or last, Write Zeroes, Compare, Verify, Copy, Format NVM and Namespace
// Management. Other platforms skip: their namespaces are not set up so.
#include "HostFixture.h"
#include "PrpBuilder.h"
#include "nvmewire/Identify.h"
#include "nvmewire/Status.h"

#include <isa-l/crc.h>
#include <nvme/types.h>

#include <cstring>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

constexpr uint8_t kPract = PRINFO_PRACT;
constexpr uint8_t kAllChecks = PRINFO_PRCHK_GUARD | PRINFO_PRCHK_APP | PRINFO_PRCHK_REF;

// One block's protection information as the host sees it (big-endian on
// the wire).
struct Pi {
    uint16_t nGuard;
    uint16_t nApp;
    uint32_t nRef;
};

Pi piAt(const uint8_t *p)
{
    return {uint16_t(p[0] << 8 | p[1]), uint16_t(p[2] << 8 | p[3]),
            uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7]};
}

void putPi(uint8_t *p, const Pi &pi)
{
    const uint8_t b[8] = {uint8_t(pi.nGuard >> 8), uint8_t(pi.nGuard), uint8_t(pi.nApp >> 8), uint8_t(pi.nApp),
                          uint8_t(pi.nRef >> 24),  uint8_t(pi.nRef >> 16), uint8_t(pi.nRef >> 8), uint8_t(pi.nRef)};
    std::memcpy(p, b, 8);
}

// A command's protection information fields.
struct PiArgs {
    uint8_t nPrinfo = 0;
    uint32_t nRef = 0;
    uint16_t nApp = 0;
    uint16_t nMask = 0;
};

class HostProtectionInfo : public HostFixture {
protected:
    // Namespaces: 1 Type 1 with 8 bytes of separate metadata; 2 Type 2,
    // 16 bytes interleaved, protection information first; 3 Type 3, 16
    // bytes separate, last; 4 without protection information.
    std::string simConfig() const override
    {
        return R"({"devices": [{
            "lbaFormats": [{"dataSize": 512}, {"dataSize": 512, "metaSize": 8},
                           {"dataSize": 512, "metaSize": 16}, {"dataSize": 4096, "metaSize": 8}],
            "namespaces": [{"nsid": 1, "size": "4M", "format": 1, "pi": 1},
                           {"nsid": 2, "size": "4M", "format": 2, "pi": 2, "piFirst": true, "extendedLba": true},
                           {"nsid": 3, "size": "4M", "format": 2, "pi": 3},
                           {"nsid": 4, "size": "4M", "format": 0}]}]})";
    }
    void SetUp() override
    {
        HostFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (!onSim(*plat))
            GTEST_SKIP() << "needs the configured simulated device";
        bringUpWithIo(32);
    }

    // A block transfer: nDataLen bytes of host data (0: none) and, when
    // given, separate metadata through MPTR.
    Completion cmd(uint8_t nOpc, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks, const PiArgs &pi,
                   const DmaMemory *pData, size_t nDataLen, const DmaMemory *pMeta = nullptr)
    {
        Sqe c = makeRw(nOpc, nNsid, nSlba, nBlocks);
        c.setCdw12(c.cdw12() | uint32_t(pi.nPrinfo) << CDW12_PRINFO_SHIFT);
        c.setCdw14(pi.nRef);
        c.setCdw15(pi.nApp | uint32_t(pi.nMask) << 16);
        if (pData) {
            PrpBuilder prp(*ctl);
            std::string sErr;
            EXPECT_TRUE(prp.build(c, pData->bus(), nDataLen, &sErr)) << sErr;
        }
        if (pMeta)
            c.setMptr(pMeta->bus());
        return ctl->execute(*ctl->sq(1), c);
    }

    nvme_id_ns identifyNs(uint32_t nNsid)
    {
        nvme_id_ns id{};
        EXPECT_TRUE(ctl->identify(CNS_NS, nNsid, 0, &id).ok());
        return id;
    }

    static uint16_t crc(const uint8_t *p, size_t n, uint16_t nSeed = 0) { return crc16_t10dif(nSeed, p, n); }
};

std::string hexStatus(const Completion &c)
{
    char b[32];
    std::snprintf(b, sizeof b, "status %03x%s", c.status() & 0x7FF, c.bTimedOut ? " (timed out)" : "");
    return b;
}

// Type 1 with 8 bytes of separate metadata: the controller generates the
// protection information, strips it on reads, and every check reports its
// own status.
TEST_F(HostProtectionInfo, Type1SeparateMetadata)
{
    // The guard is the T10-DIF CRC.
    ASSERT_EQ(crc(reinterpret_cast<const uint8_t *>("123456789"), 9), 0xD0DB);
    const nvme_id_ns id = identifyNs(1);
    EXPECT_EQ(id.dpc, NS_DPC_TYPE1 | NS_DPC_TYPE2 | NS_DPC_TYPE3 | NS_DPC_FIRST | NS_DPC_LAST);
    EXPECT_EQ(id.dps, 1);
    EXPECT_EQ(identifyNs(4).dps, 0);

    const uint32_t n = 4;
    DmaMemory data = dataBuffer(n * 512, ctl->pageSize());
    DmaMemory back = dataBuffer(n * 512, ctl->pageSize());
    DmaMemory meta = dataBuffer(n * 8, 4);
    fillPattern(data.host(), n * 512, 7);
    // PRACT with metadata that is only protection information: the host
    // sends none (MPTR is not used).
    ASSERT_TRUE(cmd(NVM_WRITE, 1, 100, n, {kPract, 100, 0x1234, 0}, &data, n * 512).ok());
    Completion c = cmd(NVM_READ, 1, 100, n, {kAllChecks, 100, 0x1234, 0xFFFF}, &back, n * 512, &meta);
    ASSERT_TRUE(c.ok()) << hexStatus(c);
    EXPECT_EQ(std::memcmp(data.host(), back.host(), n * 512), 0);
    for (uint32_t i = 0; i < n; ++i) {
        const Pi pi = piAt(meta.host() + 8 * i);
        EXPECT_EQ(pi.nGuard, crc(data.host() + 512 * i, 512)) << "block " << i;
        EXPECT_EQ(pi.nApp, 0x1234) << "block " << i;
        EXPECT_EQ(pi.nRef, 100 + i) << "block " << i;
    }
    // Read with PRACT: checked and stripped, the metadata buffer untouched.
    std::memset(meta.host(), 0xEE, n * 8);
    std::memset(back.host(), 0, n * 512);
    c = cmd(NVM_READ, 1, 100, n, {uint8_t(kPract | kAllChecks), 100, 0x1234, 0xFFFF}, &back, n * 512, &meta);
    ASSERT_TRUE(c.ok()) << hexStatus(c);
    EXPECT_EQ(std::memcmp(data.host(), back.host(), n * 512), 0);
    EXPECT_EQ(meta.host()[0], 0xEE);
    EXPECT_EQ(meta.host()[n * 8 - 1], 0xEE);

    // Type 1: the initial reference tag must be the first LBA's.
    c = cmd(NVM_READ, 1, 100, n, {kPract | PRINFO_PRCHK_REF, 101, 0, 0}, &back, n * 512);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_INVALID_PI)) << hexStatus(c);
    EXPECT_TRUE(c.status() & STATUS_DNR);
    // Application tag: compared under the mask.
    c = cmd(NVM_READ, 1, 100, n, {kPract | PRINFO_PRCHK_APP, 0, 0x1235, 0xFFFF}, &back, n * 512);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_APPTAG_CHECK)) << hexStatus(c);
    c = cmd(NVM_READ, 1, 100, n, {kPract | PRINFO_PRCHK_APP, 0, 0x123F, 0xFFF0}, &back, n * 512);
    EXPECT_TRUE(c.ok()) << "masked bits are not compared, " << hexStatus(c);
    // Without PRCHK nothing is checked.
    EXPECT_TRUE(cmd(NVM_READ, 1, 100, n, {kPract, 7, 0x9999, 0xFFFF}, &back, n * 512).ok());

    // A write whose protection information the host makes (PRACT 0): a bad
    // guard is refused when checked and the media keeps what it had.
    DmaMemory other = dataBuffer(512, ctl->pageSize());
    DmaMemory otherMeta = dataBuffer(8, 4);
    fillPattern(other.host(), 512, 8);
    putPi(otherMeta.host(), {uint16_t(crc(other.host(), 512) ^ 1), 0x1234, 101});
    c = cmd(NVM_WRITE, 1, 101, 1, {PRINFO_PRCHK_GUARD, 101, 0, 0}, &other, 512, &otherMeta);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_GUARD_CHECK)) << hexStatus(c);
    ASSERT_TRUE(cmd(NVM_READ, 1, 100, n, {kPract | kAllChecks, 100, 0x1234, 0xFFFF}, &back, n * 512).ok());
    EXPECT_EQ(std::memcmp(data.host(), back.host(), n * 512), 0) << "the refused write changed the media";
    // Unchecked it is stored as it is; reads and Verify then find it.
    ASSERT_TRUE(cmd(NVM_WRITE, 1, 101, 1, {0, 0, 0, 0}, &other, 512, &otherMeta).ok());
    c = cmd(NVM_READ, 1, 100, n, {kPract | PRINFO_PRCHK_GUARD, 100, 0, 0}, &back, n * 512);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_GUARD_CHECK)) << hexStatus(c);
    c = cmd(NVM_VERIFY, 1, 100, n, {PRINFO_PRCHK_GUARD, 100, 0, 0}, nullptr, 0);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_GUARD_CHECK)) << hexStatus(c);
    c = cmd(NVM_VERIFY, 1, 100, n, {PRINFO_PRCHK_APP | PRINFO_PRCHK_REF, 100, 0x1234, 0xFFFF}, nullptr, 0);
    EXPECT_TRUE(c.ok()) << hexStatus(c);
    // A reference tag that is not the block's.
    putPi(otherMeta.host(), {crc(other.host(), 512), 0x1234, 777});
    ASSERT_TRUE(cmd(NVM_WRITE, 1, 102, 1, {PRINFO_PRCHK_GUARD | PRINFO_PRCHK_APP, 102, 0x1234, 0xFFFF}, &other, 512,
                    &otherMeta).ok());
    c = cmd(NVM_READ, 1, 102, 1, {kPract | kAllChecks, 102, 0x1234, 0xFFFF}, &back, 512);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_REFTAG_CHECK)) << hexStatus(c);
    c = cmd(NVM_WRITE, 1, 102, 1, {PRINFO_PRCHK_REF, 102, 0, 0}, &other, 512, &otherMeta);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_REFTAG_CHECK)) << hexStatus(c);
    // Application tag FFFFh turns every check of the block off.
    putPi(otherMeta.host(), {0x0BAD, 0xFFFF, 0xBAD});
    ASSERT_TRUE(cmd(NVM_WRITE, 1, 103, 1, {0, 0, 0, 0}, &other, 512, &otherMeta).ok());
    EXPECT_TRUE(cmd(NVM_READ, 1, 103, 1, {kPract | kAllChecks, 103, 0x1234, 0xFFFF}, &back, 512).ok());

    // Compare with PRACT compares the data only.
    ASSERT_TRUE(cmd(NVM_WRITE, 1, 200, 2, {kPract, 200, 0x42, 0}, &data, 2 * 512).ok());
    c = cmd(NVM_COMPARE, 1, 200, 2, {kPract | kAllChecks, 200, 0x42, 0xFFFF}, &data, 2 * 512);
    EXPECT_TRUE(c.ok()) << hexStatus(c);
    data.host()[600] ^= 0xFF;
    c = cmd(NVM_COMPARE, 1, 200, 2, {kPract | kAllChecks, 200, 0x42, 0xFFFF}, &data, 2 * 512);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_COMPARE_FAILED)) << hexStatus(c);
    c = cmd(NVM_COMPARE, 1, 200, 2, {kPract | PRINFO_PRCHK_APP, 200, 0x43, 0xFFFF}, &data, 2 * 512);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_APPTAG_CHECK)) << "the media's protection information is checked first, "
                                                  << hexStatus(c);
    data.host()[600] ^= 0xFF;

    // Write Zeroes with PRACT: zeros with protection information made for them.
    ASSERT_TRUE(cmd(NVM_WRITE_ZEROES, 1, 300, 2, {kPract, 300, 0x55, 0}, nullptr, 0).ok());
    ASSERT_TRUE(cmd(NVM_READ, 1, 300, 2, {kAllChecks, 300, 0x55, 0xFFFF}, &back, 2 * 512, &meta).ok());
    const std::vector<uint8_t> zeros(512, 0);
    for (uint32_t i = 0; i < 2; ++i) {
        const Pi pi = piAt(meta.host() + 8 * i);
        EXPECT_EQ(pi.nGuard, crc(zeros.data(), 512));
        EXPECT_EQ(pi.nApp, 0x55);
        EXPECT_EQ(pi.nRef, 300 + i);
    }
    EXPECT_EQ(std::memcmp(back.host(), zeros.data(), 512), 0);
    // Without PRACT the blocks read as unwritten ones do: protection
    // information all FFh, so every check is off for them.
    ASSERT_TRUE(cmd(NVM_WRITE_ZEROES, 1, 300, 2, {0, 0, 0, 0}, nullptr, 0).ok());
    c = cmd(NVM_READ, 1, 300, 2, {kAllChecks, 300, 0x55, 0xFFFF}, &back, 2 * 512, &meta);
    EXPECT_TRUE(c.ok()) << hexStatus(c);
    for (uint32_t i = 0; i < 2; ++i) {
        const Pi pi = piAt(meta.host() + 8 * i);
        EXPECT_EQ(pi.nGuard, 0xFFFF);
        EXPECT_EQ(pi.nApp, 0xFFFF);
        EXPECT_EQ(pi.nRef, 0xFFFFFFFFu);
    }
    // Blocks never written read the same way.
    ASSERT_TRUE(cmd(NVM_READ, 1, 5000, 2, {kAllChecks, 5000, 0x55, 0xFFFF}, &back, 2 * 512, &meta).ok());
    EXPECT_EQ(piAt(meta.host()).nRef, 0xFFFFFFFFu);
}

// Copy: the sources are checked under PRINFOR with each range's expected
// tags; PRINFOW with PRACT gives the destination new protection
// information, without it the sources' is checked against CDW14/CDW15.
TEST_F(HostProtectionInfo, CopyChecksSourcesAndGeneratesForTheDestination)
{
    const uint32_t n = 3;
    DmaMemory data = dataBuffer(n * 512, ctl->pageSize());
    DmaMemory back = dataBuffer(n * 512, ctl->pageSize());
    DmaMemory meta = dataBuffer(n * 8, 4);
    fillPattern(data.host(), n * 512, 21);
    ASSERT_TRUE(cmd(NVM_WRITE, 1, 10, n, {kPract, 10, 0xA0, 0}, &data, n * 512).ok());
    DmaMemory ranges = dataBuffer(4096, ctl->pageSize());
    auto copy = [&](uint32_t nEilbrt, uint16_t nElbat, uint8_t nPrinfor, uint8_t nPrinfow, uint32_t nIlbrt,
                    uint16_t nLbat, uint64_t nDest) {
        auto *r = reinterpret_cast<nvme_copy_range *>(ranges.host());
        std::memset(r, 0, sizeof *r);
        r->slba = htole64(10);
        r->nlb = htole16(n - 1);
        r->eilbrt = htole32(nEilbrt);
        r->elbat = htole16(nElbat);
        r->elbatm = htole16(0xFFFF);
        Sqe c = Sqe::make(NVM_COPY, 1);
        c.setCdw10(uint32_t(nDest));
        c.setCdw11(uint32_t(nDest >> 32));
        c.setCdw12(uint32_t(nPrinfow) << CDW12_PRINFO_SHIFT | uint32_t(nPrinfor) << COPY_CDW12_PRINFOR_SHIFT);
        c.setCdw14(nIlbrt);
        c.setCdw15(nLbat | 0xFFFFu << 16);
        PrpBuilder prp(*ctl);
        std::string sErr;
        EXPECT_TRUE(prp.build(c, ranges.bus(), sizeof *r, &sErr)) << sErr;
        return ctl->execute(*ctl->sq(1), c);
    };
    Completion c = copy(10, 0xA1, PRINFO_PRCHK_APP, kPract, 500, 0xB0, 500);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_APPTAG_CHECK)) << hexStatus(c);
    c = copy(11, 0xA0, PRINFO_PRCHK_REF, kPract, 500, 0xB0, 500);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_INVALID_PI)) << "Type 1 range tag not its LBA, " << hexStatus(c);
    c = copy(10, 0xA0, kAllChecks, kPract, 500, 0xB0, 500);
    ASSERT_TRUE(c.ok()) << hexStatus(c);
    ASSERT_TRUE(cmd(NVM_READ, 1, 500, n, {kAllChecks, 500, 0xB0, 0xFFFF}, &back, n * 512, &meta).ok());
    EXPECT_EQ(std::memcmp(data.host(), back.host(), n * 512), 0);
    for (uint32_t i = 0; i < n; ++i) {
        const Pi pi = piAt(meta.host() + 8 * i);
        EXPECT_EQ(pi.nGuard, crc(data.host() + 512 * i, 512));
        EXPECT_EQ(pi.nApp, 0xB0);
        EXPECT_EQ(pi.nRef, 500 + i);
    }
    // The sources' protection information carried over: its reference tags
    // are the sources' LBAs, which the destination's check refuses.
    c = copy(10, 0xA0, kAllChecks, PRINFO_PRCHK_REF, 600, 0, 600);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_REFTAG_CHECK)) << hexStatus(c);
    c = copy(10, 0xA0, kAllChecks, PRINFO_PRCHK_GUARD | PRINFO_PRCHK_APP, 600, 0xA0, 600);
    ASSERT_TRUE(c.ok()) << hexStatus(c);
    ASSERT_TRUE(cmd(NVM_READ, 1, 600, n, {0, 0, 0, 0}, &back, n * 512, &meta).ok());
    EXPECT_EQ(piAt(meta.host() + 8).nRef, 11u);
    EXPECT_EQ(piAt(meta.host() + 8).nApp, 0xA0);
}

// Type 2, 16 bytes of interleaved metadata with the protection information
// first: with PRACT the host passes its metadata and the controller puts
// the protection information into its first eight bytes; the guard covers
// the data alone; reference tags count up from the initial tag.
TEST_F(HostProtectionInfo, Type2InterleavedFirst)
{
    const nvme_id_ns id = identifyNs(2);
    EXPECT_EQ(id.dps, 2 | NS_DPS_FIRST);
    EXPECT_TRUE(id.flbas & 0x10);
    const uint32_t n = 3, nUnit = 512 + 16;
    DmaMemory data = dataBuffer(n * nUnit, ctl->pageSize());
    DmaMemory back = dataBuffer(n * nUnit, ctl->pageSize());
    fillPattern(data.host(), n * nUnit, 33);
    const uint32_t nIlbrt = 0xFFFFFFFE;   // wraps to 0 at the third block
    ASSERT_TRUE(cmd(NVM_WRITE, 2, 40, n, {kPract, nIlbrt, 0x4321, 0}, &data, n * nUnit).ok());
    Completion c = cmd(NVM_READ, 2, 40, n, {kAllChecks, nIlbrt, 0x4321, 0xFFFF}, &back, n * nUnit);
    ASSERT_TRUE(c.ok()) << hexStatus(c);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t *pSent = data.host() + i * nUnit;
        const uint8_t *pGot = back.host() + i * nUnit;
        EXPECT_EQ(std::memcmp(pSent, pGot, 512), 0) << "block " << i;
        EXPECT_EQ(std::memcmp(pSent + 512 + 8, pGot + 512 + 8, 8), 0) << "the rest of the metadata, block " << i;
        const Pi pi = piAt(pGot + 512);
        EXPECT_EQ(pi.nGuard, crc(pSent, 512)) << "block " << i;
        EXPECT_EQ(pi.nApp, 0x4321);
        EXPECT_EQ(pi.nRef, uint32_t(nIlbrt + i)) << "block " << i;
    }
    // Type 2 takes any initial tag; a wrong one fails the check itself.
    c = cmd(NVM_READ, 2, 40, n, {PRINFO_PRCHK_REF, nIlbrt + 1, 0, 0}, &back, n * nUnit);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_REFTAG_CHECK)) << hexStatus(c);
    // With PRACT and more metadata than the protection information nothing
    // is stripped: the host gets the whole metadata.
    std::memset(back.host(), 0, n * nUnit);
    c = cmd(NVM_READ, 2, 41, 2, {kPract | kAllChecks, nIlbrt + 1, 0x4321, 0xFFFF}, &back, 2 * nUnit);
    ASSERT_TRUE(c.ok()) << hexStatus(c);
    EXPECT_EQ(piAt(back.host() + nUnit + 512).nRef, uint32_t(nIlbrt + 2));
    // The host's own protection information, checked as it is written.
    std::memcpy(data.host(), back.host(), 2 * nUnit);
    c = cmd(NVM_WRITE, 2, 41, 2, {PRINFO_PRCHK_REF, nIlbrt + 2, 0, 0}, &data, 2 * nUnit);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_REFTAG_CHECK)) << hexStatus(c);
    EXPECT_TRUE(cmd(NVM_WRITE, 2, 41, 2, {kAllChecks, nIlbrt + 1, 0x4321, 0xFFFF}, &data, 2 * nUnit).ok());
}

// Type 3, 16 bytes of separate metadata with the protection information
// last: the guard covers the data and the metadata before it, the
// reference tag is the initial one on every block and never checked, and
// only both tags all ones turn the checks off.
TEST_F(HostProtectionInfo, Type3SeparateLast)
{
    EXPECT_EQ(identifyNs(3).dps, 3);
    const uint32_t n = 2;
    DmaMemory data = dataBuffer(n * 512, ctl->pageSize());
    DmaMemory back = dataBuffer(n * 512, ctl->pageSize());
    DmaMemory meta = dataBuffer(n * 16, 4);
    DmaMemory metaBack = dataBuffer(n * 16, 4);
    fillPattern(data.host(), n * 512, 51);
    fillPattern(meta.host(), n * 16, 52);
    ASSERT_TRUE(cmd(NVM_WRITE, 3, 7, n, {kPract, 0x11223344, 0x0F0F, 0}, &data, n * 512, &meta).ok());
    Completion c = cmd(NVM_READ, 3, 7, n, {kAllChecks, 0x99, 0x0F0F, 0xFFFF}, &back, n * 512, &metaBack);
    ASSERT_TRUE(c.ok()) << "Type 3 reference tags are not checked, " << hexStatus(c);
    EXPECT_EQ(std::memcmp(data.host(), back.host(), n * 512), 0);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t *m = metaBack.host() + 16 * i;
        EXPECT_EQ(std::memcmp(m, meta.host() + 16 * i, 8), 0) << "block " << i;
        const Pi pi = piAt(m + 8);
        EXPECT_EQ(pi.nGuard, crc(m, 8, crc(data.host() + 512 * i, 512))) << "block " << i;
        EXPECT_EQ(pi.nApp, 0x0F0F);
        EXPECT_EQ(pi.nRef, 0x11223344u) << "block " << i;
    }
    // Application tag FFFFh alone does not turn the checks off in Type 3.
    std::memcpy(meta.host(), metaBack.host(), n * 16);
    putPi(meta.host() + 8, {0x0BAD, 0xFFFF, 0x1234});
    ASSERT_TRUE(cmd(NVM_WRITE, 3, 7, n, {0, 0, 0, 0}, &data, n * 512, &meta).ok());
    c = cmd(NVM_READ, 3, 7, n, {kAllChecks, 0, 0x0F0F, 0xFFFF}, &back, n * 512, &metaBack);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_GUARD_CHECK)) << hexStatus(c);
    putPi(meta.host() + 8, {0x0BAD, 0xFFFF, 0xFFFFFFFF});
    ASSERT_TRUE(cmd(NVM_WRITE, 3, 7, n, {0, 0, 0, 0}, &data, n * 512, &meta).ok());
    c = cmd(NVM_READ, 3, 7, n, {kAllChecks, 0, 0x0F0F, 0xFFFF}, &back, n * 512, &metaBack);
    EXPECT_TRUE(c.ok()) << hexStatus(c);
    // Block 1 still has a good guard but the wrong tag for this mask.
    c = cmd(NVM_READ, 3, 7, n, {kAllChecks, 0, 0x0F00, 0xFFFF}, &back, n * 512, &metaBack);
    EXPECT_TRUE(c.is(SCT_MEDIA, SC_APPTAG_CHECK)) << hexStatus(c);
    EXPECT_TRUE(cmd(NVM_READ, 3, 7, n, {kAllChecks, 0, 0x0F00, 0xFF00}, &back, n * 512, &metaBack).ok());

    // Bad commands: metadata the host must send at an address nothing is
    // mapped at, blocks past the end; the media stays as it was.
    c = cmd(NVM_WRITE, 3, 7, n, {kPract, 0, 0, 0}, &data, n * 512);
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_DATA_XFER_ERROR)) << hexStatus(c);
    const uint64_t nLast = identifyNs(3).nsze - 1;
    c = cmd(NVM_WRITE, 3, nLast, 2, {kPract, 0, 0, 0}, &data, 2 * 512, &meta);
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_LBA_RANGE)) << hexStatus(c);
    c = cmd(NVM_VERIFY, 3, nLast, 2, {kAllChecks, 0, 0, 0}, nullptr, 0);
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_LBA_RANGE)) << hexStatus(c);
    c = cmd(NVM_READ, 3, 7, n, {kAllChecks, 0, 0x0F00, 0xFF00}, &back, n * 512, &metaBack);
    EXPECT_TRUE(c.ok()) << hexStatus(c);
    EXPECT_EQ(std::memcmp(metaBack.host() + 16 + 8, meta.host() + 16 + 8, 8), 0);
}

// Format NVM and Namespace Management switch protection information on and
// off, and refuse it where the format has too little metadata.
TEST_F(HostProtectionInfo, FormatAndCreateWithProtectionInfo)
{
    auto format = [&](uint32_t nNsid, uint32_t nLbaf, uint32_t nPi, bool bPil) {
        Sqe c = Sqe::make(ADMIN_FORMAT_NVM, nNsid);
        c.setCdw10(nLbaf | nPi << FORMAT_CDW10_PI_SHIFT | (bPil ? FORMAT_CDW10_PIL : 0));
        return ctl->admin(c, 30000);
    };
    Completion c = format(4, 0, 1, false);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT)) << "no metadata, " << hexStatus(c);
    c = format(4, 1, 4, false);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT)) << "reserved type, " << hexStatus(c);
    EXPECT_EQ(identifyNs(4).dps, 0);
    ASSERT_TRUE(format(4, 1, 2, true).ok());
    nvme_id_ns id = identifyNs(4);
    EXPECT_EQ(id.dps, 2 | NS_DPS_FIRST);
    EXPECT_EQ(id.flbas & 0xF, 1);
    DmaMemory data = dataBuffer(512, ctl->pageSize());
    DmaMemory meta = dataBuffer(8, 4);
    fillPattern(data.host(), 512, 61);
    ASSERT_TRUE(cmd(NVM_WRITE, 4, 5, 1, {kPract, 0xCAFE, 0x77, 0}, &data, 512).ok());
    ASSERT_TRUE(cmd(NVM_READ, 4, 5, 1, {0, 0, 0, 0}, &data, 512, &meta).ok());
    EXPECT_EQ(piAt(meta.host()).nRef, 0xCAFEu);
    EXPECT_EQ(piAt(meta.host()).nGuard, crc(data.host(), 512));
    // Back without protection information: PRINFO is ignored then.
    ASSERT_TRUE(format(4, 1, 0, false).ok());
    EXPECT_EQ(identifyNs(4).dps, 0);
    std::memset(meta.host(), 0x5A, 8);
    ASSERT_TRUE(cmd(NVM_WRITE, 4, 5, 1, {kPract | kAllChecks, 1, 2, 3}, &data, 512, &meta).ok());
    std::memset(meta.host(), 0, 8);
    ASSERT_TRUE(cmd(NVM_READ, 4, 5, 1, {kPract | kAllChecks, 1, 2, 3}, &data, 512, &meta).ok());
    EXPECT_EQ(meta.host()[7], 0x5A) << "metadata is plain metadata again";

    // Namespace Management: DPS of the new namespace.
    nvme_id_ctrl idc;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &idc).ok());
    if (!(idc.oacs & OACS_NS_MGMT))
        return;
    DmaMemory buf = dataBuffer(4096, ctl->pageSize());
    auto create = [&](uint8_t nFlbas, uint8_t nDps, uint32_t *pNsid) {
        auto *p = reinterpret_cast<nvme_id_ns *>(buf.host());
        std::memset(p, 0, 4096);
        p->nsze = p->ncap = htole64(256);
        p->flbas = nFlbas;
        p->dps = nDps;
        Sqe s = Sqe::make(ADMIN_NS_MGMT, 0);
        s.setPrp1(buf.bus());
        Completion r = ctl->admin(s);
        *pNsid = r.dw0();
        return r;
    };
    uint32_t nNew = 0;
    c = create(0, 1, &nNew);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_INVALID_FORMAT)) << hexStatus(c);
    c = create(3, 3 | NS_DPS_FIRST, &nNew);
    ASSERT_TRUE(c.ok()) << hexStatus(c);
    ASSERT_TRUE(ctl->identify(CNS_ALLOCATED_NS, nNew, 0, &id).ok());
    EXPECT_EQ(id.dps, 3 | NS_DPS_FIRST);
    EXPECT_EQ(id.flbas & 0xF, 3);
    Sqe del = Sqe::make(ADMIN_NS_MGMT, nNew);
    del.setCdw10(1);
    EXPECT_TRUE(ctl->admin(del).ok());
}

} // namespace
