// DMA data buffers: the PRP, HMB and SGL objects a script allocates with
// ddbAlloc and the engine hands to the command builders.
//
// Every block of DMA memory comes from kxmplat::Platform (a host pointer, a
// bus address and the backend's handle) and goes back to it when the object
// is freed. The object itself is a live record of the engine's handle
// registry from allocation to nvmeBufFree, so a freed buffer never passes a
// handle test.
//
// This file does not need the engine's records: nvmeBufAllocOn() works from
// a platform, a device, a registry and a page size. nvmeBufEngine.h has the
// entry points that take the engine and a controller.
#pragma once
#include <cstddef>
#include <cstdint>

#include "Platform.h"
#include "nvmeErrors.h"
#include "nvmeHandle.h"

namespace kxmnvme {

// Buffer types (the script constants nvme::PRP, nvme::HMB, nvme::SGL).
enum NvmeBufType : uint32_t {
    NVME_BUF_PRP = 0,
    NVME_BUF_HMB = 1,
    NVME_BUF_SGL = 2,
};

// SGL descriptor, device format (16 bytes, little-endian).
struct NvmeSglDesc {
    uint64_t nAddress = 0;
    uint32_t nLength = 0;
    uint8_t aRsvd[3] = {};
    uint8_t nIdentifier = 0;   // type in the high 4 bits, subtype in the low 4
};
static_assert(sizeof(NvmeSglDesc) == 16, "SGL descriptor is 16 bytes");

constexpr uint8_t NVME_SGL_DATA_BLOCK = 0x0;
constexpr uint8_t NVME_SGL_BIT_BUCKET = 0x1;
constexpr uint8_t NVME_SGL_SEGMENT = 0x2;
constexpr uint8_t NVME_SGL_LAST_SEGMENT = 0x3;

// Host memory buffer descriptor entry, device format (16 bytes).
struct NvmeHmbDescEntry {
    uint64_t nBufAddr = 0;   // bus address of the chunk
    uint32_t nSize = 0;      // in memory pages
    uint32_t nRsvd = 0;
};
static_assert(sizeof(NvmeHmbDescEntry) == 16, "HMB descriptor entry is 16 bytes");

// Bytes covered by one HMB descriptor entry at most.
constexpr uint32_t NVME_HMB_CHUNK_MAX = 0x200000;

struct NvmeBuf {
    NvmeHandleHdr hdr;
    uint32_t nBufType = 0;
    uint8_t bVAContinuous = 0;
    uint32_t nTtlSize = 0;        // requested size in bytes
    uint32_t nPageSize = 0;       // the controller's memory page size at allocation

    // PRP and SGL: the data, one contiguous DMA block.
    void *pVBufAddr = nullptr;    // host address of the data
    kxmplat::DmaBuffer data;      // data.pHandle is the data's DMA handle

    // PRP.
    uint32_t nSize_PRP1 = 0;      // bytes covered by PRP entry 1
    uint32_t nSize_PRP12 = 0;     // bytes covered by entries 1 and 2
    uint64_t nPRP1Entry = 0;      // bus address of the data's first byte
    uint64_t nPRP2Entry = 0;      // second entry, 0 when there is none
    struct {
        kxmplat::DmaBuffer block;  // the list block (block.pHost null: no list)
        uint32_t nOffset = 0;      // offset of the first entry in the block
        uint64_t nPointer = 0;     // bus address of the first entry, 0: no list
        uint32_t nEntries = 0;     // slots written, the terminating 0 included
    } PRP2List;

    // SGL: the Data Block descriptor of the whole buffer.
    NvmeSglDesc sgl;

    // HMB.
    uint32_t nTtlSize_inPages = 0;
    uint32_t DescriptorListEntryCount = 0;
    uint64_t DescriptorListPhyAddr = 0;
    kxmplat::DmaBuffer descList;          // the descriptor list block
    kxmplat::DmaBuffer *pChunks = nullptr;   // one record per possible entry
    uint32_t nChunkSlots = 0;

    // Where the blocks go back to.
    kxmplat::Platform *pPlat = nullptr;
    kxmplat::Device *pDev = nullptr;
};

// What an allocation needs from the controller it is made for.
struct NvmeBufTarget {
    kxmplat::Platform *pPlat = nullptr;
    kxmplat::Device *pDev = nullptr;
    HandleRegistry *pRegistry = nullptr;
    uint32_t nPageSize = 0;       // 0: the controller is not initialised
};

// Allocates a buffer of nType and nSize bytes, enters it in the registry and
// returns EC_NONE with *ppOut set, or an error code with *ppOut null:
// EC_BUF_TYPE (type), EC_DMA_SIZE (size 0), EC_HMB_SIZE (HMB size not a
// multiple of the page size), EC_NOT_INITED (page size unknown), EC_NO_MEM,
// EC_DMA_ALLOC. Nothing stays allocated on failure.
int nvmeBufAllocOn(const NvmeBufTarget &target, int64_t nType, uint32_t nSize, NvmeBuf **ppOut);

// Unregisters the buffer (its handle fails every test from now on), gives
// every DMA block back and frees the object. EC_BUF_TYPE for an object of an
// unknown type (nothing is freed then).
int nvmeBufFreeOn(HandleRegistry &registry, NvmeBuf *pBuf);

// Host address of the data of a buffer whose data is one contiguous block
// (PRP, SGL); null for HMB.
uint8_t *nvmeBufData(const NvmeBuf *pBuf);

// Bus address of the PRP list slot j and its value (PRP buffers with a
// list); false past the end of the list block.
bool nvmeBufPrpListEntry(const NvmeBuf *pBuf, uint32_t j, uint64_t *pBusAddr, uint64_t *pValue);

// Descriptor entry i of an HMB buffer; false past the entry count.
bool nvmeBufHmbEntry(const NvmeBuf *pBuf, uint32_t i, NvmeHmbDescEntry *pOut);

} // namespace kxmnvme
