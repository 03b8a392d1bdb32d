// Registration of the module's namespaces, constants and functions.
#pragma once

namespace kxmnvme {

// Registers namespace nvme under the root with admc, ioc and fabc under it,
// the admc and ioc functions, the constants of nvme and the nvme functions,
// in that order. False when no nvme namespace can be had.
bool nvmeRegisterAll();

} // namespace kxmnvme
