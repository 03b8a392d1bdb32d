#include "nvmeOutput.h"

#include "nvmeHost.h"

namespace kxmnvme {

NvmeTextOut::Sink nvmeConsoleAndFile(void *pFile)
{
    return [pFile](const char *sz, size_t n) {
        g_host.pfnPrintf("%s", sz);
        if (pFile)
            g_host.pfnFwrite(sz, 1, n, pFile);
    };
}

} // namespace kxmnvme
