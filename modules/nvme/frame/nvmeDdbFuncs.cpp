// The ddb script functions: allocate, free, read, write, fill, checksum,
// compare, copy into and dump DMA data buffers.
//
// Every function takes the error-code variable first and a BufHandle second
// (ddbAlloc: a CntlHandle). Offsets and lengths are unsigned 32-bit byte
// counts: a negative one, or a value that is not an integer, is EC_ARGS; one
// above 0xFFFFFFFF is out of the buffer (EC_DMA_RANGE), as is any range that
// passes the buffer's end.
#include "nvmeDdbFuncs.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "nvmeArgs.h"
#include "nvmeBufDump.h"
#include "nvmeBufEngine.h"
#include "nvmeBufOps.h"
#include "nvmeHost.h"
#include "nvmeOutput.h"

namespace kxmnvme {

namespace {

// An unsigned 32-bit offset or length at nPos; false with the error recorded.
bool countArg(NvmeCall &c, int nPos, uint32_t *pOut)
{
    int64_t n = 0;
    if (!c.integer(nPos, &n))
        return false;
    if (n < 0) {
        c.setError(EC_ARGS);
        return false;
    }
    if (n > 0xFFFFFFFFll) {
        c.setError(EC_DMA_RANGE);
        return false;
    }
    *pOut = static_cast<uint32_t>(n);
    return true;
}

bool isHmb(const NvmeBuf *p) { return p->nBufType == NVME_BUF_HMB; }

// Signed value of the low nBytes bytes.
int64_t signExtend(uint64_t v, unsigned nBytes)
{
    const unsigned nShift = 64 - 8 * nBytes;
    return static_cast<int64_t>(v << nShift) >> nShift;
}

// ddbRead<N>: 3 offset [, 4 endian].
int32_t readNum(const char *szFunc, uint32_t n, krvValue_t *a, krvValue_t *r, char *m, unsigned nBytes, bool bSigned)
{
    NvmeCall c(szFunc, n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    uint32_t nOff = 0;
    int64_t nEndian = 0;
    if (!countArg(c, 3, &nOff))
        return c.fail(0);
    if (nBytes > 1 && !c.integer(4, &nEndian))
        return c.fail(0);
    if (isHmb(b))
        return c.ok(0);
    uint64_t v = 0;
    const int rc = nvmeBufReadNum(b, nOff, nBytes, nEndian, &v);
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(bSigned ? signExtend(v, nBytes) : static_cast<int64_t>(v));
}

// ddbWrite<N>: 3 offset, [4 endian,] value.
int32_t writeNum(const char *szFunc, uint32_t n, krvValue_t *a, krvValue_t *r, char *m, unsigned nBytes)
{
    NvmeCall c(szFunc, n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    uint32_t nOff = 0;
    int64_t nEndian = 0, nValue = 0;
    if (!countArg(c, 3, &nOff))
        return c.fail(0);
    const int nValuePos = nBytes > 1 ? 5 : 4;
    if (nBytes > 1 && !c.integer(4, &nEndian))
        return c.fail(0);
    if (!c.integer(nValuePos, &nValue))
        return c.fail(0);
    if (isHmb(b))
        return c.ok(0);
    const int rc = nvmeBufWriteNum(b, nOff, nBytes, nEndian, static_cast<uint64_t>(nValue));
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(1);
}

// The range of a fill: the whole buffer, the rest from an offset, or an
// offset and a length (a length below 1 is EC_ARGS). nPos is the position
// of the offset.
bool fillRange(NvmeCall &c, const NvmeBuf *b, int nPos, uint32_t *pOff, uint32_t *pLen)
{
    *pOff = 0;
    *pLen = b->nTtlSize;
    if (!c.has(nPos))
        return true;
    if (!countArg(c, nPos, pOff))
        return false;
    if (!c.has(nPos + 1)) {
        if (*pOff >= b->nTtlSize) {
            c.setError(EC_DMA_RANGE);
            return false;
        }
        *pLen = b->nTtlSize - *pOff;
        return true;
    }
    if (!countArg(c, nPos + 1, pLen))
        return false;
    if (*pLen < 1) {
        c.setError(EC_ARGS);
        return false;
    }
    if (!nvmeBufInRange(b, *pOff, *pLen)) {
        c.setError(EC_DMA_RANGE);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- handlers

int32_t ddbAlloc(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbAlloc", n, a, r, m);
    NvmeCntl *pCntl = c.cntl(2);
    if (!pCntl)
        return c.failHandle();
    int64_t nType = 0, nSize = 0;
    if (!c.integer(3, &nType) || !c.integer(4, &nSize))
        return c.failHandle();
    if (nType < 0 || nType >= 3) {
        c.setError(EC_BUF_TYPE);
        return c.failHandle();
    }
    if (nSize <= 0 || nSize > 0x7FFFFFFF) {
        c.setError(EC_DMA_SIZE);
        return c.failHandle();
    }
    const uint32_t nPageSize = pCntl->nPageSize;
    if (nPageSize == 0) {
        // The memory page size comes with the controller's initialisation.
        c.engine().log.log("Error %d: %s: function (funcHandle:%p) is not inited\n", EC_NOT_INITED, c.name(),
                           static_cast<void *>(pCntl));
        c.setError(EC_NOT_INITED);
        return c.failHandle();
    }
    void *pInfo = nullptr;
    if (nType == NVME_BUF_HMB) {
        if (nSize % nPageSize != 0) {
            c.setError(EC_HMB_SIZE);
            return c.failHandle();
        }
        if (c.has(5) && !(pInfo = c.structOf(5, "HMBInfo_t")))
            return c.failHandle();
    } else if (c.has(5)) {
        c.setError(EC_TOO_MANY_ARGS);
        return c.failHandle();
    }
    NvmeBuf *b = nullptr;
    const int rc = nvmeBufAlloc(c.engine(), pCntl, static_cast<int>(nType), static_cast<uint32_t>(nSize), &b);
    if (rc != EC_NONE) {
        c.setError(rc);
        return c.failHandle();
    }
    if (pInfo) {
        c.setMember(pInfo, "nPageSize", nPageSize);
        c.setMember(pInfo, "nTotalSize", nSize);
        c.setMember(pInfo, "nDescpListPhyAddr", static_cast<int64_t>(b->DescriptorListPhyAddr));
        c.setMember(pInfo, "nDescpCount", b->DescriptorListEntryCount);
    }
    return c.okHandle(b);
}

int32_t ddbFree(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbFree", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    const int rc = nvmeBufFree(c.engine(), b);
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(1);
}

int32_t ddbSize(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbSize", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    return c.ok(b->nTtlSize);
}

int32_t ddbCalculateChecksum64(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbCalculateChecksum64", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    uint32_t nOff = 0, nLen = 0;
    if (!countArg(c, 3, &nOff) || !countArg(c, 4, &nLen))
        return c.fail(0);
    if (isHmb(b))
        return c.ok(0);
    uint64_t nSum = 0;
    const int rc = nvmeBufChecksum64(b, nOff, nLen, &nSum);
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(static_cast<int64_t>(nSum));
}

int32_t ddbReadASCIIString(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbReadASCIIString", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(-1);
    krvValue_t *pText = c.refCell(3);
    if (!pText)
        return c.fail(EC_ARGS, -1);
    uint32_t nOff = 0, nLen = 0;
    if (!countArg(c, 4, &nOff) || !countArg(c, 5, &nLen))
        return c.fail(-1);
    if (nLen >= 256)
        return c.fail(EC_READ_LEN, -1);
    if (isHmb(b))
        return c.ok(0);
    char sz[260] = {};
    const int rc = nvmeBufCopyOut(b, nOff, sz, nLen);
    if (rc != EC_NONE)
        return c.fail(rc, -1);
    g_host.pfnSetStr(pText, sz);
    return c.ok(static_cast<int64_t>(strlen(sz)));
}

int32_t ddbWriteASCIIString(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbWriteASCIIString", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(-1);
    uint32_t nOff = 0;
    if (!countArg(c, 3, &nOff))
        return c.fail(-1);
    const char *sz = c.text(4);
    if (!sz)
        return c.fail(-1);
    if (isHmb(b))
        return c.ok(0);
    const size_t nLen = strlen(sz);
    if (!nvmeBufInRange(b, nOff, nLen))
        return c.fail(EC_DMA_RANGE, -1);
    const int rc = nvmeBufCopyIn(b, nOff, sz, static_cast<uint32_t>(nLen));
    if (rc != EC_NONE)
        return c.fail(rc, -1);
    return c.ok(static_cast<int64_t>(nLen));
}

int32_t ddbReadInt8(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return readNum("ddbReadInt8", n, a, r, m, 1, true); }
int32_t ddbReadUInt8(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return readNum("ddbReadUInt8", n, a, r, m, 1, false); }
int32_t ddbWriteInt8(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return writeNum("ddbWriteInt8", n, a, r, m, 1); }
int32_t ddbWriteUInt8(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return writeNum("ddbWriteUInt8", n, a, r, m, 1); }
int32_t ddbReadInt16(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return readNum("ddbReadInt16", n, a, r, m, 2, true); }
int32_t ddbReadUInt16(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return readNum("ddbReadUInt16", n, a, r, m, 2, false); }
int32_t ddbWriteInt16(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return writeNum("ddbWriteInt16", n, a, r, m, 2); }
int32_t ddbWriteUInt16(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return writeNum("ddbWriteUInt16", n, a, r, m, 2); }
int32_t ddbReadInt32(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return readNum("ddbReadInt32", n, a, r, m, 4, true); }
int32_t ddbReadUInt32(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return readNum("ddbReadUInt32", n, a, r, m, 4, false); }
int32_t ddbWriteInt32(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return writeNum("ddbWriteInt32", n, a, r, m, 4); }
int32_t ddbWriteUInt32(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return writeNum("ddbWriteUInt32", n, a, r, m, 4); }
int32_t ddbReadUInt48(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return readNum("ddbReadUInt48", n, a, r, m, 6, false); }
int32_t ddbReadInt64(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return readNum("ddbReadInt64", n, a, r, m, 8, true); }
int32_t ddbWriteInt64(uint32_t n, krvValue_t *a, krvValue_t *r, char *m) { return writeNum("ddbWriteInt64", n, a, r, m, 8); }

int32_t ddbFillPat8(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbFillPat8", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    int64_t nByte = 0;
    if (!c.integer(3, &nByte))
        return c.fail(0);
    uint32_t nOff = 0, nLen = 0;
    if (!fillRange(c, b, 4, &nOff, &nLen))
        return c.fail(0);
    if (isHmb(b))
        return c.ok(0);
    const int rc = nvmeBufFill8(b, nOff, nLen, static_cast<uint8_t>(nByte));
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(nLen);
}

int32_t ddbFillPat32(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbFillPat32", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    int64_t nPattern = 0, nEndian = 0;
    if (!c.integer(3, &nPattern) || !c.integer(4, &nEndian))
        return c.fail(0);
    uint32_t nOff = 0, nLen = 0;
    if (!fillRange(c, b, 5, &nOff, &nLen))
        return c.fail(0);
    if (isHmb(b))
        return c.ok(0);
    const int rc = nvmeBufFill32(b, nOff, nLen, static_cast<uint32_t>(nPattern), nEndian);
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(nLen);
}

int32_t ddbFillPatRand(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbFillPatRand", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    uint32_t nOff = 0, nLen = 0;
    if (!fillRange(c, b, 3, &nOff, &nLen))
        return c.fail(0);
    if (isHmb(b))
        return c.ok(0);
    const int rc = nvmeBufFillRand(b, nOff, nLen);
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(nLen);
}

int32_t ddbCopyFromMemAddr(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbCopyFromMemAddr", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    uint32_t nOff = 0, nLen = 0;
    int64_t nAddr = 0;
    if (!countArg(c, 3, &nOff) || !c.integer(4, &nAddr) || !countArg(c, 5, &nLen))
        return c.fail(0);
    const int rc = nvmeBufCopyFromAddress(b, nOff, static_cast<uint64_t>(nAddr), nLen);
    if (rc == EC_ARGS)
        c.msg("%s: %u bytes at address 0x%llX are not readable", c.name(), nLen,
              static_cast<unsigned long long>(nAddr));
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(isHmb(b) ? 0 : nLen);
}

int32_t ddbDump(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbDump", n, a, r, m);
    NvmeBuf *b = c.buf(2);
    if (!b)
        return c.fail(0);
    void *pFile = nullptr;
    if (!c.file(3, &pFile))
        return c.fail(0);
    uint32_t nOff = 0, nLen = 0;
    if (!countArg(c, 4, &nOff))
        return c.fail(0);
    if (c.has(5) && !countArg(c, 5, &nLen))
        return c.fail(0);
    if (isHmb(b))
        return c.ok(0);
    if (!c.has(5)) {
        if (nOff >= b->nTtlSize) {
            c.msg("Out of buffer size (%Xh) with offset %Xh!\n", b->nTtlSize, nOff);
            return c.fail(EC_DMA_RANGE, 0);
        }
        nLen = b->nTtlSize - nOff;
    } else if (!nvmeBufInRange(b, nOff, nLen)) {
        c.msg("Out of buffer size (%Xh) with offset = %Xh and size = %Xh!\n", b->nTtlSize, nOff, nLen);
        return c.fail(EC_DMA_RANGE, 0);
    }
    int rc;
    {
        NvmeTextOut out(nvmeConsoleAndFile(pFile));
        rc = nvmeBufHexDump(b, nOff, nLen, out);
    }
    if (pFile)
        g_host.pfnFflush(pFile);
    if (rc != EC_NONE)
        return c.fail(rc, 0);
    return c.ok(nLen);
}

int32_t ddbCompareN(uint32_t n, krvValue_t *a, krvValue_t *r, char *m)
{
    NvmeCall c("ddbCompareN", n, a, r, m);
    NvmeBuf *b1 = c.buf(2);
    if (!b1)
        return c.fail(-1);
    NvmeBuf *b2 = c.buf(3);
    if (!b2)
        return c.fail(-1);
    uint32_t nLen = 0;
    if (!countArg(c, 4, &nLen))
        return c.fail(-1);
    int nDiffer = 0;
    const int rc = nvmeBufCompare(b1, b2, nLen, &nDiffer);
    if (rc != EC_NONE)
        return c.fail(rc, -1);
    return c.ok(nDiffer);
}

constexpr uint32_t REF1 = 1u << 0;
constexpr uint32_t REF3 = 1u << 2;
constexpr uint32_t STRUCT5 = 1u << 4;

} // namespace

const NvmeFuncReg g_nvmeDdbFuncs[] = {
    {"ddbAlloc", ddbAlloc, 4, 5, REF1, 0, STRUCT5},
    {"ddbFree", ddbFree, 2, 2, REF1, 0, 0},
    {"ddbSize", ddbSize, 2, 2, REF1, 0, 0},
    {"ddbCalculateChecksum64", ddbCalculateChecksum64, 4, 4, REF1, 0, 0},
    {"ddbReadASCIIString", ddbReadASCIIString, 5, 5, REF1 | REF3, 0, 0},
    {"ddbWriteASCIIString", ddbWriteASCIIString, 4, 4, REF1, 0, 0},
    {"ddbReadInt8", ddbReadInt8, 3, 3, REF1, 0, 0},
    {"ddbReadUInt8", ddbReadUInt8, 3, 3, REF1, 0, 0},
    {"ddbWriteInt8", ddbWriteInt8, 4, 4, REF1, 0, 0},
    {"ddbWriteUInt8", ddbWriteUInt8, 4, 4, REF1, 0, 0},
    {"ddbReadInt16", ddbReadInt16, 4, 4, REF1, 0, 0},
    {"ddbReadUInt16", ddbReadUInt16, 4, 4, REF1, 0, 0},
    {"ddbWriteInt16", ddbWriteInt16, 5, 5, REF1, 0, 0},
    {"ddbWriteUInt16", ddbWriteUInt16, 5, 5, REF1, 0, 0},
    {"ddbReadInt32", ddbReadInt32, 4, 4, REF1, 0, 0},
    {"ddbReadUInt32", ddbReadUInt32, 4, 4, REF1, 0, 0},
    {"ddbWriteInt32", ddbWriteInt32, 5, 5, REF1, 0, 0},
    {"ddbWriteUInt32", ddbWriteUInt32, 5, 5, REF1, 0, 0},
    {"ddbReadUInt48", ddbReadUInt48, 4, 4, REF1, 0, 0},
    {"ddbReadInt64", ddbReadInt64, 4, 4, REF1, 0, 0},
    {"ddbWriteInt64", ddbWriteInt64, 5, 5, REF1, 0, 0},
    {"ddbFillPat8", ddbFillPat8, 3, 5, REF1, 0, 0},
    {"ddbFillPat32", ddbFillPat32, 4, 6, REF1, 0, 0},
    {"ddbFillPatRand", ddbFillPatRand, 2, 4, REF1, 0, 0},
    {"ddbCopyFromMemAddr", ddbCopyFromMemAddr, 5, 5, REF1, 0, 0},
    {"ddbDump", ddbDump, 4, 5, REF1, 0, 0},
    {"ddbCompareN", ddbCompareN, 4, 4, REF1, 0, 0},
};

const size_t g_nvmeDdbFuncCount = sizeof(g_nvmeDdbFuncs) / sizeof(g_nvmeDdbFuncs[0]);
static_assert(sizeof(g_nvmeDdbFuncs) / sizeof(g_nvmeDdbFuncs[0]) == 27, "27 ddb functions");

} // namespace kxmnvme
