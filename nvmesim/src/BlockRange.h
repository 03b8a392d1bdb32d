// The block range of an NVM command: its starting LBA (CDW10-CDW11), its
// number of blocks (CDW12 bits 15:0, 0-based), and whether the range lies
// inside a namespace.
#pragma once
#include <cstdint>

#include "Namespace.h"
#include "nvmewire/Command.h"

namespace nvmesim {

inline uint64_t slbaOf(const nvmewire::Sqe &e) { return e.cdw10() | (static_cast<uint64_t>(e.cdw11()) << 32); }
inline uint32_t nlbOf(const nvmewire::Sqe &e) { return (e.cdw12() & 0xFFFF) + 1; }
inline bool inRange(const Namespace &ns, uint64_t nSlba, uint64_t nCount) {
    return nSlba < ns.nBlocks && nCount <= ns.nBlocks - nSlba;
}

} // namespace nvmesim
