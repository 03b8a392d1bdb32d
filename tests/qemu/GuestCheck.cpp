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
//    and the function answers afterwards;
//  - virtual functions are enabled, handed out and disabled again where
//    the function's driver allows SR-IOV.
// Prints one line per finding; exit status 0 when all hold.
#include "HostController.h"
#include "LinuxPlatform.h"
#include "PciAccess.h"
#include "PciAddress.h"
#include "Platform.h"
#include "nvmewire/Identify.h"
#include "nvmewire/Opcodes.h"

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
        nvmewire::IdCtrl id{};
        nvmehost::Completion c = ctl->identify(nvmewire::CNS_CTRL, 0, 0, &id);
        check(c.ok(), sAddr + " identifies as '" + nvmewire::mn(id) + "'");

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
        // SR-IOV where the controller and the function's driver allow it.
        int nTotal = plat->sriovTotalVFs(ctl->device());
        std::printf("guest-check: %s offers %d virtual functions\n", sAddr.c_str(), nTotal);
        if (nTotal > 0) {
            std::vector<Device *> vfs;
            int nOn = plat->sriovEnable(ctl->device(), 1, vfs);
            std::printf("guest-check: %s enabling one virtual function answers %d%s\n", sAddr.c_str(), nOn,
                        nOn < 0 ? (" (" + linuxPlatformLastError(plat.get()) + ")").c_str() : "");
            if (nOn != 1) {
                std::vector<Device *> none;
                plat->sriovEnable(ctl->device(), 0, none);
            }
            // Only a driver can enable virtual functions: vfio-pci (with its
            // enable_sriov option) can, an unbound function cannot.
            if (bNoIommu)
                check(nOn < 0, sAddr + " unbound: enabling virtual functions is refused");
            else
                check(nOn == 1, sAddr + " enables one virtual function");
            if (nOn == 1) {
                check(vfs.size() == 1, sAddr + " hands out the virtual function");
                // A virtual function is a secondary controller, offline until
                // the physical function gives it resources; its registers
                // answer all the same.
                uint32_t nVs = plat->mmioRead32(vfs[0], nvmewire::REG_VS);
                char szVs[16];
                std::snprintf(szVs, sizeof szVs, "%08x", nVs);
                check(nVs != 0xFFFFFFFFu, sAddr + " virtual function's registers answer (VS " + szVs + ")");
                std::vector<Device *> none;
                check(plat->sriovEnable(ctl->device(), 0, none) == 0, sAddr + " virtual functions disabled again");
                check(plat->mmioRead32(vfs[0], nvmewire::REG_VS) == 0xFFFFFFFFu,
                      sAddr + " the virtual function's handle is gone with it");
            }
        }
        // Left enabled on purpose: the tests that follow find it so.
        check(ctl->reg32(nvmewire::REG_CSTS) & nvmewire::CSTS_RDY, sAddr + " left enabled");
    }
    plat->close();
    std::printf("guest-check: %d failure(s)\n", nFailures);
    return nFailures ? 1 : 0;
}
