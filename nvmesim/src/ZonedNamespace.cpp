#include "ZonedNamespace.h"
#include "SideFile.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "nvmewire/Completion.h"
#include "nvmewire/Status.h"
#include "nvmewire/Zoned.h"

namespace nvmesim {

using namespace nvmewire;

namespace {
constexpr uint16_t gen(uint16_t nSc) { return makeStatus(SCT_GENERIC, nSc, true); }
constexpr uint16_t specific(uint16_t nSc) { return makeStatus(SCT_CMD_SPECIFIC, nSc, true); }

bool isOpen(uint8_t s) { return s == ZS_IMPLICIT_OPEN || s == ZS_EXPLICIT_OPEN; }
bool isActive(uint8_t s) { return isOpen(s) || s == ZS_CLOSED; }

constexpr char kMagic[8] = {'K', 'Z', 'O', 'N', 'E', 'S', '0', '1'};
struct FileHeader {
    char magic[8];
    uint64_t nZones;
    uint64_t nZoneBlocks;
    uint64_t nCapBlocks;
    uint64_t nExtSize;
};
struct FileZone {
    uint64_t nWp;
    uint8_t nState;
    uint8_t nAttrs;
    uint8_t pad[6];
};
} // namespace

ZonedNamespace::ZonedNamespace(const ZonedConfig &cfg, uint64_t nBlocks, uint32_t nLbaShift) : m_cfg(cfg) {
    m_nZoneBlocks = std::max<uint64_t>(1, cfg.nZoneSize >> nLbaShift);
    m_nCapBlocks = cfg.nZoneCapacity ? std::min(m_nZoneBlocks, cfg.nZoneCapacity >> nLbaShift) : m_nZoneBlocks;
    m_nCapBlocks = std::max<uint64_t>(1, m_nCapBlocks);
    m_zones.resize(nBlocks / m_nZoneBlocks);
    m_ext.assign(m_zones.size() * cfg.nDescExtSize, 0);
    resetAll();
}

void ZonedNamespace::resetAll() {
    for (size_t i = 0; i < m_zones.size(); ++i)
        m_zones[i] = Zone{i * m_nZoneBlocks, i * m_nZoneBlocks, ZS_EMPTY, 0};
    std::fill(m_ext.begin(), m_ext.end(), 0);
    m_nOpen = m_nActive = 0;
    m_bDirty = true;
}

ZonedNamespace::Zone *ZonedNamespace::zoneAt(uint64_t nZslba) {
    if (nZslba % m_nZoneBlocks || zoneIndex(nZslba) >= m_zones.size())
        return nullptr;
    return &m_zones[zoneIndex(nZslba)];
}

// Every state change goes through here so the resource counts follow.
void ZonedNamespace::setState(Zone &z, uint8_t nState) {
    m_bDirty = true;
    m_nOpen -= isOpen(z.nState);
    m_nActive -= isActive(z.nState);
    z.nState = nState;
    m_nOpen += isOpen(nState);
    m_nActive += isActive(nState);
}

// The resources a zone needs to become open (and active, coming from
// empty). At the open limit an implicitly opened zone is closed to make
// room; explicitly opened zones stay.
uint16_t ZonedNamespace::takeResources(Zone &z, bool bNeedActive, bool bNeedOpen) {
    if (bNeedActive && m_cfg.nMaxActive && m_nActive >= m_cfg.nMaxActive)
        return specific(SC_ZONE_TOO_MANY_ACTIVE);
    if (bNeedOpen && m_cfg.nMaxOpen && m_nOpen >= m_cfg.nMaxOpen) {
        for (Zone &v : m_zones)
            if (&v != &z && v.nState == ZS_IMPLICIT_OPEN) {
                setState(v, ZS_CLOSED);
                return 0;
            }
        return specific(SC_ZONE_TOO_MANY_OPEN);
    }
    return 0;
}

uint16_t ZonedNamespace::admitWrite(uint64_t nSlba, uint32_t nNlb, bool bAppend, uint64_t *pLba) {
    const uint64_t nIdx = zoneIndex(nSlba);
    if (nIdx >= m_zones.size())
        return gen(SC_LBA_RANGE);
    Zone &z = m_zones[nIdx];
    if (bAppend && nSlba != z.nStart)
        return gen(SC_INVALID_FIELD);
    switch (z.nState) {
    case ZS_FULL: return specific(SC_ZONE_FULL);
    case ZS_READ_ONLY: return specific(SC_ZONE_READ_ONLY);
    case ZS_OFFLINE: return specific(SC_ZONE_OFFLINE);
    default: break;
    }
    const uint64_t nLba = bAppend ? z.nWp : nSlba;
    if (nLba != z.nWp)
        return specific(SC_ZONE_INVALID_WRITE);
    if (nLba + nNlb > z.nStart + m_nCapBlocks)
        return specific(SC_ZONE_BOUNDARY_ERROR);
    if (z.nState == ZS_EMPTY || z.nState == ZS_CLOSED) {
        const uint16_t s = takeResources(z, z.nState == ZS_EMPTY, true);
        if (s)
            return s;
        setState(z, ZS_IMPLICIT_OPEN);
    }
    *pLba = nLba;
    return 0;
}

void ZonedNamespace::completeWrite(uint64_t nLba, uint64_t nNlb) {
    Zone &z = m_zones[zoneIndex(nLba)];
    z.nWp = nLba + nNlb;
    m_bDirty = true;
    if (z.nWp >= z.nStart + m_nCapBlocks)
        setState(z, ZS_FULL);
}

uint16_t ZonedNamespace::checkRead(uint64_t nSlba, uint64_t nNlb) const {
    const uint64_t nFirst = zoneIndex(nSlba), nLast = zoneIndex(nSlba + nNlb - 1);
    if (nFirst != nLast && !m_cfg.bReadAcrossZones)
        return specific(SC_ZONE_BOUNDARY_ERROR);
    for (uint64_t i = nFirst; i <= nLast && i < m_zones.size(); ++i)
        if (m_zones[i].nState == ZS_OFFLINE)
            return specific(SC_ZONE_OFFLINE);
    return 0;
}

// One zone, one action; a state the action does not apply to is an
// invalid transition.
uint16_t ZonedNamespace::act(Zone &z, uint8_t nAction, const uint8_t *pExt, Ranges *pDiscarded, bool *pChanged) {
    const uint8_t s = z.nState;
    const uint16_t bad = specific(SC_ZONE_INVALID_TRANSITION);
    const size_t nIdx = static_cast<size_t>(&z - m_zones.data());
    switch (nAction) {
    case ZSA_OPEN:
        if (s == ZS_EXPLICIT_OPEN)
            return 0;
        if (s != ZS_EMPTY && s != ZS_IMPLICIT_OPEN && s != ZS_CLOSED)
            return bad;
        if (s != ZS_IMPLICIT_OPEN)
            if (const uint16_t r = takeResources(z, s == ZS_EMPTY, true))
                return r;
        setState(z, ZS_EXPLICIT_OPEN);
        break;
    case ZSA_CLOSE:
        if (s == ZS_CLOSED)
            return 0;
        if (!isOpen(s))
            return bad;
        setState(z, ZS_CLOSED);
        break;
    case ZSA_FINISH:
        if (s == ZS_FULL)
            return 0;
        if (s != ZS_EMPTY && !isActive(s))
            return bad;
        if (s == ZS_EMPTY)
            if (const uint16_t r = takeResources(z, true, false))
                return r;
        setState(z, ZS_FULL);
        z.nWp = z.nStart + m_nCapBlocks;
        z.nAttrs &= static_cast<uint8_t>(~(ZA_FINISH_RECOMMENDED | ZA_FINISHED_BY_CONTROLLER));
        break;
    case ZSA_RESET:
        if (s == ZS_EMPTY)
            return 0;
        if (!isActive(s) && s != ZS_FULL)
            return bad;
        if (z.nWp > z.nStart)
            pDiscarded->emplace_back(z.nStart, z.nWp - z.nStart);
        setState(z, ZS_EMPTY);
        z.nWp = z.nStart;
        z.nAttrs = 0;
        if (m_cfg.nDescExtSize)
            std::memset(m_ext.data() + nIdx * m_cfg.nDescExtSize, 0, m_cfg.nDescExtSize);
        break;
    case ZSA_OFFLINE:
        if (s == ZS_OFFLINE)
            return 0;
        if (s != ZS_READ_ONLY)
            return bad;
        setState(z, ZS_OFFLINE);
        z.nAttrs = 0;
        break;
    case ZSA_SET_DESC_EXT:
        if (s != ZS_EMPTY)
            return bad;
        if (const uint16_t r = takeResources(z, true, false))
            return r;
        std::memcpy(m_ext.data() + nIdx * m_cfg.nDescExtSize, pExt, m_cfg.nDescExtSize);
        z.nAttrs |= ZA_DESC_EXT_VALID;
        setState(z, ZS_CLOSED);
        break;
    default:
        return gen(SC_INVALID_FIELD);
    }
    *pChanged = true;
    return 0;
}

uint16_t ZonedNamespace::send(uint8_t nAction, uint64_t nSlba, bool bAll, const uint8_t *pExt, Ranges *pDiscarded,
                              bool *pChanged) {
    *pChanged = false;
    if (!bAll) {
        if (zoneIndex(nSlba) >= m_zones.size())
            return gen(SC_LBA_RANGE);
        Zone *z = zoneAt(nSlba);
        if (!z)
            return gen(SC_INVALID_FIELD);
        return act(*z, nAction, pExt, pDiscarded, pChanged);
    }
    // Select All: the zones in the states the action applies to.
    auto applies = [&](uint8_t s) {
        switch (nAction) {
        case ZSA_CLOSE: return isOpen(s);
        case ZSA_FINISH: return isActive(s);
        case ZSA_OPEN: return s == ZS_CLOSED;
        case ZSA_RESET: return isActive(s) || s == ZS_FULL;
        case ZSA_OFFLINE: return s == ZS_READ_ONLY;
        default: return false;
        }
    };
    if (nAction == ZSA_OPEN && m_cfg.nMaxOpen) {
        // Every closed zone opens, or none does.
        uint32_t nClosed = 0;
        for (const Zone &z : m_zones)
            nClosed += z.nState == ZS_CLOSED;
        if (m_nOpen + nClosed > m_cfg.nMaxOpen)
            return specific(SC_ZONE_TOO_MANY_OPEN);
    }
    for (Zone &z : m_zones)
        if (applies(z.nState))
            if (const uint16_t r = act(z, nAction, pExt, pDiscarded, pChanged))
                return r;
    return 0;
}

void ZonedNamespace::report(uint64_t nSlba, uint8_t nOption, bool bExtended, bool bPartial, uint64_t nBytes,
                            std::vector<uint8_t> &out) const {
    const size_t nEntry = sizeof(ZoneDesc) + (bExtended ? m_cfg.nDescExtSize : 0);
    const uint64_t nRoom = nBytes > sizeof(ZoneReportHeader) ? (nBytes - sizeof(ZoneReportHeader)) / nEntry : 0;
    out.assign(sizeof(ZoneReportHeader), 0);
    uint64_t nMatching = 0, nPut = 0;
    for (size_t i = zoneIndex(nSlba); i < m_zones.size(); ++i) {
        const Zone &z = m_zones[i];
        if (nOption != ZRAS_ALL && z.nState != zrasState(nOption))
            continue;
        ++nMatching;
        if (nPut == nRoom)
            continue;
        ++nPut;
        ZoneDesc d{};
        d.zt = ZONE_TYPE_SEQ_WRITE;
        d.zs = static_cast<uint8_t>(z.nState << 4);
        d.za = z.nAttrs;
        d.zcap = m_nCapBlocks;
        d.zslba = z.nStart;
        d.wp = (z.nState == ZS_OFFLINE || z.nState == ZS_READ_ONLY) ? ~0ull : z.nWp;
        const auto *p = reinterpret_cast<const uint8_t *>(&d);
        out.insert(out.end(), p, p + sizeof d);
        if (bExtended)
            out.insert(out.end(), m_ext.begin() + static_cast<ptrdiff_t>(i * m_cfg.nDescExtSize),
                       m_ext.begin() + static_cast<ptrdiff_t>((i + 1) * m_cfg.nDescExtSize));
    }
    const uint64_t nReported = bPartial ? nPut : nMatching;
    std::memcpy(out.data(), &nReported, sizeof nReported);
}

bool ZonedNamespace::fail(uint64_t nZslba, bool bOffline) {
    Zone *z = zoneAt(nZslba);
    if (!z || z->nState == ZS_OFFLINE || (!bOffline && z->nState == ZS_READ_ONLY))
        return false;
    setState(*z, bOffline ? ZS_OFFLINE : ZS_READ_ONLY);
    z->nAttrs = 0;
    return true;
}

void ZonedNamespace::closeOpenZones() {
    for (Zone &z : m_zones)
        if (isOpen(z.nState))
            setState(z, z.nWp == z.nStart && !(z.nAttrs & ZA_DESC_EXT_VALID) ? ZS_EMPTY : ZS_CLOSED);
}

bool ZonedNamespace::save(const std::string &szPath) const {
    if (!replaceSideFile(szPath, [&](std::ofstream &f) {
        FileHeader h{};
        std::memcpy(h.magic, kMagic, sizeof kMagic);
        h.nZones = m_zones.size();
        h.nZoneBlocks = m_nZoneBlocks;
        h.nCapBlocks = m_nCapBlocks;
        h.nExtSize = m_cfg.nDescExtSize;
        f.write(reinterpret_cast<const char *>(&h), sizeof h);
        for (const Zone &z : m_zones) {
            FileZone fz{z.nWp, z.nState, z.nAttrs, {}};
            f.write(reinterpret_cast<const char *>(&fz), sizeof fz);
        }
        f.write(reinterpret_cast<const char *>(m_ext.data()), static_cast<std::streamsize>(m_ext.size()));
    }))
        return false;
    m_bDirty = false;
    return true;
}

bool ZonedNamespace::load(const std::string &szPath) {
    resetAll();
    std::ifstream f(szPath, std::ios::binary);
    FileHeader h{};
    if (!f.read(reinterpret_cast<char *>(&h), sizeof h) || std::memcmp(h.magic, kMagic, sizeof kMagic) ||
        h.nZones != m_zones.size() || h.nZoneBlocks != m_nZoneBlocks || h.nCapBlocks != m_nCapBlocks ||
        h.nExtSize != m_cfg.nDescExtSize)
        return false;
    std::vector<FileZone> zones(m_zones.size());
    std::vector<uint8_t> ext(m_ext.size());
    if (!f.read(reinterpret_cast<char *>(zones.data()), static_cast<std::streamsize>(zones.size() * sizeof(FileZone))) ||
        !f.read(reinterpret_cast<char *>(ext.data()), static_cast<std::streamsize>(ext.size())))
        return false;
    for (size_t i = 0; i < zones.size(); ++i) {
        const uint8_t s = zones[i].nState;
        const uint64_t nStart = i * m_nZoneBlocks;
        const bool bKnown = s == ZS_EMPTY || isActive(s) || s == ZS_FULL || s == ZS_READ_ONLY || s == ZS_OFFLINE;
        if (!bKnown || zones[i].nWp < nStart || zones[i].nWp > nStart + m_nCapBlocks) {
            resetAll();
            return false;
        }
    }
    for (size_t i = 0; i < zones.size(); ++i) {
        m_zones[i].nWp = zones[i].nWp;
        m_zones[i].nAttrs = zones[i].nAttrs;
        setState(m_zones[i], zones[i].nState);
    }
    m_ext = std::move(ext);
    m_bDirty = false;
    return true;
}

ZonedNamespace::Ranges ZonedNamespace::recover(const std::string &szPath) {
    std::vector<uint64_t> before(m_zones.size());
    for (size_t i = 0; i < m_zones.size(); ++i)
        before[i] = m_zones[i].nWp;
    load(szPath);
    closeOpenZones();
    Ranges r;
    for (size_t i = 0; i < m_zones.size(); ++i)
        if (before[i] > m_zones[i].nWp && m_zones[i].nState != ZS_FULL)
            r.emplace_back(m_zones[i].nWp, before[i] - m_zones[i].nWp);
    return r;
}

} // namespace nvmesim
