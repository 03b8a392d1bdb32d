#include "NvmCommands.h"

#include <nvme/types.h>

#include <cstring>

namespace nvmehost {

bool readNamespaceInfo(HostController &ctl, uint32_t nNsid, NamespaceInfo *pOut, Completion *pStatus)
{
    nvme_id_ns id;
    std::memset(&id, 0, sizeof id);
    Completion c = ctl.identify(0x00, nNsid, 0, &id);
    if (pStatus)
        *pStatus = c;
    if (!c.ok())
        return false;
    NamespaceInfo n;
    n.nNsid = nNsid;
    n.nSize = id.nsze;
    n.nCapacity = id.ncap;
    n.nFormatIndex = (id.flbas & 0x0F) | ((id.flbas >> 1) & 0x30);
    n.bExtended = (id.flbas >> 4) & 1;
    n.nDlfeat = id.dlfeat;
    for (unsigned i = 0; i <= id.nlbaf && i < 64; ++i)
        n.formats.push_back({1u << id.lbaf[i].ds, id.lbaf[i].ms});
    if (n.nFormatIndex >= n.formats.size() || n.formats[n.nFormatIndex].nDataSize < 512)
        return false;
    n.nBlockSize = n.formats[n.nFormatIndex].nDataSize;
    n.nMetaSize = n.formats[n.nFormatIndex].nMetaSize;
    *pOut = n;
    return true;
}

std::vector<uint32_t> activeNamespaces(HostController &ctl)
{
    uint32_t aList[1024] = {};
    std::vector<uint32_t> v;
    if (!ctl.identify(0x02, 0, 0, aList).ok())
        return v;
    for (uint32_t n : aList) {
        if (n == 0)
            break;
        v.push_back(n);
    }
    return v;
}

SqEntry makeRw(uint8_t nOpcode, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks)
{
    SqEntry c;
    c.setOpcode(nOpcode);
    c.setNsid(nNsid);
    c.dw[10] = uint32_t(nSlba);
    c.dw[11] = uint32_t(nSlba >> 32);
    c.dw[12] = (nBlocks - 1) & 0xFFFF;
    return c;
}

Completion formatNamespace(HostController &ctl, uint32_t nNsid, uint32_t nFormat, bool bExtendedMeta, int nTimeoutMs)
{
    SqEntry c;
    c.setOpcode(0x80);
    c.setNsid(nNsid);
    c.dw[10] = (nFormat & 0x0F) | (bExtendedMeta ? 1u << 4 : 0u) | ((nFormat & 0x30) << 8);
    return ctl.admin(c, nTimeoutMs);
}

} // namespace nvmehost
