// Text views of a buffer: the hex dump of ddbDump and the description that
// dumpHandleInfo prints for a BufHandle. Text goes out through a writer
// callback, one piece at a time (the frame sends it to standard output and,
// when the script names one, to a host file).
#pragma once
#include <cstdint>

#include "nvmeBuf.h"
#include "nvmeTextOut.h"

namespace kxmnvme {

// Hex dump of [nOffset, nOffset + nLength): lines of 16 bytes on 16-byte
// offsets, with long runs of one repeated 32-bit word folded into a single
// "  repeats ..." line. EC_DMA_RANGE (nothing written) when the range is
// outside the buffer; HMB buffers write nothing.
int nvmeBufHexDump(const NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength, NvmeTextOut &out);

// The description of the object, line by line, for its type.
void nvmeBufDescribe(const NvmeBuf *pBuf, NvmeTextOut &out);

// Dump name of an SGL descriptor type.
const char *nvmeSglTypeName(unsigned nType);

} // namespace kxmnvme
