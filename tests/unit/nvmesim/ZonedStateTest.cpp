// The zone state machine on its own: what a power loss restores from the
// zone file, which blocks it hands back for zeroing, and which files it
// refuses.
#include "ZonedNamespace.h"
#include "nvmewire/Status.h"
#include "nvmewire/Zoned.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

using namespace nvmesim;
using namespace nvmewire;

namespace {

std::vector<ZoneDesc> zones(const ZonedNamespace &z) {
    std::vector<uint8_t> out;
    z.report(0, ZRAS_ALL, true, false, 1 << 20, out);
    std::vector<ZoneDesc> d(z.zoneCount());
    const size_t nEntry = 64 + z.config().nDescExtSize;
    for (size_t i = 0; i < d.size(); ++i)
        std::memcpy(&d[i], out.data() + 64 + i * nEntry, 64);
    return d;
}

ZonedConfig geometry() {
    ZonedConfig c;
    c.nZoneSize = 64 * 512;
    c.nZoneCapacity = 48 * 512;
    c.nMaxActive = 3;
    c.nMaxOpen = 2;
    c.nDescExtSize = 64;
    return c;
}

} // namespace

TEST(ZonedState, PowerLossRestoresTheSavedStates) {
    const std::string sPath =
        (std::filesystem::temp_directory_path() / ("korvel-zonestate-" + std::to_string(getpid()))).string();
    ZonedNamespace z(geometry(), 4 * 64, 9);
    ASSERT_EQ(z.zoneCount(), 4u);
    uint64_t nLba = 0;
    ASSERT_EQ(z.admitWrite(0, 8, false, &nLba), 0);
    z.completeWrite(nLba, 8);
    uint8_t ext[64];
    std::memset(ext, 0x3C, sizeof ext);
    ZonedNamespace::Ranges discarded;
    bool bChanged = false;
    ASSERT_EQ(z.send(ZSA_SET_DESC_EXT, 64, false, ext, &discarded, &bChanged), 0);
    EXPECT_TRUE(bChanged);
    ASSERT_TRUE(z.save(sPath));
    EXPECT_FALSE(z.dirty());
    // After the save: more data in zone 0, an append opens zone 2.
    ASSERT_EQ(z.admitWrite(8, 8, false, &nLba), 0);
    z.completeWrite(nLba, 8);
    ASSERT_EQ(z.admitWrite(128, 4, true, &nLba), 0);
    EXPECT_EQ(nLba, 128u);
    z.completeWrite(nLba, 4);
    EXPECT_EQ(z.openCount(), 2u);
    EXPECT_EQ(z.activeCount(), 3u);
    const ZonedNamespace::Ranges r = z.recover(sPath);
    EXPECT_EQ(r, (ZonedNamespace::Ranges{{8, 8}, {128, 4}})) << "written since the save";
    const std::vector<ZoneDesc> d = zones(z);
    EXPECT_EQ(zoneState(d[0]), ZS_CLOSED) << "open zones come back closed";
    EXPECT_EQ(d[0].wp, 8u);
    EXPECT_EQ(zoneState(d[1]), ZS_CLOSED);
    EXPECT_TRUE(d[1].za & ZA_DESC_EXT_VALID);
    EXPECT_EQ(zoneState(d[2]), ZS_EMPTY);
    EXPECT_EQ(d[2].wp, 128u);
    EXPECT_EQ(z.openCount(), 0u);
    EXPECT_EQ(z.activeCount(), 2u);
    std::vector<uint8_t> out;
    z.report(64, ZRAS_ALL, true, true, 64 + 128, out);
    ASSERT_EQ(out.size(), 64u + 128);
    EXPECT_EQ(out[64 + 64], 0x3C) << "the extension came back";

    // A file of another geometry, or with a write pointer past the zone
    // capacity, is not taken: every zone starts empty.
    ZonedConfig other = geometry();
    other.nZoneCapacity = 64 * 512;
    ZonedNamespace z2(other, 4 * 64, 9);
    EXPECT_FALSE(z2.load(sPath));
    {
        std::fstream f(sPath, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(40);   // zone 0's write pointer
        const uint64_t nBad = 60;
        f.write(reinterpret_cast<const char *>(&nBad), sizeof nBad);
    }
    ZonedNamespace z3(geometry(), 4 * 64, 9);
    EXPECT_FALSE(z3.load(sPath));
    for (const ZoneDesc &x : zones(z3))
        EXPECT_EQ(zoneState(x), ZS_EMPTY);
    EXPECT_EQ(z3.activeCount(), 0u);
    std::filesystem::remove(sPath);
}
