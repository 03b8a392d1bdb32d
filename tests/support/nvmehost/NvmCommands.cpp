#include "NvmCommands.h"

#include "nvmewire/Identify.h"

#include <cstring>

namespace nvmehost {

using namespace nvmewire;

bool readNamespaceInfo(HostController &ctl, uint32_t nNsid, NamespaceInfo *pOut, Completion *pStatus)
{
    IdNs id;
    std::memset(&id, 0, sizeof id);
    Completion c = ctl.identify(CNS_NS, nNsid, 0, &id);
    if (pStatus)
        *pStatus = c;
    if (!c.ok())
        return false;
    NamespaceInfo n;
    n.nNsid = nNsid;
    n.nSize = nsze(id);
    n.nCapacity = ncap(id);
    n.nFormatIndex = formatIndex(id);
    n.bExtended = extendedLba(id);
    n.nDlfeat = id.dlfeat;
    for (unsigned i = 0; i <= nlbaf(id) && i < 64; ++i)
        n.formats.push_back({lbafLbads(id, i) < 32 ? 1u << lbafLbads(id, i) : 0u, lbafMs(id, i)});
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
    if (!ctl.identify(CNS_NS_ACTIVE_LIST, 0, 0, aList).ok())
        return v;
    for (uint32_t n : aList) {
        if (n == 0)
            break;
        v.push_back(n);
    }
    return v;
}

Sqe makeRw(uint8_t nOpcode, uint32_t nNsid, uint64_t nSlba, uint32_t nBlocks)
{
    Sqe c = Sqe::make(nOpcode, nNsid);
    c.setCdw10(uint32_t(nSlba));
    c.setCdw11(uint32_t(nSlba >> 32));
    c.setCdw12((nBlocks - 1) & 0xFFFF);
    return c;
}

Completion formatNamespace(HostController &ctl, uint32_t nNsid, uint32_t nFormat, bool bExtendedMeta, int nTimeoutMs)
{
    Sqe c = Sqe::make(ADMIN_FORMAT_NVM, nNsid);
    c.setCdw10((nFormat & 0x0F) | (bExtendedMeta ? 1u << 4 : 0u) | ((nFormat & 0x30) << 8));
    return ctl.admin(c, nTimeoutMs);
}

} // namespace nvmehost
