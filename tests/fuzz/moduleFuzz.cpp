// libFuzzer target: one input is the content of a module file, put through
// the check that runs before the system loader may map it. The check must
// never read outside the image, whatever its headers claim.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exthost/krvModuleCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    // A copy of exactly nSize bytes, so the sanitizer sees any read past it.
    uint8_t *pCopy = static_cast<uint8_t *>(malloc(nSize ? nSize : 1));
    if (pCopy == nullptr)
        return 0;
    if (nSize)
        memcpy(pCopy, pData, nSize);
    krvCheckModuleImage(pCopy, nSize);
    free(pCopy);
    return 0;
}
