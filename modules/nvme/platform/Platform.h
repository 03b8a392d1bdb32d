// The device platform layer: everything the NVMe engine needs from the
// machine. PCI functions are enumerated and opened, configuration space is
// read and written by slot, BAR0 registers by byte offset, and physically
// contiguous DMA buffers give a host pointer and a bus address.
//
// The backend is chosen when the platform is opened, from the environment
// variable KXM_NVME_PLATFORM ("sim", the default: the simulated PCIe bus).
// Every operation is safe to call concurrently on one device.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kxmplat {

// Where a function sits on the bus (16 bytes).
struct PciSlot {
    uint32_t nDomain = 0;
    uint32_t nBus = 0;
    uint32_t nDevice = 0;
    uint32_t nFunction = 0;
};
static_assert(sizeof(PciSlot) == 16, "slot descriptor is 16 bytes");

struct PciFunctionInfo {
    uint32_t nVendorId = 0;
    uint32_t nDeviceId = 0;
    PciSlot slot;
};

// An opened function. Owned by the platform; valid until closeDevice().
class Device;

// A physically contiguous DMA buffer.
//
// Ordering between the host and the device on DMA memory: everything the
// host writes before an mmioWrite32() (a doorbell) is visible to the device
// when it acts on that write. A device publishes a completion entry by
// writing bytes 0-13 first and then the status half-word with the phase tag
// (bytes 14-15) as one release store; a host polls that half-word with an
// acquire load and reads the rest of the entry only after the tag matched.
struct DmaBuffer {
    void *pHost = nullptr;      // host address, readable and writable
    uint64_t nBusAddr = 0;      // what goes into registers, PRPs and SGLs
    size_t nSize = 0;
    void *pHandle = nullptr;    // the backend's descriptor
};

class Platform {
public:
    virtual ~Platform() = default;

    // Opens the backend named by KXM_NVME_PLATFORM. On failure returns null
    // and puts a one-line reason into *pErr.
    static std::unique_ptr<Platform> open(std::string *pErr);

    virtual const char *name() const = 0;

    // At most nMax functions, in bus order.
    virtual int enumerate(std::vector<PciFunctionInfo> &out, size_t nMax = 256) = 0;

    // Configuration space by slot; nWidth is 1, 2 or 4 bytes, little-endian
    // values. Reads of a function that does not answer give all ones.
    // Return 0 on success.
    virtual int cfgRead(const PciSlot &slot, uint32_t nOffset, uint32_t *pValue, int nWidth) = 0;
    virtual int cfgWrite(const PciSlot &slot, uint32_t nOffset, uint32_t nValue, int nWidth) = 0;

    // Opens the function at slot (device info and open in one step);
    // returns 0 and the device, or non-zero.
    virtual int openDevice(const PciSlot &slot, Device **ppDev) = 0;
    virtual void closeDevice(Device *pDev) = 0;

    // 32-bit BAR0 access at a byte offset.
    virtual uint32_t mmioRead32(Device *pDev, uint32_t nOffset) = 0;
    virtual void mmioWrite32(Device *pDev, uint32_t nOffset, uint32_t nValue) = 0;

    // DMA buffers: 0 on success.
    virtual int dmaAlloc(Device *pDev, size_t nSize, DmaBuffer *pBuf) = 0;
    virtual void dmaFree(Device *pDev, DmaBuffer *pBuf) = 0;
    // As dmaAlloc, but the buffer always starts on a page boundary even when
    // the backend shifts other buffers inside their first page (the
    // simulator's in-page offset option); queue rings need this. Released
    // with dmaFree.
    virtual int dmaAllocPageAligned(Device *pDev, size_t nSize, DmaBuffer *pBuf) { return dmaAlloc(pDev, nSize, pBuf); }

    // SR-IOV: number of virtual functions the device can offer (0: none).
    virtual int sriovTotalVFs(Device *pDev) = 0;
    // Enables n virtual functions (0 disables them); fills the opened VFs.
    // Returns the number enabled, or a negative value on failure.
    virtual int sriovEnable(Device *pDev, int n, std::vector<Device *> &vfs) = 0;

    // PCIe hot reset of the link above the device: -1 not supported,
    // 0 failed, anything else done.
    virtual int hotReset(Device *pDev) = 0;

    // Power of the slot the device sits in, switched off (bOn false) or on
    // as separate steps. While off the device's functions do not answer
    // (configuration and BAR0 read all ones); after power on they come
    // back in their power-on state once the link is up, which the caller
    // waits for by reading configuration space. -1 not supported, 0
    // failed, anything else done.
    virtual int slotPower(Device *pDev, bool bOn) = 0;

    // Closes the library; returns 1.
    virtual int close() = 0;
};

} // namespace kxmplat
