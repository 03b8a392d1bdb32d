// nvme::strerror, exeInit and exeDump.
#include <string>

#include "nvmeArgs.h"
#include "nvmeFuncs.h"
#include "nvmeHost.h"

namespace kxmnvme {

// strerror(code): the code's message. A code that is not an integer has no
// message either.
NVME_HANDLER(nvmeFnStrerror)
{
    NvmeCall c("strerror", nArgs, pArgs, pResult, szMsg, false);
    int64_t nCode = 0;
    if (!c.integer(1, &nCode))
        nCode = -1;
    return c.okText(nvmeStrError(nCode).c_str());
}

NVME_HANDLER(nvmeFnExeInit)
{
    NvmeCall c("exeInit", nArgs, pArgs, pResult, szMsg, false);
    return c.ok(0);
}

NVME_HANDLER(nvmeFnExeDump)
{
    NvmeCall c("exeDump", nArgs, pArgs, pResult, szMsg, false);
    return c.ok(0);
}

} // namespace kxmnvme
