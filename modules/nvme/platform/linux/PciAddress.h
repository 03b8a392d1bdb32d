// PCI addresses as Linux writes them in sysfs ("dddd:bb:dd.f") and the
// platform's slot descriptor.
#pragma once
#include "Platform.h"

#include <string>
#include <string_view>

namespace kxmplat::linuxplat {

// Accepts "dddd:bb:dd.f" and the short "bb:dd.f" (domain 0), hexadecimal,
// either case. False for anything else.
bool parsePciAddress(std::string_view s, PciSlot *pSlot);

// "dddd:bb:dd.f", lower case: the name of the function's sysfs folder.
std::string formatPciAddress(const PciSlot &slot);

bool sameSlot(const PciSlot &a, const PciSlot &b);
// Bus order: domain, bus, device, function.
bool slotLess(const PciSlot &a, const PciSlot &b);

} // namespace kxmplat::linuxplat
