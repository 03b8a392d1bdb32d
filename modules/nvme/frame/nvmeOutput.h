// Where dumps and reports go: standard output and, when the script names
// one, a host file.
#pragma once
#include "nvmeTextOut.h"

namespace kxmnvme {

NvmeTextOut::Sink nvmeConsoleAndFile(void *pFile);

} // namespace kxmnvme
