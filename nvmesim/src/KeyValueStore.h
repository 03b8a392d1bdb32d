// The pairs of a key value namespace, ordered by key: bytes compared as
// unsigned values, a key before the longer keys it starts. Capacity is
// the bytes of keys and values together. The caller holds mutex() around
// every call.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "nvmesim/Config.h"
#include "nvmewire/KeyValue.h"

namespace nvmesim {

class KeyValueStore {
public:
    KeyValueStore(const KvConfig &cfg, uint64_t nCapacity) : m_cfg(cfg), m_nCapacity(nCapacity) {}

    const KvConfig &config() const { return m_cfg; }
    uint64_t capacity() const { return m_nCapacity; }
    uint64_t bytesUsed() const { return m_nUsed; }
    std::mutex &mutex() { return m_mutex; }

    // Status field, 0 on success. nOptions: KV_STORE_* bits.
    uint16_t store(const std::string &szKey, const uint8_t *p, uint32_t n, uint8_t nOptions);
    // Null when the key does not exist.
    const std::vector<uint8_t> *find(const std::string &szKey) const;
    bool remove(const std::string &szKey);
    // List data of the keys from szFrom on (the first key not below it),
    // as many as nBytes hold.
    void list(const std::string &szFrom, uint32_t nBytes, std::vector<uint8_t> &out) const;
    void clear();

    // Durable copy: save() writes the pairs to a file as one, load()
    // replaces them with the file's (none when it is missing; false when
    // it is unreadable). dirty(): changed since the last save or load.
    bool save(const std::string &szPath);
    bool load(const std::string &szPath);
    bool dirty() const { return m_bDirty; }

private:
    KvConfig m_cfg;
    uint64_t m_nCapacity;
    uint64_t m_nUsed = 0;
    bool m_bDirty = false;
    std::map<std::string, std::vector<uint8_t>> m_pairs;
    std::mutex m_mutex;
};

} // namespace nvmesim
