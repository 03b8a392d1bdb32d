// libFuzzer target: one input is the text of a script's main file, scanned,
// preprocessed and parsed into the object model, which is then freed again;
// the same text is also parsed as the condition of an #if line.
// Modules are never loaded (the host's library loader always fails), and
// diagnostics are thrown away.
#include <cstddef>
#include <cstdint>
#include <string>

#include "constexpr/krvPPCond.h"
#include "frontend/krvParse.h"
#include "model/krvAPTN.h"
#include "model/krvModel.h"

static int quiet(const char *, ...)
{
    return 0;
}

static int quietPuts(const char *)
{
    return 0;
}

static void *noLibrary(const char *)
{
    return nullptr;
}

static bool setUp()
{
    krvHostFuncs_t host = *krvHost();
    host.pfnPrintf = quiet;
    host.pfnErrPrintf = quiet;
    host.pfnPuts = quietPuts;
    host.pfnErrPuts = quietPuts;
    host.pfnLoadLib = noLibrary;
    krvSetHostFuncs(&host);
    krvEnvTableInit();
    krvInitModel();
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    static bool s_bReady = setUp();
    (void)s_bReady;
    // The text ends at its first NUL, as a script line does.
    std::string text(reinterpret_cast<const char *>(pData), nSize);
    krvSetLastDiagId(0);
    // A folder that does not exist: #include finds nothing next to it.
    krvEnv_t *pEnv = krvParseScriptText("/nonexistent/korvel-fuzz/input.krv", text.c_str());
    if (pEnv)
        krvParseDiscardGroup(pEnv);
    // The condition grammar on its own: any text, of any nesting.
    krvSetLastDiagId(0);
    krvAPTN_t *pTree = nullptr;
    krvPPParseCondAt(text.c_str(), "input.krv", 0, 1, &pTree);
    krvFreeAPTN(pTree);
    return 0;
}
