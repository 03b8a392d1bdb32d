// The module's link to the interpreter: its copy of the host service table
// and the engine of the loaded module.
#pragma once
#include "korvel_ext.h"
#include "nvmeEngine.h"

namespace kxmnvme {

// Copied in kxm_nvme_init; valid while the module is loaded.
extern krvHostTable_t g_host;

// The engine made by kxm_nvme_init (null before it and after deinit).
NvmeEngine *nvmeEngine();

static_assert(sizeof(krvHandleHdr_t) == sizeof(NvmeHandleHdr), "the engine's handle header is the host's");
static_assert(offsetof(krvHandleHdr_t, nSig) == offsetof(NvmeHandleHdr, nSig), "signature offset");
static_assert(offsetof(krvHandleHdr_t, nKind) == offsetof(NvmeHandleHdr, nKind), "kind offset");
static_assert(KRV_HANDLE_SIG == NVME_HANDLE_SIG, "handle signature");

} // namespace kxmnvme
