#include "Namespace.h"

#include <sys/stat.h>

namespace nvmesim {

Namespace::~Namespace() {
    if (fileBacked() && (zoned || kv))
        flushMedia();
}

bool Namespace::flushZonedLocked() {
    const bool bOk = data->flush() && (!meta || meta->flush());
    if (!fileBacked() || !zoned->dirty())
        return bOk;
    return zoned->save(szBackingFile + ".zones") && bOk;
}

bool Namespace::flushMedia() {
    if (zoned) {
        std::lock_guard lock(zoned->mutex());
        return flushZonedLocked();
    }
    if (kv) {
        std::lock_guard lock(kv->mutex());
        return !fileBacked() || !kv->dirty() || kv->save(szBackingFile + ".kv");
    }
    return (!data || data->flush()) && (!meta || meta->flush());
}

void Namespace::dropVolatile() {
    if (data)
        data->dropVolatile();
    if (meta)
        meta->dropVolatile();
    if (zoned) {
        std::lock_guard lock(zoned->mutex());
        if (!fileBacked()) {
            zoned->closeOpenZones();
            return;
        }
        for (const auto &[nLba, nCount] : zoned->recover(szBackingFile + ".zones")) {
            data->zero(nLba << nLbaShift, nCount << nLbaShift, true);
            if (meta)
                meta->zero(nLba * nMetaSize, nCount * nMetaSize, true);
        }
        zoned->save(szBackingFile + ".zones");
    }
    if (kv && fileBacked()) {
        std::lock_guard lock(kv->mutex());
        kv->load(szBackingFile + ".kv");
    }
}

void Namespace::eraseCommandSetState() {
    if (zoned) {
        std::lock_guard lock(zoned->mutex());
        zoned->resetAll();
        if (fileBacked())
            zoned->save(szBackingFile + ".zones");
    }
    if (kv) {
        std::lock_guard lock(kv->mutex());
        kv->clear();
        if (fileBacked())
            kv->save(szBackingFile + ".kv");
    }
}

bool Namespace::createMedia(std::string *pErr) {
    data.reset();
    meta.reset();
    zoned.reset();
    kv.reset();
    clearAllUncorrectable();
    if (nCsi == kCsiKv) {
        kv = std::make_unique<KeyValueStore>(kvCfg, bytes());
        if (fileBacked() && !kv->load(szBackingFile + ".kv")) {
            *pErr = "cannot read " + szBackingFile + ".kv";
            kv.reset();
            return false;
        }
        return true;
    }
    // A backing file that already holds data is only taken with the zone
    // states that go with it: without them the write pointers are unknown,
    // and starting every zone empty would throw the user's data away.
    struct stat st;
    const bool bHadData = nCsi == kCsiZoned && fileBacked() && ::stat(szBackingFile.c_str(), &st) == 0 && st.st_size > 0;
    if (!createBlockMedia(pErr))
        return false;
    if (nCsi == kCsiZoned) {
        zoned = std::make_unique<ZonedNamespace>(zonedCfg, nBlocks, nLbaShift);
        if (fileBacked() && !zoned->load(szBackingFile + ".zones")) {
            if (bHadData) {
                *pErr = szBackingFile + ".zones is missing or does not fit the namespace, so the zone states of " +
                        szBackingFile + " are unknown (remove the backing file to start with empty zones)";
                zoned.reset();
                data.reset();
                meta.reset();
                return false;
            }
            zoned->save(szBackingFile + ".zones");   // a new file: every zone empty
        }
    }
    return true;
}

bool Namespace::createBlockMedia(std::string *pErr) {
    const uint64_t nMetaBytes = nBlocks * nMetaSize;
    if (szBackingFile.empty()) {
        data = std::make_unique<SparseStore>(bytes());
        if (nMetaBytes)
            meta = std::make_unique<SparseStore>(nMetaBytes);
        return true;
    }
    data = FileStore::open(szBackingFile, bytes(), pErr);
    if (!data)
        return false;
    if (nMetaBytes) {
        meta = FileStore::open(szBackingFile + ".meta", nMetaBytes, pErr);
        if (!meta)
            return false;
    }
    return true;
}

bool Namespace::anyUncorrectable(uint64_t nSlba, uint64_t nCount) const {
    if (!m_bAnyUnc.load(std::memory_order_acquire))
        return false;
    std::lock_guard lock(m_uncMutex);
    auto it = m_unc.upper_bound(nSlba);
    if (it != m_unc.begin()) {
        auto prev = std::prev(it);
        if (prev->second > nSlba)
            return true;
    }
    return it != m_unc.end() && it->first < nSlba + nCount;
}

void Namespace::markUncorrectable(uint64_t nSlba, uint64_t nCount) {
    std::lock_guard lock(m_uncMutex);
    uint64_t nStart = nSlba, nEnd = nSlba + nCount;
    auto it = m_unc.upper_bound(nStart);
    if (it != m_unc.begin() && std::prev(it)->second >= nStart)
        --it;
    while (it != m_unc.end() && it->first <= nEnd) {
        nStart = std::min(nStart, it->first);
        nEnd = std::max(nEnd, it->second);
        it = m_unc.erase(it);
    }
    m_unc.emplace(nStart, nEnd);
    m_bAnyUnc = true;
}

void Namespace::clearUncorrectable(uint64_t nSlba, uint64_t nCount) {
    if (!m_bAnyUnc.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(m_uncMutex);
    const uint64_t nEnd = nSlba + nCount;
    auto it = m_unc.upper_bound(nSlba);
    if (it != m_unc.begin() && std::prev(it)->second > nSlba)
        --it;
    while (it != m_unc.end() && it->first < nEnd) {
        const uint64_t s = it->first, e = it->second;
        it = m_unc.erase(it);
        if (s < nSlba)
            m_unc.emplace(s, nSlba);
        if (e > nEnd)
            m_unc.emplace(nEnd, e);
    }
    m_bAnyUnc = !m_unc.empty();
}

void Namespace::clearAllUncorrectable() {
    std::lock_guard lock(m_uncMutex);
    m_unc.clear();
    m_bAnyUnc = false;
}

} // namespace nvmesim
