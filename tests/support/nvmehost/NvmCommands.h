// Building NVM command set commands and reading namespace geometry.
#pragma once
#include "HostController.h"
#include "nvmewire/Command.h"
#include "nvmewire/Opcodes.h"

#include <cstdint>
#include <vector>

namespace nvmehost {

struct LbaFormatInfo {
    uint32_t nDataSize = 0;
    uint16_t nMetaSize = 0;
};

// What the host needs to know of an active namespace.
struct NamespaceInfo {
    uint32_t nNsid = 0;
    uint64_t nSize = 0;         // NSZE, blocks
    uint64_t nCapacity = 0;     // NCAP
    uint32_t nFormatIndex = 0;  // FLBAS
    bool bExtended = false;     // metadata at the end of each block
    uint32_t nBlockSize = 0;
    uint16_t nMetaSize = 0;
    uint8_t nDlfeat = 0;
    std::vector<LbaFormatInfo> formats;     // NLBAF + 1 entries
};

// Identify Namespace, decoded. False when the command fails.
bool readNamespaceInfo(HostController &ctl, uint32_t nNsid, NamespaceInfo *pOut, Completion *pStatus = nullptr);

// Active namespace ids in ascending order (Identify CNS 02h).
std::vector<uint32_t> activeNamespaces(HostController &ctl);

// Read, Write and the like without the data pointer: NLB is 1-based here.
nvmewire::Sqe makeRw(uint8_t nOpcode, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks);

// Format NVM of one namespace to LBA format nFormat (no protection
// information, no secure erase).
Completion formatNamespace(HostController &ctl, uint32_t nNsid, uint32_t nFormat, bool bExtendedMeta,
                           int nTimeoutMs = 30000);

} // namespace nvmehost
