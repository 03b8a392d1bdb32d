// Short command names for trace rows and dumps.
#pragma once
#include <cstdint>

namespace kxmnvme {

// "Unknown" for an opcode without a name.
const char *nvmeAdmCmdName(uint32_t nOpcode);
// nCmdSet: 0 NVM, 1 key-value, 2 zoned namespace.
const char *nvmeIOCmdName(uint32_t nCmdSet, uint32_t nOpcode);

} // namespace kxmnvme
