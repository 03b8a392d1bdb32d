// Description of the simulated bus: devices (NVM subsystems, each one PCI
// device), their controllers (one PCI function each), namespaces, timings
// and fault injection. parseConfig() reads the JSON form documented in
// README.md; defaultConfig() is what the bus looks like without one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace nvmesim {

struct LbaFormat {
    uint32_t nDataSize = 512;   // bytes per block, a power of two >= 512
    uint16_t nMetaSize = 0;     // metadata bytes per block
};

struct NamespaceConfig {
    uint32_t nNsid = 0;           // 0: the next free id
    uint64_t nBlocks = 0;         // size in blocks of the chosen format
    uint32_t nFormat = 0;         // index into DeviceConfig::lbaFormats
    bool bExtendedLba = false;    // metadata interleaved with the data
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
    uint8_t nCss = 0x01;          // CAP.CSS: bit 0 NVM, bit 6 I/O command sets, bit 7 admin only
    uint8_t nMpsMin = 0;          // page size 2^(12 + MPSMIN)
    uint8_t nMpsMax = 4;
    uint32_t nQueuePairs = 64;    // I/O SQ/CQ pairs offered
    uint8_t nMdts = 5;            // max transfer 2^MDTS pages, 0: no limit
    uint16_t nMsixVectors = 65;
    bool bSgl = true;             // SGL support for I/O commands
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
    uint16_t nTemperatureK = 313;
    std::vector<LbaFormat> lbaFormats;   // default: 512, 512+8, 4096, 4096+8, 4096+64
    std::vector<ControllerConfig> controllers;  // default: one
    std::vector<NamespaceConfig> namespaces;    // default: one of 1 GiB
    SriovConfig sriov;
    Timings timings;
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
