// The buffer entry points as the frame and the engine call them: with the
// engine (its platform and registry) and the controller the buffer is for.
#pragma once
#include "nvmeBuf.h"
#include "nvmeEngine.h"
#include "nvmeRecords.h"

namespace kxmnvme {

// EC_NONE and the registered object, or an error code (EC_BUF_TYPE,
// EC_DMA_SIZE, EC_HMB_SIZE, EC_NOT_INITED when the controller's page size
// is not known yet, EC_NO_MEM, EC_DMA_ALLOC).
inline int nvmeBufAlloc(NvmeEngine &engine, NvmeCntl *pCntl, int nType, uint32_t nSize, NvmeBuf **ppOut)
{
    if (ppOut)
        *ppOut = nullptr;
    if (!pCntl || !engine.platform())
        return EC_NOT_INITED;
    NvmeBufTarget t;
    t.pPlat = engine.platform();
    t.pDev = pCntl->device();
    t.pRegistry = &engine.registry;
    t.nPageSize = pCntl->nPageSize;
    return nvmeBufAllocOn(t, nType, nSize, ppOut);
}

// Unregisters the buffer and gives every DMA block back; EC_BUF_TYPE for an
// object of an unknown type.
inline int nvmeBufFree(NvmeEngine &engine, NvmeBuf *pBuf)
{
    return nvmeBufFreeOn(engine.registry, pBuf);
}

} // namespace kxmnvme
