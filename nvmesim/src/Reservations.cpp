#include "Reservations.h"
#include "SideFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "nvmewire/Completion.h"
#include "nvmewire/Opcodes.h"
#include "nvmewire/Reservation.h"
#include "nvmewire/Status.h"

namespace nvmesim {

using namespace nvmewire;

namespace {
constexpr uint16_t conflict() { return makeStatus(SCT_GENERIC, SC_RESERVATION_CONFLICT, true); }
constexpr uint16_t invalidField() { return makeStatus(SCT_GENERIC, SC_INVALID_FIELD, true); }
constexpr uint16_t hostIdFormat() { return makeStatus(SCT_GENERIC, SC_HOSTID_FORMAT, true); }

bool validType(uint8_t n) { return n >= RESV_WRITE_EXCLUSIVE && n <= RESV_EXCLUSIVE_ACCESS_ALL_REGS; }
// Releasing a reservation of these types tells the other registrants.
bool releaseNotifies(uint8_t n) { return n != RESV_WRITE_EXCLUSIVE && n != RESV_EXCLUSIVE_ACCESS; }
} // namespace

// ------------------------------------------------------------------ HostId

bool HostId::isZero() const {
    for (uint8_t b : bytes)
        if (b)
            return false;
    return true;
}

uint64_t HostId::low64() const {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | bytes[i];
    return v;
}

std::string HostId::hex() const {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (int i = 15; i >= 0; --i) {
        s += kDigits[bytes[i] >> 4];
        s += kDigits[bytes[i] & 0xF];
    }
    return s;
}

bool HostId::fromHex(const std::string &s, HostId *pOut) {
    if (s.size() != 32)
        return false;
    HostId h;
    for (size_t i = 0; i < 32; ++i) {
        const char c = s[i];
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0)
            return false;
        uint8_t &b = h.bytes[15 - i / 2];
        b = static_cast<uint8_t>(i % 2 ? (b | v) : v << 4);
    }
    *pOut = h;
    return true;
}

ResvAccess resvAccessOf(uint8_t nOpcode) {
    switch (nOpcode) {
    case NVM_READ:
    case NVM_COMPARE:
    case NVM_VERIFY:
        return ResvAccess::Read;
    case NVM_WRITE:
    case NVM_WRITE_UNCOR:
    case NVM_WRITE_ZEROES:
    case NVM_DSM:
    case NVM_FLUSH:
    case NVM_COPY:
        return ResvAccess::Write;
    default:
        return ResvAccess::Unaffected;
    }
}

// ------------------------------------------------------------ the rules

const Registrant *Reservations::find(const HostId &h) const {
    for (const auto &r : m_s.regs)
        if (r.host == h)
            return &r;
    return nullptr;
}

Registrant *Reservations::findMutable(const HostId &h) {
    for (auto &r : m_s.regs)
        if (r.host == h)
            return &r;
    return nullptr;
}

bool Reservations::allRegistrantsType() const {
    return m_s.nType == RESV_WRITE_EXCLUSIVE_ALL_REGS || m_s.nType == RESV_EXCLUSIVE_ACCESS_ALL_REGS;
}

bool Reservations::holds(const HostId &h) const {
    if (m_s.nType == RESV_TYPE_NONE || !find(h))
        return false;
    return allRegistrantsType() || m_s.holder == h;
}

bool Reservations::permits(const HostId &h, ResvAccess a) const {
    if (a == ResvAccess::Unaffected || m_s.nType == RESV_TYPE_NONE || holds(h))
        return true;
    const bool bRegistrant = find(h) != nullptr;
    switch (m_s.nType) {
    case RESV_WRITE_EXCLUSIVE: return a == ResvAccess::Read;
    case RESV_EXCLUSIVE_ACCESS: return false;
    case RESV_WRITE_EXCLUSIVE_REG_ONLY:
    case RESV_WRITE_EXCLUSIVE_ALL_REGS: return bRegistrant || a == ResvAccess::Read;
    default: return bRegistrant;   // the exclusive access variants
    }
}

size_t Reservations::preemptKey(const HostId &h, uint64_t nKey, bool bAll, ResvEffects *pFx) {
    size_t n = 0;
    for (auto it = m_s.regs.begin(); it != m_s.regs.end();) {
        if (!(it->host == h) && (bAll || it->nKey == nKey)) {
            pFx->notices.emplace_back(it->host, RESV_NOTIFY_REGISTRATION_PREEMPTED);
            pFx->aborted.push_back(it->host);
            it = m_s.regs.erase(it);
            ++n;
        } else {
            ++it;
        }
    }
    return n;
}

uint16_t Reservations::doRegister(const HostId &h, uint8_t nAction, bool bIekey, uint8_t nCptpl, uint64_t nCrkey,
                                  uint64_t nNrkey, ResvEffects *pFx) {
    if (nAction > RESV_REPLACE || nCptpl == 1)
        return invalidField();
    const State before = m_s;
    ResvEffects fx;
    Registrant *r = findMutable(h);
    switch (nAction) {
    case RESV_REGISTER:
        if (r) {
            if (r->nKey != nNrkey)
                return conflict();
            break;   // the same key again: nothing changes
        }
        // Every registrant uses identifiers of one size.
        for (const auto &o : m_s.regs)
            if (o.host.bExtended != h.bExtended)
                return hostIdFormat();
        m_s.regs.push_back(Registrant{h, nNrkey});
        ++m_s.nGeneration;
        break;
    case RESV_UNREGISTER: {
        if (!r || (!bIekey && r->nKey != nCrkey))
            return conflict();
        const bool bHolder = holds(h);
        m_s.regs.erase(m_s.regs.begin() + (r - m_s.regs.data()));
        ++m_s.nGeneration;
        if (allRegistrantsType()) {
            if (m_s.regs.empty())
                m_s.nType = RESV_TYPE_NONE;   // the last holder went
        } else if (bHolder) {
            if (releaseNotifies(m_s.nType))
                for (const auto &o : m_s.regs)
                    fx.notices.emplace_back(o.host, RESV_NOTIFY_RESERVATION_RELEASED);
            m_s.nType = RESV_TYPE_NONE;
        }
        break;
    }
    default:   // replace
        if (!r || (!bIekey && r->nKey != nCrkey))
            return conflict();
        if (r->nKey != nNrkey) {
            r->nKey = nNrkey;
            ++m_s.nGeneration;
        }
        break;
    }
    if (nCptpl == RESV_CPTPL_CLEAR)
        m_s.bPtpl = false;
    else if (nCptpl == RESV_CPTPL_PERSIST)
        m_s.bPtpl = true;
    if (const uint16_t s = commit(before))
        return s;
    *pFx = std::move(fx);
    return 0;
}

uint16_t Reservations::doAcquire(const HostId &h, uint8_t nAction, bool bIekey, uint8_t nType, uint64_t nCrkey,
                                 uint64_t nPrkey, ResvEffects *pFx) {
    if (nAction > RESV_PREEMPT_AND_ABORT || !validType(nType))
        return invalidField();
    const Registrant *r = find(h);
    if (!r || (!bIekey && r->nKey != nCrkey))
        return conflict();
    const State before = m_s;
    ResvEffects fx;
    if (nAction == RESV_ACQUIRE) {
        if (m_s.nType == RESV_TYPE_NONE) {
            m_s.nType = nType;
            m_s.holder = h;
        } else if (!holds(h) || m_s.nType != nType) {
            return conflict();
        }
    } else {
        const uint64_t nOwnKey = r->nKey;
        // Replaces the reservation with one of the new type held by this
        // host; the remaining registrants learn that it was preempted.
        auto takeOver = [&] {
            for (const auto &o : m_s.regs)
                if (!(o.host == h))
                    fx.notices.emplace_back(o.host, RESV_NOTIFY_RESERVATION_PREEMPTED);
            m_s.nType = nType;
            m_s.holder = h;
        };
        if (m_s.nType != RESV_TYPE_NONE && allRegistrantsType() && nPrkey == 0) {
            // Every other registrant goes, the reservation becomes this
            // host's.
            if (preemptKey(h, 0, true, &fx))
                ++m_s.nGeneration;
            takeOver();
        } else if (m_s.nType != RESV_TYPE_NONE && !allRegistrantsType() && find(m_s.holder) &&
                   find(m_s.holder)->nKey == nPrkey) {
            // The holder's key: the holder (unless it is this host) and
            // every registrant with that key go.
            if (preemptKey(h, nPrkey, false, &fx))
                ++m_s.nGeneration;
            takeOver();
        } else {
            // Only registrations with the key go; the reservation stays.
            if (nPrkey == 0 && m_s.nType != RESV_TYPE_NONE)
                return invalidField();
            const size_t n = preemptKey(h, nPrkey, false, &fx);
            if (!n && nOwnKey != nPrkey)
                return conflict();
            if (n)
                ++m_s.nGeneration;
        }
        if (nAction != RESV_PREEMPT_AND_ABORT)
            fx.aborted.clear();
    }
    if (const uint16_t s = commit(before))
        return s;
    *pFx = std::move(fx);
    return 0;
}

uint16_t Reservations::doRelease(const HostId &h, uint8_t nAction, bool bIekey, uint8_t nType, uint64_t nCrkey,
                                 ResvEffects *pFx) {
    if (nAction > RESV_CLEAR)
        return invalidField();
    const Registrant *r = find(h);
    if (!r || (!bIekey && r->nKey != nCrkey))
        return conflict();
    const State before = m_s;
    ResvEffects fx;
    if (nAction == RESV_RELEASE) {
        if (!holds(h))
            return 0;   // no reservation, or another host's: nothing happens
        if (nType != m_s.nType)
            return invalidField();
        if (releaseNotifies(m_s.nType))
            for (const auto &o : m_s.regs)
                if (!(o.host == h))
                    fx.notices.emplace_back(o.host, RESV_NOTIFY_RESERVATION_RELEASED);
        m_s.nType = RESV_TYPE_NONE;
    } else {
        for (const auto &o : m_s.regs)
            if (!(o.host == h))
                fx.notices.emplace_back(o.host, RESV_NOTIFY_RESERVATION_PREEMPTED);
        m_s.regs.clear();
        m_s.nType = RESV_TYPE_NONE;
        ++m_s.nGeneration;
    }
    if (const uint16_t s = commit(before))
        return s;
    *pFx = std::move(fx);
    return 0;
}

bool Reservations::setPtpl(bool bOn) {
    const State before = m_s;
    m_s.bPtpl = bOn;
    return commit(before) == 0;
}

void Reservations::powerLoss() {
    if (m_s.bPtpl)
        return;
    m_s.regs.clear();
    m_s.nType = RESV_TYPE_NONE;
    m_bEngaged.store(false, std::memory_order_release);
}

void Reservations::clear() {
    m_s = State();
    m_bEngaged.store(false, std::memory_order_release);
    if (!m_szFile.empty())
        std::remove(m_szFile.c_str());
}

uint16_t Reservations::commit(const State &before) {
    if (m_s.nType != RESV_TYPE_NONE && !allRegistrantsType() && !find(m_s.holder))
        m_s.nType = RESV_TYPE_NONE;   // a reservation needs its holder registered
    if (!save()) {
        m_s = before;
        return makeStatus(SCT_GENERIC, SC_INTERNAL);
    }
    m_bEngaged.store(!m_s.regs.empty(), std::memory_order_release);
    return 0;
}

// ------------------------------------------------------------ side file

// The file exists while PTPL is on.
bool Reservations::save() const {
    if (m_szFile.empty())
        return true;
    if (!m_s.bPtpl) {
        std::remove(m_szFile.c_str());
        return true;
    }
    return replaceSideFile(m_szFile, [&](std::ofstream &f) {
        f << "reservations 1\n";
        f << "generation " << m_s.nGeneration << "\n";
        f << "type " << unsigned(m_s.nType) << "\n";
        if (m_s.nType != RESV_TYPE_NONE)
            f << "holder " << m_s.holder.hex() << "\n";
        for (const auto &r : m_s.regs)
            f << "registrant " << r.host.hex() << (r.host.bExtended ? " 128 " : " 64 ") << r.nKey << "\n";
    });
}

bool Reservations::attachFile(const std::string &szPath, std::string *pErr) {
    m_szFile = szPath;
    std::ifstream f(szPath);
    if (!f)
        return true;   // nothing persisted
    State s;
    s.bPtpl = true;
    std::string szLine;
    int nLine = 0;
    bool bHeader = false;
    auto bad = [&] {
        *pErr = szPath + " line " + std::to_string(nLine) + ": malformed";
        return false;
    };
    while (std::getline(f, szLine)) {
        ++nLine;
        std::istringstream in(szLine);
        std::string szWord;
        if (!(in >> szWord))
            continue;
        if (!bHeader) {
            unsigned nVersion = 0;
            if (szWord != "reservations" || !(in >> nVersion) || nVersion != 1)
                return bad();
            bHeader = true;
        } else if (szWord == "generation") {
            if (!(in >> s.nGeneration))
                return bad();
        } else if (szWord == "type") {
            unsigned n = 0;
            if (!(in >> n) || (n != 0 && !validType(static_cast<uint8_t>(n))))
                return bad();
            s.nType = static_cast<uint8_t>(n);
        } else if (szWord == "holder") {
            std::string szHex;
            if (!(in >> szHex) || !HostId::fromHex(szHex, &s.holder))
                return bad();
        } else if (szWord == "registrant") {
            std::string szHex;
            unsigned nBits = 0;
            Registrant r;
            if (!(in >> szHex >> nBits >> r.nKey) || !HostId::fromHex(szHex, &r.host) || (nBits != 64 && nBits != 128))
                return bad();
            r.host.bExtended = nBits == 128;
            s.regs.push_back(r);
        } else {
            return bad();
        }
    }
    if (!bHeader)
        return bad();
    for (auto &r : s.regs)
        if (r.host == s.holder)
            s.holder.bExtended = r.host.bExtended;
    m_s = s;
    if (m_s.nType != RESV_TYPE_NONE && !allRegistrantsType() && !find(m_s.holder))
        m_s.nType = RESV_TYPE_NONE;
    m_bEngaged.store(!m_s.regs.empty(), std::memory_order_release);
    return true;
}

} // namespace nvmesim
