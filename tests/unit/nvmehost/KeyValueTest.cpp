// Key value namespaces: Store with its options, Retrieve of whole and
// partial values, Delete, Exist, List in key order, the size and capacity
// limits with their status codes, and which pairs survive a power loss.
// The namespace is found through the command set Identify data (CNS 07h,
// CSI 01h); without one the tests skip.
#include "HostFixture.h"
#include "PrpBuilder.h"
#include "SimBackend.h"
#include "nvmesim/Bus.h"
#include "nvmewire/KeyValue.h"
#include "nvmewire/Status.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace nvmehost;
using namespace nvmewire;

namespace {

bool onSim(kxmplat::Platform &p) { return std::string(p.name()) == "sim"; }

class KeyValue : public HostFixture {
protected:
    std::string simConfig() const override
    {
        return R"({"devices": [{"namespaces": [
            {"nsid": 1, "size": "1M"},
            {"nsid": 2, "size": "64K", "type": "kv", "kv": {"maxValueSize": "16K", "maxKeys": 8}})" +
               (sPath.empty() ? std::string() : R"(, {"nsid": 3, "size": "1M", "type": "kv", "backingFile": ")" + sPath + "\"}") +
               "]}]}";
    }

    void SetUp() override
    {
        HostFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (!(ctl->caps().css() & CAP_CSS_CSI))
            GTEST_SKIP() << "CAP.CSS offers no I/O command sets";
        nCcCss = CC_CSS_CSI;
        ASSERT_NO_FATAL_FAILURE(bringUpWithIo(64));
        uint32_t list[1024] = {};
        if (!identify(CNS_CSI_NS_ACTIVE_LIST, 0, list).ok())
            GTEST_SKIP() << "the controller has no key value command set";
        if (!list[0])
            GTEST_SKIP() << "no key value namespace";
        nNsid = list[0];
    }

    Completion identify(uint8_t nCns, uint32_t nId, void *pOut, uint8_t nCsi = CSI_KV)
    {
        DmaMemory b = dataBuffer(4096, 4096);
        Sqe e = Sqe::make(ADMIN_IDENTIFY, nId);
        e.setCdw10(nCns);
        e.setCdw11(uint32_t(nCsi) << 24);
        e.setPrp1(b.bus());
        Completion c = ctl->admin(e);
        std::memcpy(pOut, b.host(), 4096);
        return c;
    }

    Sqe kvCmd(uint8_t nOpc, const std::string &sKey, uint32_t nSize = 0, uint8_t nOption = 0)
    {
        Sqe e = Sqe::make(nOpc, nNsid);
        uint32_t dw[4] = {};
        std::memcpy(dw, sKey.data(), std::min<size_t>(sKey.size(), 16));
        e.setCdw2(dw[0]);
        e.setCdw3(dw[1]);
        e.setCdw14(dw[2]);
        e.setCdw15(dw[3]);
        e.setCdw10(nSize);
        e.setCdw11(uint32_t(sKey.size() & 0xFF) | (uint32_t(nOption) << 8));
        return e;
    }
    Completion run(Sqe e, DmaMemory *pBuf = nullptr, size_t nLen = 0)
    {
        PrpBuilder prp(*ctl);   // its lists live until the command completes
        if (pBuf && nLen) {
            std::string sErr;
            EXPECT_TRUE(prp.build(e, pBuf->bus(), nLen, &sErr)) << sErr;
        }
        return ctl->execute(*ctl->sq(1), e);
    }
    Completion store(const std::string &sKey, const std::vector<uint8_t> &v, uint8_t nOption = 0)
    {
        DmaMemory b = dataBuffer(std::max<size_t>(v.size(), 1), 4096);
        std::memcpy(b.host(), v.data(), v.size());
        return run(kvCmd(KV_STORE, sKey, uint32_t(v.size()), nOption), &b, v.size());
    }
    // The value (at most nBuf bytes of it) and the completion.
    std::vector<uint8_t> retrieve(const std::string &sKey, size_t nBuf, Completion *pC)
    {
        DmaMemory b = dataBuffer(nBuf + 64, 4096);
        std::memset(b.host(), 0xA5, nBuf + 64);
        *pC = run(kvCmd(KV_RETRIEVE, sKey, uint32_t(nBuf)), &b, nBuf);
        return std::vector<uint8_t>(b.host(), b.host() + nBuf + 64);
    }
    std::vector<std::string> list(const std::string &sFrom, size_t nBuf, uint32_t *pCount)
    {
        DmaMemory b = dataBuffer(nBuf, 4096);
        Completion c = run(kvCmd(KV_LIST, sFrom, uint32_t(nBuf)), &b, nBuf);
        EXPECT_TRUE(c.ok()) << std::hex << c.status();
        std::vector<std::string> out;
        std::memcpy(pCount, b.host(), 4);
        size_t at = 4;
        for (uint32_t i = 0; i < *pCount && at + 2 <= nBuf; ++i) {
            uint16_t n = 0;
            std::memcpy(&n, b.host() + at, 2);
            out.emplace_back(reinterpret_cast<const char *>(b.host() + at + 2), n);
            at += kvListEntrySize(n);
        }
        return out;
    }
    static std::vector<uint8_t> value(size_t n, uint32_t nSeed)
    {
        std::vector<uint8_t> v(n);
        fillPattern(v.data(), n, nSeed);
        return v;
    }

    uint32_t nNsid = 0;
    std::string sPath;
};

TEST_F(KeyValue, PairsAreStoredRetrievedListedAndDeleted)
{
    IdNsKv id{};
    ASSERT_TRUE(identify(CNS_CSI_NS, nNsid, &id).ok());
    const uint32_t nMaxKey = id.kvf[0].nMaxKeyLength;
    const uint32_t nMaxValue = id.kvf[0].nMaxValueSize;
    ASSERT_GE(nMaxKey, 4u);
    ASSERT_GE(nMaxValue, 1024u);
    const std::vector<uint8_t> v1 = value(1000, 1), v2 = value(700, 2);
    Completion c;
    ASSERT_TRUE(store("alpha", v1).ok());
    std::vector<uint8_t> got = retrieve("alpha", 1000, &c);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    EXPECT_EQ(c.dw0(), 1000u);
    EXPECT_TRUE(std::equal(v1.begin(), v1.end(), got.begin()));
    // A smaller buffer gets the start of the value, dword 0 the whole size.
    got = retrieve("alpha", 100, &c);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.dw0(), 1000u);
    EXPECT_TRUE(std::equal(v1.begin(), v1.begin() + 100, got.begin()));
    EXPECT_EQ(got[100], 0xA5) << "nothing past the host buffer size";
    EXPECT_TRUE(run(kvCmd(KV_EXIST, "alpha")).ok());
    // Store options.
    c = store("alpha", v2, KV_STORE_NO_OVERWRITE);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_KV_KEY_EXISTS)) << std::hex << c.status();
    c = store("beta", v2, KV_STORE_MUST_EXIST);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_KV_KEY_DOES_NOT_EXIST)) << std::hex << c.status();
    c = store("alpha", v2, KV_STORE_NO_OVERWRITE | KV_STORE_MUST_EXIST);
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_INVALID_FIELD)) << std::hex << c.status();
    ASSERT_TRUE(store("alpha", v2, KV_STORE_MUST_EXIST).ok());
    got = retrieve("alpha", 1000, &c);
    EXPECT_EQ(c.dw0(), 700u);
    EXPECT_TRUE(std::equal(v2.begin(), v2.end(), got.begin()));
    EXPECT_TRUE(store("beta", v1, KV_STORE_NO_OVERWRITE).ok());
    // Key and value sizes.
    c = store("", v1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_KV_INVALID_KEY_SIZE)) << std::hex << c.status();
    Sqe e = kvCmd(KV_EXIST, "alpha");
    e.setCdw11(nMaxKey + 1);
    EXPECT_TRUE(run(e).is(SCT_CMD_SPECIFIC, SC_KV_INVALID_KEY_SIZE));
    DmaMemory big = dataBuffer(nMaxValue + 4096, 4096);
    c = run(kvCmd(KV_STORE, "gamma", nMaxValue + 1), &big, nMaxValue + 1);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_KV_INVALID_VALUE_SIZE)) << std::hex << c.status();
    // Delete and Exist.
    ASSERT_TRUE(run(kvCmd(KV_DELETE, "alpha")).ok());
    EXPECT_TRUE(run(kvCmd(KV_DELETE, "alpha")).is(SCT_CMD_SPECIFIC, SC_KV_KEY_DOES_NOT_EXIST));
    EXPECT_TRUE(run(kvCmd(KV_EXIST, "alpha")).is(SCT_CMD_SPECIFIC, SC_KV_KEY_DOES_NOT_EXIST));
    retrieve("alpha", 16, &c);
    EXPECT_TRUE(c.is(SCT_CMD_SPECIFIC, SC_KV_KEY_DOES_NOT_EXIST));
    // List: in key order, from the first key not below the one given.
    for (const char *k : {"b", "a", "ab", "c"})
        ASSERT_TRUE(store(k, value(8, 3)).ok());
    ASSERT_TRUE(store(std::string(1, '\xF0'), value(8, 3)).ok());
    uint32_t nCount = 0;
    std::vector<std::string> keys = list("", 4096, &nCount);
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "ab", "b", "beta", "c", std::string(1, '\xF0')}));
    EXPECT_EQ(nCount, 6u);
    keys = list("ab", 4096, &nCount);
    EXPECT_EQ(keys, (std::vector<std::string>{"ab", "b", "beta", "c", std::string(1, '\xF0')}));
    keys = list("bb", 4 + kvListEntrySize(4) + kvListEntrySize(1), &nCount);
    EXPECT_EQ(keys, (std::vector<std::string>{"beta", "c"}));
    EXPECT_EQ(nCount, 2u) << "as many as the buffer holds";
    EXPECT_TRUE(run(Sqe::make(NVM_DSM, nNsid)).is(SCT_GENERIC, SC_INVALID_OPCODE));
    // The identify data follows what is stored.
    IdNsKv now{};
    ASSERT_TRUE(identify(CNS_CSI_NS, nNsid, &now).ok());
    EXPECT_EQ(now.nuse, 4 + 1000 + 1 + 2 + 1 + 1 + 1 + 4 * 8 + 8) << "keys and values";
    nvme_id_ns nvm{};
    ASSERT_TRUE(identify(CNS_CSI_NS, nNsid, &nvm, CSI_NVM).is(SCT_GENERIC, SC_INVALID_FIELD));
    if (!onSim(*plat))
        return;
    EXPECT_EQ(id.nsze, 64u * 1024);
    EXPECT_EQ(id.kvf[0].nMaxKeys, 8u);
    EXPECT_EQ(nMaxValue, 16u * 1024);
    // Eight keys at most; the capacity (64 KiB) is the other limit.
    ASSERT_TRUE(store("d", value(8, 4)).ok());
    ASSERT_TRUE(store("e", value(8, 4)).ok());
    c = store("f", value(8, 4));
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_CAP_EXCEEDED)) << "a ninth key " << std::hex << c.status();
    c = store("e", value(16 * 1024, 5));
    EXPECT_TRUE(c.ok()) << "replacing a value needs no new key " << std::hex << c.status();
    c = store("d", value(16 * 1024, 5));
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    ASSERT_TRUE(store("c", value(16 * 1024, 5)).ok());
    c = store("b", value(16 * 1024, 5));
    EXPECT_TRUE(c.is(SCT_GENERIC, SC_CAP_EXCEEDED)) << "beyond 64 KiB " << std::hex << c.status();
}

class KeyValueOnFile : public KeyValue {
protected:
    void SetUp() override
    {
        sPath = (std::filesystem::temp_directory_path() / ("korvel-kv-" + std::to_string(getpid()))).string();
        std::filesystem::remove(sPath + ".kv");
        KeyValue::SetUp();
        if (!IsSkipped() && !HasFatalFailure() && !onSim(*plat))
            GTEST_SKIP() << "needs the configured simulated device";
        nNsid = 3;
    }
    void TearDown() override
    {
        KeyValue::TearDown();
        for (const char *sfx : {".kv", ".kv.tmp"})
            std::filesystem::remove(sPath + sfx);
    }
    void powerCycle()
    {
        kxmplat::simBusOf(plat.get())->device(0).powerCycle();
        std::string sErr;
        ctl.reset();
        ctl = HostController::open(*plat, slot, &sErr);
        ASSERT_TRUE(ctl) << sErr;
        ASSERT_NO_FATAL_FAILURE(bringUpWithIo(64));
    }
};

TEST_F(KeyValueOnFile, PairsSurviveAsFlushed)
{
    ASSERT_TRUE(store("flushed", value(300, 6)).ok());
    ASSERT_TRUE(run(Sqe::make(NVM_FLUSH, nNsid)).ok());
    ASSERT_TRUE(store("cached", value(300, 7)).ok());
    ASSERT_NO_FATAL_FAILURE(powerCycle());
    Completion c;
    std::vector<uint8_t> got = retrieve("flushed", 300, &c);
    ASSERT_TRUE(c.ok()) << std::hex << c.status();
    const std::vector<uint8_t> want = value(300, 6);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
    EXPECT_TRUE(run(kvCmd(KV_EXIST, "cached")).is(SCT_CMD_SPECIFIC, SC_KV_KEY_DOES_NOT_EXIST));
    // With the volatile write cache off every change is on file at once.
    Sqe vwc = Sqe::make(ADMIN_SET_FEATURES);
    vwc.setCdw10(NVME_FEAT_FID_VOLATILE_WC);
    ASSERT_TRUE(ctl->admin(vwc).ok());
    ASSERT_TRUE(store("durable", value(10, 8)).ok());
    ASSERT_TRUE(run(kvCmd(KV_DELETE, "flushed")).ok());
    ASSERT_NO_FATAL_FAILURE(powerCycle());
    EXPECT_TRUE(run(kvCmd(KV_EXIST, "durable")).ok());
    EXPECT_TRUE(run(kvCmd(KV_EXIST, "flushed")).is(SCT_CMD_SPECIFIC, SC_KV_KEY_DOES_NOT_EXIST));
}

} // namespace
