#include "nvmesim/Config.h"

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

using namespace nvmesim;

namespace {
std::string error(const std::string &json) {
    SimConfig c;
    std::string err;
    EXPECT_FALSE(parseConfig(json, &c, &err)) << json;
    return err;
}
} // namespace

TEST(Config, Defaults) {
    SimConfig c = defaultConfig();
    ASSERT_EQ(c.devices.size(), 1u);
    const DeviceConfig &d = c.devices[0];
    ASSERT_EQ(d.controllers.size(), 1u);
    ASSERT_EQ(d.namespaces.size(), 1u);
    EXPECT_EQ(d.namespaces[0].nBlocks * d.lbaFormats[d.namespaces[0].nFormat].nDataSize, 1ull << 30);
    EXPECT_EQ(d.lbaFormats[0].nDataSize, 512u);
    EXPECT_EQ(d.controllers[0].nMqes, 1023);
    EXPECT_EQ(d.controllers[0].nQueuePairs, 64u);
    EXPECT_EQ(d.controllers[0].nDstrd, 0);
    EXPECT_EQ(d.controllers[0].nMpsMin, 0);
    EXPECT_EQ(d.controllers[0].nTo, 20);
}

TEST(Config, FullDescription) {
    SimConfig c;
    std::string err;
    ASSERT_TRUE(parseConfig(R"({
      "dmaInPageOffset": 512,
      "devices": [
        {"vendorId": "0x1234", "serial": "S1", "capacity": "16G", "maxNamespaces": 8,
         "lbaFormats": [{"dataSize": 512}, {"dataSize": "4K", "metaSize": 8}],
         "controllers": [{"mqes": 255, "queuePairs": 8, "faults": {"latencyUs": [5, 50],
            "injectStatus": [{"queue": "io", "opcode": 2, "nth": 3, "status": "0x281"}],
            "bogusCid": [{"queue": "admin", "opcode": 6}]}}, {}],
         "namespaces": [{"nsid": 2, "size": "1G", "format": 1, "attach": [1]}, {"blocks": 100}],
         "timings": {"readyDelayUs": 10, "linkDownMs": 5, "sanitizeMs": 7},
         "sanitize": {"overwrite": false, "noDeallocateInhibited": true, "failOperations": 2}},
        {}
      ]})", &c, &err)) << err;
    EXPECT_EQ(c.nDmaInPageOffset, 512u);
    ASSERT_EQ(c.devices.size(), 2u);
    const DeviceConfig &d = c.devices[0];
    EXPECT_EQ(d.nVendorId, 0x1234);
    EXPECT_EQ(d.nCapacity, 16ull << 30);
    EXPECT_EQ(d.lbaFormats[1].nDataSize, 4096u);
    EXPECT_EQ(d.controllers.size(), 2u);
    EXPECT_EQ(d.controllers[0].faults.nLatencyMaxUs, 50u);
    ASSERT_EQ(d.controllers[0].faults.statusRules.size(), 1u);
    EXPECT_EQ(d.controllers[0].faults.statusRules[0].nStatus, 0x281);
    EXPECT_TRUE(d.controllers[0].faults.bogusCidRules[0].bAdmin);
    EXPECT_EQ(d.namespaces[0].nBlocks, (1ull << 30) / 4096);
    EXPECT_EQ(d.namespaces[0].attach, std::vector<uint32_t>{1});
    EXPECT_EQ(d.namespaces[1].nBlocks, 100u);
    EXPECT_EQ(d.timings.nLinkDownMs, 5u);
    EXPECT_EQ(d.timings.nSanitizeMs, 7u);
    EXPECT_TRUE(d.sanitize.bBlockErase);
    EXPECT_FALSE(d.sanitize.bOverwrite);
    EXPECT_TRUE(d.sanitize.bNoDeallocateInhibited);
    EXPECT_EQ(d.sanitize.nFailOperations, 2u);
    EXPECT_EQ(c.devices[1].namespaces.size(), 1u);
}

TEST(Config, ErrorsNameTheField) {
    EXPECT_NE(error("{").find("not valid JSON"), std::string::npos);
    EXPECT_EQ(error(R"({"devices":[{"controllers":[{"mqes":0}]}]})").rfind("devices[0].controllers[0].mqes:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"nsid":1}]}]})").rfind("devices[0].namespaces[0]:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1X"}]}]})").rfind("devices[0].namespaces[0].size:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":1000}]}]})").rfind("devices[0].namespaces[0].size:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","format":9}]}]})").rfind("devices[0].namespaces[0].format:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","pi":1}]}]})").rfind("devices[0].namespaces[0].pi:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","format":1,"pi":4}]}]})").rfind("devices[0].namespaces[0].pi:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","attach":[3]}]}]})").rfind("devices[0].namespaces[0].attach[0]:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"lbaFormats":[{"dataSize":1000}]}]})").rfind("devices[0].lbaFormats[0].dataSize:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"serial":5}]})").rfind("devices[0].serial:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"colour":"red"}]})").rfind("devices[0].colour:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":{}})").rfind("config.devices:", 0), 0u);
    EXPECT_EQ(error(R"({"dmaInPageOffset":3})").rfind("config.dmaInPageOffset:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"sriov":{"totalVFs":64}}]})").rfind("devices[0].sriov.totalVFs:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"sriov":{"totalVFs":8,"vfOffset":250}}]})").rfind("devices[0].sriov.vfStride:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"controllerCount":2,"sriov":{"totalVFs":2,"vfOffset":1}}]})").rfind("devices[0].sriov.vfOffset:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"sriov":{"maxQueuesPerVF":1}}]})").rfind("devices[0].sriov.maxQueuesPerVF:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"sriov":{"vfs":1}}]})").rfind("devices[0].sriov.vfs:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"sanitize":{"blockerase":true}}]})").rfind("devices[0].sanitize.blockerase:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"sanitize":{"failOperations":-1}}]})").rfind("devices[0].sanitize.failOperations:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"controllers":[{"faults":{"latencyUs":[9,2]}}]}]})").rfind("devices[0].controllers[0].faults.latencyUs:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"controllers":[{"faults":{"injectStatus":[{"queue":"x","status":1}]}}]}]})").rfind("devices[0].controllers[0].faults.injectStatus[0].queue:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"controllers":[{"dstrd":-1}]}]})").rfind("devices[0].controllers[0].dstrd:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"controllers":[{"mpsMin":3,"mpsMax":1}]}]})").rfind("devices[0].controllers[0].mpsMax:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"nsid":1,"size":"1M"},{"nsid":1,"size":"1M"}]}]})").rfind("devices[0].namespaces[1].nsid:", 0), 0u);
}

TEST(Config, ReservationsAndHostIdentifiers) {
    SimConfig c;
    std::string err;
    ASSERT_TRUE(parseConfig(R"({"devices": [{"reservations": true,
        "controllers": [{"hostId": 4660}, {"hostId": "0xA0B1"}, {"hostId": "0x0123456789abcdef0011223344556677"}, {}]}]})",
                            &c, &err)) << err;
    const DeviceConfig &d = c.devices[0];
    EXPECT_TRUE(d.bReservations);
    EXPECT_FALSE(defaultConfig().devices[0].bReservations);
    EXPECT_EQ(d.controllers[0].hostId[0], 0x34);
    EXPECT_EQ(d.controllers[0].hostId[1], 0x12);
    EXPECT_FALSE(d.controllers[0].bHostIdExtended);
    EXPECT_EQ(d.controllers[1].hostId[0], 0xB1);
    EXPECT_EQ(d.controllers[1].hostId[1], 0xA0);
    EXPECT_EQ(d.controllers[1].hostId[2], 0);
    EXPECT_TRUE(d.controllers[2].bHostIdExtended);
    EXPECT_EQ(d.controllers[2].hostId[0], 0x77);
    EXPECT_EQ(d.controllers[2].hostId[15], 0x01);
    EXPECT_EQ(d.controllers[3].hostId, (std::array<uint8_t, 16>{}));
    for (const char *bad : {R"("0x")", R"("12345678901234567890123456789012X")", R"("0x1_2")", "-1", "true",
                            R"("123456789012345678901234567890123")"})
        EXPECT_EQ(error(std::string(R"({"devices":[{"controllers":[{"hostId":)") + bad + "}]}]}")
                      .rfind("devices[0].controllers[0].hostId:", 0),
                  0u)
            << bad;
    EXPECT_EQ(error(R"({"devices":[{"reservations":1}]})").rfind("devices[0].reservations:", 0), 0u);
}

TEST(Config, ZonedAndKeyValueNamespaces) {
    SimConfig c;
    std::string err;
    ASSERT_TRUE(parseConfig(R"({"devices":[{"zoned":{"zoneSize":"2M"},"kv":{"maxKeys":5},
        "controllers":[{"zasl":2}],
        "namespaces":[{"size":"8M","type":"zoned","zoned":{"zoneCapacity":"1M","maxActive":4,"maxOpen":2,
                                                         "descriptorExtension":128,"readAcrossZones":true}},
                      {"size":"4M","type":"zoned"},
                      {"size":"64K","type":"kv","kv":{"maxKeySize":8,"maxValueSize":"4K"}}]}]})",
                            &c, &err))
        << err;
    const DeviceConfig &d = c.devices[0];
    EXPECT_EQ(d.controllers[0].nZasl, 2);
    EXPECT_EQ(d.controllers[0].nCss, 0x41);
    const ZonedConfig &z = d.namespaces[0].zoned;
    EXPECT_EQ(d.namespaces[0].nCsi, kCsiZoned);
    EXPECT_EQ(z.nZoneSize, 2u << 20) << "the device's zone size";
    EXPECT_EQ(z.nZoneCapacity, 1u << 20);
    EXPECT_EQ(z.nMaxActive, 4u);
    EXPECT_EQ(z.nMaxOpen, 2u);
    EXPECT_EQ(z.nDescExtSize, 128u);
    EXPECT_TRUE(z.bReadAcrossZones);
    EXPECT_EQ(d.namespaces[1].zoned.nZoneCapacity, 0u) << "the whole zone";
    EXPECT_EQ(d.namespaces[2].nCsi, kCsiKv);
    EXPECT_EQ(d.namespaces[2].kv.nMaxKeySize, 8u);
    EXPECT_EQ(d.namespaces[2].kv.nMaxValueSize, 4096u);
    EXPECT_EQ(d.namespaces[2].kv.nMaxKeys, 5u) << "the device's limit";
    const std::string p = "devices[0].namespaces[0].";
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","type":"block"}]}]})").rfind(p + "type:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","zoned":{}}]}]})").rfind(p + "zoned:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","type":"zoned","kv":{}}]}]})").rfind(p + "kv:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"3M","type":"zoned","zoned":{"zoneSize":"2M"}}]}]})").rfind(p + "size:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"2M","type":"zoned","zoned":{"zoneSize":1000}}]}]})").rfind(p + "zoned.zoneSize:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"2M","type":"zoned","zoned":{"zoneSize":"1M","zoneCapacity":"2M"}}]}]})").rfind(p + "zoned.zoneCapacity:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"2M","type":"zoned","zoned":{"maxActive":2,"maxOpen":3}}]}]})").rfind(p + "zoned.maxOpen:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"2M","type":"zoned","zoned":{"descriptorExtension":10}}]}]})").rfind(p + "zoned.descriptorExtension:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","type":"kv","kv":{"maxKeySize":17}}]}]})").rfind(p + "kv.maxKeySize:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"namespaces":[{"size":"1M","type":"kv","format":1}]}]})").rfind(p + "format:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"controllers":[{"zasl":13}]}]})").rfind("devices[0].controllers[0].zasl:", 0), 0u);
}

TEST(Config, FromEnvironment) {
    SimConfig c;
    std::string err;
    unsetenv("KXM_NVME_SIM");
    ASSERT_TRUE(configFromEnvironment(&c, &err));
    EXPECT_EQ(c.devices.size(), 1u);
    setenv("KXM_NVME_SIM", R"(  {"devices":[{},{}]})", 1);
    ASSERT_TRUE(configFromEnvironment(&c, &err)) << err;
    EXPECT_EQ(c.devices.size(), 2u);
    const std::string szPath = "/tmp/nvmesim-config-test.json";
    {
        std::ofstream f(szPath);
        f << R"({"devices":[{"maxNamespaces":"x"}]})";
    }
    setenv("KXM_NVME_SIM", szPath.c_str(), 1);
    EXPECT_FALSE(configFromEnvironment(&c, &err));
    EXPECT_NE(err.find("devices[0].maxNamespaces"), std::string::npos);
    EXPECT_NE(err.find(szPath), std::string::npos);
    setenv("KXM_NVME_SIM", "/nonexistent/sim.json", 1);
    EXPECT_FALSE(configFromEnvironment(&c, &err));
    unsetenv("KXM_NVME_SIM");
    std::remove(szPath.c_str());
}

TEST(Config, ExampleConfigurationIsValid) {
    SimConfig c;
    std::string err;
    setenv("KXM_NVME_SIM", NVMESIM_EXAMPLE_CONFIG, 1);
    ASSERT_TRUE(configFromEnvironment(&c, &err)) << err;
    unsetenv("KXM_NVME_SIM");
    ASSERT_EQ(c.devices.size(), 1u);
    EXPECT_EQ(c.devices[0].controllers.size(), 2u);
    EXPECT_EQ(c.devices[0].namespaces.size(), 3u);
}

TEST(Config, StreamsAndPowerStates) {
    const DeviceConfig def = defaultConfig().devices[0];
    EXPECT_EQ(def.nStreams, 0u) << "no directives unless configured";
    ASSERT_EQ(def.powerStates.size(), 5u);
    EXPECT_FALSE(def.powerStates[2].bNonOperational);
    EXPECT_TRUE(def.powerStates[3].bNonOperational);
    EXPECT_TRUE(def.powerStates[4].bNonOperational);

    SimConfig c;
    std::string err;
    ASSERT_TRUE(parseConfig(R"({"devices": [{"streams": 16, "powerStates": [
        {"maxPower": 900, "entryLatencyUs": 1, "exitLatencyUs": 2},
        {"maxPower": 3, "entryLatencyUs": 1000, "exitLatencyUs": "0x800", "readThroughput": 0,
         "writeLatency": 1, "nonOperational": true}]}]})", &c, &err)) << err;
    const DeviceConfig &d = c.devices[0];
    EXPECT_EQ(d.nStreams, 16u);
    ASSERT_EQ(d.powerStates.size(), 2u);
    EXPECT_EQ(d.powerStates[0].nMaxPower, 900u);
    EXPECT_EQ(d.powerStates[1].nExitLatencyUs, 0x800u);
    EXPECT_EQ(d.powerStates[1].nReadThroughput, 0u);
    EXPECT_EQ(d.powerStates[1].nReadLatency, 1u) << "relative ranks default to the state's index";
    EXPECT_TRUE(d.powerStates[1].bNonOperational);

    EXPECT_EQ(error(R"({"devices":[{"streams":70000}]})").rfind("devices[0].streams:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"powerStates":[]}]})").rfind("devices[0].powerStates:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"powerStates":[{"nonOperational":true}]}]})")
                  .rfind("devices[0].powerStates[0].nonOperational:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"powerStates":[{},{"readLatency":2}]}]})")
                  .rfind("devices[0].powerStates[1].readLatency:", 0), 0u);
    EXPECT_EQ(error(R"({"devices":[{"powerStates":[{"watts":3}]}]})").rfind("devices[0].powerStates[0].watts:", 0), 0u);
}
