// One simulated device: an NVM subsystem whose controllers are the PCI
// functions of one device and whose namespaces they share. Besides what
// the controllers use internally it offers the events a test set-up can
// cause from outside: an NVM subsystem reset and a power cycle.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "nvmesim/Config.h"
#include "nvmesim/Controller.h"
#include "nvmesim/DmaSpace.h"

struct nvme_primary_ctrl_cap;
struct nvme_secondary_ctrl_list;

namespace nvmesim {

class Namespace;
class ControllerCore;
class PersistentEventLog;
class SanitizeState;
class LockdownState;

class Subsystem {
public:
    Subsystem(const DeviceConfig &cfg, size_t nIndex, DmaSpace &dma);
    ~Subsystem();
    Subsystem(const Subsystem &) = delete;
    Subsystem &operator=(const Subsystem &) = delete;

    // Creates the configured namespaces and starts the controllers.
    bool init(std::string *pErr);

    const DeviceConfig &config() const { return m_cfg; }
    size_t index() const { return m_nIndex; }
    // Every controller: the physical functions first (primaryCount()),
    // then the virtual functions 1..sriov.nTotalVfs.
    size_t controllerCount() const { return m_ctrls.size(); }
    size_t primaryCount() const { return m_nPrimaries; }
    Controller &controller(size_t i) { return *m_ctrls[i]; }
    // Virtual function n (1-based), or null.
    Controller *virtualFunction(size_t n) {
        return n >= 1 && n <= m_cfg.sriov.nTotalVfs ? m_ctrls[m_nPrimaries + n - 1].get() : nullptr;
    }

    // As a write of "NVMe" to NSSR: every controller resets and the
    // functions answer configuration reads with all ones for the link-down
    // time.
    void subsystemReset();
    // Slot power. Off: the functions answer configuration and BAR0 reads
    // with all ones and drop writes; every controller loses its queues and
    // the commands in flight, and the namespaces lose what their volatile
    // write cache held. The loss counts as an unsafe shutdown when a
    // controller was enabled since its last completed shutdown. On: the
    // functions come back in their power-on state once the link is up
    // (timings.linkUpMs later). Both return false when the slot is already
    // in that state.
    bool powerOff();
    bool powerOn();
    bool poweredOn() const { return !m_bPoweredOff.load(); }
    // Power off and on at once, the link up immediately.
    void powerCycle();
    bool linkDown() const;
    // A hot reset of the link above the device: every function gets a
    // conventional reset (configuration space and controller back to their
    // reset values); the media and namespaces stay.
    void hotReset();

    uint32_t namespaceCount() const;
    uint64_t capacity() const { return m_nCapacity; }
    uint64_t unallocated() const;
    uint64_t powerCycles() const { return m_nPowerCycles.load(); }
    // A zone of a zoned namespace fails as media can: it becomes read only
    // (or offline), and every controller the namespace is attached to
    // lists it in its Changed Zone List and raises a zone descriptor
    // changed notice. False when nZslba is no zone's start, the zone is
    // offline already or the namespace is not zoned.
    bool failZone(uint32_t nNsid, uint64_t nZslba, bool bOffline);
    uint64_t unsafeShutdowns() const { return m_nUnsafeShutdowns.load(); }

    // --- used by the controllers ---
    Namespace *ns(uint32_t nNsid) const;
    uint32_t maxNamespaces() const { return m_cfg.nMaxNamespaces; }
    const std::vector<LbaFormat> &formats() const { return m_cfg.lbaFormats; }
    // Status-returning management operations (status field values).
    // nDps: protection information type (bits 2:0) and location (bit 3:
    // first). nCsi: the namespace's command set (kCsiNvm, kCsiZoned with the
    // zones of zonedDefaults, kCsiKv with the limits of kvDefaults).
    uint16_t createNamespace(uint64_t nBlocks, uint64_t nCap, uint8_t nFlbas, uint8_t nNmic, uint32_t *pNsid,
                             uint8_t nDps = 0, uint8_t nCsi = kCsiNvm);
    uint16_t deleteNamespace(uint32_t nNsid);
    uint16_t attachNamespace(uint32_t nNsid, const std::vector<uint16_t> &cntlids, bool bAttach);
    uint16_t formatNamespace(uint32_t nNsid, uint32_t nFormat, bool bExtended, uint32_t nCtrlIndex, uint8_t nDps = 0);
    // Controllers attached to a namespace (CNTLIDs), or all controllers.
    std::vector<uint16_t> controllerIds(uint32_t nNsid) const;
    std::mutex &mgmtMutex() const { return m_mgmtMutex; }
    // Guards the reservation state of every namespace and the controllers'
    // host identifiers; taken after any other lock of the subsystem.
    std::mutex &resvMutex() const { return m_resvMutex; }
    // SR-IOV control of the first function: the first nEnabled virtual
    // functions are present (0: none), their memory decoding bMse.
    void sriovControl(uint16_t nEnabled, bool bMse);
    // Virtualization Management from the primary controller (its CNTLID):
    // status field, resources allocated in *pDw0.
    uint16_t virtualizationManagement(uint16_t nPrimary, uint8_t nAct, uint8_t nRt, uint16_t nCntlid, uint16_t nNr,
                                      uint32_t *pDw0);
    void primaryCapabilities(nvme_primary_ctrl_cap &out) const;
    void secondaryList(uint16_t nFirst, nvme_secondary_ctrl_list &out) const;
    // The persistent event log (kept across resets and power cycles).
    PersistentEventLog &eventLog() { return *m_pel; }
    // Streams of the subsystem (config().nStreams in all): those allocated
    // to namespaces, and those open from the pool the rest share.
    uint32_t streamsAvailable() const { return m_cfg.nStreams - m_nStreamsAllocated.load(); }
    uint32_t streamsOpen() const { return m_nStreamsSharedOpen.load(); }
    uint16_t allocateStreams(uint16_t nWanted);   // the number allocated, possibly fewer
    void releaseStreams(uint16_t n) { m_nStreamsAllocated.fetch_sub(n); }
    bool openSharedStream();                      // false when the pool has none left
    void closeSharedStreams(uint32_t n) { m_nStreamsSharedOpen.fetch_sub(n); }
    // Subsystem-wide state of sanitize operations and of command and
    // feature lockdown.
    SanitizeState &sanitize() const { return *m_pSanitize; }
    LockdownState &lockdown() const { return *m_pLockdown; }

private:
    bool addNamespace(const NamespaceConfig &nc, std::string *pErr);
    uint16_t formatLocked(uint32_t nNsid, uint32_t nFormat, bool bExtended, uint32_t nCtrlIndex, uint8_t nDps,
                          std::vector<std::pair<uint32_t, uint64_t>> *pChanged);
    void notifyChanged(uint32_t nNsid, uint64_t nMaskBefore, uint64_t nMaskAfter);
    // A power-on or reset event for every controller present.
    void recordResetEvent();

    DeviceConfig m_cfg;
    size_t m_nIndex;
    DmaSpace &m_dma;
    std::vector<std::unique_ptr<Controller>> m_ctrls;
    size_t m_nPrimaries = 0;
    ControllerCore &secondaryCore(size_t n) const;   // VF n, 1-based
    std::mutex m_sriovMutex;                         // VF enable changes one at a time
    uint16_t m_nVqPrimary = 0;                       // flexible resources allocated to the primary
    uint16_t m_nViPrimary = 0;
    mutable std::mutex m_mgmtMutex;
    mutable std::mutex m_resvMutex;
    void reservationsPowerLoss();   // what does not persist through power loss goes
    std::vector<std::atomic<Namespace *>> m_slots;          // index = nsid
    std::vector<std::unique_ptr<Namespace>> m_owned;
    uint64_t m_nCapacity = 0;
    uint64_t m_nAllocated = 0;
    mutable std::atomic<int64_t> m_nLinkDownUntil{0};       // steady clock, ns; 0: link up
    std::atomic<uint64_t> m_nPowerCycles{1};
    std::atomic<uint64_t> m_nUnsafeShutdowns{0};
    std::atomic<bool> m_bPoweredOff{false};
    std::mutex m_powerMutex;                                 // power off/on one at a time
    std::unique_ptr<PersistentEventLog> m_pel;
    std::atomic<uint32_t> m_nStreamsAllocated{0};
    std::atomic<uint32_t> m_nStreamsSharedOpen{0};
    std::unique_ptr<SanitizeState> m_pSanitize;
    std::unique_ptr<LockdownState> m_pLockdown;
};

} // namespace nvmesim
