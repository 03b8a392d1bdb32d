#include "nvmeBufDump.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "nvmeBufOps.h"

namespace kxmnvme {

namespace {

class Printer {
public:
    explicit Printer(NvmeTextOut &out) : m_out(out) {}
    void operator()(const char *szFormat, ...) __attribute__((format(printf, 2, 3)))
    {
        char sz[512];
        va_list ap;
        va_start(ap, szFormat);
        vsnprintf(sz, sizeof sz, szFormat, ap);
        va_end(ap);
        m_out.put("%s", sz);
    }

private:
    NvmeTextOut &m_out;
};

uint32_t word32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void describePrp(const NvmeBuf *b, Printer &pr)
{
    pr("\tPRP buffer\n");
    pr("\tnTtlSize    = %Xh\n", b->nTtlSize);
    pr("\tnSize_PRP1  = %Xh\n", b->nSize_PRP1);
    pr("\tnSize_PRP12 = %Xh\n\n", b->nSize_PRP12);
    pr("\tpVBufAddr = %ph\n", b->pVBufAddr);
    pr("\tpBufHandle= %ph\n", b->data.pHandle);
    pr("\n");
    pr("\tnPRP1Entry = %016llXh <--\n", static_cast<unsigned long long>(b->nPRP1Entry));
    pr("\tnPRP2Entry = %016llXh <--\n\n", static_cast<unsigned long long>(b->nPRP2Entry));
    pr("\tPRP2List.pVBufAddr = %ph\n", b->PRP2List.block.pHost);
    pr("\tPRP2List.pBufHandle= %ph\n", b->PRP2List.block.pHandle);
    pr("\n");
    pr("\tPRP2List.nOffset   = %Xh\n", b->PRP2List.nOffset);
    pr("\tPRP2List.nPointer  = %016llXh <--\n", static_cast<unsigned long long>(b->PRP2List.nPointer));
    if (!b->PRP2List.block.pHost)
        return;
    uint64_t nAt = 0, nValue = 0;
    for (uint32_t j = 0; nvmeBufPrpListEntry(b, j, &nAt, &nValue); j++) {
        pr("\t\t[%llX] %016llX  (entry %d)\n", static_cast<unsigned long long>(nAt),
           static_cast<unsigned long long>(nValue), static_cast<int>(j));
        if (nValue == 0)
            break;
    }
}

void describeSgl(const NvmeBuf *b, Printer &pr)
{
    pr("\tSGL buffer\n");
    pr("\tnBufType       = %d\n", static_cast<int>(b->nBufType));
    pr("\tbVAContinuous  = %d\n", static_cast<int>(b->bVAContinuous));
    pr("\tnTtlSize       = %d\n", static_cast<int>(b->nTtlSize));
    pr("\tpVBufAddr      = %p\n", b->pVBufAddr);
    pr("\tcba.pBufHandle = %p\n", b->data.pHandle);
    pr("\tcba.pVA        = %p\n", b->data.pHost);
    pr("\tcba.nIOA       = %016llXh\n", static_cast<unsigned long long>(b->data.nBusAddr));
    pr("\tcba.nSize      = %Xh\n\n", static_cast<unsigned>(b->data.nSize));
    pr("\t-------- SGL1 entry begin --------\n");
    pr("\t\t%016llX        Address\n", static_cast<unsigned long long>(b->sgl.nAddress));
    const unsigned nType = b->sgl.nIdentifier >> 4;
    const unsigned nRsvd = static_cast<unsigned>(b->sgl.aRsvd[0]) | static_cast<unsigned>(b->sgl.aRsvd[1]) << 8 |
                           static_cast<unsigned>(b->sgl.aRsvd[2]) << 16;
    pr("\t\t%X %X %06X %08X     %s SType R Length\n", nType, b->sgl.nIdentifier & 0xFu, nRsvd, b->sgl.nLength,
       nvmeSglTypeName(nType));
    pr("\t-------- SGL1 entry end --------\n");
}

void describeHmb(const NvmeBuf *b, Printer &pr)
{
    pr("\tHMB buffer\n");
    pr("\tnBufType                 = %d\n", static_cast<int>(b->nBufType));
    pr("\tnTtlSize_inBytes         = %Xh\n", b->nTtlSize);
    pr("\tnTtlSize_inPages         = %Xh\n", b->nTtlSize_inPages);
    pr("\tDescriptorListEntryCount = %d\n", static_cast<int>(b->DescriptorListEntryCount));
    pr("\tDescriptorListPhyAddr    = %llXh\n", static_cast<unsigned long long>(b->DescriptorListPhyAddr));
    pr("\tEntries:\n");
    NvmeHmbDescEntry e;
    for (uint32_t i = 0; nvmeBufHmbEntry(b, i, &e); i++) {
        pr("\t  [%03d].BufAddr = %llXh\n", static_cast<int>(i), static_cast<unsigned long long>(e.nBufAddr));
        pr("\t  [%03d].nSize   = %Xh (pages)\n", static_cast<int>(i), e.nSize);
    }
}

} // namespace

const char *nvmeSglTypeName(unsigned nType)
{
    switch (nType) {
    case NVME_SGL_DATA_BLOCK:
        return "SGLDataBlockDescriptor";
    case NVME_SGL_BIT_BUCKET:
        return "SGLBitBucketDescriptor";
    case NVME_SGL_SEGMENT:
        return "SGLSegmentDescriptor";
    case NVME_SGL_LAST_SEGMENT:
        return "SGLLastSegmentDescriptor";
    default:
        return "UnknownType";
    }
}

int nvmeBufHexDump(const NvmeBuf *pBuf, uint32_t nOffset, uint32_t nLength, NvmeTextOut &out)
{
    if (!pBuf)
        return EC_ARGS;
    if (pBuf->nBufType == NVME_BUF_HMB)
        return EC_NONE;
    if (!nvmeBufInRange(pBuf, nOffset, nLength))
        return EC_DMA_RANGE;
    const uint8_t *pData = nvmeBufData(pBuf);
    if (!pData)
        return EC_NONE;

    const uint64_t nStart = nOffset;
    const uint64_t nEnd = nStart + nLength;
    uint64_t nLine = nStart & ~uint64_t{15};
    std::string s;
    char sz[16];
    while (nLine < nEnd) {
        // Fold a long run of one 32-bit word that began at least two lines
        // back into a single line.
        if (nLine >= nStart + 32 && nEnd - nLine > 288) {
            const uint64_t nFrom = nLine - 32;
            const uint32_t w = word32(pData + nFrom);
            uint64_t nCount = 0;
            for (uint64_t at = nFrom; at + 4 <= nEnd && word32(pData + at) == w; at += 4)
                nCount++;
            nCount &= ~uint64_t{3};
            if (nCount >= 64) {
                s.clear();
                snprintf(sz, sizeof sz, " %07X:", static_cast<unsigned>(nLine));
                s += sz;
                for (int i = 0; i < 4; i++) {
                    snprintf(sz, sizeof sz, " %02X", pData[nLine + i]);
                    s += sz;
                }
                s += "  repeats ...\n";
                out.put("%s", s.c_str());
                nLine += nCount * 4 - 32;
                continue;
            }
        }
        s.clear();
        snprintf(sz, sizeof sz, " %07X:", static_cast<unsigned>(nLine));
        s += sz;
        for (int i = 0; i < 16; i++) {
            const uint64_t at = nLine + i;
            if (at >= nStart && at < nEnd) {
                snprintf(sz, sizeof sz, " %02X", pData[at]);
                s += sz;
            } else {
                s += "   ";
            }
            if (i == 3 || i == 11)
                s += " ";
            else if (i == 7)
                s += "  ";
        }
        s += "    ";
        for (int i = 0; i < 16; i++) {
            const uint64_t at = nLine + i;
            if (at >= nStart && at < nEnd) {
                const uint8_t c = pData[at];
                s += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
            } else {
                s += ' ';
            }
        }
        s += "\n";
        out.put("%s", s.c_str());
        nLine += 16;
    }
    return EC_NONE;
}

void nvmeBufDescribe(const NvmeBuf *pBuf, NvmeTextOut &out)
{
    if (!pBuf)
        return;
    Printer pr(out);
    switch (pBuf->nBufType) {
    case NVME_BUF_PRP:
        describePrp(pBuf, pr);
        break;
    case NVME_BUF_SGL:
        describeSgl(pBuf, pr);
        break;
    case NVME_BUF_HMB:
        describeHmb(pBuf, pr);
        break;
    default:
        break;
    }
}

} // namespace kxmnvme
