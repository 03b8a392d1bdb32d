// The "sim" platform backend: the simulated PCIe bus of nvmesim behind the
// platform interface. Its configuration comes from KXM_NVME_SIM (inline
// JSON or the path of a JSON file; unset: one default device).
//
// Tests reach the simulation behind a sim platform through simBusOf() and
// simControllerOf(), e.g. to inject faults:
//
//   auto plat = kxmplat::makeSimPlatform(&err);
//   nvmesim::Bus *bus = kxmplat::simBusOf(plat.get());
//   bus->function(0).pCtrl->faults().setWithholdCompletions(true);
#pragma once
#include <memory>
#include <string>

#include "Platform.h"
#include "nvmesim/Bus.h"

namespace kxmplat {

std::unique_ptr<Platform> makeSimPlatform(std::string *pErr);

// The bus behind a sim platform; null for any other backend.
nvmesim::Bus *simBusOf(Platform *pPlat);
// The controller behind a device opened on a sim platform; null otherwise.
nvmesim::Controller *simControllerOf(Platform *pPlat, Device *pDev);

} // namespace kxmplat
