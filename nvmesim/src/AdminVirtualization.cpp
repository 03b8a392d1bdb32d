// Virtualization Management on the primary controller: flexible resources
// for itself and its secondary controllers, which it takes offline and
// brings online.
#include "ControllerCore.h"
#include "nvmesim/Subsystem.h"

namespace nvmesim {

bool ControllerCore::isPrimaryWithSriov() const { return m_nIndex == 0 && m_subsys.config().sriov.nTotalVfs != 0; }

uint16_t ControllerCore::adminVirtualizationMgmt(const Sqe &e, uint32_t *pDw0) {
    const uint8_t nAct = e.cdw10() & 0xF;
    const uint8_t nRt = (e.cdw10() >> 8) & 0x7;
    const uint16_t nCntlid = static_cast<uint16_t>(e.cdw10() >> 16);
    const uint16_t nNr = static_cast<uint16_t>(e.cdw11() & 0xFFFF);
    return m_subsys.virtualizationManagement(cntlid(), nAct, nRt, nCntlid, nNr, pDw0);
}

} // namespace nvmesim
