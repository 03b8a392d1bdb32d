// Platform operations for real functions. Handles given out (devices, DMA
// descriptors) are numbers that are never reused, looked up on every use,
// so a stale or forged handle is refused instead of followed, even when a
// newer handle sits where the old one's record was.
#include "LinuxPlatform.h"

#include "DeviceSelection.h"
#include "HugepageMemory.h"
#include "PciAddress.h"
#include "SysfsAccess.h"
#include "SysfsPci.h"
#include "VfioAccess.h"
#include "VfioContainer.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <cstdlib>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace kxmplat {

namespace {

using namespace linuxplat;

// One function the backend has reached, shared by its open devices.
struct FunctionState {
    SysfsFunction info;
    Route route = Route::None;
    std::unique_ptr<FunctionAccess> access;
    int nOpen = 0;
};

struct LinuxDevice {
    uintptr_t nId = 0;                  // the handle
    std::shared_ptr<FunctionState> fn;
    uintptr_t nPhysicalId = 0;          // set for a virtual function
};

struct DmaRecord {
    uintptr_t nId = 0;                  // the handle
    void *pHost = nullptr;
    uint64_t nBus = 0;
    size_t nSize = 0;
    VfioContainer *pContainer = nullptr;    // null: hugepage memory
};

Device *asDevice(LinuxDevice *p) { return reinterpret_cast<Device *>(p->nId); }

bool isDirectory(const std::string &sPath)
{
    struct stat st {};
    return ::stat(sPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string &sPath) { return ::access(sPath.c_str(), F_OK) == 0; }

class LinuxPlatform final : public Platform {
public:
    LinuxPlatform(const LinuxPlatformOptions &o, DeviceFilter f)
        : opts(o), sysfs(o.sSysfsRoot), filter(std::move(f))
    {
        makeVfToken();
    }
    ~LinuxPlatform() override { close(); }

    const char *name() const override { return "linux"; }

    int enumerate(std::vector<PciFunctionInfo> &out, size_t nMax) override
    {
        out.clear();
        std::vector<SysfsFunction> offered = selectFunctions(sysfs.scan(), filter);
        std::unique_lock lock(mtx);
        // Forget functions that are no longer offered and not in use.
        for (auto it = functions.begin(); it != functions.end();) {
            bool bStill = false;
            for (const SysfsFunction &f : offered)
                bStill = bStill || f.sAddress == it->first;
            if (!bStill && it->second->nOpen == 0 && !inUse(it->first))
                it = functions.erase(it);
            else
                ++it;
        }
        for (const SysfsFunction &f : offered) {
            if (out.size() >= nMax)
                break;
            out.push_back(PciFunctionInfo{f.nVendorId, f.nDeviceId, f.slot});
        }
        return int(out.size());
    }

    int cfgRead(const PciSlot &slot, uint32_t nOffset, uint32_t *pValue, int nWidth) override
    {
        if (!pValue)
            return EINVAL;
        *pValue = nWidth == 1 ? 0xFFu : nWidth == 2 ? 0xFFFFu : 0xFFFFFFFFu;
        std::shared_ptr<FunctionState> fn = reach(slot);
        if (!fn)
            return ENODEV;
        uint32_t n = 0;
        int nErr = fn->access->cfgRead(nOffset, &n, nWidth);
        if (nErr == 0)
            *pValue = n;
        return nErr;
    }

    int cfgWrite(const PciSlot &slot, uint32_t nOffset, uint32_t nValue, int nWidth) override
    {
        std::shared_ptr<FunctionState> fn = reach(slot);
        if (!fn)
            return ENODEV;
        return fn->access->cfgWrite(nOffset, nValue, nWidth);
    }

    int openDevice(const PciSlot &slot, Device **ppDev) override
    {
        if (!ppDev)
            return EINVAL;
        *ppDev = nullptr;
        std::shared_ptr<FunctionState> fn = reach(slot);
        if (!fn)
            return ENODEV;
        Device *p = openFunction(fn, 0);
        if (!p)
            return EIO;
        *ppDev = p;
        return 0;
    }

    void closeDevice(Device *pDev) override
    {
        std::unique_lock lock(mtx);
        closeLocked(lookup(pDev));
    }

    uint32_t mmioRead32(Device *pDev, uint32_t nOffset) override
    {
        std::shared_lock lock(mtx);
        LinuxDevice *p = lookup(pDev);
        if (!p)
            return 0xFFFFFFFFu;
        return p->fn->access->mmioRead32(nOffset);
    }

    void mmioWrite32(Device *pDev, uint32_t nOffset, uint32_t nValue) override
    {
        std::shared_lock lock(mtx);
        if (LinuxDevice *p = lookup(pDev))
            p->fn->access->mmioWrite32(nOffset, nValue);
    }

    int dmaAlloc(Device *pDev, size_t nSize, DmaBuffer *pBuf) override
    {
        if (!pBuf)
            return EINVAL;
        *pBuf = DmaBuffer{};
        auto rec = std::make_unique<DmaRecord>();
        std::string sErr;
        bool bOk = false;
        {
            std::shared_lock lock(mtx);
            LinuxDevice *p = lookup(pDev);
            if (!p) {
                fail("DMA allocation for a device that is not open");
                return ENODEV;
            }
            rec->nSize = nSize;
            if (nSize == 0) {
                sErr = "DMA allocation of 0 bytes";
            } else if (p->fn->access->usesIommu()) {
                VfioContainer *c = iommuContainer.get();
                bOk = c && c->mapBuffer(nSize, &rec->pHost, &rec->nBus, &sErr);
                rec->pContainer = c;
            } else {
                bOk = hugepages->allocate(nSize, &rec->pHost, &rec->nBus, &sErr);
            }
        }
        if (!bOk) {
            fail(sErr);
            return ENOMEM;
        }
        std::unique_lock lock(mtx);
        rec->nId = nextId();
        pBuf->pHost = rec->pHost;
        pBuf->nBusAddr = rec->nBus;
        pBuf->nSize = nSize;
        pBuf->pHandle = reinterpret_cast<void *>(rec->nId);
        DmaRecord *r = rec.release();
        dmaRecords[r->nId] = r;
        return 0;
    }

    void dmaFree(Device *, DmaBuffer *pBuf) override
    {
        if (!pBuf)
            return;
        DmaRecord *rec = nullptr;
        {
            std::unique_lock lock(mtx);
            auto it = dmaRecords.find(reinterpret_cast<uintptr_t>(pBuf->pHandle));
            if (it == dmaRecords.end()) {
                fail("release of an unknown DMA buffer ignored");
                return;
            }
            rec = it->second;
            dmaRecords.erase(it);
        }
        freeRecord(rec);
        *pBuf = DmaBuffer{};
    }

    int sriovTotalVFs(Device *pDev) override
    {
        std::string sAddr;
        {
            std::shared_lock lock(mtx);
            LinuxDevice *p = lookup(pDev);
            if (!p || p->nPhysicalId)
                return 0;
            sAddr = p->fn->info.sAddress;
        }
        auto n = sysfs.readNumber(sAddr, "sriov_totalvfs");
        return n ? int(*n) : 0;
    }

    int sriovEnable(Device *pDev, int n, std::vector<Device *> &vfs) override
    {
        vfs.clear();
        if (n < 0)
            return -1;
        std::string sAddr;
        {
            std::unique_lock lock(mtx);
            LinuxDevice *p = lookup(pDev);
            if (!p || p->nPhysicalId)
                return -1;
            sAddr = p->fn->info.sAddress;
            // The virtual functions opened before go with the old set.
            std::vector<LinuxDevice *> old;
            for (auto &d : devices)
                if (d.second->nPhysicalId == p->nId)
                    old.push_back(d.second);
            for (LinuxDevice *d : old)
                closeLocked(d);
            for (const std::string &s : sysfs.virtualFunctions(sAddr))
                functions.erase(s);
        }
        auto nTotal = sysfs.readNumber(sAddr, "sriov_totalvfs");
        if (!nTotal || *nTotal == 0)
            return n == 0 ? 0 : -1;
        if (uint64_t(n) > *nTotal) {
            fail("SR-IOV: " + std::to_string(n) + " virtual functions asked for, the device offers " +
                 std::to_string(*nTotal));
            return -1;
        }
        // The count can only change from or to 0.
        auto nNow = sysfs.readNumber(sAddr, "sriov_numvfs");
        if (nNow && *nNow != 0) {
            if (int e = sysfs.writeAttr(sAddr, "sriov_numvfs", "0")) {
                fail("SR-IOV: cannot disable virtual functions of " + sAddr + ": " + std::strerror(e));
                return -1;
            }
        }
        if (n == 0)
            return 0;
        // Virtual functions of a physical function held through VFIO are
        // opened with a token the physical function is given first.
        {
            std::shared_lock lock(mtx);
            LinuxDevice *p = lookup(pDev);
            if (!p)
                return -1;
            if (auto *v = dynamic_cast<VfioAccess *>(p->fn->access.get())) {
                std::string sErr;
                if (!v->setVfToken(aVfToken, &sErr)) {
                    lock.unlock();
                    fail(sAddr + ": " + sErr);
                    return -1;
                }
            }
        }
        // New virtual functions must not be claimed by a kernel driver.
        if (exists(sysfs.functionDir(sAddr) + "/sriov_drivers_autoprobe"))
            sysfs.writeAttr(sAddr, "sriov_drivers_autoprobe", "0");
        if (int e = sysfs.writeAttr(sAddr, "sriov_numvfs", std::to_string(n))) {
            fail("SR-IOV: cannot enable virtual functions of " + sAddr + ": " + std::strerror(e));
            return -1;
        }
        std::vector<std::string> vAddr = sysfs.virtualFunctions(sAddr);
        const uintptr_t nPf = reinterpret_cast<uintptr_t>(pDev);
        for (size_t i = 0; i < vAddr.size() && i < size_t(n); ++i) {
            PciSlot s;
            if (!parsePciAddress(vAddr[i], &s))
                continue;
            std::shared_ptr<FunctionState> fn = reach(s, true);
            if (!fn)
                continue;
            if (Device *v = openFunction(fn, nPf))
                vfs.push_back(v);
        }
        return int(vfs.size());
    }

    int hotReset(Device *pDev) override
    {
        std::shared_ptr<FunctionState> fn;
        {
            std::shared_lock lock(mtx);
            LinuxDevice *p = lookup(pDev);
            if (!p)
                return 0;
            fn = p->fn;
        }
        std::string sErr;
        int n = fn->access->hotReset(&sErr);
        if (n == 0)
            fail(fn->info.sAddress + ": " + (sErr.empty() ? "hot reset failed" : sErr));
        return n;
    }

    int slotPower(Device *pDev, bool bOn) override
    {
        if (!opts.bSlotPower)
            return -1;   // not asked for: power is the test rig's business
        std::string sAddr;
        {
            std::shared_lock lock(mtx);
            LinuxDevice *p = lookup(pDev);
            if (!p)
                return 0;
            if (p->nPhysicalId)
                return -1;   // a virtual function has no slot of its own
            sAddr = p->fn->info.sAddress;
        }
        const std::string sFile = sysfs.slotPowerFile(sAddr);
        if (sFile.empty())
            return -1;   // no hotplug slot with power control holds it
        if (int e = SysfsPci::writeFile(sFile, bOn ? "1" : "0")) {
            fail(sAddr + ": cannot switch slot power " + (bOn ? "on" : "off") + " through " + sFile + ": " +
                 std::strerror(e));
            return 0;
        }
        return 1;
    }

    int close() override
    {
        std::unique_lock lock(mtx);
        // By handle: closing a physical function closes its virtual ones.
        std::vector<uintptr_t> all;
        for (auto &d : devices)
            all.push_back(d.first);
        for (uintptr_t n : all)
            closeLocked(lookup(reinterpret_cast<Device *>(n)));
        for (auto &r : dmaRecords)
            freeRecord(r.second);
        dmaRecords.clear();
        functions.clear();
        iommuContainer.reset();
        noIommuContainer.reset();
        hugepages.reset();
        return 1;
    }

    std::string lastError()
    {
        std::lock_guard<std::mutex> lock(errMtx);
        return sLastError;
    }

private:
    void fail(const std::string &sMsg)
    {
        std::fprintf(stderr, "kxmplat linux: %s\n", sMsg.c_str());
        std::lock_guard<std::mutex> lock(errMtx);
        sLastError = sMsg;
    }

    bool inUse(const std::string &sAddr) const
    {
        for (auto &d : devices)
            if (d.second->fn->info.sAddress == sAddr)
                return true;
        return false;
    }

    // The function at slot when the backend may touch it, reached through
    // its route; null otherwise. Virtual functions the backend enabled are
    // reached even when KXM_NVME_DEVICES names only their physical function.
    std::shared_ptr<FunctionState> reach(const PciSlot &slot, bool bOwnVirtual = false)
    {
        std::string sAddr = formatPciAddress(slot);
        {
            std::shared_ptr<FunctionState> known;
            {
                std::shared_lock lock(mtx);
                if (auto it = functions.find(sAddr); it != functions.end())
                    known = it->second;
            }
            if (known) {
                // A kernel driver may have claimed the function since.
                if (routeForDriver(sysfs.driverOf(sAddr)) == known->route)
                    return known;
                fail(sAddr + " changed its driver binding; it is no longer touched");
                return nullptr;
            }
        }
        std::optional<SysfsFunction> f = sysfs.read(sAddr);
        if (!f)
            return nullptr;
        std::string sWhy = refusalReason(*f, bOwnVirtual ? DeviceFilter() : filter);
        if (!sWhy.empty())
            return nullptr;     // not ours: no message, as for an empty slot
        auto fn = std::make_shared<FunctionState>();
        fn->info = *f;
        fn->route = routeForDriver(f->sDriver);
        std::string sErr;
        std::unique_lock lock(mtx);
        if (auto it = functions.find(sAddr); it != functions.end())
            return it->second;
        if (fn->route == Route::Vfio) {
            std::string sGroup = sysfs.iommuGroupOf(sAddr);
            bool bNoIommu = !sGroup.empty() && !exists(opts.sVfioDir + "/" + sGroup) &&
                            exists(opts.sVfioDir + "/noiommu-" + sGroup);
            if (sGroup.empty()) {
                sErr = sAddr + " is bound to vfio-pci but has no IOMMU group";
            } else {
                std::unique_ptr<VfioContainer> &c = bNoIommu ? noIommuContainer : iommuContainer;
                if (!c)
                    c = std::make_unique<VfioContainer>(opts.sVfioDir, bNoIommu);
                bool bVirtual = exists(sysfs.functionDir(sAddr) + "/physfn");
                fn->access = VfioAccess::open(*c, sGroup, sAddr, bVirtual ? sVfToken : "", &sErr);
            }
        } else {
            fn->access = SysfsAccess::open(sysfs, sAddr, &sErr);
        }
        if (!fn->access) {
            lock.unlock();
            fail(sErr);
            return nullptr;
        }
        functions[sAddr] = fn;
        return fn;
    }

    // The device's record for a handle; null for a stale or forged one.
    // Called with mtx held.
    LinuxDevice *lookup(Device *pDev) const
    {
        auto it = devices.find(reinterpret_cast<uintptr_t>(pDev));
        return it == devices.end() ? nullptr : it->second;
    }

    // Handles count up in steps that keep them looking like aligned
    // addresses; they are never handed out twice.
    uintptr_t nextId()
    {
        nLastId += 16;
        return nLastId;
    }

    Device *openFunction(const std::shared_ptr<FunctionState> &fn, uintptr_t nPhysicalId)
    {
        // The binding is checked again: a kernel driver may have claimed the
        // function since it was first reached.
        if (routeForDriver(sysfs.driverOf(fn->info.sAddress)) != fn->route) {
            fail(fn->info.sAddress + " changed its driver binding; it is not opened");
            return nullptr;
        }
        std::unique_lock lock(mtx);
        if (nPhysicalId && !devices.count(nPhysicalId))
            return nullptr;
        std::string sErr;
        if (fn->nOpen == 0 && !fn->access->openBar0(&sErr)) {
            lock.unlock();
            fail(fn->info.sAddress + ": " + sErr);
            return nullptr;
        }
        if (!fn->access->usesIommu() && !hugepages)
            hugepages = std::make_unique<HugepageMemory>(opts.sPagemap);
        ++fn->nOpen;
        auto *p = new LinuxDevice{nextId(), fn, nPhysicalId};
        devices[p->nId] = p;
        return asDevice(p);
    }

    void closeLocked(LinuxDevice *p)
    {
        if (!p || !devices.erase(p->nId))
            return;
        // Virtual functions go with their physical function.
        std::vector<LinuxDevice *> vfsOf;
        for (auto &d : devices)
            if (d.second->nPhysicalId == p->nId)
                vfsOf.push_back(d.second);
        for (LinuxDevice *d : vfsOf)
            closeLocked(d);
        if (--p->fn->nOpen == 0)
            p->fn->access->closeBar0();
        delete p;
    }

    void freeRecord(DmaRecord *r)
    {
        if (r->pContainer)
            r->pContainer->unmapBuffer(r->pHost, r->nBus, r->nSize);
        else if (hugepages)
            hugepages->release(r->pHost);
        delete r;
    }

    // A random UUID per platform: the token of the virtual functions it
    // enables through VFIO.
    void makeVfToken()
    {
        std::FILE *f = std::fopen("/dev/urandom", "rb");
        if (!f || std::fread(aVfToken, 1, sizeof aVfToken, f) != sizeof aVfToken) {
            // Less random, still distinct per process and moment.
            uint64_t n = uint64_t(::getpid()) * 0x9E3779B97F4A7C15ull ^ uint64_t(std::time(nullptr));
            std::memcpy(aVfToken, &n, 8);
            std::memcpy(aVfToken + 8, &n, 8);
        }
        if (f)
            std::fclose(f);
        aVfToken[6] = uint8_t((aVfToken[6] & 0x0F) | 0x40);   // version 4
        aVfToken[8] = uint8_t((aVfToken[8] & 0x3F) | 0x80);   // variant
        char sz[40];
        const uint8_t *u = aVfToken;
        std::snprintf(sz, sizeof sz, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[0],
                      u[1], u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
        sVfToken = sz;
    }

    LinuxPlatformOptions opts;
    uint8_t aVfToken[16] = {};
    std::string sVfToken;
    SysfsPci sysfs;
    DeviceFilter filter;
    std::shared_mutex mtx;
    std::map<std::string, std::shared_ptr<FunctionState>> functions;
    std::unordered_map<uintptr_t, LinuxDevice *> devices;
    std::unordered_map<uintptr_t, DmaRecord *> dmaRecords;
    uintptr_t nLastId = 0x10000;
    std::unique_ptr<VfioContainer> iommuContainer;
    std::unique_ptr<VfioContainer> noIommuContainer;
    std::unique_ptr<HugepageMemory> hugepages;
    std::mutex errMtx;
    std::string sLastError;
};

} // namespace

LinuxPlatformOptions LinuxPlatformOptions::fromEnvironment()
{
    LinuxPlatformOptions o;
    if (const char *p = std::getenv("KXM_NVME_SYSFS_ROOT"); p && *p)
        o.sSysfsRoot = p;
    if (const char *p = std::getenv("KXM_NVME_SLOT_POWER"))
        o.bSlotPower = std::strcmp(p, "1") == 0;
    if (const char *p = std::getenv("KXM_NVME_DEVICES")) {
        o.bDeviceList = true;
        o.sDeviceList = p;
    }
    return o;
}

std::unique_ptr<Platform> makeLinuxPlatform(std::string *pErr)
{
    return makeLinuxPlatform(LinuxPlatformOptions::fromEnvironment(), pErr);
}

std::unique_ptr<Platform> makeLinuxPlatform(const LinuxPlatformOptions &opts, std::string *pErr)
{
    DeviceFilter filter;
    if (opts.bDeviceList && !DeviceFilter::parse(opts.sDeviceList, &filter, pErr))
        return nullptr;
    SysfsPci sysfs(opts.sSysfsRoot);
    if (!isDirectory(sysfs.root() + "/bus/pci/devices")) {
        if (pErr)
            *pErr = "no PCI device tree at " + sysfs.root() + "/bus/pci/devices (KXM_NVME_SYSFS_ROOT)";
        return nullptr;
    }
    return std::make_unique<LinuxPlatform>(opts, std::move(filter));
}

std::string linuxPlatformLastError(Platform *pPlat)
{
    if (auto *p = dynamic_cast<LinuxPlatform *>(pPlat))
        return p->lastError();
    return "";
}

} // namespace kxmplat
