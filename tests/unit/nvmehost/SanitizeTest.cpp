// Sanitize on a configured simulated device: every action erases the user
// data of every namespace (a file-backed one included), the operation runs
// in the background with its progress in the Sanitize Status log page,
// commands that reach user data are refused meanwhile, the end is
// announced by an asynchronous event, a controller reset does not stop
// it, and a failed operation keeps commands refused until it is recovered
// from. The timing and the failures are the simulator's, so these tests
// skip on other platforms.
#include "HostFixture.h"
#include "PrpBuilder.h"
#include "nvmewire/Identify.h"
#include "nvmewire/LogPages.h"
#include "nvmewire/Status.h"

#include <nvme/types.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

constexpr uint8_t kSanitize = 0x84;
constexpr uint32_t kNsBlocks = 16;     // blocks written and checked per namespace
constexpr uint16_t kInProgress = 0x1D;
constexpr uint16_t kFailed = 0x1C;

uint32_t sanitizeCdw10(uint8_t nAction, bool bAuse = false, uint8_t nPasses = 0, bool bInvert = false,
                       bool bNoDealloc = false)
{
    return nAction | (bAuse ? SANITIZE_AUSE : 0) | (uint32_t(nPasses & 0xF) << SANITIZE_OWPASS_SHIFT) |
           (bInvert ? SANITIZE_OIPBP : 0) | (bNoDealloc ? SANITIZE_NDAS : 0);
}

class SanitizeBase : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (!onSim(*plat))
            GTEST_SKIP() << "needs the configured simulated device (sanitize timing and failures)";
        ASSERT_NO_FATAL_FAILURE(bringUpWithIo(32));
        nsids = activeNamespaces(*ctl);
        ASSERT_FALSE(nsids.empty());
        for (uint32_t n : nsids) {
            NamespaceInfo i;
            ASSERT_TRUE(readNamespaceInfo(*ctl, n, &i));
            ASSERT_EQ(i.nMetaSize, 0u) << "plain data formats only";
            blockSize.push_back(i.nBlockSize);
        }
    }

    Completion sanitize(uint32_t nCdw10, uint32_t nPattern = 0)
    {
        Sqe cmd{};
        cmd.setOpc(kSanitize);
        cmd.setCdw10(nCdw10);
        cmd.setCdw11(nPattern);
        return ctl->admin(cmd);
    }

    Completion getLog(uint8_t nLid, void *pOut, uint32_t nBytes)
    {
        DmaMemory buf = dataBuffer(nBytes, ctl->pageSize());
        Sqe cmd{};
        cmd.setOpc(0x02);
        cmd.setNsid(0xFFFFFFFF);
        const uint32_t nNumd = nBytes / 4 - 1;
        cmd.setCdw10(nLid | ((nNumd & 0xFFFF) << 16));
        cmd.setCdw11(nNumd >> 16);
        PrpBuilder prp(*ctl);
        prp.build(cmd, buf.bus(), nBytes, nullptr);
        Completion c = ctl->admin(cmd);
        std::memcpy(pOut, buf.host(), nBytes);
        return c;
    }

    nvme_sanitize_log_page sanitizeLog()
    {
        nvme_sanitize_log_page log{};
        Completion c = getLog(0x81, &log, sizeof log);
        EXPECT_TRUE(c.ok()) << "Sanitize Status log, status " << std::hex << c.status();
        return log;
    }

    // Polls the Sanitize Status log until no operation is in progress.
    nvme_sanitize_log_page waitIdle()
    {
        nvme_sanitize_log_page log{};
        for (int i = 0; i < 1000; ++i) {
            log = sanitizeLog();
            if ((log.sstat & SSTAT_STATUS_MASK) != SSTAT_IN_PROGRESS)
                return log;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "the sanitize operation does not end";
        return log;
    }

    void writeAll(uint32_t nSeed)
    {
        for (size_t k = 0; k < nsids.size(); ++k) {
            DmaMemory buf = dataBuffer(kNsBlocks * blockSize[k], ctl->pageSize());
            fillPattern(buf.host(), kNsBlocks * blockSize[k], nSeed + uint32_t(k));
            Completion c = io(NVM_WRITE, nsids[k], 0, kNsBlocks, buf);
            ASSERT_TRUE(c.ok()) << "write to namespace " << nsids[k] << ", status " << std::hex << c.status();
        }
    }

    // Every namespace's first blocks hold the 32-bit pattern, repeated.
    void expectAll(uint32_t nPattern)
    {
        for (size_t k = 0; k < nsids.size(); ++k) {
            const size_t nBytes = kNsBlocks * blockSize[k];
            DmaMemory buf = dataBuffer(nBytes, ctl->pageSize());
            Completion c = io(NVM_READ, nsids[k], 0, kNsBlocks, buf);
            ASSERT_TRUE(c.ok()) << "read of namespace " << nsids[k] << ", status " << std::hex << c.status();
            size_t nBad = 0;
            for (size_t i = 0; i < nBytes; ++i)
                nBad += buf.host()[i] != uint8_t(nPattern >> (8 * (i % 4)));
            EXPECT_EQ(nBad, 0u) << "namespace " << nsids[k] << " does not read as " << std::hex << nPattern;
        }
    }

    Completion readFirst()
    {
        DmaMemory buf = dataBuffer(blockSize[0], ctl->pageSize());
        return io(NVM_READ, nsids[0], 0, 1, buf);
    }

    std::vector<uint32_t> nsids;
    std::vector<uint32_t> blockSize;
};

// ------------------------------------------------ the three actions

class Sanitize : public SanitizeBase {
protected:
    Sanitize()
    {
        char aPath[] = "/tmp/korvel-sanitize-XXXXXX";
        const int fd = mkstemp(aPath);
        if (fd >= 0)
            close(fd);
        szFile = aPath;
    }
    ~Sanitize() override { std::remove(szFile.c_str()); }

    std::string simConfig() const override
    {
        return R"({"devices": [{
            "timings": {"sanitizeMs": 400},
            "namespaces": [{"nsid": 1, "size": "16M"},
                           {"nsid": 2, "size": "8M", "format": 2, "backingFile": ")" +
               szFile + R"("}]}]})";
    }

    std::string szFile;
};

TEST_F(Sanitize, BlockEraseRunsInTheBackgroundAndErasesEveryNamespace)
{
    ASSERT_EQ(nsids.size(), 2u);
    nvme_id_ctrl id;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    EXPECT_EQ(sanicap(id), SANICAP_CRYPTO_ERASE | SANICAP_BLOCK_ERASE | SANICAP_OVERWRITE |
                               SANICAP_NODMMAS_NOT_MODIFIED);
    ASSERT_NO_FATAL_FAILURE(writeAll(10));
    nvme_sanitize_log_page log = sanitizeLog();
    EXPECT_EQ(log.sstat, SSTAT_NEVER_SANITIZED) << "written since power-on: Global Data Erased clear";
    EXPECT_EQ(log.sprog, 0xFFFF);
    EXPECT_EQ(log.etbe, 1u) << "400 ms, in whole seconds";

    Sqe aer{};
    aer.setOpc(0x0C);
    ASSERT_TRUE(ctl->submit(ctl->adminSq(), aer));
    const uint32_t nCdw10 = sanitizeCdw10(SANACT_BLOCK_ERASE);
    Completion c = sanitize(nCdw10);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();

    // In progress: the log tells, I/O and the commands that reach user
    // data are refused, identification and state reporting still run.
    log = sanitizeLog();
    EXPECT_EQ(log.sstat & SSTAT_STATUS_MASK, SSTAT_IN_PROGRESS);
    EXPECT_EQ(log.scdw10, nCdw10);
    const uint16_t nFirstProgress = log.sprog;
    EXPECT_LT(nFirstProgress, 0xFFFF);
    c = readFirst();
    EXPECT_TRUE(c.is(0, kInProgress)) << "read: " << std::hex << c.status();
    DmaMemory buf = dataBuffer(blockSize[0], ctl->pageSize());
    c = io(NVM_WRITE, nsids[0], 0, 1, buf);
    EXPECT_TRUE(c.is(0, kInProgress)) << "write: " << std::hex << c.status();
    c = formatNamespace(*ctl, nsids[0], 0, false);
    EXPECT_TRUE(c.is(0, kInProgress)) << "format: " << std::hex << c.status();
    uint8_t aBuf[4096];
    c = getLog(0x03, aBuf, 512);
    EXPECT_TRUE(c.is(0, kInProgress)) << "firmware slot log: " << std::hex << c.status();
    c = sanitize(nCdw10);
    EXPECT_TRUE(c.is(0, kInProgress)) << "a second sanitize: " << std::hex << c.status();
    EXPECT_TRUE(ctl->identify(CNS_CTRL, 0, 0, aBuf).ok());
    EXPECT_TRUE(getLog(0x02, aBuf, 512).ok()) << "SMART log";
    EXPECT_TRUE(getLog(0x01, aBuf, 64).ok()) << "error log";
    Sqe gf{};
    gf.setOpc(0x0A);
    gf.setCdw10(NVME_FEAT_FID_NUM_QUEUES);
    EXPECT_TRUE(ctl->admin(gf).ok()) << "Get Features";

    // The progress advances with time.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    log = sanitizeLog();
    if ((log.sstat & SSTAT_STATUS_MASK) == SSTAT_IN_PROGRESS) {
        EXPECT_GT(log.sprog, nFirstProgress);
    }

    // The end comes as a Sanitize Operation Completed event.
    c = ctl->waitCompletion(ctl->adminCq(), 0, aer.cid(), 5000);
    ASSERT_FALSE(c.bTimedOut) << "no asynchronous event";
    EXPECT_EQ(c.dw0(), 6u | (0x01u << 8) | (0x81u << 16));
    log = sanitizeLog();
    EXPECT_EQ(log.sstat, SSTAT_COMPLETE_SUCCESS | SSTAT_GLOBAL_DATA_ERASED);
    EXPECT_EQ(log.sprog, 0xFFFF);
    EXPECT_EQ(log.scdw10, nCdw10);
    ASSERT_NO_FATAL_FAILURE(expectAll(0));

    // The first write clears Global Data Erased.
    ASSERT_NO_FATAL_FAILURE(writeAll(20));
    EXPECT_EQ(sanitizeLog().sstat, SSTAT_COMPLETE_SUCCESS);
}

TEST_F(Sanitize, OverwriteLeavesThePatternOfTheLastPass)
{
    ASSERT_NO_FATAL_FAILURE(writeAll(30));
    // Two passes, inverted between them, no deallocation: the inverse.
    const uint32_t nCdw10 = sanitizeCdw10(SANACT_OVERWRITE, false, 2, true, true);
    Completion c = sanitize(nCdw10, 0x5A0FC3E1);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    nvme_sanitize_log_page log = waitIdle();
    EXPECT_EQ(log.sstat, SSTAT_COMPLETE_SUCCESS | (2u << SSTAT_PASSES_SHIFT) | SSTAT_GLOBAL_DATA_ERASED);
    EXPECT_EQ(log.scdw10, nCdw10);
    ASSERT_NO_FATAL_FAILURE(expectAll(~0x5A0FC3E1u));

    // Three passes: the pattern itself.
    ASSERT_TRUE(sanitize(sanitizeCdw10(SANACT_OVERWRITE, false, 3, true, true), 0x11223344).ok());
    log = waitIdle();
    EXPECT_EQ((log.sstat >> SSTAT_PASSES_SHIFT) & SSTAT_PASSES_MASK, 3u);
    ASSERT_NO_FATAL_FAILURE(expectAll(0x11223344));

    // What is written afterwards replaces the pattern block by block.
    const uint32_t nBs = blockSize[0];
    DmaMemory one = dataBuffer(nBs, ctl->pageSize());
    fillPattern(one.host(), nBs, 77);
    ASSERT_TRUE(io(NVM_WRITE, nsids[0], 3, 1, one).ok());
    ASSERT_TRUE(ctl->execute(*ctl->sq(1), makeRw(NVM_WRITE_ZEROES, nsids[0], 5, 2)).ok());
    DmaMemory eight = dataBuffer(8 * nBs, ctl->pageSize());
    ASSERT_TRUE(io(NVM_READ, nsids[0], 0, 8, eight).ok());
    for (uint32_t b = 0; b < 8; ++b) {
        const uint8_t *p = eight.host() + size_t(b) * nBs;
        if (b == 3) {
            EXPECT_EQ(std::memcmp(p, one.host(), nBs), 0) << "written block";
        } else {
            size_t nBad = 0;
            for (uint32_t i = 0; i < nBs; ++i)
                nBad += p[i] != (b == 5 || b == 6 ? 0 : uint8_t(0x11223344u >> (8 * (i % 4))));
            EXPECT_EQ(nBad, 0u) << "block " << b;
        }
    }
    EXPECT_EQ(sanitizeLog().sstat & SSTAT_GLOBAL_DATA_ERASED, 0u) << "written since";

    // Written blocks are overwritten too; with deallocation the user data
    // reads as deallocated blocks do: zeros.
    ASSERT_NO_FATAL_FAILURE(writeAll(40));
    ASSERT_TRUE(sanitize(sanitizeCdw10(SANACT_OVERWRITE, false, 1), 0xFFFFFFFF).ok());
    waitIdle();
    ASSERT_NO_FATAL_FAILURE(expectAll(0));
}

TEST_F(Sanitize, CryptoEraseWithoutDeallocationStillLeavesNoData)
{
    ASSERT_NO_FATAL_FAILURE(writeAll(50));
    ASSERT_TRUE(sanitize(sanitizeCdw10(SANACT_CRYPTO_ERASE, true, 0, false, true)).ok());
    nvme_sanitize_log_page log = waitIdle();
    EXPECT_EQ(log.sstat, SSTAT_COMPLETE_SUCCESS | SSTAT_GLOBAL_DATA_ERASED);
    ASSERT_NO_FATAL_FAILURE(expectAll(0));
}

TEST_F(Sanitize, ContinuesThroughAControllerReset)
{
    ASSERT_NO_FATAL_FAILURE(writeAll(60));
    ASSERT_TRUE(sanitize(sanitizeCdw10(SANACT_BLOCK_ERASE)).ok());
    std::string szErr;
    ASSERT_TRUE(ctl->disable(&szErr)) << szErr;
    ASSERT_NO_FATAL_FAILURE(bringUp());
    nvme_sanitize_log_page log = sanitizeLog();
    EXPECT_EQ(log.sstat & SSTAT_STATUS_MASK, SSTAT_IN_PROGRESS) << "the reset stopped the operation";
    // I/O queues wait for the end of the operation.
    Completion c = ctl->createIoCq(1, 32);
    EXPECT_TRUE(c.is(0, kInProgress)) << std::hex << c.status();
    log = waitIdle();
    EXPECT_EQ(log.sstat, SSTAT_COMPLETE_SUCCESS | SSTAT_GLOBAL_DATA_ERASED);
    ASSERT_TRUE(ctl->createIoCq(1, 32).ok());
    ASSERT_TRUE(ctl->createIoSq(1, 32, 1).ok());
    ASSERT_NO_FATAL_FAILURE(expectAll(0));
}

// ------------------------------------------- failures and bad requests

class SanitizeFailing : public SanitizeBase {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{
            "timings": {"sanitizeMs": 50},
            "sanitize": {"overwrite": false, "noDeallocateInhibited": true, "failOperations": 2},
            "namespaces": [{"nsid": 1, "size": "16M"}]}]})";
    }
};

TEST_F(SanitizeFailing, AFailedOperationRestrictsCommandsUntilRecovered)
{
    ASSERT_NO_FATAL_FAILURE(writeAll(70));
    // Restricted completion mode: only another sanitize operation helps.
    ASSERT_TRUE(sanitize(sanitizeCdw10(SANACT_BLOCK_ERASE)).ok());
    nvme_sanitize_log_page log = waitIdle();
    EXPECT_EQ(log.sstat, SSTAT_FAILED);
    Completion c = readFirst();
    EXPECT_TRUE(c.is(0, kFailed)) << "read after the failure: " << std::hex << c.status();
    c = formatNamespace(*ctl, nsids[0], 0, false);
    EXPECT_TRUE(c.is(0, kFailed)) << "format after the failure: " << std::hex << c.status();
    uint8_t aId[4096];
    EXPECT_TRUE(ctl->identify(CNS_CTRL, 0, 0, aId).ok());
    c = sanitize(sanitizeCdw10(SANACT_EXIT_FAILURE));
    EXPECT_TRUE(c.is(0, 0x0C)) << "exit failure mode, restricted: " << std::hex << c.status();
    c = readFirst();
    EXPECT_TRUE(c.is(0, kFailed)) << std::hex << c.status();

    // Unrestricted completion mode (AUSE): Exit Failure Mode leaves the
    // failed state; the log keeps reporting the failure.
    ASSERT_TRUE(sanitize(sanitizeCdw10(SANACT_CRYPTO_ERASE, true)).ok());
    log = waitIdle();
    EXPECT_EQ(log.sstat, SSTAT_FAILED);
    EXPECT_TRUE(readFirst().is(0, kFailed));
    c = sanitize(sanitizeCdw10(SANACT_EXIT_FAILURE));
    EXPECT_TRUE(c.ok()) << std::hex << c.status();
    c = readFirst();
    EXPECT_TRUE(c.ok()) << "read after exit failure mode: " << std::hex << c.status();
    EXPECT_EQ(sanitizeLog().sstat, SSTAT_FAILED);

    // With no failure to leave, Exit Failure Mode does nothing; the next
    // operation succeeds.
    EXPECT_TRUE(sanitize(sanitizeCdw10(SANACT_EXIT_FAILURE)).ok());
    ASSERT_TRUE(sanitize(sanitizeCdw10(SANACT_BLOCK_ERASE)).ok());
    log = waitIdle();
    EXPECT_EQ(log.sstat, SSTAT_COMPLETE_SUCCESS | SSTAT_GLOBAL_DATA_ERASED);
    ASSERT_NO_FATAL_FAILURE(expectAll(0));
}

TEST_F(SanitizeFailing, InvalidRequestsAreRefusedWithoutStartingAnything)
{
    nvme_id_ctrl id;
    ASSERT_TRUE(ctl->identify(CNS_CTRL, 0, 0, &id).ok());
    EXPECT_EQ(sanicap(id), SANICAP_CRYPTO_ERASE | SANICAP_BLOCK_ERASE | SANICAP_NDI | SANICAP_NODMMAS_NOT_MODIFIED);
    for (uint32_t nCdw10 : {0u, 5u, 6u, 7u,                                  // reserved actions
                            uint32_t(SANACT_OVERWRITE),                      // not offered
                            sanitizeCdw10(SANACT_BLOCK_ERASE, false, 0, false, true)}) {   // NDAS with NDI
        Completion c = sanitize(nCdw10);
        EXPECT_TRUE(c.is(0, 0x02)) << "CDW10 " << std::hex << nCdw10 << ": status " << c.status();
        EXPECT_TRUE(c.dnr());
    }
    nvme_sanitize_log_page log = sanitizeLog();
    EXPECT_EQ(log.sstat & SSTAT_STATUS_MASK, SSTAT_NEVER_SANITIZED);
    EXPECT_EQ(log.eto, 0xFFFFFFFFu) << "no overwrite, no estimate";
    EXPECT_TRUE(readFirst().ok());
}

} // namespace
