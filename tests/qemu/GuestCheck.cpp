// Runs inside the QEMU guest before the conformance tests, through the
// backend named by KXM_NVME_PLATFORM (linux):
//  - the functions offered are exactly those named on the command line
//    (a controller bound to the kernel's nvme driver must not be among
//    them);
//  - each one comes up, identifies itself and is left enabled, as firmware
//    often leaves a controller, so the tests that follow meet one;
//  - a buffer larger than a hugepage is refused on the route without an
//    IOMMU and given on the route with one;
//  - a hot reset of each function is done (or reported as not supported)
//    and the function answers afterwards.
// Prints one line per finding; exit status 0 when all hold.
#include "HostController.h"
#include "LinuxPlatform.h"
#include "PciAccess.h"
#include "PciAddress.h"
#include "Platform.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

using namespace kxmplat;

namespace {

int nFailures = 0;

void check(bool bOk, const std::string &sWhat)
{
    std::printf("guest-check: %s: %s\n", bOk ? "ok" : "FAILED", sWhat.c_str());
    if (!bOk)
        ++nFailures;
}

} // namespace

int main(int argc, char **argv)
{
    // Arguments: [--no-iommu] ADDRESS...
    bool bNoIommu = false;
    std::set<std::string> expected;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-iommu") == 0)
            bNoIommu = true;
        else
            expected.insert(argv[i]);
    }
    std::string sErr;
    auto plat = Platform::open(&sErr);
    if (!plat) {
        std::printf("guest-check: FAILED: platform open: %s\n", sErr.c_str());
        return 1;
    }
    check(std::strcmp(plat->name(), "linux") == 0, std::string("backend is ") + plat->name());

    std::vector<PciFunctionInfo> funcs;
    plat->enumerate(funcs, 256);
    std::set<std::string> offered;
    for (const auto &f : funcs)
        offered.insert(linuxplat::formatPciAddress(f.slot));
    std::string sOffered;
    for (const auto &s : offered)
        sOffered += " " + s;
    check(offered == expected, "functions offered:" + sOffered);

    for (const auto &f : funcs) {
        const std::string sAddr = linuxplat::formatPciAddress(f.slot);
        auto ctl = nvmehost::HostController::open(*plat, f.slot, &sErr);
        check(bool(ctl), sAddr + " opened" + (ctl ? "" : ": " + sErr));
        if (!ctl)
            continue;
        check(ctl->bringUp(32, 32, &sErr), sAddr + " brought up" + (sErr.empty() ? "" : ": " + sErr));
        uint8_t aId[4096] = {};
        nvmehost::Completion c = ctl->identify(1, 0, 0, aId);
        char szModel[41] = {};
        std::memcpy(szModel, aId + 24, 40);
        check(c.ok(), sAddr + " identifies as '" + szModel + "'");

        DmaBuffer big;
        int nBig = plat->dmaAlloc(ctl->device(), size_t(4) << 20, &big);
        if (bNoIommu) {
            check(nBig != 0 && linuxPlatformLastError(plat.get()).find("hugepage") != std::string::npos,
                  sAddr + " refuses a 4 MiB contiguous buffer without IOMMU");
        } else {
            check(nBig == 0, sAddr + " gives a 4 MiB buffer through the IOMMU");
        }
        if (nBig == 0)
            plat->dmaFree(ctl->device(), &big);

        // Whatever the answer (the kernel may reset the link and still
        // report a failure when the port above does not show the link
        // active again), the function must be usable afterwards.
        int nReset = plat->hotReset(ctl->device());
        std::printf("guest-check: %s hot reset answers %d%s\n", sAddr.c_str(), nReset,
                    nReset == 0 ? (" (" + linuxPlatformLastError(plat.get()) + ")").c_str() : "");
        check(nReset >= -1 && nReset <= 1, sAddr + " hot reset answers -1, 0 or 1");
        check(nvmehost::waitFunctionPresent(*plat, f.slot, 2000) && nvmehost::pcieInitialise(*plat, f.slot),
              sAddr + " answers after the hot reset");
        ctl->refreshCaps();
        check(ctl->bringUp(32, 32, &sErr), sAddr + " comes up after the hot reset" + (sErr.empty() ? "" : ": " + sErr));
        // Left enabled on purpose: the tests that follow find it so.
        check(ctl->reg32(nvmehost::REG_CSTS) & nvmehost::CSTS_RDY, sAddr + " left enabled");
    }
    plat->close();
    std::printf("guest-check: %d failure(s)\n", nFailures);
    return nFailures ? 1 : 0;
}
