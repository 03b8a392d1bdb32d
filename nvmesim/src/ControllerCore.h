// The inside of a simulated controller. Register writes, resets and the
// command processing of the worker thread all run under m_procMutex;
// doorbell writes only store into atomics and wake the worker, so the I/O
// path takes no lock that the host contends for.
#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <shared_mutex>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nvme/types.h>

#include "nvmesim/Config.h"
#include "nvmesim/DmaSpace.h"
#include "nvmesim/Faults.h"
#include "nvmewire/Command.h"
#include "nvmewire/Completion.h"
#include "nvmewire/Identify.h"
#include "nvmewire/Opcodes.h"
#include "nvmewire/Registers.h"
#include "nvmewire/Status.h"
#include "PciConfigSpace.h"
#include "PowerStates.h"
#include "Streams.h"
#include "Reservations.h"

namespace nvmesim {

// The controller's side of the wire formats.
using namespace nvmewire;

class Subsystem;
class Namespace;
struct PiRequest;
class SanitizeState;

using Clock = std::chrono::steady_clock;

// CC bits the controller keeps: EN, CSS, MPS, AMS, SHN, IOSQES, IOCQES
// (CRIME is reserved: ready independent of media is not offered).
constexpr uint32_t kCcValid = 0x01FFFFF1u & ~CC_CRIME;

// Copy command limits (blocks per source range, blocks in all, ranges).
constexpr uint16_t kCopyMaxRange = 4096;
constexpr uint32_t kCopyMaxBlocks = 8192;
constexpr uint32_t kCopyMaxRanges = 128;

struct SubmissionQueue {
    bool bValid = false;
    uint16_t nCqId = 0;
    uint32_t nSize = 0;
    uint32_t nHead = 0;
    uint32_t nTail = 0;          // last valid doorbell value
    uint8_t nPrio = 0;
    uint64_t nBase = 0;          // contiguous ring
    std::vector<uint64_t> pages; // ring pages when not contiguous
};

struct CompletionQueue {
    bool bValid = false;
    uint32_t nSize = 0;
    uint32_t nTail = 0;
    uint32_t nHead = 0;          // last valid doorbell value
    uint8_t nPhase = 1;
    uint32_t nReserved = 0;      // fetched commands whose completion is still to come
    uint32_t nSqRefs = 0;
    bool bIen = false;
    uint16_t nIv = 0;
    uint64_t nBase = 0;
    std::vector<uint64_t> pages;

    uint32_t used() const { return (nTail + nSize - nHead) % nSize; }
    bool hasRoom() const { return used() + nReserved < nSize - 1; }
};

struct Completion {
    uint16_t nSqId;
    uint16_t nCid;
    uint32_t nDw0;
    uint16_t nStatus;
    Clock::time_point due;
    uint32_t nNsid = 0;          // of an I/O command
    uint32_t nDw1 = 0;
};

// A contiguous piece of a data transfer in bus-address space.
struct DataSeg {
    uint64_t nAddr;
    uint64_t nLen;
    bool bBucket;    // SGL bit bucket: data is discarded
};

struct FeatureState {
    uint32_t nArbitration = 0;
    uint16_t nTempOver = 0x0157;     // 343 K
    uint16_t nTempUnder = 0;
    uint32_t nErrorRecovery = 0;
    uint32_t nVolatileWc = 1;
    uint32_t nNumQueues = 0;         // granted, 0-based SQ count | CQ count << 16
    bool bNumQueuesSet = false;
    uint32_t nIrqCoalescing = 0;
    uint32_t nIrqConfig = 0;
    uint32_t nWriteAtomicity = 0;
    uint32_t nAsyncEventCfg = 0;
    uint32_t nHmb = 0;
    uint32_t nHmbSize = 0;
    uint64_t nHmbList = 0;
    uint32_t nHmbCount = 0;
    uint32_t nKato = 0;              // ms
    uint32_t nIocsProfile = 0;       // I/O command set combination index
    int64_t nTimestampBase = 0;      // ms at nTimestampSetAt
    Clock::time_point timestampSetAt = Clock::now();
    bool bTimestampSet = false;
};

struct SelfTestState {
    uint8_t nCurrent = 0;          // 0 none, 1 short, 2 extended
    Clock::time_point start;
    Clock::time_point end;
    uint32_t nNsid = 0;
    std::deque<nvme_st_result> results;   // newest first, at most 20
};

// Whether Get/Set Features know a feature identifier (bVwc: the device has
// a volatile write cache).
bool knownFeature(uint8_t nFid, bool bVwc);

// What a virtual function's controller looks like: the first controller's
// settings with the per-VF maximum of queue and interrupt resources.
ControllerConfig vfControllerConfig(const DeviceConfig &dev);

class ControllerCore {
public:
    // nVfNumber 0: a physical function; n: virtual function n of the
    // device's SR-IOV capability (a secondary controller).
    ControllerCore(Subsystem &subsys, const ControllerConfig &cfg, uint32_t nIndex, uint16_t nVfNumber, DmaSpace &dma);
    ~ControllerCore();
    void start();
    void stop();

    // --- host side (any thread) ---
    int cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth);
    int cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth);
    uint32_t mmioRead32(uint32_t nOffset);
    void mmioWrite32(uint32_t nOffset, uint32_t nValue);

    // --- subsystem side ---
    // Controller level reset as for CC.EN 1->0 (queues gone, work dropped).
    void controllerReset();
    // NVM subsystem reset or power cycle: controller reset, registers and
    // configuration space back to their power-on values.
    void subsystemReset(bool bNssrOccurred);
    // Conventional reset of the function (hot reset of its link).
    void conventionalReset();
    // Slot power lost: queues and commands in flight gone, configuration
    // space back to its reset values.
    void powerLoss() { resetAll(0, false); }
    // An asynchronous event for this controller (type, info, log page).
    void postEvent(uint8_t nType, uint8_t nInfo, uint8_t nLogPage);
    void noteChangedNamespace(uint32_t nNsid);
    // Reservations: a notification for this controller's host (entered in
    // the reservation log unless masked), the commands of a preempted host
    // to abort, the host identifier (under the subsystem's reservation
    // mutex) and its configured value after a subsystem reset.
    void noteReservation(uint8_t nType, uint32_t nNsid);
    void abortPreempted(uint32_t nNsid);
    const HostId &hostId() const { return m_hostId; }
    void resetHostId();
    // The controller changed a zone's descriptor (Changed Zone List).
    void noteChangedZone(uint32_t nNsid, uint64_t nZslba);

    // Virtual functions: present while the physical function has them
    // enabled (a function that appears or goes is reset), memory decoding
    // from the VF MSE bit. Secondary controller state: offline (a
    // controller-level reset; CC.EN 0->1 then sets CSTS.CFS) or online,
    // and the flexible resources assigned (VQ: admin + I/O queues, VI).
    void setVfState(bool bPresent, bool bMse);
    void setOffline();
    bool isVf() const { return m_nVfNumber != 0; }
    uint16_t vfNumber() const { return m_nVfNumber; }
    const uint16_t m_nVfNumber;
    std::atomic<bool> m_bPresent{true};
    std::atomic<bool> m_bVfMse{false};
    std::atomic<bool> m_bOnline{true};
    std::atomic<uint16_t> m_nVq{0};
    std::atomic<uint16_t> m_nVi{0};
    std::atomic<bool> m_bOfflinePending{false};   // the reset of setOffline() is due
    // I/O queue pairs and interrupt vectors the controller may use.
    uint32_t ioQueueLimit() const { return isVf() ? std::max<uint32_t>(m_nVq.load(), 1) - 1 : m_cfg.nQueuePairs; }
    uint32_t vectorLimit() const { return isVf() ? m_nVi.load() : m_cfg.nMsixVectors; }

    uint32_t index() const { return m_nIndex; }
    uint16_t cntlid() const;
    FaultInjector &faults() { return m_faults; }
    Subsystem &subsystem() { return m_subsys; }
    const ControllerConfig &config() const { return m_cfg; }

    std::atomic<uint64_t> m_nCompleted{0};
    std::atomic<uint64_t> m_nResets{0};
    std::atomic<size_t> m_nWithheldCount{0};
    // Enabled since the last completed shutdown (or power-on): losing
    // power now is an unsafe shutdown.
    std::atomic<bool> m_bNeedsShutdown{false};

    // SMART counters (written by the worker, read by log pages and tests).
    std::atomic<uint64_t> m_nDataUnitsRead{0};     // bytes / 512
    std::atomic<uint64_t> m_nDataUnitsWritten{0};
    std::atomic<uint64_t> m_nHostReads{0};
    std::atomic<uint64_t> m_nHostWrites{0};
    std::atomic<uint64_t> m_nMediaErrors{0};

    // Persistent event log: this controller's entry of a power-on or reset
    // event (takes the processing lock) and its active firmware revision.
    void resetEventEntry(nvme_power_on_reset_info_list &out, std::string *pFirmware);

private:
    // Worker.
    void workerMain();
    bool step(Clock::time_point now);
    void kick();
    void runTimers(Clock::time_point now);
    void scanDoorbells();
    bool processQueues();
    void execute(uint16_t nSqId, const Sqe &e);
    void finish(const Completion &c, bool bAdmin);
    bool post(const Completion &c);
    void flushReady(Clock::time_point now);
    Clock::time_point nextDeadline() const;

    // Registers.
    void writeCc(uint32_t nNew);
    uint64_t cap() const;
    bool enableChecks() const;
    void setCsts(uint32_t nSet, uint32_t nClear);
    void fatal();
    void resetLocked();
    void resetAll(uint32_t nCsts, bool bPowerOn);
    void resetMsixLocked();
    bool memEnabledLocked() const;

    // Queues and memory.
    bool sqEntryAddr(const SubmissionQueue &q, uint32_t nIdx, uint64_t *pAddr) const;
    bool cqEntryAddr(const CompletionQueue &q, uint32_t nIdx, uint64_t *pAddr) const;
    bool ringAddr(uint64_t nBase, const std::vector<uint64_t> &pages, uint64_t nOff, uint64_t *pAddr) const;
    uint16_t readQueuePages(uint64_t nPrp1, uint32_t nBytes, bool bContig, uint64_t *pBase, std::vector<uint64_t> *pPages);

    // Data pointers (PRP and SGL walkers).
    uint16_t buildSegments(const Sqe &e, uint64_t nLen, bool bToHost, bool bAllowSgl, std::vector<DataSeg> &out);
    uint16_t buildPrp(uint64_t nPrp1, uint64_t nPrp2, uint64_t nLen, std::vector<DataSeg> &out);
    uint16_t buildSgl(const SglDesc &sgl1, uint64_t nLen, bool bToHost, std::vector<DataSeg> &out);
    uint16_t toHost(const std::vector<DataSeg> &segs, const void *pSrc, uint64_t nLen);
    uint16_t fromHost(const std::vector<DataSeg> &segs, void *pDst, uint64_t nLen);
    uint16_t sendData(const Sqe &e, const void *p, uint64_t nLen);   // admin data to host
    uint16_t sendPadded(const Sqe &e, const void *p, uint64_t nHave, uint64_t nLen);   // zeros after nHave
    uint16_t recvData(const Sqe &e, void *p, uint64_t nLen);         // admin data from host
    uint64_t maxTransfer() const;

    // Admin commands, one family per file.
    uint16_t admin(const Sqe &e, uint32_t *pDw0, bool *pDeferred);
    uint16_t adminCreateCq(const Sqe &e);
    uint16_t adminCreateSq(const Sqe &e);
    uint16_t adminDeleteSq(const Sqe &e);
    uint16_t adminDeleteCq(const Sqe &e);
    uint16_t adminIdentify(const Sqe &e);
    void fillIdentifyController(nvme_id_ctrl &id) const;
    bool fillIdentifyNamespace(uint32_t nNsid, nvme_id_ns &id, bool bAllocated) const;
    uint16_t adminGetFeatures(const Sqe &e, uint32_t *pDw0);
    uint16_t adminSetFeatures(const Sqe &e, uint32_t *pDw0);
    uint16_t adminGetLogPage(const Sqe &e);
    uint16_t adminAbort(const Sqe &e, uint32_t *pDw0);
    uint16_t adminAsyncEvent(const Sqe &e, bool *pDeferred);
    uint16_t adminKeepAlive(const Sqe &e);
    uint16_t adminNamespaceMgmt(const Sqe &e, uint32_t *pDw0);
    uint16_t adminNamespaceAttach(const Sqe &e);
    uint16_t adminFormat(const Sqe &e);
    uint16_t adminFirmwareDownload(const Sqe &e);
    uint16_t adminFirmwareCommit(const Sqe &e, uint32_t *pDw0);
    uint16_t adminSelfTest(const Sqe &e);
    uint16_t adminLbaStatus(const Sqe &e);
    uint16_t adminVirtualizationMgmt(const Sqe &e, uint32_t *pDw0);
    uint16_t adminSanitize(const Sqe &e);
    uint16_t adminSecuritySend(const Sqe &e);
    uint16_t adminSecurityReceive(const Sqe &e);
    uint16_t adminLockdown(const Sqe &e);
    // Sanitize: SANICAP as advertised (0: no Sanitize command), the status
    // an admin or I/O command gets while sanitizing or after a failed
    // operation (0: it may run), the Sanitize Status log page.
    uint32_t sanicap() const;
    uint16_t sanitizeAdminRestriction(const Sqe &e) const;
    uint16_t sanitizeIoGate(const Sqe &e);
    void fillSanitizeLog(std::vector<uint8_t> &log) const;
    // Lockdown: the status of a prohibited admin command (0: allowed), the
    // Command and Feature Lockdown log page (a status).
    uint16_t lockdownRestriction(const Sqe &e) const;
    uint16_t fillLockdownLog(uint8_t nLsp, std::vector<uint8_t> &log) const;
    bool lockdownMayProhibit(uint8_t nScope, uint8_t nId) const;
    // Log pages: whether one is supported here (the same table gives the
    // Supported Log Pages log page and Identify LPA).
    bool logPageSupported(uint8_t nLid) const;
    uint8_t logPageAttributes() const;
    void fillSupportedLogPages(std::vector<uint8_t> &log) const;
    bool adminOpcodeSupported(uint8_t nOpcode) const;
    bool fillCommandEffects(nvme_cmd_effects_log &log, uint8_t nCsi) const;
    bool isPrimaryWithSriov() const;
    // Directives (streams).
    bool directivesSupported() const;
    uint16_t adminDirectiveSend(const Sqe &e);
    uint16_t adminDirectiveReceive(const Sqe &e, uint32_t *pDw0);
    uint16_t checkStreamWrite(const Sqe &e, uint32_t nNsid);
    void releaseStreams(NamespaceStreams &s, bool bResources);
    void resetStreams();
    void pruneStreams();
    NamespaceStreams &streamsOf(uint32_t nNsid);
    // Telemetry and persistent event log pages, and the events recorded.
    uint16_t telemetryLog(uint8_t nLid, uint8_t nLsp, uint64_t nOffset, std::vector<uint8_t> &log);
    void captureTelemetry();
    uint16_t persistentEventLog(uint8_t nLsp, std::vector<uint8_t> &log, bool *pTransfer);
    std::string subsystemNqn() const;
    std::string activeFirmware() const;
    void fillResetEntryLocked(nvme_power_on_reset_info_list &out) const;
    void recordResetEventLocked();
    uint16_t firmwareCommitLogged(const Sqe &e, uint32_t *pDw0);
    void recordNamespaceChange(uint32_t nCdw10, uint32_t nNsid, const nvme_id_ns *pId);
    void deliverEvents();
    void addErrorEntry(uint16_t nSqId, uint16_t nCid, uint16_t nStatus, uint32_t nNsid, uint64_t nLba);
    void finishSelfTest(uint8_t nResult);   // 0 done, 1 aborted by command, 2 by a reset

    // I/O command sets (CommandSets.cpp): which are supported and enabled,
    // their Identify structures, features and log pages.
    uint64_t supportedCommandSets() const;
    void selectCommandSets();
    bool commandSetOpcode(uint8_t nOpc) const;
    uint16_t identifyCommandSet(uint8_t nCns, uint8_t nCsi, uint32_t nNsid, uint8_t *pOut);
    uint16_t iocsProfileFeature(const Sqe &e, uint32_t *pDw0, bool bSet);
    bool fillIoEffects(uint32_t *pIocs, uint8_t nCsi) const;
    uint16_t changedZoneLog(const Sqe &e, bool bRae, std::vector<uint8_t> &log);
    uint16_t ioCommandSet(const Sqe &e, Namespace &ns, uint32_t *pDw0, uint32_t *pDw1);
    // Zoned (IoZoned.cpp) and key value (IoKeyValue.cpp) commands.
    uint16_t ioZoned(const Sqe &e, Namespace &ns, uint32_t *pDw0, uint32_t *pDw1);
    uint16_t zoneMgmtSend(const Sqe &e, Namespace &ns);
    uint16_t zoneMgmtRecv(const Sqe &e, Namespace &ns);
    uint16_t ioKeyValue(const Sqe &e, Namespace &ns, uint32_t *pDw0);

    // NVM commands.
    uint16_t io(const Sqe &e, uint32_t *pDw0, uint32_t *pDw1);
    uint16_t ioReadWrite(const Sqe &e, Namespace &ns, bool bWrite);
    uint16_t ioCompare(const Sqe &e, Namespace &ns);
    uint16_t ioWriteZeroes(const Sqe &e, Namespace &ns);
    uint16_t ioWriteUncorrectable(const Sqe &e, Namespace &ns);
    uint16_t ioDsm(const Sqe &e, Namespace &ns);
    uint16_t ioVerify(const Sqe &e, Namespace &ns);
    uint16_t ioCopy(const Sqe &e, Namespace &ns);
    // Reservations (IoReservations.cpp, AdminReservations.cpp).
    uint16_t resvCheck(uint8_t nOpcode, Namespace &ns);
    uint16_t ioResvRegister(const Sqe &e, Namespace &ns);
    uint16_t ioResvAcquire(const Sqe &e, Namespace &ns);
    uint16_t ioResvRelease(const Sqe &e, Namespace &ns);
    uint16_t ioResvReport(const Sqe &e, Namespace &ns);
    uint16_t resvData(const Sqe &e, uint64_t *pKeys, uint32_t nKeys);
    void resvDeliver(uint32_t nNsid, const ResvEffects &fx);
    static bool isResvFeature(uint8_t nFid);
    uint16_t resvGetFeature(const Sqe &e, uint8_t nSel, uint32_t *pDw0);
    uint16_t resvSetFeature(const Sqe &e, uint32_t *pDw0);
    void fillResvLog(std::vector<uint8_t> &log);
    void applyPreemptAborts();
    uint16_t metaTransfer(const Sqe &e, Namespace &ns, uint64_t nSlba, uint32_t nBlocks, bool bWrite);
    uint16_t metaBuffer(const Sqe &e, uint64_t nLen, uint8_t **pp);
    // Namespaces with protection information (NvmProtected.cpp).
    uint16_t ioReadWritePi(const Sqe &e, Namespace &ns, bool bWrite);
    uint16_t ioComparePi(const Sqe &e, Namespace &ns);
    uint16_t ioVerifyPi(const Sqe &e, Namespace &ns);
    uint16_t ioWriteZeroesPi(const Sqe &e, Namespace &ns);
    uint16_t copyProtection(const Sqe &e, const Namespace &ns, const nvme_copy_range *pRanges, uint32_t nRanges,
                            uint64_t nDest, uint64_t nTotal, uint8_t *pData, uint8_t *pMeta);
    uint16_t mapProtected(const Sqe &e, const Namespace &ns, const PiRequest &r, bool bToHost, uint64_t *pUnit,
                          uint64_t *pHostMeta, uint8_t **ppMeta);
    uint16_t gatherProtected(const Namespace &ns, uint32_t nNlb, uint64_t nUnit, uint64_t nHostMeta,
                             const uint8_t *pHostMeta);
    uint16_t readProtected(Namespace &ns, uint64_t nSlba, uint64_t nNlb, uint8_t *pData, uint8_t *pMeta);
    uint16_t mapBlockData(const Sqe &e, const Namespace &ns, uint64_t nSlba, uint32_t nNlb, bool bToHost,
                          uint64_t *pUnit, uint64_t *pLen);
    uint16_t checkReadable(Namespace &ns, uint64_t nSlba, uint64_t nNlb);
    uint16_t zeroBlocks(Namespace &ns, uint64_t nSlba, uint64_t nNlb, bool bDurable);
    bool volatileCacheOn() const { return m_feat.nVolatileWc && m_bVwcPresent; }
    bool durable(const Sqe &e) const;
    bool flushNamespaces();
    Namespace *activeNamespace(uint32_t nNsid) const;

    friend class Controller;

    Subsystem &m_subsys;
    ControllerConfig m_cfg;
    uint32_t m_nIndex;
    DmaSpace &m_dma;
    SanitizeState &m_sanitize;   // the subsystem's
    FaultInjector m_faults;
    bool m_bVwcPresent = true;   // the device has a volatile write cache
    bool m_bResv = false;        // the device offers reservations
    HostId m_hostId;             // under the subsystem's reservation mutex

    // Configuration space (own lock: accessible while the worker runs).
    mutable std::mutex m_cfgMutex;
    uint64_t m_nBarSize;      // both set while m_pci is built
    uint32_t m_nMsixTable;
    PciConfigSpace m_pci;
    std::atomic<bool> m_bMemEnabled{false};
    std::atomic<bool> m_bBusMaster{false};
    std::vector<uint32_t> m_msix;   // table then pending bits, as dwords

    // Registers.
    std::atomic<uint32_t> m_cc{0};
    std::atomic<uint32_t> m_csts{0};
    std::atomic<uint32_t> m_aqa{0};
    std::atomic<uint64_t> m_asq{0};
    std::atomic<uint64_t> m_acq{0};
    std::atomic<uint32_t> m_intms{0};
    uint32_t m_nDbStride = 4;
    uint32_t m_nDoorbells = 0;                 // 2 * (queue pairs + 1)
    std::unique_ptr<std::atomic<uint32_t>[]> m_db;
    std::unique_ptr<std::atomic<uint64_t>[]> m_dbDirty;
    uint32_t m_nDirtyWords = 0;

    // Worker wake-up.
    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCv;
    std::atomic<uint64_t> m_nGen{0};
    std::atomic<bool> m_bSleeping{false};
    std::atomic<bool> m_bStop{false};

    // Everything below is guarded by m_procMutex.
    std::mutex m_procMutex;
    uint32_t m_nCcActive = 0;
    uint32_t m_nPageSize = 4096;
    Clock::time_point m_readyAt = Clock::time_point::max();
    Clock::time_point m_shutdownAt = Clock::time_point::max();
    Clock::time_point m_kaDeadline = Clock::time_point::max();
    std::vector<SubmissionQueue> m_sq;
    std::vector<CompletionQueue> m_cq;
    uint32_t m_nRrNext = 0;
    std::vector<Completion> m_delayed;   // a heap on 'due'
    std::vector<Completion> m_withheld;
    uint64_t m_nReleasesSeen = 0;
    uint32_t m_nExtraDelayUs = 0;        // set by a command that takes longer than usual
    std::vector<uint16_t> m_aerCids;
    std::deque<uint32_t> m_events;       // type | info << 8 | log << 16
    std::mutex m_eventMutex;             // m_pendingEvents, m_changedNs (posted from other controllers)
    std::deque<uint32_t> m_pendingEvents;
    std::atomic<bool> m_bEventsPosted{false};   // set with each posting, under m_eventMutex
    std::vector<uint32_t> m_changedNs;
    bool m_bChangedNsOverflow = false;
    std::map<uint32_t, std::vector<uint64_t>> m_changedZones;   // by NSID; more than the log holds: overflow
    uint64_t m_nIocsEnabled = IOCS_NVM;  // command sets whose namespaces are active (CC.CSS, profile)
    uint32_t m_nDoorbellErrors = 0;      // invalid doorbell writes not yet in the error log
    uint32_t m_nMaskedEvents = 0;        // event types waiting for their log page to be read
    // Reservation notifications (under m_eventMutex): the log's entries,
    // its count, the notification mask per namespace, and the namespaces
    // whose preempted commands are to be aborted.
    std::deque<nvme_resv_notification_log> m_resvLog;
    uint64_t m_nResvLogCount = 0;
    std::vector<uint8_t> m_resvMask;
    std::vector<uint32_t> m_preemptAborts;
    std::atomic<bool> m_bAbortsPosted{false};
    FeatureState m_feat;
    std::vector<nvme_error_log_page> m_errors;   // ring
    uint64_t m_nErrorCount = 0;
    SelfTestState m_selfTest;
    std::vector<uint8_t> m_fwImage;
    std::string m_fwSlots[3];
    Clock::time_point m_startedAt;
    uint8_t m_nFwActiveSlot = 1;
    uint8_t m_nFwNextSlot = 0;
    std::map<uint32_t, NamespaceStreams> m_streams;   // by NSID
    std::vector<uint8_t> m_telemetry;     // host-initiated data: header and data blocks
    uint8_t m_nTelemetryGen = 0;
    std::vector<uint8_t> m_pelContext;    // persistent event log as of the context
    bool m_bPelContext = false;
    bool m_bFwActivatedByReset = false;   // the last reset activated a firmware slot
    PowerStates m_power;
    std::vector<DataSeg> m_segs;          // reused per command
    std::vector<DataSeg> m_segs2;
    std::vector<uint8_t> m_bounce;
    std::vector<uint8_t> m_bounce2;
    std::vector<uint8_t> m_piMeta;        // metadata of blocks with protection information
    std::vector<uint8_t> m_piCompare;     // the media's blocks a Compare with protection information reads
};

} // namespace nvmesim
