// Directive Send and Directive Receive: the identify directive (return
// parameters, enabling and disabling a directive for a namespace) and the
// streams directive (return parameters, open streams, allocating and
// releasing resources), and the check of a Write that names a stream.
//
// Streams are per controller and namespace. A namespace with streams
// allocated to it (NSA) uses stream identifiers 1..NSA; one without uses
// 1..MSL from the pool the subsystem shares, as far as that pool has
// streams left; when it has none, a new stream takes the place of the
// namespace's oldest open one. A Write with a stream identifier opens it.
// A controller reset disables the directive and releases everything.
#include <algorithm>
#include <cstring>

#include "ControllerCore.h"
#include "Namespace.h"
#include "nvmesim/Subsystem.h"
#include "nvmewire/Directives.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
} // namespace

bool ControllerCore::directivesSupported() const { return m_subsys.config().nStreams != 0; }

// Closes the namespace's open streams and, with bResources, gives its
// allocation back to the subsystem.
void ControllerCore::releaseStreams(NamespaceStreams &s, bool bResources) {
    if (!s.nAllocated)
        m_subsys.closeSharedStreams(static_cast<uint32_t>(s.open.size()));
    s.open.clear();
    if (bResources && s.nAllocated) {
        m_subsys.releaseStreams(s.nAllocated);
        s.nAllocated = 0;
    }
}

// The state of a namespace that was deleted (or detached) goes, and its
// streams with it; a namespace created later under the same id starts
// afresh.
void ControllerCore::pruneStreams() {
    for (auto it = m_streams.begin(); it != m_streams.end();) {
        if (activeNamespace(it->first) != it->second.pNs) {
            releaseStreams(it->second, true);
            it = m_streams.erase(it);
        } else {
            ++it;
        }
    }
}

// The state of an active namespace.
NamespaceStreams &ControllerCore::streamsOf(uint32_t nNsid) {
    NamespaceStreams &s = m_streams[nNsid];
    s.pNs = activeNamespace(nNsid);
    return s;
}

void ControllerCore::resetStreams() {
    for (auto &kv : m_streams)
        releaseStreams(kv.second, true);
    m_streams.clear();
}

uint16_t ControllerCore::adminDirectiveSend(const Sqe &e) {
    if (!directivesSupported())
        return gen(SC_INVALID_OPCODE);
    const uint8_t nDoper = e.cdw11() & 0xFF;
    const uint8_t nDtype = (e.cdw11() >> 8) & 0xFF;
    const uint16_t nDspec = static_cast<uint16_t>(e.cdw11() >> 16);
    const uint32_t nNsid = e.nsid();
    pruneStreams();
    if (nDtype == DTYPE_IDENTIFY) {
        if (nDoper != DOPER_SEND_IDENTIFY_ENABLE)
            return gen(SC_INVALID_FIELD);
        const bool bEnable = e.cdw12() & 1;
        const uint8_t nTarget = (e.cdw12() >> 8) & 0xFF;
        if (nTarget != DTYPE_STREAMS)
            return gen(SC_INVALID_FIELD);   // the identify directive is always enabled
        auto apply = [&](uint32_t nId) {
            NamespaceStreams &s = streamsOf(nId);
            if (!bEnable)
                releaseStreams(s, true);
            s.bEnabled = bEnable;
        };
        if (nNsid == NVME_NSID_ALL) {
            for (uint32_t n = 1; n <= m_subsys.maxNamespaces(); ++n)
                if (activeNamespace(n))
                    apply(n);
            return 0;
        }
        if (!activeNamespace(nNsid))
            return gen(SC_INVALID_NS);
        apply(nNsid);
        return 0;
    }
    if (nDtype != DTYPE_STREAMS)
        return gen(SC_INVALID_FIELD);
    if (!activeNamespace(nNsid))
        return gen(SC_INVALID_NS);
    NamespaceStreams &s = streamsOf(nNsid);
    if (!s.bEnabled)
        return gen(SC_INVALID_FIELD);
    switch (nDoper) {
    case DOPER_SEND_STREAMS_RELEASE_ID: {
        const uint32_t nLimit = s.nAllocated ? s.nAllocated : m_subsys.config().nStreams;
        if (nDspec == 0 || nDspec > nLimit)
            return gen(SC_INVALID_FIELD);
        auto it = std::find(s.open.begin(), s.open.end(), nDspec);
        if (it != s.open.end()) {
            s.open.erase(it);
            if (!s.nAllocated)
                m_subsys.closeSharedStreams(1);
        }
        return 0;
    }
    case DOPER_SEND_STREAMS_RELEASE_RESOURCES:
        releaseStreams(s, true);
        return 0;
    default:
        return gen(SC_INVALID_FIELD);
    }
}

uint16_t ControllerCore::adminDirectiveReceive(const Sqe &e, uint32_t *pDw0) {
    if (!directivesSupported())
        return gen(SC_INVALID_OPCODE);
    const uint64_t nLen = (static_cast<uint64_t>(e.cdw10()) + 1) * 4;
    const uint8_t nDoper = e.cdw11() & 0xFF;
    const uint8_t nDtype = (e.cdw11() >> 8) & 0xFF;
    const uint32_t nNsid = e.nsid();
    if (nLen > maxTransfer())
        return gen(SC_INVALID_FIELD);
    pruneStreams();
    std::vector<uint8_t> &buf = m_bounce2;
    if (nDtype == DTYPE_IDENTIFY) {
        if (nDoper != DOPER_RECV_IDENTIFY_PARAMS)
            return gen(SC_INVALID_FIELD);
        const bool bAny = nNsid == 0 || nNsid == NVME_NSID_ALL;
        if (!bAny && !activeNamespace(nNsid))
            return gen(SC_INVALID_NS);
        buf.assign(sizeof(IdDirectives), 0);
        auto *p = reinterpret_cast<IdDirectives *>(buf.data());
        p->supported[0] = (1u << DTYPE_IDENTIFY) | (1u << DTYPE_STREAMS);
        p->enabled[0] = 1u << DTYPE_IDENTIFY;
        if (!bAny) {
            auto it = m_streams.find(nNsid);
            if (it != m_streams.end() && it->second.bEnabled)
                p->enabled[0] |= 1u << DTYPE_STREAMS;
        }
        return sendPadded(e, buf.data(), std::min<uint64_t>(nLen, buf.size()), nLen);
    }
    if (nDtype != DTYPE_STREAMS)
        return gen(SC_INVALID_FIELD);
    if (!activeNamespace(nNsid))
        return gen(SC_INVALID_NS);
    NamespaceStreams &s = streamsOf(nNsid);
    switch (nDoper) {
    case DOPER_RECV_STREAMS_PARAMS: {
        buf.assign(sizeof(StreamsParams), 0);
        auto *p = reinterpret_cast<StreamsParams *>(buf.data());
        p->msl = m_subsys.config().nStreams;
        p->nssa = static_cast<uint16_t>(m_subsys.streamsAvailable());
        p->nsso = static_cast<uint16_t>(std::min<uint32_t>(m_subsys.streamsOpen(), 0xFFFF));
        p->sws = kStreamWriteSize;
        p->sgs = kStreamGranularity;
        p->nsa = s.nAllocated;
        p->nso = static_cast<uint16_t>(s.open.size());
        break;
    }
    case DOPER_RECV_STREAMS_STATUS: {
        if (!s.bEnabled)
            return gen(SC_INVALID_FIELD);
        buf.assign(2 + 2 * s.open.size(), 0);
        auto *p = reinterpret_cast<uint16_t *>(buf.data());
        p[0] = static_cast<uint16_t>(s.open.size());
        std::vector<uint16_t> ids(s.open);
        std::sort(ids.begin(), ids.end());
        std::copy(ids.begin(), ids.end(), p + 1);
        break;
    }
    case DOPER_RECV_STREAMS_ALLOCATE: {
        if (!s.bEnabled)
            return gen(SC_INVALID_FIELD);
        if (s.nAllocated)
            return gen(SC_CMD_SEQ_ERROR);   // release the namespace's resources first
        releaseStreams(s, false);           // open streams of the shared pool end
        s.nAllocated = m_subsys.allocateStreams(static_cast<uint16_t>(e.cdw12() & 0xFFFF));
        *pDw0 = s.nAllocated;
        return 0;
    }
    default:
        return gen(SC_INVALID_FIELD);
    }
    return sendPadded(e, buf.data(), std::min<uint64_t>(nLen, buf.size()), nLen);
}

// A Write with a directive type: streams, enabled for the namespace, and a
// valid stream identifier, which is opened if it is not yet.
uint16_t ControllerCore::checkStreamWrite(const Sqe &e, uint32_t nNsid) {
    if (writeDtype(e.cdw12()) != DTYPE_STREAMS || !directivesSupported())
        return gen(SC_INVALID_FIELD);
    auto it = m_streams.find(nNsid);
    if (it == m_streams.end() || !it->second.bEnabled)
        return gen(SC_INVALID_FIELD);
    if (it->second.pNs != activeNamespace(nNsid)) {
        // Enabled for a namespace that is gone.
        pruneStreams();
        return gen(SC_INVALID_FIELD);
    }
    NamespaceStreams &s = it->second;
    const uint16_t nId = writeDspec(e.cdw13());
    const uint32_t nLimit = s.nAllocated ? s.nAllocated : m_subsys.config().nStreams;
    if (nId == 0 || nId > nLimit)
        return gen(SC_INVALID_FIELD);
    if (std::find(s.open.begin(), s.open.end(), nId) != s.open.end())
        return 0;
    if (s.nAllocated || m_subsys.openSharedStream()) {
        s.open.push_back(nId);
    } else if (!s.open.empty()) {
        // The shared pool is used up: the oldest stream of the namespace
        // makes room.
        s.open.erase(s.open.begin());
        s.open.push_back(nId);
    }
    return 0;
}

} // namespace nvmesim
