// The wire header against register and entry values as a controller and a
// host see them on the wire.
#include <cstddef>
#include <cstring>

#include <gtest/gtest.h>

#include "nvmewire/Command.h"
#include "nvmewire/Completion.h"
#include "nvmewire/Identify.h"
#include "nvmewire/Opcodes.h"
#include "nvmewire/Pci.h"
#include "nvmewire/Registers.h"
#include "nvmewire/Status.h"

using namespace nvmewire;

TEST(NvmeWire, ControllerRegisters)
{
    // MQES 0x7FF, CQR, AMS weighted round robin, TO 20, DSTRD 2, NSSRS,
    // CSS 0x41, BPS, MPSMIN 0, MPSMAX 4.
    constexpr Cap cap{0x00402832140307FFull};
    static_assert(cap.mqes() == 0x7FF && cap.maxQueueEntries() == 0x800);
    EXPECT_TRUE(cap.cqr());
    EXPECT_EQ(cap.ams(), 1u);
    EXPECT_EQ(cap.to(), 20u);
    EXPECT_EQ(cap.timeoutMs(), 10000u);
    EXPECT_EQ(cap.dstrd(), 2u);
    EXPECT_EQ(cap.doorbellStrideBytes(), 16u);
    EXPECT_TRUE(cap.nssrs());
    EXPECT_EQ(cap.css(), 0x41u);
    EXPECT_EQ(cap.css() & CAP_CSS_NVM, CAP_CSS_NVM);
    EXPECT_TRUE(cap.bps());
    EXPECT_EQ(cap.mpsmin(), 0u);
    EXPECT_EQ(cap.mpsmax(), 4u);
    EXPECT_EQ(cap.minPageSize(), 4096u);
    EXPECT_EQ(cap.maxPageSize(), 65536u);
    EXPECT_FALSE(Cap{0}.cqr());

    // The value a host writes to enable with 4 KiB pages; fields read back.
    static_assert(Cc::make(0).raw == 0x00460001);
    constexpr Cc cc = Cc::make(2, CC_CSS_CSI, CC_AMS_WRRU).withShn(CC_SHN_NORMAL);
    EXPECT_TRUE(cc.en());
    EXPECT_EQ(cc.css(), 6u);
    EXPECT_EQ(cc.mps(), 2u);
    EXPECT_EQ(cc.pageSize(), 16384u);
    EXPECT_EQ(cc.ams(), 1u);
    EXPECT_EQ(cc.shn(), 1u);
    EXPECT_EQ(cc.iosqes(), 6u);
    EXPECT_EQ(cc.iocqes(), 4u);
    EXPECT_EQ(cc.raw & CC_SHN_MASK, 1u << 14);
    EXPECT_EQ(cc.withEn(false).raw, cc.raw & ~CC_EN);

    constexpr Csts csts{0x19};   // ready, shutdown complete, NSSR occurred
    EXPECT_TRUE(csts.rdy());
    EXPECT_FALSE(csts.cfs());
    EXPECT_EQ(csts.shst(), SHST_COMPLETE);
    EXPECT_TRUE(csts.nssro());
    EXPECT_FALSE(csts.pp());
    EXPECT_TRUE(Csts{CSTS_CFS | CSTS_PP}.cfs());
    EXPECT_TRUE(Csts{CSTS_CFS | CSTS_PP}.pp());

    static_assert(Aqa::make(32, 16).raw == 0x000F001F);
    EXPECT_EQ(Aqa{0x003F0FFF}.asqs(), 0xFFFu);
    EXPECT_EQ(Aqa{0x003F0FFF}.acqs(), 0x3Fu);
    static_assert(Vs::make(1, 4).raw == 0x00010400);

    static_assert(REG_CAP == 0x00 && REG_VS == 0x08 && REG_INTMS == 0x0C && REG_INTMC == 0x10 &&
                  REG_CC == 0x14 && REG_CSTS == 0x1C && REG_NSSR == 0x20 && REG_AQA == 0x24 &&
                  REG_ASQ == 0x28 && REG_ACQ == 0x30);
    static_assert(sqTailDoorbell(0, 4) == 0x1000 && cqHeadDoorbell(0, 4) == 0x1004);
    static_assert(sqTailDoorbell(1, 4) == 0x1008 && cqHeadDoorbell(1, 4) == 0x100C);
    static_assert(sqTailDoorbell(3, 16) == 0x1060 && cqHeadDoorbell(3, 16) == 0x1070);
    static_assert(NSSR_RESET_VALUE == 0x4E564D65);
}

TEST(NvmeWire, SubmissionEntryLayout)
{
    Sqe e = Sqe::make(NVM_READ, 7);
    e.setFuse(FUSE_FIRST);
    e.setPsdt(PSDT_SGL_MPTR_ADDRESS);
    e.setCid(0xBEEF);
    e.setCdw2(0x22222222);
    e.setCdw3(0x33333333);
    e.setMptr(0x1122334455667788ull);
    e.setPrp1(0xAAAABBBBCCCCD000ull);
    e.setPrp2(0x0000000123456000ull);
    e.setCdw10(10);
    e.setCdw11(11);
    e.setCdw12(12);
    e.setCdw13(13);
    e.setCdw14(14);
    e.setCdw15(15);
    EXPECT_EQ(e.dw[0], 0xBEEF4102u);
    EXPECT_EQ(e.opc(), 0x02);
    EXPECT_EQ(e.fuse(), 1u);
    EXPECT_EQ(e.psdt(), 1u);
    EXPECT_EQ(e.cid(), 0xBEEF);

    // Byte positions as the controller reads them (little-endian host).
    uint8_t b[64];
    std::memcpy(b, &e, 64);
    EXPECT_EQ(b[0], 0x02);
    EXPECT_EQ(b[1], 0x41);
    EXPECT_EQ(b[2], 0xEF);
    EXPECT_EQ(b[3], 0xBE);
    uint32_t n32;
    uint64_t n64;
    std::memcpy(&n32, b + 4, 4);
    EXPECT_EQ(n32, 7u);
    std::memcpy(&n32, b + 12, 4);
    EXPECT_EQ(n32, 0x33333333u);
    std::memcpy(&n64, b + 16, 8);
    EXPECT_EQ(n64, 0x1122334455667788ull);
    std::memcpy(&n64, b + 24, 8);
    EXPECT_EQ(n64, 0xAAAABBBBCCCCD000ull);
    std::memcpy(&n64, b + 32, 8);
    EXPECT_EQ(n64, 0x0000000123456000ull);
    for (uint32_t i = 10; i <= 15; ++i) {
        std::memcpy(&n32, b + 4 * i, 4);
        EXPECT_EQ(n32, i);
    }
    EXPECT_EQ(e.cdw2(), 0x22222222u);
    EXPECT_EQ(e.mptr(), 0x1122334455667788ull);
    EXPECT_EQ(e.prp1(), 0xAAAABBBBCCCCD000ull);
    EXPECT_EQ(e.prp2(), 0x0000000123456000ull);

    // SGL1 shares dwords 6 to 9 with PRP1 and PRP2.
    e.setSgl1(SglDesc::make(SGL_LAST_SEGMENT, 0x10000, 0x30));
    EXPECT_EQ(e.prp1(), 0x10000u);
    EXPECT_EQ(e.prp2(), 0x3000000000000030ull);
    EXPECT_EQ(e.sgl1().type(), SGL_LAST_SEGMENT);
    EXPECT_EQ(e.sgl1().length, 0x30u);
    EXPECT_EQ(e.cdw10(), 10u);   // untouched
    EXPECT_EQ(offsetof(SglDesc, length), 8u);
    EXPECT_EQ(offsetof(SglDesc, id), 15u);
    EXPECT_EQ(SglDesc::make(SGL_DATA_BLOCK, 0, 0, SGL_SUBTYPE_OFFSET).id, 0x01);
    EXPECT_STREQ(sglTypeName(SGL_DATA_BLOCK), "SGLDataBlockDescriptor");
    EXPECT_STREQ(sglTypeName(SGL_BIT_BUCKET), "SGLBitBucketDescriptor");
    EXPECT_STREQ(sglTypeName(SGL_SEGMENT), "SGLSegmentDescriptor");
    EXPECT_STREQ(sglTypeName(SGL_LAST_SEGMENT), "SGLLastSegmentDescriptor");
    EXPECT_STREQ(sglTypeName(SGL_KEYED_DATA_BLOCK), "UnknownType");
    EXPECT_STREQ(sglTypeName(0xF), "UnknownType");

    static_assert(KV_STORE == 0x01 && KV_RETRIEVE == 0x02 && KV_LIST == 0x06 && KV_DELETE == 0x10 &&
                  KV_EXIST == 0x14);
    static_assert(ZNS_MGMT_SEND == 0x79 && ZNS_MGMT_RECV == 0x7A && ZNS_APPEND == 0x7D && OPC_FABRICS == 0x7F);
    static_assert(ADMIN_IDENTIFY == 0x06 && ADMIN_FORMAT_NVM == 0x80 && NVM_WRITE == 0x01 && NVM_COPY == 0x19);
    static_assert(CSI_NVM == 0 && CSI_KV == 1 && CSI_ZNS == 2);
}

TEST(NvmeWire, CompletionEntryAndStatus)
{
    // Command id 0x1234, phase 1, DNR and More set, command specific
    // "invalid queue size"; SQ head 5 of SQ 3.
    Cqe c{};
    c.dw[0] = 0xDEADBEEF;
    c.dw[2] = 0x00030005;
    c.dw[3] = 0xC2051234;
    EXPECT_EQ(c.dw0(), 0xDEADBEEFu);
    EXPECT_EQ(c.sqhd(), 5);
    EXPECT_EQ(c.sqid(), 3);
    EXPECT_EQ(c.cid(), 0x1234);
    EXPECT_TRUE(c.phase());
    EXPECT_EQ(c.status(), 0x6102);
    EXPECT_EQ(c.statusPhase(), 0xC205);
    EXPECT_EQ(c.sct(), SCT_CMD_SPECIFIC);
    EXPECT_EQ(c.sc(), SC_QUEUE_SIZE);
    EXPECT_TRUE(c.dnr());
    EXPECT_TRUE(c.more());
    EXPECT_EQ(crd(c.status()), 0);
    EXPECT_EQ(crd(0x1800), 3);
    EXPECT_EQ(c.status() & ~STATUS_MORE, makeStatus(SCT_CMD_SPECIFIC, SC_QUEUE_SIZE, true));

    // The setters produce the same dwords.
    Cqe d{};
    d.setDw0(0xDEADBEEF);
    d.setSqid(3);
    d.setSqhd(5);
    d.setStatus(0x6102);
    d.setCid(0x1234);
    d.setPhase(true);
    EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0);
    uint8_t b[16];
    std::memcpy(b, &c, 16);
    EXPECT_EQ(b[CQE_STATUS_OFFSET], 0x05);
    EXPECT_EQ(b[CQE_STATUS_OFFSET + 1], 0xC2);

    static_assert(makeStatus(SCT_MEDIA, SC_UNWRITTEN_BLOCK) == 0x0287);
    static_assert(sc(0x0287) == 0x87 && sct(0x0287) == 2 && !dnr(0x0287) && !more(0x0287));
    static_assert(makeStatus(SCT_GENERIC, SC_INVALID_FIELD, true) == 0x4002);
    static_assert(SC_LBA_RANGE == 0x80 && SC_WRITE_FAULT == 0x80 && SC_INVALID_FORMAT == 0x0A &&
                  SC_HOST_PATH_ERROR == 0x70 && SCT_PATH == 3);
}

TEST(NvmeWire, IdentifyAndPci)
{
    IdCtrl c{};
    std::memcpy(c.sn, "SN0001              ", 20);
    std::memcpy(c.mn, "Model", 5);
    c.vid = htole16(0x1B96);
    c.mdts = 5;
    c.cntlid = htole16(0x41);
    c.oacs = htole16(OACS_FORMAT | OACS_NS_MGMT);
    c.nn = htole32(1024);
    EXPECT_EQ(sn(c), "SN0001");
    EXPECT_EQ(mn(c), "Model");
    EXPECT_EQ(fr(c), "");
    EXPECT_EQ(vid(c), 0x1B96);
    EXPECT_EQ(cntlid(c), 0x41);
    EXPECT_EQ(oacs(c), 0x000A);
    EXPECT_EQ(nn(c), 1024u);
    EXPECT_EQ(maxTransferBytes(c, 4096), 128u * 1024);
    c.mdts = 0;
    EXPECT_EQ(maxTransferBytes(c, 4096), 0u);
    EXPECT_EQ(offsetof(IdCtrl, oacs), 256u);
    EXPECT_EQ(offsetof(IdCtrl, nn), 516u);

    IdNs n{};
    n.nsze = htole64(0x100000);
    n.ncap = htole64(0x80000);
    n.nlbaf = 3;
    n.flbas = 0x12;   // format 2, metadata at the end of each block
    n.lbaf[2].ds = 12;
    n.lbaf[2].ms = htole16(8);
    EXPECT_EQ(nsze(n), 0x100000u);
    EXPECT_EQ(ncap(n), 0x80000u);
    EXPECT_EQ(nlbaf(n), 3);
    EXPECT_EQ(formatIndex(n), 2u);
    EXPECT_TRUE(extendedLba(n));
    EXPECT_EQ(blockSize(n), 4096u);
    EXPECT_EQ(metadataSize(n), 8);
    EXPECT_EQ(lbafLbads(n, 2), 12);
    EXPECT_EQ(lbafMs(n, 64), 0);
    n.flbas = 0x61;   // format 49 of more than 16
    EXPECT_EQ(formatIndex(n), 49u);
    EXPECT_FALSE(extendedLba(n));
    EXPECT_EQ(blockSize(n), 0u);   // LBADS 0 is no usable size
    EXPECT_EQ(offsetof(IdNs, lbaf), 128u);

    static_assert(pci::CFG_BAR0 == 0x10 && pci::CFG_CAP_PTR == 0x34 && pci::CAP_ID_MSIX == 0x11);
    EXPECT_EQ(pci::classCode(0x01080203), pci::CLASS_NVME);
    // SR-IOV header: id 0x10, version 1, next at 0x160.
    EXPECT_EQ(pci::extCapId(0x16010010), pci::EXT_CAP_ID_SRIOV);
    EXPECT_EQ(pci::extCapVersion(0x16010010), 1u);
    EXPECT_EQ(pci::extCapNext(0x16010010), 0x160u);
}
