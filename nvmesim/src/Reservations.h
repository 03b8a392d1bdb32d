// The reservation state of one namespace: its registrants (hosts, each
// with its reservation key), the reservation (type and holder), the
// generation and the persist-through-power-loss state, with the rules of
// Reservation Register, Acquire and Release and the access check that
// I/O commands pass. A host is known by its host identifier: controllers
// that share one are the same host.
//
// Everything but engaged() is guarded by the subsystem's reservation
// mutex. engaged() is the I/O path's cheap question: only a namespace with
// a registrant can have a reservation, so only such a namespace pays for
// the access check.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nvmesim {

struct HostId {
    std::array<uint8_t, 16> bytes{};   // a 64-bit identifier in bytes 0-7
    bool bExtended = false;            // set as a 128-bit identifier
    bool isZero() const;
    bool operator==(const HostId &o) const { return bytes == o.bytes; }
    uint64_t low64() const;
    std::string hex() const;           // 32 hex digits, byte 15 first
    static bool fromHex(const std::string &s, HostId *pOut);
};

// Which group of the access rules an I/O command belongs to.
enum class ResvAccess : uint8_t { Unaffected, Read, Write };
ResvAccess resvAccessOf(uint8_t nOpcode);

struct Registrant {
    HostId host;
    uint64_t nKey = 0;
};

// What a reservation command did to other hosts: the notifications to
// send (host, notification type) and the hosts whose outstanding commands
// a preempt-and-abort aborts.
struct ResvEffects {
    std::vector<std::pair<HostId, uint8_t>> notices;
    std::vector<HostId> aborted;
};

class Reservations {
public:
    bool engaged() const { return m_bEngaged.load(std::memory_order_acquire); }

    // May the host run a command of the group? (No reservation: anyone.)
    bool permits(const HostId &h, ResvAccess a) const;

    // The commands' rules; status field values (0: success). A command
    // that fails changes nothing.
    uint16_t doRegister(const HostId &h, uint8_t nAction, bool bIekey, uint8_t nCptpl, uint64_t nCrkey,
                        uint64_t nNrkey, ResvEffects *pFx);
    uint16_t doAcquire(const HostId &h, uint8_t nAction, bool bIekey, uint8_t nType, uint64_t nCrkey,
                       uint64_t nPrkey, ResvEffects *pFx);
    uint16_t doRelease(const HostId &h, uint8_t nAction, bool bIekey, uint8_t nType, uint64_t nCrkey,
                       ResvEffects *pFx);

    uint8_t type() const { return m_s.nType; }
    uint32_t generation() const { return m_s.nGeneration; }
    bool ptpl() const { return m_s.bPtpl; }
    const std::vector<Registrant> &registrants() const { return m_s.regs; }
    const Registrant *find(const HostId &h) const;
    bool holds(const HostId &h) const;
    // Reservation Persistence feature; false when the side file could not
    // be written.
    bool setPtpl(bool bOn);

    // Power loss or NVM subsystem reset: without PTPL registrants and
    // reservation are gone.
    void powerLoss();
    // The namespace is deleted: everything goes, the side file too.
    void clear();
    // Keeps the state in a side file (when PTPL is on) and loads what the
    // file holds; false with a reason when it is malformed.
    bool attachFile(const std::string &szPath, std::string *pErr);

private:
    struct State {
        std::vector<Registrant> regs;
        uint8_t nType = 0;       // 0: no reservation
        HostId holder;           // for the types with one holder
        uint32_t nGeneration = 0;
        bool bPtpl = false;
    };
    Registrant *findMutable(const HostId &h);
    bool allRegistrantsType() const;
    // Unregisters the registrants with the key (all when bAll) other than
    // the host; they are preempted.
    size_t preemptKey(const HostId &h, uint64_t nKey, bool bAll, ResvEffects *pFx);
    // After a change: the engaged flag, and the side file; on a file error
    // the state before is restored and the command fails.
    uint16_t commit(const State &before);
    bool save() const;

    State m_s;
    std::string m_szFile;
    std::atomic<bool> m_bEngaged{false};
};

} // namespace nvmesim
