// The NVMe engine: one instance per loaded module. It owns the device
// platform, the device table and every record made from it, the registry of
// live handles, the time base and the module log. Script functions reach
// the hardware only through it.
#pragma once
#include <cstdint>
#include <memory>

#include "Platform.h"
#include "nvmeErrors.h"
#include "nvmeHandle.h"
#include "nvmeLog.h"
#include "nvmeRecords.h"
#include "nvmeTime.h"

namespace kxmnvme {

constexpr int64_t NVME_DEFAULT_CMD_TIMEOUT_US = 8000000;

class NvmeEngine {
public:
    NvmeEngine();
    ~NvmeEngine();             // takes every controller down and closes the platform
    NvmeEngine(const NvmeEngine &) = delete;
    NvmeEngine &operator=(const NvmeEngine &) = delete;

    const NvmeTimeBase timeBase;
    NvmeLog log;
    HandleRegistry registry;

    // The script's unmatched-completion callbacks run through the frame:
    // pfnRunCallback gets the callback and the eight values (device number,
    // function id, CQ id, 0, DW0-DW3); pfnFreeCallback releases one.
    void (*pfnRunCallback)(void *pCallback, const int64_t aVals[8]) = nullptr;
    void (*pfnFreeCallback)(void *pCallback) = nullptr;

    // Scan state.
    bool bScanned = false;
    uint16_t nDevNum = 0;
    NvmeDev *devs[NVME_MAX_DEV_NUM] = {};
    int64_t nCmdTimeoutUs = 0;

    // The platform (null before scan and after it was closed).
    kxmplat::Platform *platform() const { return m_bClosed ? nullptr : m_pPlatform.get(); }
    // Opens the platform named by the environment; false with a logged
    // reason when it cannot be opened (or was closed by put).
    bool openPlatform();
    // Closes the platform (put): nothing reaches a device any more. The
    // backend object itself lives on, so buffers freed later give their
    // DMA memory back to it.
    void closePlatform();
    // Frees the buffers scripts left, stops every poller, frees every
    // record and closes the platform. Safe to call twice.
    void shutdown();

    // Controller records made by scan or by enabling virtual functions.
    NvmeCntl *newCntl();
    void freeCntl(NvmeCntl *pCntl);

private:
    std::unique_ptr<kxmplat::Platform> m_pPlatform;
    bool m_bClosed = false;
};

} // namespace kxmnvme
