// The public face of a controller.
#include "nvmesim/Controller.h"

#include "ControllerCore.h"
#include "nvmesim/Subsystem.h"

namespace nvmesim {

Controller::Controller(std::unique_ptr<ControllerCore> p) : m_p(std::move(p)) {}
Controller::~Controller() = default;
int Controller::cfgRead(uint32_t nOffset, uint32_t *pValue, int nWidth) { return m_p->cfgRead(nOffset, pValue, nWidth); }
int Controller::cfgWrite(uint32_t nOffset, uint32_t nValue, int nWidth) { return m_p->cfgWrite(nOffset, nValue, nWidth); }
uint32_t Controller::mmioRead32(uint32_t nOffset) { return m_p->mmioRead32(nOffset); }
void Controller::mmioWrite32(uint32_t nOffset, uint32_t nValue) { m_p->mmioWrite32(nOffset, nValue); }
uint16_t Controller::vfNumber() const { return m_p->vfNumber(); }
bool Controller::present() const { return m_p->m_bPresent.load(); }
FaultInjector &Controller::faults() { return m_p->faults(); }
uint16_t Controller::controllerId() const { return m_p->cntlid(); }
uint16_t Controller::vendorId() const { return m_p->subsystem().config().nVendorId; }
uint16_t Controller::deviceId() const {
    const DeviceConfig &d = m_p->subsystem().config();
    return m_p->isVf() ? d.sriov.nVfDeviceId : d.nDeviceId;
}
Subsystem &Controller::subsystem() { return m_p->subsystem(); }
uint64_t Controller::commandsCompleted() const { return m_p->m_nCompleted.load(); }
uint64_t Controller::resets() const { return m_p->m_nResets.load(); }
size_t Controller::withheldCount() const { return m_p->m_nWithheldCount.load(); }

} // namespace nvmesim
