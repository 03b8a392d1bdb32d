// Host services: memory, console output and the two constant slots.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "exthost/krvHostSlots.h"
#include "model/krvHostFuncs.h"

void *krvExtMalloc(size_t nSize)
{
    return malloc(nSize);
}

void krvExtFree(void *pBlock)
{
    free(pBlock);
}

// Formats the whole text (any length) and hands it to the host's output
// function; returns the number of characters, or -1 on a formatting error.
static int krvExtVPrint(int (*pfnOut)(const char *, ...), const char *szFormat, va_list ap)
{
    if (szFormat == nullptr)
        return -1;
    char szSmall[512];
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(szSmall, sizeof(szSmall), szFormat, ap);
    if (n < 0) {
        va_end(ap2);
        return -1;
    }
    if (static_cast<size_t>(n) < sizeof(szSmall)) {
        va_end(ap2);
        pfnOut("%s", szSmall);
        return n;
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(text.data(), text.size(), szFormat, ap2);
    va_end(ap2);
    pfnOut("%s", text.c_str());
    return n;
}

int krvExtPrintf(const char *szFormat, ...)
{
    va_list ap;
    va_start(ap, szFormat);
    int n = krvExtVPrint(krvHost()->pfnPrintf, szFormat, ap);
    va_end(ap);
    return n;
}

int krvExtErrPrintf(const char *szFormat, ...)
{
    va_list ap;
    va_start(ap, szFormat);
    int n = krvExtVPrint(krvHost()->pfnErrPrintf, szFormat, ap);
    va_end(ap);
    return n;
}

const char *krvExtGetSlashStr(void)
{
    return "/";
}

int krvExtGetZero(void)
{
    return 0;
}
