// Description of the simulated bus: devices (NVM subsystems, each one PCI
// device), their controllers (one PCI function each), namespaces, timings
// and fault injection. parseConfig() reads the JSON form documented in
// README.md; defaultConfig() is what the bus looks like without one.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace nvmesim {

struct LbaFormat {
    uint32_t nDataSize = 512;   // bytes per block, a power of two >= 512
    uint16_t nMetaSize = 0;     // metadata bytes per block
};

// The zones of a zoned namespace (sizes in bytes, multiples of the block
// size; the namespace is a whole number of zones).
struct ZonedConfig {
    uint64_t nZoneSize = 16ull << 20;
    uint64_t nZoneCapacity = 0;      // 0: the zone size
    uint32_t nMaxActive = 0;         // zones active at once; 0: no limit
    uint32_t nMaxOpen = 0;           // zones open at once; 0: no limit
    uint32_t nDescExtSize = 0;       // zone descriptor extension bytes, a multiple of 64
    bool bReadAcrossZones = false;   // reads may span zones
};

// The limits of a key value namespace.
struct KvConfig {
    uint32_t nMaxKeySize = 16;       // 1..16 bytes
    uint32_t nMaxValueSize = 1u << 20;
    uint32_t nMaxKeys = 0;           // 0: as many as the capacity holds
};

// Command set identifiers of namespaces.
constexpr uint8_t kCsiNvm = 0, kCsiKv = 1, kCsiZoned = 2;

struct NamespaceConfig {
    uint8_t nCsi = kCsiNvm;       // command set of the namespace
    ZonedConfig zoned;            // when zoned
    KvConfig kv;                  // when key value (size: capacity in bytes)
    uint32_t nNsid = 0;           // 0: the next free id
    uint64_t nBlocks = 0;         // size in blocks of the chosen format
    uint32_t nFormat = 0;         // index into DeviceConfig::lbaFormats
    bool bExtendedLba = false;    // metadata interleaved with the data
    uint8_t nPi = 0;              // protection information type 1-3 (format with >= 8 metadata bytes); 0 none
    bool bPiFirst = false;        // protection information in the first eight metadata bytes, else the last
    std::string szBackingFile;    // empty: sparse memory
    std::vector<uint32_t> attach; // controller indexes; empty: all
};

// A status injected into the Nth command (1-based) with a given opcode on
// the admin queue or on the I/O queues. The rule fires once.
struct StatusRule {
    bool bAdmin = false;
    uint8_t nOpcode = 0;
    uint32_t nNth = 1;
    uint16_t nStatus = 0;   // status field: SCT << 8 | SC (bit 14 DNR)
};

// The completion of the Nth command with the opcode carries a command
// identifier that matches nothing outstanding (the real CID xor 0x8000).
struct BogusCidRule {
    bool bAdmin = false;
    uint8_t nOpcode = 0;
    uint32_t nNth = 1;
};

struct FaultConfig {
    uint32_t nLatencyMinUs = 0;   // per-command latency; fixed when min == max
    uint32_t nLatencyMaxUs = 0;
    bool bWithholdCompletions = false;   // I/O and admin completions are kept back
    bool bNeverReady = false;            // CSTS.RDY never sets
    bool bShutdownNeverCompletes = false;
    std::vector<StatusRule> statusRules;
    std::vector<BogusCidRule> bogusCidRules;
};

struct ControllerConfig {
    uint16_t nMqes = 1023;        // CAP.MQES (0-based)
    bool bCqr = true;             // contiguous queues required
    uint8_t nDstrd = 0;           // doorbell stride 4 << DSTRD bytes
    uint8_t nTo = 20;             // CAP.TO in 500 ms units
    bool bNssrs = true;
    uint8_t nCss = 0x41;          // CAP.CSS: bit 0 NVM, bit 6 I/O command sets, bit 7 admin only
    uint8_t nMpsMin = 0;          // page size 2^(12 + MPSMIN)
    uint8_t nMpsMax = 4;
    uint32_t nQueuePairs = 64;    // I/O SQ/CQ pairs offered
    uint8_t nMdts = 5;            // max transfer 2^MDTS pages, 0: no limit
    uint16_t nMsixVectors = 65;
    bool bSgl = true;             // SGL support for I/O commands
    std::array<uint8_t, 16> hostId{};   // host identifier at power-on (bytes 0-7 for 64 bits); zero: none
    bool bHostIdExtended = false;       // hostId is a 128-bit identifier
    uint8_t nZasl = 0;            // zone append size limit 2^n minimum pages; 0: MDTS
    FaultConfig faults;
};

struct Timings {
    uint32_t nReadyDelayUs = 1000;        // CC.EN 0->1 until CSTS.RDY
    uint32_t nShutdownUs = 1000;          // CC.SHN until SHST complete
    uint32_t nLinkDownMs = 100;           // after an NVM subsystem reset
    uint32_t nLinkUpMs = 100;             // slot power on until the link is up
    uint32_t nSelfTestShortMs = 100;
    uint32_t nSelfTestExtendedMs = 1000;
    uint32_t nFormatUs = 0;               // extra time a Format NVM takes
    uint32_t nSanitizeMs = 100;           // a sanitize operation, start to end
};

// The sanitize operations the NVM subsystem offers (SANICAP) and a fault:
// the first nFailOperations sanitize operations fail at their end.
struct SanitizeConfig {
    bool bBlockErase = true;
    bool bOverwrite = true;
    bool bCryptoErase = true;
    bool bNoDeallocateInhibited = false;   // SANICAP.NDI: NDAS is ignored, user data is deallocated
    uint32_t nFailOperations = 0;
};

// SR-IOV on the device's first function (the primary controller): virtual
// functions, each a secondary controller with flexible queue (VQ) and
// interrupt (VI) resources from the primary's pools.
struct SriovConfig {
    uint16_t nTotalVfs = 0;          // 0: no SR-IOV capability
    uint16_t nInitialVfs = 0;        // default: nTotalVfs
    uint16_t nVfDeviceId = 0;        // default: the device id + 1
    uint16_t nVfOffset = 0;          // routing id offset of VF 1; default: after the physical functions
    uint16_t nVfStride = 1;
    uint32_t nFlexQueues = 0;        // VQFRT; default: nMaxVqPerVf per VF
    uint32_t nFlexInterrupts = 0;    // VIFRT; default: nMaxViPerVf per VF
    uint16_t nMaxVqPerVf = 9;        // VQFRSM: admin queue + 8 I/O queue pairs
    uint16_t nMaxViPerVf = 9;        // VIFRSM
};

// One power state descriptor of Identify Controller.
struct PowerStateConfig {
    uint16_t nMaxPower = 0;          // MP, in 0.01 W
    uint32_t nEntryLatencyUs = 0;    // ENLAT
    uint32_t nExitLatencyUs = 0;     // EXLAT
    uint8_t nReadThroughput = 0;     // RRT, RRL, RWT, RWL: relative ranks, 0 best
    uint8_t nReadLatency = 0;
    uint8_t nWriteThroughput = 0;
    uint8_t nWriteLatency = 0;
    bool bNonOperational = false;    // NOPS: no I/O processed in this state
};

struct DeviceConfig {
    uint16_t nVendorId = 0xC1A0;
    uint16_t nDeviceId = 0x5100;
    uint16_t nSubsysVendorId = 0xC1A0;
    std::string szSerial;          // default SIM<device index>...
    std::string szModel = "Korvel simulated NVMe controller";
    std::string szFirmware = "1.0";
    uint64_t nCapacity = 0;        // total NVM capacity in bytes; 0: 2x what the namespaces use, at least 4 GiB
    uint32_t nMaxNamespaces = 32;  // NN
    uint16_t nFirstCntlid = 1;     // CNTLID of the first controller; the others follow
    bool bNamespaceManagement = true;
    bool bVolatileWriteCache = true;
    bool bReservations = false;    // reservation commands, host identifiers, notifications
    uint16_t nTemperatureK = 313;
    std::vector<LbaFormat> lbaFormats;   // default: 512, 512+8, 4096, 4096+8, 4096+64
    std::vector<ControllerConfig> controllers;  // default: one
    std::vector<NamespaceConfig> namespaces;    // default: one of 1 GiB
    SriovConfig sriov;
    SanitizeConfig sanitize;
    Timings timings;
    uint16_t nStreams = 0;               // streams directive: MSL; 0: no directives
    std::vector<PowerStateConfig> powerStates;   // default: PS0-PS2 operational, PS3-PS4 not
    ZonedConfig zonedDefaults;     // namespaces created as zoned by Namespace Management
    KvConfig kvDefaults;           // ... and as key value
};

struct SimConfig {
    uint32_t nDmaInPageOffset = 0;   // shifts DMA buffers inside their first page
    std::vector<DeviceConfig> devices;
};

// One device, one controller, one 1 GiB namespace of 512-byte blocks.
SimConfig defaultConfig();

// Fills in the defaults of a device (formats, controllers, namespaces).
void completeDevice(DeviceConfig &dev, size_t nIndex);

// Parses JSON text. On error returns false and sets *pErr to a message that
// names the field ("devices[0].namespaces[1].blocks: ...").
bool parseConfig(const std::string &szJson, SimConfig *pOut, std::string *pErr);

// Reads the value of KXM_NVME_SIM: inline JSON when it starts with '{',
// otherwise the path of a JSON file. Unset or empty gives defaultConfig().
bool configFromEnvironment(SimConfig *pOut, std::string *pErr);

} // namespace nvmesim
