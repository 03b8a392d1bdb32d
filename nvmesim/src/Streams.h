// What a controller keeps per namespace for the streams directive: whether
// the host enabled it, the streams allocated to the namespace and the
// streams open, oldest first.
#pragma once
#include <cstdint>
#include <vector>

namespace nvmesim {

class Namespace;

// Stream write size (logical blocks) and granularity (stream write sizes)
// that the return parameters report.
constexpr uint32_t kStreamWriteSize = 8;
constexpr uint16_t kStreamGranularity = 256;

struct NamespaceStreams {
    const Namespace *pNs = nullptr;   // the namespace the state belongs to
    bool bEnabled = false;
    uint16_t nAllocated = 0;          // NSA; 0: streams come from the shared pool
    std::vector<uint16_t> open;       // stream identifiers, oldest first
};

} // namespace nvmesim
