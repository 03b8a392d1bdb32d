// Get LBA Status: ranges of blocks that would fail to read.
#include <cstring>

#include "ControllerCore.h"
#include "Namespace.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
} // namespace

uint16_t ControllerCore::adminLbaStatus(const Sqe &e) {
    const uint64_t nSlba = e.cdw10() | (static_cast<uint64_t>(e.cdw11()) << 32);
    const uint64_t nLen = (static_cast<uint64_t>(e.cdw12()) + 1) * 4;
    const uint32_t nRange = e.cdw13() & 0xFFFF;
    const uint8_t nAtype = static_cast<uint8_t>(e.cdw13() >> 24);
    if (nAtype != 0x10 && nAtype != 0x11)
        return gen(SC_INVALID_FIELD);
    if (nLen > maxTransfer())
        return gen(SC_INVALID_FIELD);
    Namespace *ns = activeNamespace(e.nsid());
    if (!ns)
        return gen(SC_INVALID_NS);
    std::shared_lock lock(ns->rw);
    if (nSlba >= ns->nBlocks)
        return gen(SC_LBA_RANGE);
    const uint64_t nEnd = nRange ? std::min(ns->nBlocks, nSlba + nRange) : ns->nBlocks;
    // Only the descriptors found are built here; the rest of the host's
    // buffer is zero-filled on the way out.
    std::vector<uint8_t> &buf = m_bounce2;
    buf.assign(std::min<uint64_t>(nLen, 8), 0);
    const uint64_t nMaxDesc = nLen >= 8 ? (nLen - 8) / 16 : 0;
    uint32_t n = 0;
    ns->forEachUncorrectable(nSlba, [&](uint64_t s, uint64_t x) {
        if (s >= nEnd || n >= nMaxDesc)
            return false;
        const uint64_t a = std::max(s, nSlba), b = std::min(x, nEnd);
        nvme_lba_status_desc d;
        std::memset(&d, 0, sizeof d);
        d.dslba = a;
        d.nlb = static_cast<uint32_t>(std::min<uint64_t>(b - a, 0xFFFFFFFF));
        const auto *pDesc = reinterpret_cast<const uint8_t *>(&d);
        buf.insert(buf.end(), pDesc, pDesc + sizeof d);
        ++n;
        return true;
    });
    if (nLen >= 8) {
        auto *pHdr = reinterpret_cast<nvme_lba_status *>(buf.data());
        pHdr->nlsd = n;
        pHdr->cmpc = 1;   // the whole range was examined
    }
    return sendPadded(e, buf.data(), buf.size(), nLen);
}

} // namespace nvmesim
