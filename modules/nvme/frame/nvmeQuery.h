// The shape shared by the query functions: a controller handle (tested,
// optionally required to be initialised), then one value of it.
#pragma once
#include "nvmeArgs.h"

namespace kxmnvme {

enum class NvmeInitNeed { None, Logged, Silent };

template <typename Get>
int32_t nvmeCntlQuery(const char *szName, uint32_t nArgs, krvValue_t *pArgs, krvValue_t *pResult, char *szMsg,
                      NvmeInitNeed need, Get get)
{
    NvmeCall c(szName, nArgs, pArgs, pResult, szMsg);
    NvmeCntl *pCntl = c.cntl(2);
    if (!pCntl || (need != NvmeInitNeed::None && !c.inited(pCntl, need == NvmeInitNeed::Logged)))
        return c.fail(-1);
    return c.ok(get(pCntl));
}

} // namespace kxmnvme
