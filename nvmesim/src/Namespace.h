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
    uint32_t nNsid = 0;
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

    // The volatile write cache to the media; false on a write error.
    bool flushMedia() { return data->flush() && (!meta || meta->flush()); }
    // Power loss: what the volatile write cache held is gone.
    void dropVolatile() {
        if (data)
            data->dropVolatile();
        if (meta)
            meta->dropVolatile();
    }

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
    mutable std::mutex m_uncMutex;
    std::map<uint64_t, uint64_t> m_unc;   // start -> end (exclusive)
    std::atomic<bool> m_bAnyUnc{false};
};

} // namespace nvmesim
