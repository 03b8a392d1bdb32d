#include "KeyValueStore.h"
#include "SideFile.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "nvmewire/Completion.h"
#include "nvmewire/Status.h"

namespace nvmesim {

using namespace nvmewire;

namespace {
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }
constexpr char kMagic[8] = {'K', 'K', 'V', 'P', 'A', 'I', 'R', '1'};
} // namespace

uint16_t KeyValueStore::store(const std::string &szKey, const uint8_t *p, uint32_t n, uint8_t nOptions) {
    auto it = m_pairs.find(szKey);
    if ((nOptions & KV_STORE_NO_OVERWRITE) && it != m_pairs.end())
        return specific(SC_KV_KEY_EXISTS);
    if ((nOptions & KV_STORE_MUST_EXIST) && it == m_pairs.end())
        return specific(SC_KV_KEY_DOES_NOT_EXIST);
    const uint64_t nOld = it == m_pairs.end() ? 0 : szKey.size() + it->second.size();
    const uint64_t nNew = szKey.size() + n;
    if (m_nUsed - nOld + nNew > m_nCapacity ||
        (it == m_pairs.end() && m_cfg.nMaxKeys && m_pairs.size() >= m_cfg.nMaxKeys))
        return makeStatus(SCT_GENERIC, SC_CAP_EXCEEDED, true);
    m_pairs[szKey].assign(p, p + n);
    m_nUsed = m_nUsed - nOld + nNew;
    m_bDirty = true;
    return 0;
}

const std::vector<uint8_t> *KeyValueStore::find(const std::string &szKey) const {
    auto it = m_pairs.find(szKey);
    return it == m_pairs.end() ? nullptr : &it->second;
}

bool KeyValueStore::remove(const std::string &szKey) {
    auto it = m_pairs.find(szKey);
    if (it == m_pairs.end())
        return false;
    m_nUsed -= szKey.size() + it->second.size();
    m_pairs.erase(it);
    m_bDirty = true;
    return true;
}

void KeyValueStore::list(const std::string &szFrom, uint32_t nBytes, std::vector<uint8_t> &out) const {
    out.assign(4, 0);
    uint32_t nKeys = 0;
    for (auto it = m_pairs.lower_bound(szFrom); it != m_pairs.end(); ++it) {
        const uint32_t nEntry = kvListEntrySize(static_cast<uint32_t>(it->first.size()));
        if (out.size() + nEntry > nBytes)
            break;
        const size_t nAt = out.size();
        out.resize(nAt + nEntry, 0);
        const uint16_t nLen = static_cast<uint16_t>(it->first.size());
        std::memcpy(out.data() + nAt, &nLen, 2);
        std::memcpy(out.data() + nAt + 2, it->first.data(), nLen);
        ++nKeys;
    }
    std::memcpy(out.data(), &nKeys, 4);
}

void KeyValueStore::clear() {
    m_pairs.clear();
    m_nUsed = 0;
    m_bDirty = true;
}

bool KeyValueStore::save(const std::string &szPath) {
    if (!replaceSideFile(szPath, [&](std::ofstream &f) {
        const uint64_t nCount = m_pairs.size();
        f.write(kMagic, sizeof kMagic);
        f.write(reinterpret_cast<const char *>(&nCount), sizeof nCount);
        for (const auto &[k, v] : m_pairs) {
            const uint8_t nKl = static_cast<uint8_t>(k.size());
            const uint32_t nVl = static_cast<uint32_t>(v.size());
            f.write(reinterpret_cast<const char *>(&nKl), 1);
            f.write(k.data(), nKl);
            f.write(reinterpret_cast<const char *>(&nVl), 4);
            f.write(reinterpret_cast<const char *>(v.data()), nVl);
        }
    }))
        return false;
    m_bDirty = false;
    return true;
}

bool KeyValueStore::load(const std::string &szPath) {
    m_pairs.clear();
    m_nUsed = 0;
    m_bDirty = false;
    std::ifstream f(szPath, std::ios::binary);
    if (!f)
        return true;   // nothing stored yet
    char magic[8] = {};
    uint64_t nCount = 0;
    if (!f.read(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) ||
        !f.read(reinterpret_cast<char *>(&nCount), sizeof nCount))
        return false;
    for (uint64_t i = 0; i < nCount; ++i) {
        uint8_t nKl = 0;
        uint32_t nVl = 0;
        std::string k;
        if (!f.read(reinterpret_cast<char *>(&nKl), 1) || nKl == 0 || nKl > KV_MAX_KEY_LENGTH)
            return false;
        k.resize(nKl);
        if (!f.read(k.data(), nKl) || !f.read(reinterpret_cast<char *>(&nVl), 4) || nVl > m_cfg.nMaxValueSize)
            return false;
        std::vector<uint8_t> v(nVl);
        if (!f.read(reinterpret_cast<char *>(v.data()), nVl))
            return false;
        m_nUsed += nKl + nVl;
        m_pairs.emplace(std::move(k), std::move(v));
    }
    return true;
}

} // namespace nvmesim
