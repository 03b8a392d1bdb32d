// The option structures of namespace nvme, as script text.
#pragma once

namespace kxmnvme {

extern const char g_szNvmeScriptText[];

} // namespace kxmnvme
