#include "nvmeHandle.h"

#include <mutex>

namespace kxmnvme {

namespace {

void fillHeader(NvmeHandleHdr *p, uint32_t nKind)
{
    p->pSelf = p;
    p->nSig = NVME_HANDLE_SIG;
    p->nKind = nKind;
}

NvmeHandleHdr *recordAt(NvmeHandleHdr *pFirst, size_t i, size_t nStride)
{
    return reinterpret_cast<NvmeHandleHdr *>(reinterpret_cast<char *>(pFirst) + i * nStride);
}

} // namespace

void HandleRegistry::add(NvmeHandleHdr *pFirst, uint32_t nKind, size_t nCount, size_t nStride)
{
    if (!pFirst || nCount == 0)
        return;
    if (nCount == 1)
        nStride = sizeof(NvmeHandleHdr);
    for (size_t i = 0; i < nCount; i++)
        fillHeader(recordAt(pFirst, i, nStride), nKind);
    std::unique_lock lock(m_lock);
    m_runs[reinterpret_cast<uintptr_t>(pFirst)] = Run{nCount, nStride, nKind};
}

void HandleRegistry::remove(NvmeHandleHdr *pFirst)
{
    if (!pFirst)
        return;
    Run run{};
    {
        std::unique_lock lock(m_lock);
        auto it = m_runs.find(reinterpret_cast<uintptr_t>(pFirst));
        if (it == m_runs.end())
            return;
        run = it->second;
        m_runs.erase(it);
    }
    for (size_t i = 0; i < run.nCount; i++)
        *recordAt(pFirst, i, run.nStride) = NvmeHandleHdr{};
}

uint32_t HandleRegistry::kindOf(const void *p) const
{
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    std::shared_lock lock(m_lock);
    auto it = m_runs.upper_bound(a);
    if (it == m_runs.begin())
        return NVME_KIND_NONE;
    --it;
    const uintptr_t nOff = a - it->first;
    const Run &r = it->second;
    if (nOff % r.nStride != 0 || nOff / r.nStride >= r.nCount)
        return NVME_KIND_NONE;
    return r.nKind;
}

std::vector<NvmeHandleHdr *> HandleRegistry::runsOf(uint32_t nKind) const
{
    std::vector<NvmeHandleHdr *> out;
    std::shared_lock lock(m_lock);
    for (const auto &[nAddr, run] : m_runs)
        if (run.nKind == nKind)
            out.push_back(reinterpret_cast<NvmeHandleHdr *>(nAddr));
    return out;
}

size_t HandleRegistry::runCount() const
{
    std::shared_lock lock(m_lock);
    return m_runs.size();
}

} // namespace kxmnvme
