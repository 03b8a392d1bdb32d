// Data pointers for a command: PRP1/PRP2 with PRP lists (chained when they
// do not fit in one page) and SGL descriptor chains.
#pragma once
#include "DmaMemory.h"
#include "nvmewire/Command.h"

#include <string>
#include <utility>
#include <vector>

namespace nvmehost {

class HostController;

class PrpBuilder {
public:
    explicit PrpBuilder(HostController &c) : ctl(c) {}

    // Describes nLength bytes starting at bus address nBus (dword aligned)
    // in the command's PRP1/PRP2. The first list page holds its entries
    // from byte nFirstListOffset on (8-byte aligned, at least two entries), so an offset
    // near the page end forces chaining. Lists live until the next build.
    bool build(nvmewire::Sqe &cmd, uint64_t nBus, size_t nLength, std::string *pErr, size_t nFirstListOffset = 0);

    // The list pages of the last build, for tests that tamper with them.
    std::vector<DmaMemory> &lists() { return vLists; }

private:
    HostController &ctl;
    std::vector<DmaMemory> vLists;
};

// SGL chains: data descriptors (data blocks or bit buckets) placed in
// segments of at most nPerSegment descriptors. One descriptor goes in the
// command itself; more go in a chain of segments ending with a last
// segment.
class SglBuilder {
public:
    explicit SglBuilder(HostController &c) : ctl(c) {}

    bool build(nvmewire::Sqe &cmd, const std::vector<nvmewire::SglDesc> &vData, size_t nPerSegment, std::string *pErr);
    std::vector<DmaMemory> &segments() { return vSegments; }

private:
    HostController &ctl;
    std::vector<DmaMemory> vSegments;
};

} // namespace nvmehost
