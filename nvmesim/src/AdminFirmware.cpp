// Firmware Image Download, Firmware Commit and Device Self-test.
#include <cstring>

#include "ControllerCore.h"
#include "Namespace.h"
#include "nvmesim/Subsystem.h"

namespace nvmesim {

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }
constexpr size_t kMaxImage = 32u << 20;
} // namespace

uint16_t ControllerCore::adminFirmwareDownload(const Sqe &e) {
    const uint64_t nLen = (static_cast<uint64_t>(e.cdw10()) + 1) * 4;
    const uint64_t nOffset = static_cast<uint64_t>(e.cdw11()) * 4;
    if (nLen > maxTransfer() || nOffset > m_fwImage.size() || nOffset + nLen > kMaxImage)
        return gen(SC_INVALID_FIELD);
    if (m_fwImage.size() < nOffset + nLen)
        m_fwImage.resize(nOffset + nLen);
    return recvData(e, m_fwImage.data() + nOffset, nLen);
}

uint16_t ControllerCore::adminFirmwareCommit(const Sqe &e, uint32_t *pDw0) {
    (void)pDw0;
    uint8_t nSlot = e.cdw10() & 7;
    const uint8_t nAction = (e.cdw10() >> 3) & 7;
    if (e.cdw10() >> 31)
        return gen(SC_INVALID_FIELD);   // no boot partitions
    if (nSlot > 3)
        return specific(SC_FIRMWARE_SLOT);
    if (nAction > 3)
        return gen(SC_INVALID_FIELD);
    if (nSlot == 0)
        nSlot = nAction == 2 ? m_nFwActiveSlot : (m_nFwActiveSlot == 2 ? 3 : 2);
    if (nAction != 2) {
        if (m_fwImage.empty() || m_fwImage.size() % 4)
            return specific(SC_FIRMWARE_IMAGE);
        // The revision is the image's first eight bytes when printable.
        std::string szRev;
        for (size_t i = 0; i < 8 && i < m_fwImage.size() && m_fwImage[i] >= 0x20 && m_fwImage[i] < 0x7F; ++i)
            szRev += static_cast<char>(m_fwImage[i]);
        if (szRev.empty()) {
            uint32_t h = 2166136261u;
            for (uint8_t b : m_fwImage)
                h = (h ^ b) * 16777619u;
            char buf[16];
            std::snprintf(buf, sizeof buf, "F%07X", h & 0xFFFFFFF);
            szRev = buf;
        }
        m_fwSlots[nSlot - 1] = szRev;
        m_fwImage.clear();
    } else if (m_fwSlots[nSlot - 1].empty()) {
        return specific(SC_FIRMWARE_IMAGE);
    }
    if (nAction == 1 || nAction == 2)
        m_nFwNextSlot = nSlot;
    else if (nAction == 3) {
        m_nFwActiveSlot = nSlot;
        m_nFwNextSlot = 0;
    }
    return 0;
}

void ControllerCore::finishSelfTest(uint8_t nResult) {
    nvme_st_result r;
    std::memset(&r, 0, sizeof r);
    r.dsts = static_cast<uint8_t>((m_selfTest.nCurrent << 4) | nResult);
    r.poh = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::hours>(Clock::now() - m_startedAt).count());
    r.nsid = m_selfTest.nNsid;
    r.vdi = m_selfTest.nNsid ? 0x02 : 0;   // NSID valid
    m_selfTest.results.push_front(r);
    if (m_selfTest.results.size() > static_cast<size_t>(NVME_LOG_ST_MAX_RESULTS))
        m_selfTest.results.pop_back();
    m_selfTest.nCurrent = 0;
}

uint16_t ControllerCore::adminSelfTest(const Sqe &e) {
    const uint8_t nCode = e.cdw10() & 0xF;
    if (nCode == 0xF) {
        if (m_selfTest.nCurrent)
            finishSelfTest(1);
        return 0;
    }
    if (nCode != 1 && nCode != 2)
        return gen(SC_INVALID_FIELD);
    if (e.nsid() != 0 && e.nsid() != NVME_NSID_ALL && !activeNamespace(e.nsid()))
        return gen(SC_INVALID_NS);
    if (m_selfTest.nCurrent)
        return specific(SC_SELF_TEST_IN_PROGRESS);
    const Timings &t = m_subsys.config().timings;
    m_selfTest.nCurrent = nCode;
    m_selfTest.nNsid = e.nsid();
    m_selfTest.start = Clock::now();
    m_selfTest.end = m_selfTest.start + std::chrono::milliseconds(nCode == 1 ? t.nSelfTestShortMs : t.nSelfTestExtendedMs);
    return 0;
}

} // namespace nvmesim
