// Namespace records and their links to the controllers they are attached to.
// The caller holds the controller's lock.
#pragma once
#include "nvmeRecords.h"

namespace kxmnvme {

class NvmeEngine;

// A namespace record with id nsid (512-byte blocks until identified),
// registered as a namespace handle.
NvmeNs *nvmeNewNs(NvmeEngine &eng, uint32_t nsid);
void nvmeFreeNs(NvmeEngine &eng, NvmeNs *pNs);

// Appends the link to both lists (the namespace's users, the controller's
// namespaces in use).
void nvmeBindNs(NvmeNs *pNs, NvmeCntl *pCntl);
// Removes the link of that controller from both lists; false when the
// namespace is not attached to it.
bool nvmeUnbindNs(NvmeNs *pNs, NvmeCntl *pCntl);
// The first namespace in use by the controller, or null.
NvmeNs *nvmeFirstUsedNs(NvmeCntl *pCntl);
// The device's namespace with id 1..NVME_MAX_NS_NUM, or null.
NvmeNs *nvmeNsById(NvmeDev *pDev, uint32_t nsid);
// The device's function whose controller id is nCntlId, or null.
NvmeCntl *nvmeCntlByCntlId(NvmeDev *pDev, uint16_t nCntlId);

} // namespace kxmnvme
