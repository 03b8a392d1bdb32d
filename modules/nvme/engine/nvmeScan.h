// Scan: finds every NVMe controller on the bus once per process, opens it,
// prepares it for memory access and bus mastering, and builds the device
// and controller records.
#pragma once
#include <cstdint>

namespace kxmnvme {

class NvmeEngine;

// EC_NONE, or the error code of the failure (EC_SCAN_AGAIN, EC_LIB_INIT,
// EC_PCIE_INIT). A machine without NVMe controllers scans successfully.
int32_t nvmeScan(NvmeEngine &eng);

} // namespace kxmnvme
