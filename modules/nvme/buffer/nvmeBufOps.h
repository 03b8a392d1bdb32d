// Element operations on a buffer's data: numbers at byte offsets in either
// byte order, byte copies, fills, checksum and compare.
//
// Offsets and lengths are unsigned 32-bit counts; every range check adds
// them in 64 bits, so an offset near 2^32 is out of range, never a small
// number. A range outside the buffer is EC_DMA_RANGE and touches nothing.
// PRP and SGL buffers hold their data in one contiguous block; on an HMB
// buffer every operation does nothing and returns EC_NONE (reads give 0).
#pragma once
#include <cstdint>

#include "nvmeBuf.h"

namespace kxmnvme {

// True when [nOffset, nOffset + nLength) lies inside the buffer.
bool nvmeBufInRange(const NvmeBuf *pBuf, uint64_t nOffset, uint64_t nLength);

// nBytes is 1, 2, 4, 6 or 8; nEndian 0 is big-endian (most significant
// byte at the offset), anything else little-endian. The value read is
// zero-extended; writes store the low nBytes bytes of nValue.
int nvmeBufReadNum(const NvmeBuf *pBuf, uint32_t nOffset, unsigned nBytes, int64_t nEndian, uint64_t *pValue);
int nvmeBufWriteNum(NvmeBuf *pBuf, uint32_t nOffset, unsigned nBytes, int64_t nEndian, uint64_t nValue);

int nvmeBufCopyIn(NvmeBuf *pBuf, uint32_t nOffset, const void *pSrc, uint32_t nLength);
int nvmeBufCopyOut(const NvmeBuf *pBuf, uint32_t nOffset, void *pDst, uint32_t nLength);

// Copies nLength bytes from the process address nAddr into the buffer at
// nOffset, only when every source byte is readable: an unreadable source is
// EC_ARGS and leaves the buffer as it was (nothing faults).
int nvmeBufCopyFromAddress(NvmeBuf *pBuf, uint32_t nOffset, uint64_t nAddr, uint32_t nLength);

int nvmeBufFill8(NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength, uint8_t nByte);
// The pattern's 4 bytes (most significant first when big-endian) repeated
// from the first byte of the range whatever its alignment.
int nvmeBufFill32(NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength, uint32_t nPattern, int64_t nEndian);
// Bytes from rand(): a leading byte at an odd address from one value, then
// pairs of bytes from the low 16 bits of one value (little-endian), a last
// single byte from one value.
int nvmeBufFillRand(NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength);

// XOR of ceil(nLength / 8) little-endian 64-bit words read from nOffset;
// bytes past the buffer's end count as 0. 0 for a length of 0.
int nvmeBufChecksum64(const NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength, uint64_t *pSum);

// The automatic checksum of write-type commands: for each of nBlocks blocks
// of nBlockSize bytes from the start of the buffer, bytes 0-7 receive the
// checksum (as above, little-endian) of the block's bytes 8 to the end.
// EC_DMA_RANGE (nothing written) when the blocks exceed the buffer.
int nvmeBufStampChecksums(NvmeBuf *pBuf, uint32_t nBlockSize, uint32_t nBlocks);

// *pDiffer = 0 when the first nLength bytes of both buffers are equal, else
// 1. EC_DMA_RANGE when nLength exceeds either buffer.
int nvmeBufCompare(const NvmeBuf *pA, const NvmeBuf *pB, uint32_t nLength, int *pDiffer);

} // namespace kxmnvme
