#include "PrpBuilder.h"

#include "HostController.h"

#include <cstring>

namespace nvmehost {

using namespace nvmewire;

bool PrpBuilder::build(Sqe &cmd, uint64_t nBus, size_t nLength, std::string *pErr, size_t nFirstListOffset)
{
    vLists.clear();
    const size_t nPage = ctl.pageSize();
    cmd.setPsdt(PSDT_PRP);
    cmd.setPrp1(nBus);
    cmd.setPrp2(0);
    size_t nFirst = nPage - size_t(nBus % nPage);
    if (nLength <= nFirst)
        return true;
    size_t nRest = nLength - nFirst;
    uint64_t nNext = nBus + nFirst;     // page aligned from here on
    if (nRest <= nPage) {
        cmd.setPrp2(nNext);
        return true;
    }
    size_t nEntries = (nRest + nPage - 1) / nPage;
    if (nFirstListOffset % 8 != 0 || nFirstListOffset + 16 > nPage) {
        if (pErr)
            *pErr = "PRP list offset must be 8-byte aligned and leave room for two entries";
        return false;
    }
    size_t nOffset = nFirstListOffset;
    uint64_t *pSlot = nullptr;
    size_t nFree = 0;
    uint64_t *pChainSlot = nullptr;     // where the next list page's address goes
    for (size_t i = 0; i < nEntries; ++i) {
        if (nFree == 0) {
            DmaMemory page;
            if (!page.allocate(ctl.platform(), ctl.device(), nPage, nPage, pErr))
                return false;
            uint64_t nListBus = page.bus() + nOffset;
            if (pChainSlot)
                *pChainSlot = nListBus;
            else
                cmd.setPrp2(nListBus);
            pSlot = reinterpret_cast<uint64_t *>(page.host() + nOffset);
            nFree = (nPage - nOffset) / 8;
            nOffset = 0;
            vLists.push_back(std::move(page));
            pChainSlot = nullptr;
        }
        // Keep the last slot of a page for the chain pointer when more
        // entries follow.
        *pSlot++ = nNext + uint64_t(i) * nPage;
        --nFree;
        if (nFree == 1 && i + 2 < nEntries) {
            pChainSlot = pSlot;
            nFree = 0;
        }
    }
    return true;
}

bool SglBuilder::build(Sqe &cmd, const std::vector<SglDesc> &vData, size_t nPerSegment,
                       std::string *pErr)
{
    vSegments.clear();
    cmd.setPsdt(PSDT_SGL_MPTR_ADDRESS);
    if (vData.empty()) {
        if (pErr)
            *pErr = "an SGL needs at least one descriptor";
        return false;
    }
    if (vData.size() == 1) {
        cmd.setSgl1(vData[0]);
        return true;
    }
    if (nPerSegment < 2)
        nPerSegment = 2;
    // Each segment but the last ends with a descriptor for the next one.
    size_t i = 0;
    SglDesc *pLink = nullptr;
    SglDesc first{};
    while (i < vData.size()) {
        size_t nLeft = vData.size() - i;
        bool bLast = nLeft <= nPerSegment;
        size_t nHere = bLast ? nLeft : nPerSegment - 1;
        size_t nDesc = bLast ? nHere : nHere + 1;
        DmaMemory seg;
        if (!seg.allocate(ctl.platform(), ctl.device(), nDesc * 16, 16, pErr))
            return false;
        auto *pDesc = reinterpret_cast<SglDesc *>(seg.host());
        for (size_t k = 0; k < nHere; ++k)
            pDesc[k] = vData[i + k];
        SglDesc link = SglDesc::make(bLast ? SGL_LAST_SEGMENT : SGL_SEGMENT, seg.bus(),
                                                 uint32_t(nDesc * 16));
        if (pLink)
            *pLink = link;
        else
            first = link;
        pLink = bLast ? nullptr : &pDesc[nHere];
        i += nHere;
        vSegments.push_back(std::move(seg));
    }
    cmd.setSgl1(first);
    return true;
}

} // namespace nvmehost
