// The handle test takes any value a script can pass: forged integers,
// unmapped or half-mapped addresses and stale objects are refused without
// a fault.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "exthostTestSupport.h"

namespace {

using HandleTest = ExtHostTest;

const void *asPtr(uintptr_t v)
{
    return reinterpret_cast<const void *>(v);
}

TEST_F(HandleTest, LiveObjectsPassAndTheirKindIsChecked)
{
    alignas(8) krvHandleHdr_t obj{};
    obj.pSelf = &obj;
    obj.nSig = KRV_HANDLE_SIG;
    obj.nKind = 0x12345678;
    EXPECT_EQ(host.pfnIsHandle(&obj), 1);
    EXPECT_EQ(host.pfnIsFileHandle(&obj), 0);
    obj.nKind = KRV_HANDLE_KIND_FILE;
    EXPECT_EQ(host.pfnIsFileHandle(&obj), 1);
    EXPECT_EQ(krvIsHandle(&obj), 1);
    EXPECT_EQ(krvIsFileHandle(&obj), 1);
}

TEST_F(HandleTest, WrongSelfPointerSignatureOrAlignmentFail)
{
    alignas(8) unsigned char buf[40] = {};
    krvHandleHdr_t *obj = reinterpret_cast<krvHandleHdr_t *>(buf + 8);
    obj->pSelf = buf;   // not its own address
    obj->nSig = KRV_HANDLE_SIG;
    EXPECT_EQ(host.pfnIsHandle(obj), 0);
    obj->pSelf = obj;
    obj->nSig = KRV_HANDLE_SIG + 1;
    EXPECT_EQ(host.pfnIsHandle(obj), 0);
    obj->nSig = KRV_HANDLE_SIG;
    EXPECT_EQ(host.pfnIsHandle(obj), 1);
    // Cleared header: a stale handle.
    memset(obj, 0, sizeof(*obj));
    EXPECT_EQ(host.pfnIsHandle(obj), 0);
    // Not a multiple of 4, even when the bytes there would match.
    krvHandleHdr_t hdr{};
    void *odd = buf + 2;
    hdr.pSelf = odd;
    hdr.nSig = KRV_HANDLE_SIG;
    memcpy(odd, &hdr, sizeof(hdr));
    EXPECT_EQ(host.pfnIsHandle(odd), 0);
}

TEST_F(HandleTest, ForgedIntegersNeverFault)
{
    const uintptr_t forged[] = {0,
                                1,
                                4,
                                8,
                                0x1000,
                                0xdeadbeec,
                                0x7ffffffff000,
                                0x800000000000,
                                0xffff800000000000,
                                0xfffffffffffffff0,
                                static_cast<uintptr_t>(-4)};
    for (uintptr_t v : forged) {
        EXPECT_EQ(host.pfnIsHandle(asPtr(v)), 0) << std::hex << v;
        EXPECT_EQ(host.pfnIsFileHandle(asPtr(v)), 0) << std::hex << v;
    }
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 2000; i++) {
        uintptr_t v = rng() & ~static_cast<uintptr_t>(3);
        EXPECT_EQ(host.pfnIsHandle(asPtr(v)), 0) << std::hex << v;
    }
}

TEST_F(HandleTest, UnmappedAndHalfMappedHeadersAreRefused)
{
    long page = sysconf(_SC_PAGESIZE);
    char *p = static_cast<char *>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(p, MAP_FAILED);
    // A valid-looking header at the end of the first page, cut by an
    // unreadable second page.
    char *tail = p + page - 8;
    void *self = tail;
    memcpy(tail, &self, 8);
    ASSERT_EQ(mprotect(p + page, page, PROT_NONE), 0);
    EXPECT_EQ(host.pfnIsHandle(tail), 0);
    // A whole header on a page that is then unmapped.
    krvHandleHdr_t *obj = reinterpret_cast<krvHandleHdr_t *>(p);
    obj->pSelf = obj;
    obj->nSig = KRV_HANDLE_SIG;
    obj->nKind = KRV_HANDLE_KIND_FILE;
    EXPECT_EQ(host.pfnIsFileHandle(obj), 1);
    ASSERT_EQ(munmap(p, 2 * page), 0);
    EXPECT_EQ(host.pfnIsHandle(obj), 0);
    EXPECT_EQ(host.pfnIsFileHandle(obj), 0);
}

}  // namespace
