// Backend selection: Platform::open() picks the backend named by the
// environment variable KXM_NVME_PLATFORM ("sim" when unset or empty).
#include "Platform.h"

#include <cstdlib>
#include <string_view>

#if KXMPLAT_HAVE_SIM
#include "SimBackend.h"
#endif
#if KXMPLAT_HAVE_LINUX
#include "LinuxPlatform.h"
#endif

namespace kxmplat {

namespace {

using BackendFactory = std::unique_ptr<Platform> (*)(std::string *pErr);

struct BackendEntry {
    const char *szName;
    BackendFactory pfnMake;     // null: known name, not built into this binary
};

// Every backend this build knows. A backend for real controllers on Linux
// goes here as {"linux", makeLinuxPlatform} once it exists.
const BackendEntry kBackends[] = {
#if KXMPLAT_HAVE_SIM
    {"sim", &makeSimPlatform},
#else
    {"sim", nullptr},
#endif
#if KXMPLAT_HAVE_LINUX
    {"linux", static_cast<BackendFactory>(&makeLinuxPlatform)},
#endif
};

void setError(std::string *pErr, std::string sMsg)
{
    if (pErr)
        *pErr = std::move(sMsg);
}

} // namespace

std::unique_ptr<Platform> Platform::open(std::string *pErr)
{
    const char *szEnv = std::getenv("KXM_NVME_PLATFORM");
    const std::string sName = (szEnv && *szEnv) ? szEnv : "sim";

    for (const BackendEntry &e : kBackends) {
        if (sName != e.szName)
            continue;
        if (!e.pfnMake) {
            setError(pErr, "platform backend '" + sName + "' is not built into this program");
            return nullptr;
        }
        std::string sErr;
        std::unique_ptr<Platform> p = e.pfnMake(&sErr);
        if (!p) {
            if (sErr.empty())
                sErr = "platform backend '" + sName + "' failed to open";
            setError(pErr, sErr);
            return nullptr;
        }
        return p;
    }

    std::string sKnown;
    for (const BackendEntry &e : kBackends) {
        if (!sKnown.empty())
            sKnown += ", ";
        sKnown += e.szName;
    }
    setError(pErr, "unknown platform backend '" + sName + "' (KXM_NVME_PLATFORM); known: " + sKnown);
    return nullptr;
}

} // namespace kxmplat
