// The engine's records: one per scanned device, per PCIe function
// (controller), per submission and completion queue, per possible
// outstanding command, per namespace and per script event. Records a script
// can hold start with a handle header (nvmeHandle.h). Everything is created
// by the engine and lives until the engine is torn down; queues are resized
// or reused across resets, never freed and made again.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform.h"
#include "nvmeFreeList.h"
#include "nvmeHandle.h"
#include "nvmeQueueLock.h"
#include "nvmeTime.h"
#include "nvmeTraceRecs.h"
#include "nvmewire/Command.h"
#include "nvmewire/Completion.h"

namespace kxmnvme {

// Build limits. A controller holds I/O queue ids 1..NVME_MAX_IOSQ_NUM and
// namespaces 1..NVME_MAX_NS_NUM; a device holds its physical function and
// up to NVME_MAX_FUNC_NUM - 1 virtual functions.
constexpr uint32_t NVME_MAX_DEV_NUM = 32;
constexpr uint32_t NVME_MAX_FUNC_NUM = 65;
constexpr uint32_t NVME_MAX_IOSQ_NUM = 128;
constexpr uint32_t NVME_MAX_NS_NUM = 1024;
constexpr uint32_t NVME_SEVT_NUM = 1024;

constexpr uint32_t NVME_CNTL_INITED = 17;
constexpr uint8_t NVME_SQ_ACTIVE = 0x41;    // 'A'
constexpr uint8_t NVME_SQ_DELETED = 0xBE;
constexpr uint8_t NVME_SQF_NOT_POLLING = 0x01;

enum NvmeFuncType : uint32_t { nvme_PF = 1, nvme_VF = 2 };

// Histogram bins: 1 us below 10 ms, 1 ms below 10 s, 1 s below 256 s.
constexpr uint32_t NVME_HIST_US_BINS = 10000;
constexpr uint32_t NVME_HIST_MS_BINS = 10000;
constexpr uint32_t NVME_HIST_S_BINS = 256;
constexpr uint32_t NVME_HIST_BINS = NVME_HIST_US_BINS + NVME_HIST_MS_BINS + NVME_HIST_S_BINS;

struct NvmeDev;
struct NvmeCntl;
struct NvmeSQ;
struct NvmeCQ;
struct NvmeNs;
struct CmdRR;
struct NvmeBuf;

// What the platform layer made of one opened PCI function.
struct FuncHandleRec {
    kxmplat::Device *pDevice = nullptr;
    uint32_t nVendorId = 0;
    uint32_t nDeviceId = 0;
    kxmplat::PciSlot slot;
};

// Post-processing run when a command completes (hooks clear pfnHook).
typedef void (*NvmePPHook)(CmdRR *pCmd);
struct NvmePPReq {
    NvmePPHook pfnHook = nullptr;
    void *pBuf = nullptr;
    void *pTarget = nullptr;
    int64_t nParam1 = 0;
    int64_t nParam2 = 0;
    int64_t nParam3 = 0;
};

struct CmdRscMgr;

struct CmdRR {
    NvmeHandleHdr hdr;
    uint8_t nKind = '1';
    uint8_t bFree = 1;
    uint8_t nCmdSet = 0;
    uint32_t nPollCount = 0;
    uint16_t nSQId = 0;
    uint16_t nCID = 0;
    NvmePPReq pp;
    NvmeSQ *pSQ = nullptr;
    NvmeCmdTraceRec *pTrace = nullptr;
    nvmewire::Sqe cmd{};
    sysTimeVal_t tSubmit = 0;
    sysTimeVal_t tComplete = 0;
    nvmewire::Cqe cqe{};
    uint16_t nStatus = 0;
    std::atomic<uint8_t> bCompleted{0};   // release by the poller, acquire by readers
    CmdRR *pNextFree = nullptr;
};

// One SQ's pool of command records; CID = index. The free list always keeps
// its last record, so at most nCount - 1 commands are outstanding.
struct CmdRscMgr {
    uint16_t nSQId = 0;
    uint32_t nCount = 0;
    CmdRR *pRecs = nullptr;
    NvmeFreeList<CmdRR> free;
    NvmeSlotLock lock;            // held for a few instructions by builders and pollers
};

struct NvmeSQ {
    NvmeHandleHdr hdr;
    NvmeQueueLock qLock;
    uint8_t nState = 0;
    uint8_t nFlags = 0;
    uint16_t qID = 0;
    uint16_t cqID = 0;
    NvmeNs *pDefNs = nullptr;
    uint32_t nSize = 0;
    uint32_t nHead = 0;
    uint32_t nTail = 0;
    uint32_t nSQyTDBL = 0;
    uint64_t aIssueCnt[256] = {};
    std::atomic<uint64_t> aComplCnt[256] = {};
    uint64_t nBlocksRead = 0;
    uint64_t nBlocksWritten = 0;
    std::atomic<uint64_t> *pHist = nullptr;   // NVME_HIST_BINS bins
    NvmeCntl *pCntl = nullptr;
    void *pEntries = nullptr;
    kxmplat::DmaBuffer qBuf;
    size_t nRingBytes = 0;                    // bytes of the ring's DMA buffer
    CmdRscMgr *pQCmdRscMgr = nullptr;
    NvmeCmdTraceMgr *pQCmdTraceMgr = nullptr;
};

struct CqPoller;

struct NvmeCQ {
    uint32_t nSize = 0;
    uint32_t nHead = 0;
    uint16_t qID = 0;
    uint8_t nPhase = 1;
    uint8_t bValid = 0;
    uint32_t nCQyHDBL = 0;
    void *pEntries = nullptr;
    kxmplat::DmaBuffer qBuf;
    size_t nRingBytes = 0;
    NvmeCQ *pNext = nullptr;
    std::atomic<CqPoller *> pPoller{nullptr};   // read by builders of any task
    std::vector<uint64_t> attachedSQs = std::vector<uint64_t>(65536 / 64);   // bit n: SQ n posts here
};

struct CqPoller {
    std::mutex lock;
    std::thread thread;
    NvmeCntl *pCntl = nullptr;
    NvmeCQ *pCQs = nullptr;       // newest first
    uint32_t nCQNum = 0;
    std::atomic<uint32_t> bStop{0};
    // An idle I/O poller sleeps instead of spinning: builders count the
    // commands they send to its CQs and wake it when it sleeps.
    std::atomic<int64_t> nInFlight{0};
    std::atomic<bool> bSleeping{false};
    std::mutex wakeLock;
    std::condition_variable wake;
};

struct NvmeNs {
    NvmeHandleHdr hdr;
    std::vector<NvmeCntl *> users;   // controllers the namespace is attached to, in order
    uint32_t nsid = 0;
    uint8_t nAttr = 0;               // bit 0: automatic checksum on LBA data
    uint64_t nCap = 0;               // NCAP, logical blocks
    uint16_t nMetaSize = 0;
    uint8_t nLbaDataSizeExp = 9;
    uint32_t nLbaSize = 512;
    uint32_t nLbaSizeInBuf = 512;
    uint32_t nLbaFmtNum = 0;
    uint32_t aLbaFmts[16] = {};
    uint64_t nCapBytes = 0;
};

struct NvmeSEvt {
    NvmeHandleHdr hdr;
    uint8_t nKind = '2';
    uint8_t bFree = 1;
    uint8_t bTimedOut = 0;
    NvmeSEvt *pNextFree = nullptr;
    NvmeEvtTraceRec *pTrace = nullptr;
    uint32_t nEvent = 0;
    uint32_t nParam = 0;
    sysTimeVal_t tStart = 0;
    sysTimeVal_t tEnd = 0;
};

// Pool of script event records; like the command pool, the free list keeps
// its last record.
struct NvmeSEvtRscMgr {
    NvmeSEvt recs[NVME_SEVT_NUM];
    NvmeFreeList<NvmeSEvt> free;
    std::mutex lock;
};

struct NvmeSavedCfg {
    uint8_t nCacheLine = 0;
    uint32_t nBackupCfgReg_BAR0 = 0;
    uint32_t nBAR1 = 0;
    uint8_t nIntLine = 0;
    uint16_t nDevCtl = 0;
    uint16_t nLnkCtl = 0;
    uint16_t nDevCtl2 = 0;
};

// SR-IOV information of a physical function.
struct NvmeVFInfo {
    uint32_t nCapOffset = 0;
    uint16_t nTotalVFs = 0;
    uint16_t nInitialVFs = 0;
    uint16_t nEnabledVFs = 0;
    NvmeCntl *pOwner = nullptr;
};

class NvmeEngine;

struct NvmeCntl {
    NvmeHandleHdr hdr;
    NvmeEngine *pEng = nullptr;              // the engine that made it
    uint32_t nState = 0;
    uint32_t funcType = nvme_PF;
    uint16_t nFuncId = 0;
    FuncHandleRec *uFuncHandle = nullptr;
    uint32_t nClassCode = 0;
    uint32_t nVendorId = 0;
    uint32_t nDeviceId = 0;
    NvmeDev *pDev = nullptr;
    std::recursive_mutex lock;
    NvmeSEvtRscMgr *pSEvtRscMgr = nullptr;
    NvmeEvtTraceMgr *pSEvtTraceMgr = nullptr;
    NvmeSavedCfg savedCfg;
    NvmeCntl *pPriCntl = nullptr;            // a VF's physical function
    NvmeVFInfo *pVFInfo = nullptr;           // a PF's SR-IOV information
    void *pUnmatchedCallback = nullptr;
    uint16_t nCntlIdCopy = 0;
    uint16_t nNsIdLimit = 0;
    std::vector<NvmeNs *> usedNs;            // namespaces in use, in bind order
    uint8_t aIdentify[4096] = {};
    char szSerial[21] = {};
    char szModel[41] = {};
    char szFwRev[9] = {};
    uint8_t bSupportNSMgmt = 0;
    uint32_t nMDTS_expOf2 = 0;
    uint32_t nMDTS = 0;
    uint32_t nNN = 0;
    uint16_t CNTLID = 0;
    uint32_t nMaxPageSize_expOf2 = 0;
    uint32_t nMaxPageSize = 0;
    uint32_t nMinPageSize_expOf2 = 0;
    uint32_t nMinPageSize = 0;
    uint32_t nDbStride = 0;
    uint32_t nDbStride_expOf2 = 0;
    uint32_t nTimeout = 0;                   // CAP.TO, 500 ms units
    uint32_t nMaxQSize = 0;
    uint32_t nPageSize_expOf2 = 0;
    uint32_t nPageSize = 0;
    uint32_t nMaxIOSQNum = 0;
    uint32_t nMaxIOCQNum = 0;
    uint32_t nIOSQNumPerIOCQ = 0;
    uint32_t nIOSQNum = 0;                   // highest I/O SQ id in use
    uint32_t nIOCQNum = 0;                   // highest I/O CQ id in use
    NvmeSQ *pSQs[NVME_MAX_IOSQ_NUM + 1] = {};
    NvmeCQ *pCQs[NVME_MAX_IOSQ_NUM + 1] = {};
    CqPoller pollers[NVME_MAX_IOSQ_NUM + 1];
    uint32_t nIOCQNumPerPCCT = 4;

    uint32_t nUsedNSsNum() const { return static_cast<uint32_t>(usedNs.size()); }
    kxmplat::Device *device() const { return uFuncHandle ? uFuncHandle->pDevice : nullptr; }
};

struct NvmeDev {
    uint16_t nDevNo = 0;
    uint32_t nVendorId = 0;
    uint32_t nDeviceId = 0;
    uint16_t nFuncNum = 0;
    NvmeCntl *cntls[NVME_MAX_FUNC_NUM] = {};
    uint32_t nNsNum = 0;
    NvmeNs *namespaces[NVME_MAX_NS_NUM + 1] = {};   // [0]: the default record
    NvmeNs commonNs;                                 // nsid 0xFFFFFFFF
};

} // namespace kxmnvme
