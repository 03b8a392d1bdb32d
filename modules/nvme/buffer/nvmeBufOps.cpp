#include "nvmeBufOps.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kxmnvme {

namespace {

bool isHmb(const NvmeBuf *p) { return p->nBufType == NVME_BUF_HMB; }

// The data of a range that was checked, or null (HMB, or no data block).
uint8_t *rangeData(const NvmeBuf *p, uint32_t nOffset)
{
    uint8_t *pData = nvmeBufData(p);
    return pData ? pData + nOffset : nullptr;
}

// The data of [nOffset, nOffset + nLength) of a buffer: EC_NONE with *pp
// set, or null for an HMB buffer or one without a data block (nothing to
// do); EC_ARGS without a buffer, EC_DMA_RANGE outside it.
int dataRange(const NvmeBuf *pBuf, uint32_t nOffset, uint64_t nLength, uint8_t **pp)
{
    *pp = nullptr;
    if (!pBuf)
        return EC_ARGS;
    if (isHmb(pBuf))
        return EC_NONE;
    if (!nvmeBufInRange(pBuf, nOffset, nLength))
        return EC_DMA_RANGE;
    *pp = rangeData(pBuf, nOffset);
    return EC_NONE;
}

// Copies nLen bytes from the process address nAddr to pDst when every byte
// of the source is readable; false otherwise. The kernel reads the source,
// so an unmapped or unreadable address is an error code, not a fault.
bool readOwnMemory(uint64_t nAddr, uint8_t *pOut, size_t nLen)
{
    if (nLen == 0)
        return true;
    if (nAddr + nLen < nAddr)
        return false;
    size_t nDone = 0;
    while (nDone < nLen) {
        iovec local{pOut + nDone, nLen - nDone};
        iovec remote{reinterpret_cast<void *>(static_cast<uintptr_t>(nAddr + nDone)), nLen - nDone};
        const ssize_t n = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
        if (n > 0) {
            nDone += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == ENOSYS || errno == EPERM))
            break;   // not allowed here: go through a pipe below
        return false;
    }
    if (nDone == nLen)
        return true;

    // write() from an unreadable source fails with EFAULT.
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    bool bOk = true;
    while (bOk && nDone < nLen) {
        const size_t nChunk = std::min<size_t>(nLen - nDone, 4096);   // always fits the empty pipe
        const ssize_t nw = write(fds[1], reinterpret_cast<const void *>(static_cast<uintptr_t>(nAddr + nDone)), nChunk);
        if (nw <= 0)
            bOk = false;
        else if (read(fds[0], pOut + nDone, static_cast<size_t>(nw)) != nw)
            bOk = false;
        else
            nDone += static_cast<size_t>(nw);
    }
    close(fds[0]);
    close(fds[1]);
    return bOk;
}

} // namespace

bool nvmeBufInRange(const NvmeBuf *pBuf, uint64_t nOffset, uint64_t nLength)
{
    return pBuf && nOffset <= pBuf->nTtlSize && nLength <= pBuf->nTtlSize - nOffset;
}

int nvmeBufReadNum(const NvmeBuf *pBuf, uint32_t nOffset, unsigned nBytes, int64_t nEndian, uint64_t *pValue)
{
    *pValue = 0;
    if (!pBuf || nBytes == 0 || nBytes > 8)
        return EC_ARGS;
    uint8_t *p = nullptr;
    if (int nErr = dataRange(pBuf, nOffset, nBytes, &p); nErr != EC_NONE || !p)
        return nErr;
    uint64_t v = 0;
    for (unsigned i = 0; i < nBytes; i++) {
        const unsigned nAt = nEndian ? nBytes - 1 - i : i;   // most significant first
        v = (v << 8) | p[nAt];
    }
    *pValue = v;
    return EC_NONE;
}

int nvmeBufWriteNum(NvmeBuf *pBuf, uint32_t nOffset, unsigned nBytes, int64_t nEndian, uint64_t nValue)
{
    if (!pBuf || nBytes == 0 || nBytes > 8)
        return EC_ARGS;
    uint8_t *p = nullptr;
    if (int nErr = dataRange(pBuf, nOffset, nBytes, &p); nErr != EC_NONE || !p)
        return nErr;
    for (unsigned i = 0; i < nBytes; i++) {
        const uint8_t nByte = static_cast<uint8_t>(nValue >> (8 * i));   // least significant first
        p[nEndian ? i : nBytes - 1 - i] = nByte;
    }
    return EC_NONE;
}

int nvmeBufCopyIn(NvmeBuf *pBuf, uint32_t nOffset, const void *pSrc, uint32_t nLength)
{
    uint8_t *p = nullptr;
    if (int nErr = dataRange(pBuf, nOffset, nLength, &p); nErr != EC_NONE || !p)
        return nErr;
    if (p && nLength)
        std::memcpy(p, pSrc, nLength);
    return EC_NONE;
}

int nvmeBufCopyOut(const NvmeBuf *pBuf, uint32_t nOffset, void *pDst, uint32_t nLength)
{
    uint8_t *p = nullptr;
    if (int nErr = dataRange(pBuf, nOffset, nLength, &p); nErr != EC_NONE || !p)
        return nErr;
    if (p && nLength)
        std::memcpy(pDst, p, nLength);
    return EC_NONE;
}

int nvmeBufCopyFromAddress(NvmeBuf *pBuf, uint32_t nOffset, uint64_t nAddr, uint32_t nLength)
{
    uint8_t *p = nullptr;
    if (int nErr = dataRange(pBuf, nOffset, nLength, &p); nErr != EC_NONE || !p)
        return nErr;
    if (!p || nLength == 0)
        return EC_NONE;
    // Read into a side buffer first, so that a refused source leaves the
    // data as it was.
    auto *pTmp = new (std::nothrow) uint8_t[nLength];
    if (!pTmp)
        return EC_NO_MEM;
    const bool bOk = readOwnMemory(nAddr, pTmp, nLength);
    if (bOk)
        std::memcpy(p, pTmp, nLength);
    delete[] pTmp;
    return bOk ? EC_NONE : EC_ARGS;
}

int nvmeBufFill8(NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength, uint8_t nByte)
{
    uint8_t *p = nullptr;
    if (int nErr = dataRange(pBuf, nOffset, nLength, &p); nErr != EC_NONE || !p)
        return nErr;
    if (p && nLength)
        std::memset(p, nByte, nLength);
    return EC_NONE;
}

int nvmeBufFill32(NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength, uint32_t nPattern, int64_t nEndian)
{
    uint8_t *p = nullptr;
    if (int nErr = dataRange(pBuf, nOffset, nLength, &p); nErr != EC_NONE || !p)
        return nErr;
    if (!p)
        return EC_NONE;
    uint8_t seq[4];
    for (int i = 0; i < 4; i++) {
        const uint8_t nByte = static_cast<uint8_t>(nPattern >> (8 * i));
        seq[nEndian ? i : 3 - i] = nByte;
    }
    for (uint32_t i = 0; i < nLength; i++)
        p[i] = seq[i % 4];
    return EC_NONE;
}

int nvmeBufFillRand(NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength)
{
    uint8_t *p = nullptr;
    if (int nErr = dataRange(pBuf, nOffset, nLength, &p); nErr != EC_NONE || !p)
        return nErr;
    if (!p)
        return EC_NONE;
    uint32_t i = 0;
    if (nLength && (reinterpret_cast<uintptr_t>(p) & 1)) {
        p[i++] = static_cast<uint8_t>(std::rand());
    }
    for (; nLength - i >= 2; i += 2) {
        const unsigned v = static_cast<unsigned>(std::rand());
        p[i] = static_cast<uint8_t>(v);
        p[i + 1] = static_cast<uint8_t>(v >> 8);
    }
    if (i < nLength)
        p[i] = static_cast<uint8_t>(std::rand());
    return EC_NONE;
}

int nvmeBufChecksum64(const NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength, uint64_t *pSum)
{
    *pSum = 0;
    if (!pBuf)
        return EC_ARGS;
    if (isHmb(pBuf))
        return EC_NONE;
    if (!nvmeBufInRange(pBuf, nOffset, nLength))
        return EC_DMA_RANGE;
    const uint8_t *pData = nvmeBufData(pBuf);
    if (!pData || nLength == 0)
        return EC_NONE;
    const uint64_t nSize = pBuf->nTtlSize;
    const uint64_t nWords = (static_cast<uint64_t>(nLength) + 7) / 8;
    uint64_t nSum = 0;
    for (uint64_t w = 0; w < nWords; w++) {
        const uint64_t nAt = nOffset + 8 * w;
        uint64_t v = 0;
        for (int i = 7; i >= 0; i--) {
            const uint64_t nByteAt = nAt + i;
            v = (v << 8) | (nByteAt < nSize ? pData[nByteAt] : 0);   // nothing past the end is read
        }
        nSum ^= v;
    }
    *pSum = nSum;
    return EC_NONE;
}

int nvmeBufStampChecksums(NvmeBuf *pBuf, uint32_t nBlockSize, uint32_t nBlocks)
{
    if (!pBuf)
        return EC_ARGS;
    if (!nvmeBufInRange(pBuf, 0, static_cast<uint64_t>(nBlockSize) * nBlocks))
        return EC_DMA_RANGE;
    for (uint32_t i = 0; nBlockSize > 8 && i < nBlocks; i++) {
        uint64_t nSum = 0;
        nvmeBufChecksum64(pBuf, i * nBlockSize + 8, nBlockSize - 8, &nSum);
        nvmeBufWriteNum(pBuf, i * nBlockSize, 8, 1, nSum);
    }
    return EC_NONE;
}

int nvmeBufCompare(const NvmeBuf *pA, const NvmeBuf *pB, uint32_t nLength, int *pDiffer)
{
    *pDiffer = 0;
    if (!pA || !pB)
        return EC_ARGS;
    if (isHmb(pA) || isHmb(pB))
        return EC_NONE;
    if (!nvmeBufInRange(pA, 0, nLength) || !nvmeBufInRange(pB, 0, nLength))
        return EC_DMA_RANGE;
    const uint8_t *a = nvmeBufData(pA);
    const uint8_t *b = nvmeBufData(pB);
    if (a && b && nLength)
        *pDiffer = std::memcmp(a, b, nLength) != 0 ? 1 : 0;
    return EC_NONE;
}

} // namespace kxmnvme
