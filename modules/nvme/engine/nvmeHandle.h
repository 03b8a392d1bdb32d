// Handles of the module's records and the registry of live records.
//
// Every record a script can hold (controller, SQ, namespace, command, data
// buffer, script event) starts with a handle header and is entered in the
// engine's registry while it lives. A script value is accepted as a handle
// only when the registry knows it as a live record of the wanted kind, so a
// forged integer, a freed buffer or a record of another kind never reaches
// the code that would use it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <shared_mutex>
#include <vector>

namespace kxmnvme {

// Same layout as the interpreter's handle header: self pointer, signature,
// kind tag (the frame checks this at compile time).
struct NvmeHandleHdr {
    void *pSelf = nullptr;
    uint32_t nSig = 0;
    uint32_t nKind = 0;
};
static_assert(sizeof(NvmeHandleHdr) == 16, "handle header is 16 bytes");

constexpr uint32_t NVME_HANDLE_SIG = 0x48536967u;

// Kind tags: short ASCII texts stored little-endian in the tag word.
enum NvmeHandleKind : uint32_t {
    NVME_KIND_NONE = 0,
    NVME_KIND_CNTL = 0x6C746E46u,   // "Fntl"
    NVME_KIND_SQ = 0x5153u,         // "SQ"
    NVME_KIND_NS = 0x534Eu,         // "NS"
    NVME_KIND_CMD = 0x646D43u,      // "Cmd"
    NVME_KIND_BUF = 0x667542u,      // "Buf"
    NVME_KIND_EVT = 0x747645u,      // "Evt"
};

// The registry holds runs of records: a single record is a run of one, a
// pool (command records, script events) one run of equally sized records.
// Lookups take a shared lock; they are made once per script call.
class HandleRegistry {
public:
    // Fills the header of every record of the run and enters the run.
    // pFirst points at the first record's header; nStride is the record size.
    void add(NvmeHandleHdr *pFirst, uint32_t nKind, size_t nCount = 1, size_t nStride = 0);
    // Clears the headers of the run that starts at pFirst and forgets it.
    void remove(NvmeHandleHdr *pFirst);

    // Kind of the live record at p, or NVME_KIND_NONE.
    uint32_t kindOf(const void *p) const;
    bool is(const void *p, uint32_t nKind) const { return p && kindOf(p) == nKind; }

    size_t runCount() const;
    // The first record of every live run of a kind (to free what scripts
    // left behind).
    std::vector<NvmeHandleHdr *> runsOf(uint32_t nKind) const;

private:
    struct Run {
        size_t nCount;
        size_t nStride;
        uint32_t nKind;
    };
    mutable std::shared_mutex m_lock;
    std::map<uintptr_t, Run> m_runs;   // by address of the first record
};

} // namespace kxmnvme
