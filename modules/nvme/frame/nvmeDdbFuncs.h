// The ddb script functions of namespace nvme (DMA data buffers), in
// registration order, with their argument counts and descriptor masks
// (bit 0 = argument 1).
#pragma once
#include <cstddef>
#include <cstdint>

#include "korvel_ext.h"

namespace kxmnvme {

struct NvmeFuncReg {
    const char *szName;
    krvExtHandler_t pfnHandler;
    uint8_t nMinArgs;
    uint8_t nMaxArgs;
    uint32_t nRefMask;
    uint32_t nArrMask;
    uint32_t nStructMask;
};

// The 27 ddb functions, registered between shutdownNotify and dumpTrace.
extern const NvmeFuncReg g_nvmeDdbFuncs[];
extern const size_t g_nvmeDdbFuncCount;

} // namespace kxmnvme
