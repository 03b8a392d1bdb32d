#include "Namespace.h"

namespace nvmesim {

bool Namespace::createMedia(std::string *pErr) {
    data.reset();
    meta.reset();
    clearAllUncorrectable();
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
