// The zones of a zoned namespace: their states and write pointers, the
// open and active resources they take, the checks a write or read must
// pass and the zone management actions. The caller holds mutex() around
// every call but the geometry accessors.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "nvmesim/Config.h"

namespace nvmesim {

class ZonedNamespace {
public:
    struct Zone {
        uint64_t nStart = 0;
        uint64_t nWp = 0;
        uint8_t nState = 0;    // ZS_* of the zone descriptor
        uint8_t nAttrs = 0;    // ZA_* bits
    };
    // Ranges of blocks (start, count) whose data an action discarded.
    using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

    // nBlocks is a whole number of zones of cfg.nZoneSize bytes.
    ZonedNamespace(const ZonedConfig &cfg, uint64_t nBlocks, uint32_t nLbaShift);

    const ZonedConfig &config() const { return m_cfg; }
    uint64_t zoneSize() const { return m_nZoneBlocks; }       // blocks
    uint64_t zoneCapacity() const { return m_nCapBlocks; }    // blocks
    uint64_t zoneCount() const { return m_zones.size(); }
    std::mutex &mutex() { return m_mutex; }

    // A write of nNlb blocks at nSlba (a Zone Append: to the zone starting
    // at nSlba). Checks the zone's state, the write pointer and the zone's
    // capacity, and takes the resources an implicit open needs (closing an
    // implicitly opened zone when the open zones are at their limit). On
    // success *pLba is where the data goes; completeWrite() then moves the
    // write pointer. Status field, 0 on success.
    uint16_t admitWrite(uint64_t nSlba, uint32_t nNlb, bool bAppend, uint64_t *pLba);
    void completeWrite(uint64_t nLba, uint64_t nNlb);
    // A read (or compare, verify) of the range: Zone Is Offline, and Zone
    // Boundary Error for a range across zones unless that is allowed.
    uint16_t checkRead(uint64_t nSlba, uint64_t nNlb) const;

    // Zone Management Send: one zone (nSlba its first block) or, with
    // bAll, every zone the action applies to. pExt holds the descriptor
    // extension of ZSA_SET_DESC_EXT. *pDiscarded: data to zero (resets).
    // *pChanged: whether any zone changed.
    uint16_t send(uint8_t nAction, uint64_t nSlba, bool bAll, const uint8_t *pExt, Ranges *pDiscarded, bool *pChanged);

    // Zone Management Receive data: header and descriptors (with their
    // extensions when bExtended) of the zones from the one holding nSlba
    // that match the reporting option, at most nBytes.
    void report(uint64_t nSlba, uint8_t nOption, bool bExtended, bool bPartial, uint64_t nBytes,
                std::vector<uint8_t> &out) const;

    // The controller makes a zone read only or offline (a media failure);
    // false when nZslba is no zone's start or the zone is offline already.
    bool fail(uint64_t nZslba, bool bOffline);
    // Power loss or format: open zones are closed (empty when nothing was
    // written) / every zone empty.
    void closeOpenZones();
    void resetAll();

    // The zone states in a file: saved whole, loaded when the geometry
    // matches. load() returns false (and leaves every zone empty) when the
    // file is missing or does not match.
    bool save(const std::string &szPath) const;
    bool load(const std::string &szPath);
    // After a power loss: the states saved last, open zones closed. The
    // ranges returned lie past a zone's restored write pointer but may hold
    // data written since the save; the caller zeroes them.
    Ranges recover(const std::string &szPath);

    // Changed since the last save or load.
    bool dirty() const { return m_bDirty; }
    uint32_t openCount() const { return m_nOpen; }
    uint32_t activeCount() const { return m_nActive; }

private:
    Zone *zoneAt(uint64_t nZslba);
    uint64_t zoneIndex(uint64_t nLba) const { return nLba / m_nZoneBlocks; }
    void setState(Zone &z, uint8_t nState);
    uint16_t takeResources(Zone &z, bool bNeedActive, bool bNeedOpen);
    uint16_t act(Zone &z, uint8_t nAction, const uint8_t *pExt, Ranges *pDiscarded, bool *pChanged);

    ZonedConfig m_cfg;
    uint64_t m_nZoneBlocks;
    uint64_t m_nCapBlocks;
    std::vector<Zone> m_zones;
    std::vector<uint8_t> m_ext;     // descriptor extensions, nDescExtSize per zone
    uint32_t m_nOpen = 0;
    uint32_t m_nActive = 0;
    mutable bool m_bDirty = false;
    mutable std::mutex m_mutex;
};

} // namespace nvmesim
