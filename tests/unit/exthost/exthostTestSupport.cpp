#include "exthostTestSupport.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::string g_output;

int capturePrintf(const char *szFmt, ...)
{
    va_list ap;
    va_start(ap, szFmt);
    char *p = nullptr;
    int n = vasprintf(&p, szFmt, ap);
    va_end(ap);
    if (n >= 0) {
        g_output += p;
        free(p);
    }
    return n;
}

int capturePuts(const char *sz)
{
    g_output += sz;
    g_output += '\n';
    return 1;
}

void *loadLib(const char *szPath)
{
    return dlopen(szPath, RTLD_NOW | RTLD_LOCAL);
}

int freeLib(void *pLib)
{
    return pLib ? dlclose(pLib) : -1;
}

void *getSym(void *pLib, const char *szName)
{
    return pLib ? dlsym(pLib, szName) : nullptr;
}

}  // namespace

std::string takeOutput()
{
    std::string s;
    s.swap(g_output);
    return s;
}

void ExtHostTest::setProgPath(const char *szProgPath)
{
    krvHostFuncs_t funcs{capturePrintf, capturePrintf, capturePuts, capturePuts, loadLib, freeLib, getSym, ""};
    snprintf(funcs.szProgPath, sizeof(funcs.szProgPath), "%s", szProgPath);
    krvSetHostFuncs(&funcs);
}

void ExtHostTest::SetUp()
{
    setProgPath("/opt/korvel/bin/korvel");
    ASSERT_EQ(krvInitModel(), 0);
    krvBuildHostTable(&host);
    takeOutput();
}

void ExtHostTest::TearDown()
{
    krvFreeModel();
    krvSetHostFuncs(nullptr);
    takeOutput();
}

std::string testModulePath(const char *szStem)
{
    return std::string(KRV_TEST_MODULE_DIR) + "/" + szStem + ".kxm";
}

HandRef::HandRef()
{
    var.szName = const_cast<char *>("arr");
    ref.nKind = krvAPTNType_varRef;
    ref.u.varRef.pVarPtr = &var;
}

HandRef::~HandRef()
{
    for (krvValue_t &c : cells)
        krvClearValue(&c);
}

static void fillCells(HandRef &r, int64_t nCells)
{
    r.cells.assign(static_cast<size_t>(nCells), krvValue_t{});
    for (int64_t k = 0; k < nCells; k++) {
        r.cells[static_cast<size_t>(k)].type = KRV_DT_INTEGER;
        r.cells[static_cast<size_t>(k)].val.nInt = k;
    }
    r.var.pData = r.cells.data();
}

// Products of dims: [n, s1*..*sn, ..., sn, 1].
static std::vector<int32_t> products(const std::vector<int32_t> &dims)
{
    std::vector<int32_t> p(dims.size() + 2, 1);
    p[0] = static_cast<int32_t>(dims.size());
    for (size_t i = dims.size(); i >= 1; i--)
        p[i] = p[i + 1] * dims[i - 1];
    return p;
}

void makeArray(HandRef &r, const std::vector<int32_t> &dims)
{
    r.sizes = products(dims);
    r.var.dbd = KRV_DBD_FIXARR;
    r.var.arrSize.pSizes = r.sizes.data();
    fillCells(r, r.sizes[1]);
}

void makeWindow(HandRef &r, const std::vector<int32_t> &dims, const std::vector<int32_t> &starts,
                const std::vector<int32_t> &extents)
{
    std::vector<int32_t> under = products(dims);
    std::vector<int32_t> win = products(extents);
    r.sizes = under;                                            // n and the underlying products
    r.sizes.insert(r.sizes.end(), starts.begin(), starts.end()); // start indices
    r.sizes.insert(r.sizes.end(), win.begin() + 1, win.end());   // window products
    r.var.dbd = KRV_DBD_FIXARR_REF;
    r.var.arrSize.pSizes = r.sizes.data();
    fillCells(r, under[1]);
}
