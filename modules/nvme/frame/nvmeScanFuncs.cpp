// nvme::scan: the once-per-process bus scan.
#include "nvmeArgs.h"
#include "nvmeFuncs.h"
#include "nvmeScan.h"

namespace kxmnvme {

NVME_HANDLER(nvmeFnScan)
{
    NvmeCall c("scan", nArgs, pArgs, pResult, szMsg);
    const int32_t nErr = nvmeScan(c.engine());
    if (nErr != EC_NONE)
        return c.fail(nErr, 0);
    return c.ok(1);
}

} // namespace kxmnvme
