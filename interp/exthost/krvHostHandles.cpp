// The handle test. A handle is any 64-bit value a script passes; before its
// header is read, the 16 bytes are copied out through the kernel, which
// reports an unmapped address instead of faulting.
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "exthost/krvHostSlots.h"
#include "exthost/krvHostTable.h"

// Copies the header at pValue into *pHdr; false when it is not readable.
static bool krvReadHeader(const void *pValue, krvHandleHdr_t *pHdr)
{
    struct iovec local = {pHdr, sizeof(*pHdr)};
    struct iovec remote = {const_cast<void *>(pValue), sizeof(*pHdr)};
    ssize_t n = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (n == static_cast<ssize_t>(sizeof(*pHdr)))
        return true;
    if (n >= 0 || (errno != ENOSYS && errno != EPERM))
        return false;
    // The call is not available here: let write() to a pipe do the probing.
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    bool ok = write(fds[1], pValue, sizeof(*pHdr)) == static_cast<ssize_t>(sizeof(*pHdr)) &&
              read(fds[0], pHdr, sizeof(*pHdr)) == static_cast<ssize_t>(sizeof(*pHdr));
    close(fds[0]);
    close(fds[1]);
    return ok;
}

// Non-null, a multiple of 4, readable, first word its own address, signature.
static bool krvCheckHandle(const void *pValue, bool bFileKind)
{
    uintptr_t addr = reinterpret_cast<uintptr_t>(pValue);
    if (addr == 0 || (addr & 3) != 0)
        return false;
    krvHandleHdr_t hdr;
    if (!krvReadHeader(pValue, &hdr))
        return false;
    if (hdr.pSelf != pValue || hdr.nSig != KRV_HANDLE_SIG)
        return false;
    return !bFileKind || hdr.nKind == KRV_HANDLE_KIND_FILE;
}

int krvIsHandle(const void *pValue)
{
    return krvCheckHandle(pValue, false) ? 1 : 0;
}

int krvIsFileHandle(const void *pValue)
{
    return krvCheckHandle(pValue, true) ? 1 : 0;
}

int krvExtIsHandle(const void *pValue)
{
    return krvIsHandle(pValue);
}

int krvExtIsFileHandle(const void *pValue)
{
    return krvIsFileHandle(pValue);
}
