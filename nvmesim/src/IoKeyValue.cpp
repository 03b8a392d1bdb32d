// Key value commands: Store, Retrieve, Delete, Exist, List and Flush. The
// key is CDW2, CDW3, CDW14 and CDW15 (bytes 0-15), its length CDW11 7:0.
// With the volatile write cache on, changes reach the namespace's file at
// a flush or shutdown; with it off, at once.
#include <cstring>

#include "ControllerCore.h"
#include "Namespace.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/KeyValue.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }
constexpr uint16_t media(uint16_t nSc) { return makeStatus(SCT_MEDIA, nSc); }

std::string keyOf(const Sqe &e, uint32_t nLength) {
    uint8_t b[KV_MAX_KEY_LENGTH];
    const uint32_t dw[4] = {e.cdw2(), e.cdw3(), e.cdw14(), e.cdw15()};
    std::memcpy(b, dw, sizeof b);
    return std::string(reinterpret_cast<const char *>(b), nLength);
}
} // namespace

uint16_t ControllerCore::ioKeyValue(const Sqe &e, Namespace &ns, uint32_t *pDw0) {
    KeyValueStore &kv = *ns.kv;
    const uint8_t nOpc = e.opc();
    if (nOpc == NVM_FLUSH)
        return ns.flushMedia() ? 0 : media(SC_WRITE_FAULT);
    if (nOpc != KV_STORE && nOpc != KV_RETRIEVE && nOpc != KV_DELETE && nOpc != KV_EXIST && nOpc != KV_LIST)
        return gen(SC_INVALID_OPCODE);
    const uint32_t nKeyLen = e.cdw11() & 0xFF;
    // List may start from the first key (length 0); the others need one.
    if (nKeyLen > kv.config().nMaxKeySize || (nKeyLen == 0 && nOpc != KV_LIST))
        return specific(SC_KV_INVALID_KEY_SIZE);
    const std::string szKey = keyOf(e, nKeyLen);
    const uint32_t nSize = e.cdw10();   // value size or host buffer size
    auto persist = [&]() -> uint16_t {
        if (!ns.fileBacked() || volatileCacheOn())
            return 0;
        return kv.save(ns.szBackingFile + ".kv") ? 0 : media(SC_WRITE_FAULT);
    };
    switch (nOpc) {
    case KV_STORE: {
        const uint8_t nOptions = (e.cdw11() >> 8) & 0xFF;
        if ((nOptions & KV_STORE_NO_OVERWRITE) && (nOptions & KV_STORE_MUST_EXIST))
            return gen(SC_INVALID_FIELD);
        if (nSize > kv.config().nMaxValueSize)
            return specific(SC_KV_INVALID_VALUE_SIZE);
        if (nSize > maxTransfer())
            return gen(SC_INVALID_FIELD);
        m_bounce.resize(nSize);
        if (nSize) {
            uint16_t s = buildSegments(e, nSize, false, m_cfg.bSgl, m_segs);
            if (s || (s = fromHost(m_segs, m_bounce.data(), nSize)))
                return s;
        }
        std::lock_guard lock(kv.mutex());
        const uint16_t s = kv.store(szKey, m_bounce.data(), nSize, nOptions);
        return s ? s : persist();
    }
    case KV_RETRIEVE: {
        std::lock_guard lock(kv.mutex());
        const std::vector<uint8_t> *v = kv.find(szKey);
        if (!v)
            return specific(SC_KV_KEY_DOES_NOT_EXIST);
        // As much of the value as the buffer holds; dword 0 the whole size.
        const uint64_t n = std::min<uint64_t>(nSize, v->size());
        if (n > maxTransfer())
            return gen(SC_INVALID_FIELD);
        if (n) {
            uint16_t s = buildSegments(e, n, true, m_cfg.bSgl, m_segs);
            if (s || (s = toHost(m_segs, v->data(), n)))
                return s;
        }
        *pDw0 = static_cast<uint32_t>(v->size());
        return 0;
    }
    case KV_DELETE: {
        std::lock_guard lock(kv.mutex());
        if (!kv.remove(szKey))
            return specific(SC_KV_KEY_DOES_NOT_EXIST);
        return persist();
    }
    case KV_EXIST: {
        std::lock_guard lock(kv.mutex());
        return kv.find(szKey) ? 0 : specific(SC_KV_KEY_DOES_NOT_EXIST);
    }
    default: {   // List
        if (nSize > maxTransfer())
            return gen(SC_INVALID_FIELD);
        {
            std::lock_guard lock(kv.mutex());
            kv.list(szKey, nSize, m_bounce);
        }
        const uint64_t n = std::min<uint64_t>(nSize, m_bounce.size());
        if (!n)
            return 0;
        uint16_t s = buildSegments(e, n, true, m_cfg.bSgl, m_segs);
        return s ? s : toHost(m_segs, m_bounce.data(), n);
    }
    }
}

} // namespace nvmesim
