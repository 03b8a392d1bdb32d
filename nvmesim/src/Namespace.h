// One namespace of a simulated subsystem: its size and LBA format, its
// media (data and separate metadata) and the blocks marked uncorrectable.
// I/O takes the shared side of 'rw'; format and deletion take it
// exclusively.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "BlockStore.h"
#include "ProtectionInfo.h"
#include "Reservations.h"
#include "KeyValueStore.h"
#include "ZonedNamespace.h"
#include "nvmesim/Config.h"

namespace nvmesim {

// The LBA data size shift of an LBA format: the smallest n with 2^n >= size.
inline uint32_t lbaShiftOf(uint64_t nDataSize) {
    uint32_t n = 0;
    while ((1ull << n) < nDataSize)
        ++n;
    return n;
}

class Namespace {
public:
    Namespace() = default;
    // Zone states and key value pairs of a file-backed namespace reach
    // their files, as at a flush.
    ~Namespace();
    uint32_t nNsid = 0;
    uint8_t nCsi = kCsiNvm;      // command set: NVM, key value or zoned
    uint64_t nBlocks = 0;        // NSZE = NCAP
    uint32_t nFormat = 0;        // LBA format index
    uint32_t nLbaShift = 9;
    uint16_t nMetaSize = 0;
    bool bExtended = false;      // metadata at the end of each block in the data buffer
    uint8_t nPiType = 0;         // protection information: 0 none, Type 1 to 3
    bool bPiFirst = false;       // in the first eight bytes of the metadata, else the last
    std::string szBackingFile;
    std::unique_ptr<BlockStore> data;
    std::unique_ptr<BlockStore> meta;
    // Zoned: the zones over 'data'. Key value: the pairs (no block media;
    // the capacity is bytes()). Their states are kept next to a backing
    // file in PATH.zones and PATH.kv.
    ZonedConfig zonedCfg;
    KvConfig kvCfg;
    std::unique_ptr<ZonedNamespace> zoned;
    std::unique_ptr<KeyValueStore> kv;
    std::atomic<uint64_t> attachedMask{0};   // bit n: controller index n
    uint8_t nguid[16] = {};
    Reservations resv;           // under the subsystem's reservation mutex
    mutable std::shared_mutex rw;

    uint64_t blockSize() const { return 1ull << nLbaShift; }
    uint64_t bytes() const { return nBlocks << nLbaShift; }
    PiFormat piFormat() const { return {nPiType, bPiFirst, blockSize(), nMetaSize}; }
    bool attachedTo(uint32_t nCtrlIndex) const {
        return (attachedMask.load(std::memory_order_acquire) >> nCtrlIndex) & 1;
    }

    // The volatile write cache to the media, then the zone states or key
    // value pairs to their file; false on a write error.
    bool flushMedia();
    // The same with the zone mutex held.
    bool flushZonedLocked();
    // Power loss: what the volatile write cache held is gone; zone states
    // and pairs are what was saved last (open zones closed, data past the
    // restored write pointers zeroed).
    void dropVolatile();
    // Format: every zone empty, no pairs.
    void eraseCommandSetState();
    bool fileBacked() const { return !szBackingFile.empty(); }
    // Still in use (a deleted namespace has no media).
    bool live() const { return data || kv; }

    // (Re)creates the media for the current size and format; false with a
    // reason when a backing file cannot be opened.
    bool createMedia(std::string *pErr);

    // Uncorrectable blocks. Cheap when none are marked.
    bool anyUncorrectable(uint64_t nSlba, uint64_t nCount) const;
    void markUncorrectable(uint64_t nSlba, uint64_t nCount);
    void clearUncorrectable(uint64_t nSlba, uint64_t nCount);
    void clearAllUncorrectable();
    // Ranges that are uncorrectable from nSlba on, at most nMax of them.
    template <typename F> void forEachUncorrectable(uint64_t nSlba, F f) const {
        std::lock_guard lock(m_uncMutex);
        for (auto it = m_unc.begin(); it != m_unc.end(); ++it)
            if (it->second > nSlba && !f(it->first, it->second))
                break;
    }

private:
    bool createBlockMedia(std::string *pErr);
    mutable std::mutex m_uncMutex;
    std::map<uint64_t, uint64_t> m_unc;   // start -> end (exclusive)
    std::atomic<bool> m_bAnyUnc{false};
};

} // namespace nvmesim
